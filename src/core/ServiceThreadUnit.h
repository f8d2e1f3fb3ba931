#pragma once

#include "WakeEventUnit.h"

#include <atomic>
#include <functional>
#include <thread>

namespace ornavel {

// A thread that an object runs for its own work, until asked to stop. Stop sets the request,
// signals StopDescriptor for a body that waits in poll, calls the wake handler for one that waits
// on a condition (the handler takes that condition's lock, so that no wake-up is lost), and joins.
// The destructor stops it: declared last, it ends before the members its body uses.
class TServiceThread {
public:
  TServiceThread() = default;
  ~TServiceThread() { Stop(); }
  TServiceThread(const TServiceThread&) = delete;
  TServiceThread& operator=(const TServiceThread&) = delete;

  // Once; fails as std::thread does when no thread can be had.
  void Start(std::function<void()> body, std::function<void()> wake = {});
  // Does nothing for a thread that is not running.
  void Stop() noexcept;
  bool StopRequested() const { return FStopRequested; }
  int StopDescriptor() const { return FStopEvent.Descriptor(); }

private:
  std::atomic<bool> FStopRequested{false};
  TWakeEvent FStopEvent;
  std::function<void()> FWake;
  std::thread FThread;
};

} // namespace ornavel
