// Finding in the window's find bar over 1,000,000 rows of about 100 bytes: plain text without
// regard to case and a regular expression, beside `grep -c` on the same lines in a file (what a
// user would otherwise run), the longest a source waits to post while a find runs, and the
// window's filter (Ctrl+L) over as many held rows, and the held rows that hiding lines like one
// (Del) judges. Uses the offscreen platform unless
// QT_QPA_PLATFORM says otherwise.
// Run: build/release/bench/find_bench
#include "BenchRulesUnit.h"
#include "TestSupport.h"
#include "core/LogUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "rules/RuleTextUnit.h"
#include "rules/RulesUnit.h"
#include "ui/FindBarUnit.h"
#include "ui/FindUnit.h"
#include "ui/HiddenLinesUnit.h"
#include "ui/MainFormUnit.h"
#include "ui/QtUserInterfaceThreadUnit.h"

#include <QApplication>
#include <QLineEdit>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

namespace ornavel {
namespace {

constexpr std::size_t Rows = 1'000'000;

// The log and the same lines in a file, made once.
struct TRows {
  TLog Log;
  test::TTemporaryFolder Folder;
  std::string File = Folder.File("rows.log");

  TRows() {
    const std::vector<std::string> lines = BenchLines();
    std::string text;
    for (std::size_t row = 0; row < Rows; ++row) {
      Log.AddLine(nullptr, lines[row % lines.size()]);
      text += lines[row % lines.size()] + '\n';
    }
    test::WriteFile(File, text);
  }
};

TRows& SharedRows() {
  static TRows rows;
  return rows;
}

void Find(benchmark::State& state, const char* query, bool regularExpression) {
  TRows& rows = SharedRows();
  TLogFinder finder(rows.Log);
  for (auto _ : state) {
    finder.Seek(query, regularExpression);
    benchmark::DoNotOptimize(finder.Matches().size());
  }
  state.counters["matches"] = static_cast<double>(finder.Matches().size());
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(Rows) * state.iterations(),
                                                benchmark::Counter::kIsRate);
}

void BM_FindPlain(benchmark::State& state) {
  Find(state, "Connection Reset", false);
}

void BM_FindRegularExpression(benchmark::State& state) {
  Find(state, "fail(ed|ure)\\b", true);
}

// The baseline: grep reading the same lines from a file in the page cache. Its count goes to a
// file: GNU grep stops at the first match when its output is /dev/null.
void BM_GrepBaseline(benchmark::State& state) {
  const TRows& rows = SharedRows();
  const std::string command =
      "grep -c -i -F 'Connection Reset' " + rows.File + " > " + rows.Folder.File("count");
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0)
      state.SkipWithError("grep failed");
  }
}

// A source posting while finds run: the longest a post waits shows how long the log is held.
void BM_LongestPostWhileFinding(benchmark::State& state) {
  TRows& rows = SharedRows();
  TLogFinder finder(rows.Log);
  std::atomic<bool> finding{true};
  std::atomic<long long> longest{0};
  std::thread source([&] {
    while (finding) {
      const auto start = std::chrono::steady_clock::now();
      rows.Log.AddLine(nullptr, "posted while finding");
      const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
      longest = std::max<long long>(longest, waited);
      std::this_thread::sleep_for(std::chrono::microseconds(100)); // a busy source, not a flood
    }
  });
  for (auto _ : state)
    finder.Seek("connection reset", false);
  finding = false;
  source.join();
  state.counters["longest_wait_us"] = static_cast<double>(longest.load());
}

// The window's filter over 1,000,000 held rows, from the find text typed with the filter on (as
// Ctrl+L leaves it) to the matching rows shown.
void BM_FilterInTheWindow(benchmark::State& state) {
  {
    TQtUserInterfaceThread uiThread;
    TMainForm form({});
    form.show();
    // Posted from a thread of its own, which hands the window its updates: served meanwhile.
    std::atomic<bool> filled{false};
    std::thread filler([&] {
      const std::vector<std::string> lines = BenchLines();
      for (std::size_t row = 0; row < Rows; ++row)
        GetLog().AddLine(nullptr, lines[row % lines.size()]);
      filled = true;
    });
    const auto shown = [&] { return form.LogList()->model()->rowCount(); };
    uiThread.ServeUntil(
        [&] { return filled && static_cast<std::size_t>(shown()) == GetLog().Count(); },
        std::chrono::steady_clock::now() + std::chrono::minutes(1));
    filler.join();
    form.FilterActionExecute();
    auto* text = form.FindBar()->findChild<QLineEdit*>();
    for (auto _ : state) {
      text->setText(QStringLiteral("Connection Reset"));
      benchmark::DoNotOptimize(shown());
      state.PauseTiming();
      state.counters["shown"] = shown();
      text->clear();
      state.ResumeTiming();
    }
    state.counters["held"] = static_cast<double>(GetLog().Count());
    form.close();
  }
  TMonitoringDriver::DestroySingleObjects();
}

// Del's search of the held rows: its one rule judged on each of 1,000,000 rows from a file.
void BM_HideHeldRows(benchmark::State& state) {
  TLog log;
  const auto source = test::MakeSourceOf(TMonitorType::mtFile);
  const std::vector<std::string> lines = BenchLines();
  for (std::size_t row = 0; row < Rows; ++row)
    log.AddLine(source.get(), lines[row % lines.size()], "/var/log/app.log");
  auto rule = std::make_unique<TRule>();
  rule->SetRegExp(LiteralRegExp(lines[3]));
  rule->SetLogLine(false);
  rule->SetActive(true);
  TRules alone;
  alone.Add(std::move(rule));
  const THiddenLines hidden;
  for (auto _ : state)
    state.counters["hidden"] = static_cast<double>(LinesDroppedBy(log, alone, hidden).size());
}

BENCHMARK(BM_FindPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindRegularExpression)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GrepBaseline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongestPostWhileFinding)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HideHeldRows)->Unit(benchmark::kMillisecond);
// Once: the window's single objects cannot be made again.
BENCHMARK(BM_FilterInTheWindow)->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ornavel

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
