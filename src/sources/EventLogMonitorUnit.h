#pragma once

#include "core/ThreadUnit.h"

namespace ornavel {

// Reads new entries of the system and user journals. Its lines carry the thread itself as their
// source, which gives them the monitor type mtEventLog.
class TEventLogMonitorThread : public TSourceThread {
public:
  TMonitorType MonitorType() const final { return mtEventLog; }
};

} // namespace ornavel
