#include "WakeEventUnit.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/eventfd.h>

namespace ornavel {

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
