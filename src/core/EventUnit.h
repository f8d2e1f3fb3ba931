#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ornavel {

// A manual-reset event. Waiting on the user-interface thread keeps serving hand-offs to it.
class TEvent {
public:
  void Set();
  void Reset();
  bool IsSet() const;
  void WaitFor();
  // Answers whether the event was set within the timeout.
  bool WaitFor(std::chrono::milliseconds timeout);

private:
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  bool FSet = false;
};

} // namespace ornavel
