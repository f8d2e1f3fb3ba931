#include "ShutdownSignalsUnit.h"

#include <pthread.h>

namespace ornavel {

TShutdownSignals::TShutdownSignals(std::function<void()> onSignal) {
  sigemptyset(&FSignals);
  sigaddset(&FSignals, SIGINT);
  sigaddset(&FSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &FSignals, nullptr);
  FWaiter = std::thread([this, onSignal = std::move(onSignal)] {
    int received = 0;
    sigwait(&FSignals, &received);
    onSignal();
  });
}

TShutdownSignals::~TShutdownSignals() {
  // Wakes the waiter if no signal came, so that it can be joined.
  pthread_kill(FWaiter.native_handle(), SIGTERM);
  FWaiter.join();
}

} // namespace ornavel
