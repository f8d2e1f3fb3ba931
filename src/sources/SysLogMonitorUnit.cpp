#include "SysLogMonitorUnit.h"

namespace ornavel {

// Placeholder until the listener's body lands.
TSysLogMonitorThread::TSysLogMonitorThread(int) {}
TSysLogMonitorThread::~TSysLogMonitorThread() = default;
void TSysLogMonitorThread::DatagramReceived(std::string_view, const std::string&) {}
bool TSysLogMonitorThread::ParsePriority(std::string&) {
  return false;
}
void TSysLogMonitorThread::Execute() {}
void TSysLogMonitorThread::TerminateRequested() {}

} // namespace ornavel
