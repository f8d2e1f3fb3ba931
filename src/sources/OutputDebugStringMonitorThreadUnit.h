#pragma once

#include "DebugObjectsUnit.h"
#include "core/ThreadUnit.h"

#include <string>

namespace ornavel {

class TMainConfig;

// Reads the debug output that local programs send through the shared buffer and its two
// semaphores, and posts each message as a line. Its lines carry the thread itself as their
// source, which gives them the monitor type mtDebugString. The setting IncludePID is read for
// every message.
class TOutputDebugStringMonitorThread : public TSourceThread {
public:
  TOutputDebugStringMonitorThread(TLog& log, const TMainConfig& config,
                                  TDebugObjectNames names = TDebugObjectNames::Machine());

  TMonitorType MonitorType() const final { return mtDebugString; }

  // The line for the message in a buffer of the protocol's size: the writer's process id when
  // asked for, then the text up to its NUL or the buffer's end, without CR and LF.
  static std::string BuildLine(const unsigned char* buffer, bool includePid);

protected:
  void Execute() override;

private:
  void Serve(TDebugObjects& objects);

  const TMainConfig& FConfig;
  const TDebugObjectNames FNames;
};

} // namespace ornavel
