// The file tail monitor end to end, a real writer appending to a real file and the central log
// storing what the monitor posts:
// - throughput: 100-byte lines appended as fast as the writer can, one write per line or 640
//   lines (about 64 KB) per write, with no rules and with the ten rules of the rules benchmark;
// - latency from a write to the line being stored, one line every 2 to 3 ms;
// - the CPU time 64 idle followed files cost, in % of one core.
// The writer alone shows what the one-line-per-write rounds can reach at most on the machine.
// Latency and idle cost are taken with change notification and, as the baseline, polling.
//
// Run: build/release/bench/filemonitor_bench
// A smoke run: --benchmark_min_time=0.1
#include "BenchRulesUnit.h"
#include "TestSupport.h"
#include "core/LogUnit.h"
#include "rules/RulesUnit.h"
#include "sources/FileMonitorUnit.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

namespace ornavel {
namespace {

using Clock = std::chrono::steady_clock;

// The run's files, removed at the end.
test::TTemporaryFolder& Folder() {
  static test::TTemporaryFolder folder;
  return folder;
}

// A writer's end of a followed file, made empty.
class TWriter {
public:
  explicit TWriter(const std::string& path)
      : FFile(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644)) {
    if (!FFile.Valid())
      throw std::runtime_error("cannot make " + path);
  }

  void Write(const std::string& text) {
    if (::write(FFile.Get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      throw std::runtime_error("short write");
  }

private:
  TFileDescriptor FFile;
};

std::shared_ptr<TFileMonitorThread> Follow(const std::string& path, bool notification) {
  auto monitor = TThread::Create<TFileMonitorThread>(true, GetLog());
  monitor->SetFileName(path);
  monitor->SetChangeNotification(notification);
  monitor->Resume();
  return monitor;
}

void UseBenchRules(bool use) {
  TRules& rules = GetRules();
  GetLog().AttachFilter(&rules);
  while (rules.Count() > 0)
    rules.Delete(0);
  if (use)
    FillRules(rules);
}

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

constexpr std::size_t RoundLines = 200000;
const std::string RoundEnd = "end of round";

// What one write appends: lines per write 100-byte lines with their line feeds. Each write
// starts at the next of the eight lines, so that all of them meet the rules.
class TRoundWriter {
public:
  TRoundWriter(const std::string& path, std::size_t linesPerWrite)
      : FWriter(path), FWrites(RoundLines / linesPerWrite) {
    const auto lines = BenchLines();
    FBlocks.resize(lines.size());
    for (std::size_t first = 0; first < FBlocks.size(); ++first) {
      for (std::size_t i = 0; i < linesPerWrite; ++i)
        FBlocks[first] += lines[(first * linesPerWrite + i) % lines.size()] + "\n";
    }
  }

  // Answers the bytes written.
  std::uint64_t WriteRound() {
    for (std::size_t write = 0; write < FWrites; ++write)
      FWriter.Write(FBlocks[write % FBlocks.size()]);
    return FWrites * FBlocks[0].size();
  }
  void Write(const std::string& text) { FWriter.Write(text); }

private:
  TWriter FWriter;
  std::size_t FWrites;
  std::vector<std::string> FBlocks;
};

// Arguments: rules (0 or 1), lines per write. The time of a round runs from the first write to
// the storing of the round's last line.
void BM_Throughput(benchmark::State& state) {
  UseBenchRules(state.range(0) != 0);
  std::atomic<std::uint64_t> stored{0};
  std::atomic<bool> roundDone{false};
  GetLog().SetOnLogItem([&](TLogLevel, std::string_view text) {
    if (text != RoundEnd) {
      ++stored;
      return;
    }
    roundDone = true;
    roundDone.notify_one();
  });
  const std::string path = Folder().File("throughput.log");
  double seconds = 0;
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    TRoundWriter writer(path, static_cast<std::size_t>(state.range(1)));
    const auto monitor = Follow(path, true);
    roundDone = false;
    const auto start = Clock::now();
    bytes += writer.WriteRound();
    writer.Write(RoundEnd + "\n");
    roundDone.wait(false);
    const double round = Seconds(Clock::now() - start);
    state.SetIterationTime(round);
    seconds += round;
    GetLog().Clear();
  }
  GetLog().SetOnLogItem(nullptr);
  state.counters["stored_lines_per_s"] = static_cast<double>(stored) / seconds;
  state.counters["read_MB_per_s"] = static_cast<double>(bytes) / seconds / 1e6;
}
BENCHMARK(BM_Throughput)
    ->ArgNames({"rules", "lines_per_write"})
    ->ArgsProduct({{0, 1}, {1, 640}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The same writer with no monitor: the ceiling of the rounds above on this machine.
void BM_WriterAlone(benchmark::State& state) {
  const std::string path = Folder().File("unfollowed.log");
  double seconds = 0;
  std::uint64_t bytes = 0;
  for (auto _ : state) {
    TRoundWriter writer(path, static_cast<std::size_t>(state.range(0)));
    const auto start = Clock::now();
    bytes += writer.WriteRound();
    const double round = Seconds(Clock::now() - start);
    state.SetIterationTime(round);
    seconds += round;
  }
  state.counters["written_MB_per_s"] = static_cast<double>(bytes) / seconds / 1e6;
}
BENCHMARK(BM_WriterAlone)
    ->ArgName("lines_per_write")
    ->Arg(1)
    ->Arg(640)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1))];
}

// Argument: change notification (1) or polling (0). One line every 2 to 3 ms, so that the
// monitor is idle when the line comes, as it mostly is; the gaps vary, so that the writes do not
// fall into step with the passes of a polling monitor.
void BM_Latency(benchmark::State& state) {
  UseBenchRules(false);
  std::atomic<Clock::rep> storedAt{0};
  GetLog().SetOnLogItem([&](TLogLevel, std::string_view) {
    storedAt = Clock::now().time_since_epoch().count();
    storedAt.notify_one();
  });
  const std::string path = Folder().File("latency.log");
  TWriter writer(path);
  const auto monitor = Follow(path, state.range(0) != 0);
  const std::string line = BenchLines().front() + "\n";
  std::vector<double> latencies;
  std::minstd_rand random;
  std::uniform_int_distribution<int> gapMicroseconds(2000, 3000);
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::microseconds(gapMicroseconds(random)));
    storedAt = 0;
    const auto written = Clock::now();
    writer.Write(line);
    storedAt.wait(0);
    const auto latency = Clock::duration(storedAt.load()) - written.time_since_epoch();
    latencies.push_back(Seconds(latency));
    state.SetIterationTime(latencies.back());
  }
  GetLog().SetOnLogItem(nullptr);
  GetLog().Clear();
  state.counters["median_us"] = Percentile(latencies, 0.5) * 1e6;
  state.counters["p99_us"] = Percentile(latencies, 0.99) * 1e6;
}
BENCHMARK(BM_Latency)
    ->ArgName("notification")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Argument: change notification (1) or polling (0). The process's CPU time while 64 monitors
// follow files that nobody writes to.
void BM_IdleCost(benchmark::State& state) {
  constexpr int Files = 64;
  const auto measured = std::chrono::seconds(3);
  std::vector<std::shared_ptr<TFileMonitorThread>> monitors;
  for (int i = 0; i < Files; ++i) {
    const std::string path = Folder().File("idle" + std::to_string(i) + ".log");
    TWriter writer(path);
    monitors.push_back(Follow(path, state.range(0) != 0));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200)); // past the first passes
  for (auto _ : state) {
    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(measured);
    const double wall = Seconds(Clock::now() - wallBefore);
    state.SetIterationTime(wall);
    state.counters["cpu_percent_of_core"] = (ProcessCpuSeconds() - cpuBefore) / wall * 100;
  }
}
BENCHMARK(BM_IdleCost)
    ->ArgName("notification")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace
} // namespace ornavel

// The log's rules come from a configuration folder of the run's own, never the user's.
int main(int argc, char** argv) {
  setenv("XDG_CONFIG_HOME", ornavel::Folder().Path().c_str(), 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
