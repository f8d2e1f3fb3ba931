#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

namespace ornavel {

// Blocks SIGINT and SIGTERM in every thread started after it and runs onSignal on a thread of
// its own when the first of them arrives, so that the program can stop in order; a second one
// ends the program at once. While the settings or the rules are being read, the first one ends it
// at once too: a large Rules.xml or a file on a slow mount may take long, and nothing needs
// stopping in order yet.
class TShutdownSignals {
public:
  explicit TShutdownSignals(std::function<void()> onSignal);
  ~TShutdownSignals();
  TShutdownSignals(const TShutdownSignals&) = delete;
  TShutdownSignals& operator=(const TShutdownSignals&) = delete;

private:
  sigset_t FSignals{};
  std::atomic<bool> FDone{false};
  std::thread FWaiter;
};

} // namespace ornavel
