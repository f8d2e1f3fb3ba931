#pragma once

#include "core/ThreadUnit.h"

namespace ornavel {

// Follows one text file that other programs append to. Its lines carry the thread itself as their
// source, which gives them the monitor type mtFile.
class TFileMonitorThread : public TSourceThread {
public:
  TMonitorType MonitorType() const final { return mtFile; }
};

} // namespace ornavel
