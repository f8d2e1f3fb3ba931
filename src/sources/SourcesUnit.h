#pragma once

#include "driver/MonitoringDriverUnit.h"

namespace ornavel {

// The makers of every source available on this system, for the monitoring driver.
TSourceFactory MakeSourceFactory();

} // namespace ornavel
