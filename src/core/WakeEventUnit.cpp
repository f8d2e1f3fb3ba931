#include "WakeEventUnit.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/eventfd.h>

namespace ornavel {

int PollTimeoutMs(std::chrono::steady_clock::time_point deadline, int cap) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, cap));
}

TWakeEvent::TWakeEvent() : FDescriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!FDescriptor.Valid())
    throw std::runtime_error(std::string("Cannot make a wake-up event: ") + std::strerror(errno));
}

void TWakeEvent::Signal() noexcept {
  const std::uint64_t one = 1;
  // A full counter is still readable, which is all a waiter needs.
  [[maybe_unused]] const auto written = ::write(FDescriptor.Get(), &one, sizeof one);
}

void TWakeEvent::Clear() noexcept {
  std::uint64_t count = 0;
  [[maybe_unused]] const auto read = ::read(FDescriptor.Get(), &count, sizeof count);
}

} // namespace ornavel
