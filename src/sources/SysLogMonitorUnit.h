#pragma once

#include "core/ThreadUnit.h"

namespace ornavel {

// Receives syslog datagrams over UDP. Its lines carry the thread itself as their
// source, which gives them the monitor type mtSyslog.
class TSysLogMonitorThread : public TSourceThread {
public:
  TMonitorType MonitorType() const final { return mtSyslog; }
};

} // namespace ornavel
