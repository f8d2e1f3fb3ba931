#pragma once

#include "core/ThreadUnit.h"

#include <string>

namespace ornavel {

// Follows one text file that other programs append to and posts every complete line added after
// SetFileName. Its lines carry the thread itself as their source, which gives them the monitor
// type mtFile.
class TFileMonitorThread : public TSourceThread {
public:
  TMonitorType MonitorType() const final { return mtFile; }

  // Before the thread is resumed: fails with "File %s not found!" when no such file exists;
  // otherwise only what is appended from now on is posted.
  void SetFileName(const std::string& fileName);

protected:
  void Execute() override;
  void TerminateRequested() override;
};

} // namespace ornavel
