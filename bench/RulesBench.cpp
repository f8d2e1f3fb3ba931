// Cost of evaluating one 100-byte line against ten active rules, three ways: building every
// matcher for every line, the rule list's cached JIT patterns, and PCRE2 JIT called directly on
// precompiled patterns (the floor); and the cost of opening a Rules.xml of many rules against
// parsing the same file alone. Run: build/release/bench/rules_bench
#define PCRE2_CODE_UNIT_WIDTH 8
#include "BenchRulesUnit.h"
#include "TestSupport.h"
#include "config/XmlFileUnit.h"
#include "core/FormatUnit.h"
#include "core/LogUnit.h"
#include "rules/RuleTextUnit.h"
#include "rules/RulesUnit.h"
#include "sources/FileMonitorUnit.h"

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
  bool Evaluate(const std::string& line) {
    bool keep = true;
    TColor color = clWindowText;
    for (const auto& rule : BenchRules) {
      pcre2_code* code = CompileBenchPattern(rule.Pattern);
      pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
      Decide(pcre2_match(code, Subject(line), line.size(), 0, 0, data, nullptr) >= 0, rule, keep,
             color);
      pcre2_match_data_free(data);
      pcre2_code_free(code);
    }
    benchmark::DoNotOptimize(color);
    return keep;
  }
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

// The floor: JIT-compiled patterns called directly, nothing else.
class TDirectJit {
public:
  TDirectJit() {
    for (const auto& rule : BenchRules) {
      FCodes.push_back(CompileBenchPattern(rule.Pattern));
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
             BenchRules[i], keep, color);
    benchmark::DoNotOptimize(color);
    return keep;
  }

private:
  std::vector<pcre2_code*> FCodes;
  pcre2_match_data* FData = pcre2_match_data_create(1, nullptr);
};

template <class TWay>
void RunLines(benchmark::State& state, TWay& way) {
  const auto lines = BenchLines();
  std::size_t next = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(way.Evaluate(lines[next++ % lines.size()]));
}

void BM_BuildMatcherPerLine(benchmark::State& state) {
  TBuildPerLine way;
  RunLines(state, way);
}
BENCHMARK(BM_BuildMatcherPerLine);

void BM_CachedRules(benchmark::State& state) {
  static TRules rules;
  if (state.thread_index() == 0 && rules.Count() == 0)
    FillRules(rules);
  TCachedRules way(rules);
  RunLines(state, way);
}
BENCHMARK(BM_CachedRules)->Threads(1)->Threads(2)->UseRealTime();

void BM_DirectJit(benchmark::State& state) {
  TDirectJit way;
  RunLines(state, way);
}
BENCHMARK(BM_DirectJit);

// The three ways in turns of a few microseconds each, so that the machine's speed, which drifts
// on a shared host, weighs on all three alike; the counters are ns per line and the two ratios.
void BM_ThreeWaysInterleaved(benchmark::State& state) {
  TRules rules;
  FillRules(rules);
  TBuildPerLine perLine;
  TCachedRules cached(rules);
  TDirectJit direct;
  const auto lines = BenchLines();
  double perLineNs = 0, cachedNs = 0, directNs = 0;
  const auto timeTurn = [&](auto& way, std::size_t count) {
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < count; ++i)
      benchmark::DoNotOptimize(way.Evaluate(lines[i % lines.size()]));
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start)
               .count() /
           static_cast<double>(count);
  };
  for (auto _ : state) {
    perLineNs += timeTurn(perLine, 8);
    cachedNs += timeTurn(cached, 256);
    directNs += timeTurn(direct, 256);
  }
  const auto turns = static_cast<double>(state.iterations());
  state.counters["per_line_ns"] = perLineNs / turns;
  state.counters["cached_ns"] = cachedNs / turns;
  state.counters["direct_ns"] = directNs / turns;
  state.counters["per_line_over_cached"] = perLineNs / cachedNs;
  state.counters["cached_over_direct"] = cachedNs / directNs;
}
BENCHMARK(BM_ThreeWaysInterleaved)->Unit(benchmark::kMicrosecond);

// Evaluation while another thread edits the list a thousand times a second, far faster than a
// user can; each edit publishes a new snapshot.
void BM_CachedRulesWhileEditing(benchmark::State& state) {
  TRules rules;
  FillRules(rules);
  const auto source = TThread::Create<TBenchFileSource>(true);
  std::atomic<bool> stop{false};
  std::thread editor([&] {
    for (int round = 0; !stop; ++round) {
      rules.GetRule(static_cast<std::size_t>(round) % rules.Count())
          .SetColor(round % 2 ? clRed : clBlue);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const auto lines = BenchLines();
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
  FillRules(rules);
  TLog log(&rules);
  const auto source = TThread::Create<TBenchFileSource>(true);
  const auto lines = BenchLines();
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

// A Rules.xml of count rules as people write them: the ten patterns above, each made distinct by
// a word of its own, in all their kinds (literal, (?i), alternation, classes, anchors).
std::string ManyRulesFile(std::size_t count) {
  std::string text = "<?xml version=\"1.0\"?>\r\n<Rules>\r\n";
  for (std::size_t i = 0; i < count; ++i) {
    const TBenchRule& rule = BenchRules[i % BenchRules.size()];
    const std::string pattern = Format("%s|token%u", rule.Pattern, i);
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
