// How fast the window takes lines that four source threads post at full speed, how long its
// thread is ever kept from running a timer meanwhile, and what each stored line costs in memory;
// all against the same posting into the log with no window, each in a fresh process. Also how
// long the list takes to repaint with a 1 MiB line in every visible row, beside 100-byte lines.
//
// Run: build/release/bench/mainwindow_bench [--lines=1000000] [--threads=4]
// Uses the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "core/LogUnit.h"
#include "core/ThreadUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "ui/MainFormUnit.h"
#include "ui/QtUserInterfaceThreadUnit.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace ornavel;
using Clock = std::chrono::steady_clock;

struct TOptions {
  long Lines = 1000000;
  int Threads = 4;
  std::string Mode; // empty: run both modes in child processes
};

// A file source that never runs: lines posted in its name are file lines.
class TPostingSource final : public TSourceThread {
public:
  TPostingSource() : TSourceThread(GetLog()) {}
  TMonitorType MonitorType() const override { return TMonitorType::mtFile; }

protected:
  void Execute() override {}
};

long ResidentBytes() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// Posts options.Lines lines of about 100 bytes, split over the threads.
std::vector<std::thread> StartPosting(const TOptions& options, const TPostingSource& source) {
  std::vector<std::thread> posters;
  for (int t = 0; t < options.Threads; ++t) {
    posters.emplace_back([&options, &source, t] {
      const long share = options.Lines / options.Threads;
      for (long i = 0; i < share; ++i) {
        std::string text = "thread " + std::to_string(t) + " line " + std::to_string(i) + ' ';
        text.resize(100, 'x');
        GetLog().AddLine(&source, std::move(text));
      }
    });
  }
  return posters;
}

struct TResult {
  double Seconds = 0;
  double LongestStallMs = 0;
  double BytesPerLine = 0;
};

void Print(const char* mode, long lines, const TResult& result) {
  std::printf("%s %.6f %.3f %.1f %ld\n", mode, result.Seconds, result.LongestStallMs,
              result.BytesPerLine, lines);
}

// The window shown, a timer every 5 ms measuring how late it runs, and the time until the list
// shows every posted line.
int RunWindowMode(const TOptions& options, int argc, char** argv) {
  QApplication application(argc, argv);
  TQtUserInterfaceThread uiThread;
  TResult result;
  const long expected = options.Lines / options.Threads * options.Threads;
  {
    TMainForm form({});
    form.show();
    uiThread.ServeUntil([] { return false; }, Clock::now() + std::chrono::milliseconds(200));
    const auto source = TThread::Create<TPostingSource>(true);
    const TLog::TExtent before = GetLog().Extent();
    const long memoryBefore = ResidentBytes();

    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    auto last = Clock::now();
    double longest = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      const auto now = Clock::now();
      longest =
          std::max(longest, std::chrono::duration<double, std::milli>(now - last).count() - 5.0);
      last = now;
    });
    timer.start(5);
    const auto start = Clock::now();
    last = start;
    std::vector<std::thread> posters = StartPosting(options, *source);
    // Until the list shows the last line: the oldest may have gone at the cap meanwhile.
    uiThread.ServeUntil([&] {
      const TLog::TExtent now = GetLog().Extent();
      return now.First + now.Count - (before.First + before.Count) >=
                 static_cast<std::uint64_t>(expected) &&
             static_cast<std::size_t>(form.LogList()->model()->rowCount()) == now.Count;
    });
    result.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto& poster : posters)
      poster.join();
    // A last paint of the end of the list, as a user would see it.
    uiThread.ServeUntil([] { return false; }, Clock::now() + std::chrono::milliseconds(50));
    result.LongestStallMs = longest;
    result.BytesPerLine = static_cast<double>(ResidentBytes() - memoryBefore) / expected;
    form.close();
  }
  TMonitoringDriver::DestroySingleObjects();
  Print("window", expected, result);
  return 0;
}

// Milliseconds per repaint of the whole list, every visible row holding a line of that size.
double RepaintMs(TMainForm& form, TQtUserInterfaceThread& uiThread, std::size_t lineSize) {
  GetLog().Clear();
  TLogListView* list = form.LogList();
  const int rows = list->viewport()->height() / list->RowHeight() + 2;
  for (int row = 0; row < rows; ++row)
    GetLog().AddLine(nullptr, std::to_string(row) + " " + std::string(lineSize, 'x'));
  uiThread.ServeUntil([] { return false; }, Clock::now() + std::chrono::milliseconds(100));
  constexpr int Repaints = 20;
  const auto start = Clock::now();
  for (int repaint = 0; repaint < Repaints; ++repaint)
    list->viewport()->repaint();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / Repaints;
}

int RunRepaintMode(int argc, char** argv) {
  QApplication application(argc, argv);
  TQtUserInterfaceThread uiThread;
  double shortMs = 0, longMs = 0;
  {
    TMainForm form({});
    form.show();
    uiThread.ServeUntil([] { return false; }, Clock::now() + std::chrono::milliseconds(200));
    shortMs = RepaintMs(form, uiThread, 100);
    longMs = RepaintMs(form, uiThread, 1 << 20);
    form.close();
  }
  TMonitoringDriver::DestroySingleObjects();
  std::printf("repaint %.6f %.3f %.3f 0 0\n", longMs, shortMs, 0.0);
  return 0;
}

// The same lines into the log alone: the store's own speed and memory.
int RunLogMode(const TOptions& options) {
  TResult result;
  const long expected = options.Lines / options.Threads * options.Threads;
  GetLog().AddLine(nullptr, "Starting up..");
  const auto source = TThread::Create<TPostingSource>(true);
  const long memoryBefore = ResidentBytes();
  const auto start = Clock::now();
  std::vector<std::thread> posters = StartPosting(options, *source);
  for (auto& poster : posters)
    poster.join();
  result.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.BytesPerLine = static_cast<double>(ResidentBytes() - memoryBefore) / expected;
  TMonitoringDriver::DestroySingleObjects();
  Print("log", expected, result);
  return 0;
}

TResult RunChild(const char* self, const TOptions& options, const char* mode) {
  const std::string command = std::string(self) + " --mode=" + mode +
                              " --lines=" + std::to_string(options.Lines) +
                              " --threads=" + std::to_string(options.Threads);
  FILE* child = popen(command.c_str(), "r");
  TResult result;
  char name[16] = {};
  long lines = 0;
  if (child == nullptr || std::fscanf(child, "%15s %lf %lf %lf %ld", name, &result.Seconds,
                                      &result.LongestStallMs, &result.BytesPerLine, &lines) != 5) {
    std::fprintf(stderr, "The %s run failed\n", mode);
    std::exit(1);
  }
  pclose(child);
  return result;
}

TOptions ParseOptions(int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with("--lines="))
      options.Lines = std::atol(argv[i] + 8);
    else if (argument.starts_with("--threads="))
      options.Threads = std::max(1, std::atoi(argv[i] + 10));
    else if (argument.starts_with("--mode="))
      options.Mode = std::string(argument.substr(7));
  }
  return options;
}

} // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Never the user's settings or rules: no rules, the default settings.
  setenv("XDG_CONFIG_HOME", "/nonexistent-ornavel-bench", 1);
  const TOptions options = ParseOptions(argc, argv);
  int qtArgc = 1;
  if (options.Mode == "window")
    return RunWindowMode(options, qtArgc, argv);
  if (options.Mode == "log")
    return RunLogMode(options);
  if (options.Mode == "repaint")
    return RunRepaintMode(qtArgc, argv);

  const TResult log = RunChild(argv[0], options, "log");
  const TResult window = RunChild(argv[0], options, "window");
  const double lines = static_cast<double>(options.Lines / options.Threads * options.Threads);
  std::printf("%.0f lines of 100 bytes from %d threads, no rules\n", lines, options.Threads);
  std::printf("%-34s %14s %14s\n", "", "log alone", "window shown");
  std::printf("%-34s %14.0f %14.0f\n", "lines stored per second", lines / log.Seconds,
              lines / window.Seconds);
  std::printf("%-34s %14s %14.1f\n", "longest stall of the UI thread, ms", "-",
              window.LongestStallMs);
  std::printf("%-34s %14.1f %14.1f\n", "memory per stored line, bytes", log.BytesPerLine,
              window.BytesPerLine);
  std::printf("window / log alone: %.2f of the rate, %+.1f bytes per line\n",
              log.Seconds / window.Seconds, window.BytesPerLine - log.BytesPerLine);
  // Fields: the long lines' time, the short lines' time.
  const TResult repaint = RunChild(argv[0], options, "repaint");
  std::printf("repaint of the list, every row 1 MiB: %.2f ms; every row 100 bytes: %.2f ms "
              "(%.1fx); within 20 ms: %s\n",
              repaint.Seconds, repaint.LongestStallMs, repaint.Seconds / repaint.LongestStallMs,
              repaint.Seconds <= 20 ? "yes" : "NO");
  return 0;
}
