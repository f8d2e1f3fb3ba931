#include "ShutdownSignalsUnit.h"

#include "config/XmlFileUnit.h"

#include <cstdlib>
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
    if (FDone)
      return;
    if (LoadingFiles())
      std::_Exit(128 + received);
    onSignal();
    // The orderly stop may be held up; a second signal ends the program at once.
    sigwait(&FSignals, &received);
    if (!FDone)
      std::_Exit(128 + received);
  });
}

TShutdownSignals::~TShutdownSignals() {
  // Wakes the waiter, so that it can be joined.
  FDone = true;
  pthread_kill(FWaiter.native_handle(), SIGTERM);
  FWaiter.join();
}

} // namespace ornavel
