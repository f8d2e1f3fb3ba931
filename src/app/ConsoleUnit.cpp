#include "ConsoleUnit.h"

#include "config/ConfigUnit.h"
#include "core/DateTimeUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "core/TextUnit.h"
#include "core/ThreadManagerUnit.h"
#include "core/UserInterfaceThreadUnit.h"
#include "rules/RulesUnit.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace ornavel {
namespace {

constexpr const char* DefaultDateStringFormat = "yyyy-mm-dd hh:nn:ss";

// Prints the log's items in store order, each once: the time after the date format, a tab, the
// text. Items stored before printing began (load reports) come first.
class TConsoleOutput {
public:
  explicit TConsoleOutput(TLog& log) : FLog(log) {}

  void UseSettings(TMainConfig& config) { FConfig = &config; }

  void PrintNewItems() {
    std::lock_guard lock(FLock);
    for (; FPrinted < FLog.Count(); ++FPrinted) {
      const TLogItem item = FLog.GetItem(FPrinted);
      const std::string line =
          FormatDateTime(DateFormat(), item.Time) + "\t" + ConsoleText(item.Text) + "\n";
      std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
  }

private:
  std::string DateFormat() const {
    TMainConfig* config = FConfig;
    if (config == nullptr)
      return DefaultDateStringFormat;
    try {
      return config->DateStringFormat();
    } catch (const EConvertError&) {
      return DefaultDateStringFormat;
    }
  }

  TLog& FLog;
  std::atomic<TMainConfig*> FConfig{nullptr};
  std::mutex FLock;
  std::size_t FPrinted = 0;
};

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
  TConsoleOutput output(log);
  log.SetOnLogItem([&](TLogLevel, const std::string&) { output.PrintNewItems(); });
  log.AddLine(nullptr, "Starting up..");
  output.UseSettings(GetConfig());
  output.PrintNewItems();
  loop.Run();

  manager.Terminate();
  manager.WaitFor();
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  log.SetOnLogItem(nullptr);
  DestroyLog();
  DestroyRules();
  DestroyConfig();
  return 0;
}

} // namespace ornavel
