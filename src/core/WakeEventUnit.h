#pragma once

#include "FileDescriptorUnit.h"

namespace ornavel {

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
