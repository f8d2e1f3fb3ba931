#include "ConsoleUnit.h"

#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "core/ThreadManagerUnit.h"
#include "core/UserInterfaceThreadUnit.h"
#include "rules/RulesUnit.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace ornavel {
namespace {

std::string TimeText(TDateTime time) {
  const TDateTimeParts parts = DecodeDateTime(time);
  return Format("%.4d-%.2d-%.2d %.2d:%.2d:%.2d", parts.Year, parts.Month, parts.Day, parts.Hour,
                parts.Minute, parts.Second);
}

// Blocks SIGINT and SIGTERM in every thread and quits the loop when one of them arrives.
class TShutdownSignals {
public:
  explicit TShutdownSignals(TEventLoop& loop) {
    sigemptyset(&FSignals);
    sigaddset(&FSignals, SIGINT);
    sigaddset(&FSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &FSignals, nullptr);
    FWaiter = std::thread([this, &loop] {
      int received = 0;
      sigwait(&FSignals, &received);
      loop.Quit();
    });
  }
  ~TShutdownSignals() {
    // Wakes the waiter if no signal came, so that it can be joined.
    pthread_kill(FWaiter.native_handle(), SIGTERM);
    FWaiter.join();
  }

private:
  sigset_t FSignals{};
  std::thread FWaiter;
};

} // namespace

std::string ConsoleText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if ((code < 32 && c != '\t') || code == 127)
      shown += Format("\\x%.2x", code);
    else
      shown += c;
  }
  return shown;
}

int RunConsole() {
  TEventLoop loop;
  TShutdownSignals signals(loop);
  TThreadManager& manager = GetThreadManager();
  TLog& log = GetLog();
  std::mutex outputLock;
  log.SetOnLogItem([&](TLogLevel, const std::string& text) {
    const std::string line = TimeText(Now()) + "\t" + ConsoleText(text) + "\n";
    std::lock_guard lock(outputLock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  });
  log.AddLine(nullptr, "Starting up..");
  loop.Run();

  manager.Terminate();
  manager.WaitFor();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  DestroyLog();
  DestroyRules();
  return 0;
}

} // namespace ornavel
