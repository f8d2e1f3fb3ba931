#pragma once

#include "core/ThreadUnit.h"

namespace ornavel {

// Captures the debug output that local programs write. Its lines carry the thread itself as their
// source, which gives them the monitor type mtDebugString.
class TOutputDebugStringMonitorThread : public TSourceThread {
public:
  TMonitorType MonitorType() const final { return mtDebugString; }
};

} // namespace ornavel
