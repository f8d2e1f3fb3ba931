// How fast the real `ornavel --console` prints a followed file, beside `tail -F` on the same
// file in the same run. Each program follows a fresh file with its standard output on a pipe
// that this program reads at once; then:
// - latency: single lines written one at a time, each waited for; the median and the 95th
//   percentile of the time from the write until the line is read from the pipe;
// - flood: --lines generated lines of 40 to 160 bytes (about 100 on average, 16,384 distinct ones
//   in turn) appended 64 lines per write as fast as possible; the time until the last one is
//   read, and the CPU the program used meanwhile (utime + stime).
// Ornavel runs with each of the --rules counts of generated rules (those of the rules benchmark).
// A round runs tail -F and every count; the figures are the medians over --rounds rounds.
//
// With --compare=PATH another build of the program (the previous main's, say) runs in the same
// rounds, right after this one with each count, so that the two compare under the same load.
//
// Run: build/release/bench/console_bench [--lines=1000000] [--samples=200] [--rounds=5]
//        [--rules=0,10,100,1000] [--compare=PATH]
// A smoke run: --lines=20000 --samples=20 --rounds=1
#include "BenchRulesUnit.h"
#include "FollowerUnit.h"
#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ornavel {
namespace {

using test::CpuSeconds;
using test::TFollower;
using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::size_t Lines = 1'000'000;
int Samples = 200;
int Rounds = 5;
std::vector<std::size_t> RuleCounts{0, 10, 100, 1000};
std::string Compared; // another build's binary, or none
constexpr std::size_t LinesPerWrite = 64;

double Seconds(TClock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

void Append(int file, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t written = ::write(file, text.data() + done, text.size() - done);
    if (written < 0)
      throw std::runtime_error(std::string("write failed: ") + std::strerror(errno));
    done += static_cast<std::size_t>(written);
  }
}

struct TFigures {
  double MedianLatencyMs = 0;
  double P95LatencyMs = 0;
  double FloodSeconds = 0;
  double FloodCpuSeconds = 0;
};

// Writes probes until one comes out: a follower starts reading some time after it starts.
void WaitUntilFollowing(TFollower& follower, int file) {
  const auto giveUp = TClock::now() + 20s;
  for (int probe = 0; TClock::now() < giveUp; ++probe) {
    const std::string text = "probe-" + std::to_string(probe);
    follower.Expect(text + "\n");
    Append(file, text + "\n");
    if (follower.WaitFound(50ms))
      return;
  }
  throw std::runtime_error("the program never showed a line of its file");
}

TFigures Measure(TFollower& follower, int file) {
  WaitUntilFollowing(follower, file);
  TFigures figures;
  std::vector<double> latencies;
  for (int sample = 0; sample < Samples; ++sample) {
    char text[32];
    std::snprintf(text, sizeof text, "latency-%06d\n", sample);
    follower.Expect(text);
    const auto written = TClock::now();
    Append(file, text);
    const auto found = follower.WaitFound(10s);
    if (!found)
      throw std::runtime_error("a single line never came out");
    latencies.push_back(Seconds(*found - written) * 1000);
    std::this_thread::sleep_for(2ms); // single lines, not a burst
  }
  std::sort(latencies.begin(), latencies.end());
  figures.MedianLatencyMs = latencies[latencies.size() / 2];
  figures.P95LatencyMs = latencies[latencies.size() * 95 / 100];

  // Written ahead, so that the writer only writes.
  static const std::vector<std::string> blocks = [] {
    const std::vector<std::string> texts = VariedBenchLines();
    std::vector<std::string> made(texts.size() / LinesPerWrite);
    for (std::size_t line = 0; line < made.size() * LinesPerWrite; ++line)
      made[line / LinesPerWrite] += texts[line] + "\n";
    return made;
  }();
  follower.Expect("END-OF-RUN\n");
  const double cpuBefore = CpuSeconds(follower.Pid());
  const auto start = TClock::now();
  for (std::size_t line = 0; line + LinesPerWrite <= Lines; line += LinesPerWrite)
    Append(file, blocks[line / LinesPerWrite % blocks.size()]);
  Append(file, "END-OF-RUN\n");
  const auto found = follower.WaitFound(300s);
  if (!found)
    throw std::runtime_error("the last line never came out");
  figures.FloodSeconds = Seconds(*found - start);
  figures.FloodCpuSeconds = CpuSeconds(follower.Pid()) - cpuBefore;
  return figures;
}

TFigures MeasureOrnavel(const std::string& binary, std::size_t ruleCount) {
  const test::TTemporaryFolder folder;
  const std::string log = folder.File("followed.log");
  test::WriteFile(log, "");
  std::filesystem::create_directories(folder.File("config/Ornavel"));
  test::WriteFile(folder.File("config/Ornavel/Config.xml"),
                  "<?xml version=\"1.0\"?>\r\n<Config>\r\n  <MonitorFilenames>\r\n    <Filename>" +
                      log + "</Filename>\r\n  </MonitorFilenames>\r\n</Config>\r\n");
  // Written as the program writes its rules.
  test::WriteFile(folder.File("config/Ornavel/Rules.xml"),
                  "<?xml version=\"1.0\"?>\r\n<Rules>\r\n</Rules>\r\n");
  TRules rules;
  rules.Open(folder.File("config/Ornavel"));
  FillRules(rules, BenchRuleList(ruleCount));
  for (std::size_t i = 0; i < rules.Count(); ++i)
    rules.GetRule(i).SetMonitorTypes({mtFile});
  rules.Save();
  TFollower follower({binary, "--console"}, folder.File("config"));
  const int file = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const TFigures figures = Measure(follower, file);
  ::close(file);
  return figures;
}

TFigures MeasureTail() {
  const test::TTemporaryFolder folder;
  const std::string log = folder.File("followed.log");
  test::WriteFile(log, "");
  TFollower follower({test::RequireOnPath("tail"), "-F", "-n", "0", log}, folder.Path());
  const int file = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const TFigures figures = Measure(follower, file);
  ::close(file);
  return figures;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The programs run one after the other in every round, so that each ratio compares runs made
// under the same load; the figures shown are the medians over the rounds.
struct TRound {
  TFigures Tail;
  std::vector<TFigures> Ornavel; // one per rule count, then one per count of the compared build
};

template <class TField>
double MedianOf(const std::vector<TRound>& rounds, TField field) {
  std::vector<double> values;
  for (const TRound& round : rounds)
    values.push_back(field(round));
  return Median(values);
}

// The figures of a row: tail -F for none, else Ornavel with the rule count of that place.
const TFigures& Of(const TRound& round, std::optional<std::size_t> place) {
  return place ? round.Ornavel[*place] : round.Tail;
}

double FloodRatio(const TRound& round, std::optional<std::size_t> place) {
  return Of(round, place).FloodSeconds / round.Tail.FloodSeconds;
}

double CpuRatio(const TRound& round, std::optional<std::size_t> place, const TFigures& baseline) {
  return baseline.FloodCpuSeconds > 0 ? Of(round, place).FloodCpuSeconds / baseline.FloodCpuSeconds
                                      : 0.0;
}

// noRules: the place of the same build's run with no rules.
void PrintRow(const std::vector<TRound>& rounds, const std::string& name,
              std::optional<std::size_t> place, std::size_t noRules = 0) {
  const auto of = [&](double TFigures::*field) {
    return MedianOf(rounds, [&](const TRound& round) { return Of(round, place).*field; });
  };
  const double seconds = of(&TFigures::FloodSeconds);
  std::printf(
      "%-26s %7.2f %7.2f %8.3f %7.2fx %9.0f %7.3f %7.2fx %7.2fx\n", name.c_str(),
      of(&TFigures::MedianLatencyMs), of(&TFigures::P95LatencyMs), seconds,
      MedianOf(rounds, [&](const TRound& round) { return FloodRatio(round, place); }),
      static_cast<double>(Lines) / seconds, of(&TFigures::FloodCpuSeconds),
      MedianOf(rounds, [&](const TRound& round) { return CpuRatio(round, place, round.Tail); }),
      place && RuleCounts[0] == 0
          ? MedianOf(
                rounds,
                [&](const TRound& round) { return CpuRatio(round, place, round.Ornavel[noRules]); })
          : 0.0);
}

void PrintRatios(const std::vector<TRound>& rounds, const std::string& name, std::size_t place,
                 std::size_t noRules = 0) {
  std::printf("  %s, by round: flood / tail -F", name.c_str());
  for (const TRound& round : rounds)
    std::printf(" %.2f", FloodRatio(round, place));
  if (RuleCounts[0] == 0) {
    std::printf("; CPU / no rules");
    for (const TRound& round : rounds)
      std::printf(" %.2f", CpuRatio(round, place, round.Ornavel[noRules]));
  }
  std::printf("\n");
}

// The goals: within 1.5x tail -F with up to 10 rules, within 2x and at most 1.5x the CPU of no
// rules with up to 100, at least 200,000 lines/s with more; a line shown within 5 ms.
void PrintGoals(const std::vector<TRound>& rounds) {
  bool fewKept = true, manyKept = true, rateKept = true, prompt = true;
  for (std::size_t place = 0; place < RuleCounts.size(); ++place) {
    const std::size_t count = RuleCounts[place];
    const auto median = [&](auto field) {
      return MedianOf(rounds, [&](const TRound& round) { return field(round); });
    };
    const double flood = median([&](const TRound& round) { return FloodRatio(round, place); });
    if (count <= 10)
      fewKept = fewKept && flood <= 1.5;
    else if (count <= 100)
      manyKept = manyKept && flood <= 2 &&
                 (RuleCounts[0] != 0 || median([&](const TRound& round) {
                                          return CpuRatio(round, place, round.Ornavel[0]);
                                        }) <= 1.5);
    else
      rateKept = rateKept && static_cast<double>(Lines) / median([&](const TRound& round) {
                               return round.Ornavel[place].FloodSeconds;
                             }) >=
                                 200'000;
    prompt = prompt &&
             median([&](const TRound& round) { return round.Ornavel[place].MedianLatencyMs; }) <= 5;
  }
  const auto said = [](bool kept) { return kept ? "yes" : "NO"; };
  std::printf("goals: up to 10 rules within 1.5x tail -F: %s; up to 100 within 2x and 1.5x the CPU "
              "of no rules: %s; more at 200,000 lines/s: %s; median latency within 5 ms: %s\n",
              said(fewKept), said(manyKept), said(rateKept), said(prompt));
}

std::vector<std::size_t> ReadCounts(const std::string& text) {
  std::vector<std::size_t> counts;
  std::stringstream stream(text);
  for (std::string count; std::getline(stream, count, ',');)
    counts.push_back(std::stoul(count));
  return counts;
}

bool ReadSettings(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.starts_with("--lines="))
      Lines = std::stoul(argument.substr(8));
    else if (argument.starts_with("--samples="))
      Samples = std::max(1, std::stoi(argument.substr(10)));
    else if (argument.starts_with("--rounds="))
      Rounds = std::max(1, std::stoi(argument.substr(9)));
    else if (argument.starts_with("--rules=") && !ReadCounts(argument.substr(8)).empty())
      RuleCounts = ReadCounts(argument.substr(8));
    else if (argument.starts_with("--compare="))
      Compared = argument.substr(10);
    else {
      std::fprintf(stderr, "unknown argument %s\n", argv[i]);
      return false;
    }
  }
  return true;
}

} // namespace
} // namespace ornavel

int main(int argc, char** argv) {
  using namespace ornavel;
  if (!ReadSettings(argc, argv))
    return 2;
  try {
    std::vector<TRound> rounds;
    for (int round = 0; round < Rounds; ++round) {
      rounds.push_back({MeasureTail(), {}});
      std::vector<TFigures> compared;
      for (std::size_t count : RuleCounts) {
        rounds.back().Ornavel.push_back(MeasureOrnavel(ORNAVEL_BINARY, count));
        if (!Compared.empty())
          compared.push_back(MeasureOrnavel(Compared, count));
      }
      std::ranges::copy(compared, std::back_inserter(rounds.back().Ornavel));
    }
    std::printf("One followed file: %d single lines, then %zu generated lines of about 100 bytes, "
                "%zu per write; medians of %d rounds\n",
                Samples, Lines, LinesPerWrite, Rounds);
    std::printf("%-26s %7s %7s %8s %8s %9s %7s %8s %8s\n", "", "lat ms", "p95 ms", "flood s",
                "x tail", "lines/s", "CPU s", "x tail", "x 0 rules");
    PrintRow(rounds, "tail -F", std::nullopt);
    const auto name = [](std::size_t count) {
      return "ornavel, " + std::to_string(count) + " rules";
    };
    const auto comparedName = [](std::size_t count) {
      return "compared, " + std::to_string(count) + " rules";
    };
    const std::size_t counts = RuleCounts.size();
    for (std::size_t place = 0; place < counts; ++place)
      PrintRow(rounds, name(RuleCounts[place]), place);
    for (std::size_t place = 0; place < counts && !Compared.empty(); ++place)
      PrintRow(rounds, comparedName(RuleCounts[place]), counts + place, counts);
    for (std::size_t place = 0; place < counts; ++place)
      PrintRatios(rounds, name(RuleCounts[place]), place);
    for (std::size_t place = 0; place < counts && !Compared.empty(); ++place)
      PrintRatios(rounds, comparedName(RuleCounts[place]), counts + place, counts);
    PrintGoals(rounds);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "console_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
