#include "FileMonitorUnit.h"

#include "core/FormatUnit.h"

#include <stdexcept>
#include <sys/stat.h>

namespace ornavel {

// Placeholder until the monitor's body lands.
void TFileMonitorThread::SetFileName(const std::string& fileName) {
  struct stat status {};
  if (::stat(fileName.c_str(), &status) != 0)
    throw std::runtime_error(Format("File %s not found!", fileName));
}

void TFileMonitorThread::Execute() {}

void TFileMonitorThread::TerminateRequested() {}

} // namespace ornavel
