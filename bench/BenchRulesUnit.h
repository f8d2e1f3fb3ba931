#pragma once

// The rules and lines that the benchmarks measure with, so that their figures compare.
#include "core/ColorUnit.h"
#include "rules/RulesUnit.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace ornavel {

struct TBenchRule {
  const char* Pattern;
  bool LogLine;
  TColor Color;
};

// Literal and regular patterns; several of them match some of the lines below.
inline constexpr std::array<TBenchRule, 10> BenchRules{{
    {"error", true, clRed},
    {"timeout", true, clYellow},
    {"disk full", true, clFuchsia},
    {"(?i)warning", true, clOlive},
    {"\\bfail(ed|ure)\\b", true, clMaroon},
    {"user=[a-z]+", true, clBlue},
    {"\\d{3}ms$", true, clGreen},
    {"^\\[\\d{4}-\\d{2}-\\d{2}", true, clGray},
    {"connection (reset|refused)", true, clPurple},
    {"heartbeat", false, clWhite},
}};

// Eight lines of 100 bytes; the rules drop one of them.
inline std::vector<std::string> BenchLines() {
  std::vector<std::string> lines = {
      "[2024-03-05 14:07:09] app[1234]: request served for user=alice in 312ms",
      "Mar  5 14:07:09 host kernel: eth0: link up, 1000 Mbps full duplex, flow control off",
      "2024-03-05T14:07:09Z worker-7 WARNING queue depth above threshold, backing off",
      "host sshd[993]: connection reset by peer 192.0.2.7 port 52214 while authenticating",
      "heartbeat ok from node-12 (uptime 1d 02:11:45), load 0.42 0.37 0.33, mem 61 percent",
      "db pool: checkout failed after timeout, 12 waiting, 40 active, retry scheduled soon",
      "backup job 42 finished: 1532 files copied, 0 skipped, no error reported by the agent",
      "scheduler tick 88231: nothing to do, sleeping until the next slot begins at 14:08:00",
  };
  for (auto& line : lines)
    line.resize(100, '.');
  return lines;
}

inline void FillRules(TRules& rules) {
  for (const auto& entry : BenchRules) {
    auto rule = std::make_unique<TRule>();
    rule->SetRegExp(entry.Pattern);
    rule->SetLogLine(entry.LogLine);
    rule->SetColor(entry.Color);
    rule->SetActive(true);
    rules.Add(std::move(rule));
  }
}

} // namespace ornavel
