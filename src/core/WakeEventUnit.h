#pragma once

#include "FileDescriptorUnit.h"

#include <chrono>
#include <climits>

namespace ornavel {

// Milliseconds for poll until deadline, rounded up so that a wait never ends before it, at most
// cap; 0 once it has passed.
int PollTimeoutMs(std::chrono::steady_clock::time_point deadline, int cap = INT_MAX);

// A descriptor that becomes readable when signalled, so that a thread waiting in poll for its
// input can also be woken by another thread (to terminate, say).
class TWakeEvent {
public:
  TWakeEvent();
  // Callable from any thread; never blocks.
  void Signal() noexcept;
  // Makes the descriptor unreadable again.
  void Clear() noexcept;
  int Descriptor() const { return FDescriptor.Get(); }

private:
  TFileDescriptor FDescriptor;
};

} // namespace ornavel
