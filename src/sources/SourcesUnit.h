#pragma once

#include "driver/MonitoringDriverUnit.h"

namespace ornavel {

class TLog;
class TMainConfig;

// The makers of every source available on this system, for the monitoring driver; each source
// posts to log and reads its settings from config, which outlive the factory.
TSourceFactory MakeSourceFactory(TLog& log, const TMainConfig& config);

} // namespace ornavel
