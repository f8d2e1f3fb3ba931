// Cost of evaluating a line (of the generated ones, about 100 bytes) against 10, 100 and 1,000
// generated active rules, three ways: building every matcher for every line, the rule list as the
// log uses it, and PCRE2 JIT called directly on precompiled patterns, every rule in turn (the
// plain engine); and the cost of opening a Rules.xml of many rules against parsing the same file
// alone. Run: build/release/bench/rules_bench
#define PCRE2_CODE_UNIT_WIDTH 8
#include "BenchRulesUnit.h"
#include "TestSupport.h"
#include "config/XmlFileUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "rules/RuleTextUnit.h"
#include "rules/RulesUnit.h"
#include "sources/FileMonitorUnit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <pcre2.h>

namespace ornavel {
namespace {

class TBenchFileSource final : public TFileMonitorThread {
public:
  TBenchFileSource() : TFileMonitorThread(GetLog()) {}

protected:
  void Execute() override {}
};

void Decide(bool matched, const TBenchRule& rule, bool& keep, TColor& color) {
  if (matched) {
    keep = rule.LogLine;
    color = rule.Color;
  }
}

// Compiled as the rules compile their patterns; freed by the caller.
pcre2_code* CompileBenchPattern(const char* pattern) {
  return CompileRulePattern(pattern).release();
}

PCRE2_SPTR Subject(const std::string& line) {
  return reinterpret_cast<PCRE2_SPTR>(line.data());
}

// Every rule builds its matcher for every line.
class TBuildPerLine {
public:
  explicit TBuildPerLine(const std::vector<TBenchRule>& rules) : FRules(rules) {}

  bool Evaluate(const std::string& line) {
    bool keep = true;
    TColor color = clWindowText;
    for (const auto& rule : FRules) {
      pcre2_code* code = CompileBenchPattern(rule.Pattern.c_str());
      pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
      Decide(pcre2_match(code, Subject(line), line.size(), 0, 0, data, nullptr) >= 0, rule, keep,
             color);
      pcre2_match_data_free(data);
      pcre2_code_free(code);
    }
    benchmark::DoNotOptimize(color);
    return keep;
  }

private:
  const std::vector<TBenchRule>& FRules;
};

// The rule list as the log uses it.
class TCachedRules {
public:
  explicit TCachedRules(TRules& rules) : FRules(rules) {}

  bool Evaluate(const std::string& line) {
    TLogItem item{0, TLogLevel::Notice, FSource.get(), mtFile, clWindowText, line, {}, {}, {}};
    const bool keep = FRules.ProcessItem(item, FFaults);
    benchmark::DoNotOptimize(item.Color);
    return keep;
  }

private:
  TRules& FRules;
  std::shared_ptr<TBenchFileSource> FSource = TThread::Create<TBenchFileSource>(true);
  std::vector<std::string> FFaults;
};

// The plain engine: JIT-compiled patterns called directly, every one, nothing else.
class TDirectJit {
public:
  explicit TDirectJit(const std::vector<TBenchRule>& rules) : FRules(rules) {
    for (const auto& rule : FRules) {
      FCodes.push_back(CompileBenchPattern(rule.Pattern.c_str()));
      pcre2_jit_compile(FCodes.back(), PCRE2_JIT_COMPLETE);
    }
  }
  ~TDirectJit() {
    pcre2_match_data_free(FData);
    for (pcre2_code* code : FCodes)
      pcre2_code_free(code);
  }
  TDirectJit(const TDirectJit&) = delete;
  TDirectJit& operator=(const TDirectJit&) = delete;

  bool Evaluate(const std::string& line) {
    bool keep = true;
    TColor color = clWindowText;
    for (std::size_t i = 0; i < FCodes.size(); ++i)
      Decide(pcre2_jit_match(FCodes[i], Subject(line), line.size(), 0, 0, FData, nullptr) >= 0,
             FRules[i], keep, color);
    benchmark::DoNotOptimize(color);
    return keep;
  }

private:
  const std::vector<TBenchRule>& FRules;
  std::vector<pcre2_code*> FCodes;
  pcre2_match_data* FData = pcre2_match_data_create(1, nullptr);
};

template <class TWay>
void RunLines(benchmark::State& state, TWay& way) {
  const auto lines = VariedBenchLines();
  std::size_t next = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(way.Evaluate(lines[next++ % lines.size()]));
}

std::size_t RuleCount(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0));
}

void BM_BuildMatcherPerLine(benchmark::State& state) {
  const auto list = BenchRuleList(RuleCount(state));
  TBuildPerLine way(list);
  RunLines(state, way);
}
BENCHMARK(BM_BuildMatcherPerLine)->Arg(10)->Arg(100);

void BM_CachedRules(benchmark::State& state) {
  static TRules rules;
  if (state.thread_index() == 0 && rules.Count() != RuleCount(state)) {
    while (rules.Count() > 0)
      rules.Delete(rules.Count() - 1);
    FillRules(rules, BenchRuleList(RuleCount(state)));
  }
  TCachedRules way(rules);
  RunLines(state, way);
}
BENCHMARK(BM_CachedRules)
    ->Arg(0)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

void BM_DirectJit(benchmark::State& state) {
  const auto list = BenchRuleList(RuleCount(state));
  TDirectJit way(list);
  RunLines(state, way);
}
BENCHMARK(BM_DirectJit)->Arg(10)->Arg(100)->Arg(1000);

// The three ways in turns of a few microseconds each, so that the machine's speed, which drifts
// on a shared host, weighs on all three alike; the counters are ns per line and the two ratios.
// Building per line is left out for 1,000 rules, where one line takes milliseconds.
void BM_ThreeWaysInterleaved(benchmark::State& state) {
  const auto list = BenchRuleList(RuleCount(state));
  TRules rules;
  FillRules(rules, list);
  TBuildPerLine perLine(list);
  TCachedRules cached(rules);
  TDirectJit direct(list);
  const auto lines = VariedBenchLines();
  const bool buildPerLine = list.size() <= 100;
  const std::size_t turn = std::max<std::size_t>(16, 2560 / list.size());
  double perLineNs = 0, cachedNs = 0, directNs = 0;
  std::size_t next = 0;
  const auto timeTurn = [&](auto& way, std::size_t count) {
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < count; ++i)
      benchmark::DoNotOptimize(way.Evaluate(lines[next++ % lines.size()]));
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
               .count() /
           static_cast<double>(count);
  };
  for (auto _ : state) {
    if (buildPerLine)
      perLineNs += timeTurn(perLine, std::max<std::size_t>(1, 80 / list.size()));
    cachedNs += timeTurn(cached, turn);
    directNs += timeTurn(direct, turn);
  }
  const auto turns = static_cast<double>(state.iterations());
  if (buildPerLine) {
    state.counters["per_line_ns"] = perLineNs / turns;
    state.counters["per_line_over_cached"] = perLineNs / cachedNs;
  }
  state.counters["cached_ns"] = cachedNs / turns;
  state.counters["direct_ns"] = directNs / turns;
  state.counters["cached_over_direct"] = cachedNs / directNs;
}
BENCHMARK(BM_ThreeWaysInterleaved)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Evaluation while another thread edits the list a thousand times a second, far faster than a
// user can; each edit publishes a new snapshot.
void BM_CachedRulesWhileEditing(benchmark::State& state) {
  TRules rules;
  FillRules(rules, BenchRuleList(100));
  const auto source = TThread::Create<TBenchFileSource>(true);
  std::atomic<bool> stop{false};
  std::thread editor([&] {
    for (int round = 0; !stop; ++round) {
      rules.GetRule(static_cast<std::size_t>(round) % rules.Count())
          .SetColor(round % 2 ? clRed : clBlue);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const auto lines = VariedBenchLines();
  std::vector<std::string> faults;
  std::size_t next = 0;
  for (auto _ : state) {
    TLogItem item{
        0, TLogLevel::Notice, source.get(), mtFile, clWindowText, lines[next++ % lines.size()], {},
        {}};
    benchmark::DoNotOptimize(rules.ProcessItem(item, faults));
  }
  stop = true;
  editor.join();
}
BENCHMARK(BM_CachedRulesWhileEditing)->UseRealTime();

// A whole post: time stamp, rules, store; the store is emptied now and then.
void BM_LogAdd(benchmark::State& state) {
  TRules rules;
  FillRules(rules, BenchRuleList(100));
  TLog log(&rules);
  const auto source = TThread::Create<TBenchFileSource>(true);
  const auto lines = VariedBenchLines();
  std::size_t next = 0;
  for (auto _ : state) {
    log.AddLine(source.get(), lines[next++ % lines.size()]);
    if (next % (1 << 20) == 0)
      log.Clear();
  }
}
BENCHMARK(BM_LogAdd);

// How long a catastrophic pattern holds up one line before the engine's limits switch it off.
void BM_CatastrophicPatternSwitchOff(benchmark::State& state) {
  const auto source = TThread::Create<TBenchFileSource>(true);
  const std::string line = std::string(4096, 'a') + "b";
  for (auto _ : state) {
    state.PauseTiming();
    TRules rules;
    auto rule = std::make_unique<TRule>();
    rule->SetRegExp("(a+)+$");
    rule->SetActive(true);
    rules.Add(std::move(rule));
    TLogItem item{0, TLogLevel::Notice, source.get(), mtFile, clWindowText, line, {}, {}, {}};
    std::vector<std::string> faults;
    state.ResumeTiming();
    benchmark::DoNotOptimize(rules.ProcessItem(item, faults));
    if (faults.size() != 1)
      state.SkipWithError("the rule was not switched off");
  }
}
BENCHMARK(BM_CatastrophicPatternSwitchOff)->Unit(benchmark::kMillisecond);

// A Rules.xml of count rules as people write them, in all their kinds (literal, (?i),
// alternation, classes, anchors).
std::string ManyRulesFile(std::size_t count) {
  std::string text = "<?xml version=\"1.0\"?>\r\n<Rules>\r\n";
  const auto list = BenchRuleList(count);
  for (std::size_t i = 0; i < count; ++i) {
    const TBenchRule& rule = list[i];
    const std::string& pattern = rule.Pattern;
    text += Format("  <Rule name=\"rule %u\" color=\"clRed\" regexp=\"%s\" active=\"True\" "
                   "logline=\"%s\" monitortypes=\"mtFile,mtSyslog\"/>\r\n",
                   i, PercentEncode(pattern), rule.LogLine ? "True" : "False");
  }
  return text + "</Rules>\r\n";
}

// Opening the file, from reading it to the list ready for the first line.
void BM_OpenManyRules(benchmark::State& state) {
  const test::TTemporaryFolder folder;
  test::WriteFile(folder.File("Rules.xml"),
                  ManyRulesFile(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    TRules rules;
    rules.Open(folder.Path());
    if (rules.Count() != static_cast<std::size_t>(state.range(0)))
      state.SkipWithError("the rules were not all read");
  }
}
BENCHMARK(BM_OpenManyRules)->Arg(10'000)->Arg(40'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The baseline: reading and parsing the same file, nothing more.
void BM_ParseManyRules(benchmark::State& state) {
  const test::TTemporaryFolder folder;
  test::WriteFile(folder.File("Rules.xml"),
                  ManyRulesFile(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state)
    benchmark::DoNotOptimize(LoadXmlFile(folder.File("Rules.xml")));
}
BENCHMARK(BM_ParseManyRules)->Arg(10'000)->Arg(40'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ornavel

BENCHMARK_MAIN();
