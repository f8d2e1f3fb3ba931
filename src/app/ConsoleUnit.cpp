#include "ConsoleUnit.h"

#include "ShutdownSignalsUnit.h"
#include "config/ConfigUnit.h"
#include "core/DateTimeUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "core/TextUnit.h"
#include "core/UserInterfaceThreadUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "sources/SourcesUnit.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <unistd.h>

namespace ornavel {
namespace {

constexpr const char* ResetColor = "\x1b[0m";

// Prints the log's items in store order, each once: the time after the date format, a tab, the
// text. Nothing is printed before the settings are open, so that the first lines already show
// the user's date format; the items stored meanwhile come first then.
class TConsoleOutput {
public:
  explicit TConsoleOutput(TLog& log) : FLog(log), FColored(isatty(STDOUT_FILENO) == 1) {}

  void UseSettings(TMainConfig& config) {
    FConfig = &config;
    PrintNewItems();
  }

  void PrintNewItems() {
    if (FConfig == nullptr)
      return;
    std::lock_guard lock(FLock);
    for (; FPrinted < FLog.Count(); ++FPrinted)
      Print(FLog.GetItem(FPrinted));
  }

private:
  void Print(const TLogItem& item) {
    const std::string color = FColored ? ConsoleColor(item) : std::string();
    std::string line =
        FormatDateTime(FConfig.load()->DisplayDateFormat(), item.Time) + "\t" + color;
    line += ConsoleText(item.Text);
    if (!color.empty())
      line += ResetColor;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }

  TLog& FLog;
  const bool FColored;
  std::atomic<TMainConfig*> FConfig{nullptr};
  std::mutex FLock;
  std::size_t FPrinted = 0;
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

std::string ConsoleColor(const TLogItem& item) {
  const bool alarming = item.Level == TLogLevel::Warning || item.Level == TLogLevel::Exception;
  const TColor color = alarming ? clRed : item.Color;
  const auto rgb = static_cast<std::uint32_t>(color);
  // The terminal's own colours stand in for the window text and the other system colours.
  if ((rgb >> 24) != 0)
    return {};
  return Format("\x1b[1;38;2;%u;%u;%um", rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

int RunConsole(const std::vector<std::string>& extraFiles) {
  TEventLoop loop;
  TShutdownSignals shutdownSignals([&loop] { loop.Quit(); });
  TMonitoringDriver driver(MakeSourceFactory());
  driver.FollowAlso(extraFiles);
  driver.CreateThreadManager();
  TLog& log = GetLog();
  TConsoleOutput output(log);
  driver.CreateLog([&](TLogLevel, const std::string&) { output.PrintNewItems(); });
  driver.OpenSettings();
  output.UseSettings(GetConfig());
  try {
    driver.StartMonitoring();
  } catch (const std::exception& failure) {
    // What the window shows in its error box; the sources started so far go on.
    std::cerr << failure.what() << std::endl;
  }
  loop.Run();

  driver.StopMonitoring();
  TMonitoringDriver::DestroySingleObjects();
  return 0;
}

} // namespace ornavel
