#include "EventUnit.h"

#include "UserInterfaceThreadUnit.h"

namespace ornavel {

void TEvent::Set() {
  {
    // Notified under the lock: a waiter may free the event as soon as it sees it set.
    std::lock_guard lock(FLock);
    FSet = true;
    FChanged.notify_all();
  }
  WakeUserInterfaceThread();
}

void TEvent::Reset() {
  std::lock_guard lock(FLock);
  FSet = false;
}

bool TEvent::IsSet() const {
  std::lock_guard lock(FLock);
  return FSet;
}

void TEvent::WaitFor() {
  WaitServing([this] { return IsSet(); },
              [this](TDeadline) {
                std::unique_lock lock(FLock);
                FChanged.wait(lock, [this] { return FSet; });
                return true;
              },
              std::nullopt);
}

bool TEvent::WaitFor(std::chrono::milliseconds timeout) {
  return WaitServing([this] { return IsSet(); },
                     [this](TDeadline deadline) {
                       std::unique_lock lock(FLock);
                       return FChanged.wait_until(lock, *deadline, [this] { return FSet; });
                     },
                     std::chrono::steady_clock::now() + timeout);
}

} // namespace ornavel
