#include "ServiceThreadUnit.h"

namespace ornavel {

void TServiceThread::Start(std::function<void()> body, std::function<void()> wake) {
  FWake = std::move(wake);
  FThread = std::thread(std::move(body));
}

void TServiceThread::Stop() noexcept {
  if (!FThread.joinable())
    return;
  FStopRequested = true;
  FStopEvent.Signal();
  if (FWake)
    FWake();
  FThread.join();
}

} // namespace ornavel
