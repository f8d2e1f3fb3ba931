#pragma once

// The rules and lines that the benchmarks measure with, so that their figures compare. Both are
// drawn from vocabularies by a seeded generator: many distinct lines of varied length, and rule
// lists of any length of the kinds people write, most of whose rules match no line.
#include "core/ColorUnit.h"
#include "rules/RulesUnit.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ornavel {

struct TBenchRule {
  std::string Pattern;
  bool LogLine;
  TColor Color;
};

// A small generator of our own: the standard distributions differ between libraries, and the
// figures should not.
class TBenchRandom {
public:
  explicit TBenchRandom(std::uint64_t seed) : FState(seed * 0x9E3779B97F4A7C15u + 1) {}
  std::uint32_t Below(std::size_t count) {
    FState ^= FState << 13;
    FState ^= FState >> 7;
    FState ^= FState << 17;
    return static_cast<std::uint32_t>((FState >> 11) % count);
  }
  template <class T, std::size_t N>
  const T& Pick(const std::array<T, N>& from) {
    return from[Below(N)];
  }

private:
  std::uint64_t FState;
};

// The ten rules and eight 100-byte lines that the file monitor and find benchmarks measure with.
inline const std::array<TBenchRule, 10> BenchRules{{
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

// Words that lines hold.
inline constexpr std::array<const char*, 64> BenchLineWords{
    "error",     "warning",   "failed",        "timeout",  "connection", "reset",     "refused",
    "disk",      "full",      "user",          "session",  "opened",     "closed",    "request",
    "served",    "kernel",    "eth0",          "link",     "up",         "down",      "retry",
    "scheduled", "backup",    "finished",      "copied",   "skipped",    "worker",    "queue",
    "depth",     "threshold", "heartbeat",     "ok",       "from",       "node",      "uptime",
    "load",      "memory",    "percent",       "checkout", "pool",       "waiting",   "active",
    "GET",       "POST",      "/api/v1/items", "200",      "404",        "500",       "ms",
    "sshd",      "cron",      "systemd",       "Started",  "Stopped",    "unit",      "service",
    "WARN",      "INFO",      "DEBUG",         "ERROR",    "Accepted",   "publickey", "for",
    "port"};

// Words that no line holds, for the rules that match nothing.
inline constexpr std::array<const char*, 40> BenchRuleOnlyWords{
    "segfault",    "panic",    "oom-killer", "corrupted", "deadlock",  "overheat",    "throttled",
    "quota",       "expired",  "revoked",    "denied",    "forbidden", "unreachable", "degraded",
    "mismatch",    "overflow", "underrun",   "stalled",   "orphaned",  "zombie",      "fenced",
    "split-brain", "rollback", "aborted",    "poisoned",  "evicted",   "tainted",     "wedged",
    "flapping",    "lagging",  "starved",    "leaked",    "dangling",  "truncated",   "malformed",
    "unsigned",    "spoofed",  "replayed",   "hijacked",  "exhausted"};

// count distinct lines of 40 to 160 bytes, about 100 on average: a time stamp, a host and
// program, then words, numbers and key=value pairs.
inline std::vector<std::string> VariedBenchLines(std::size_t count = 16384,
                                                 std::uint64_t seed = 1) {
  TBenchRandom random(seed);
  static constexpr std::array<const char*, 6> hosts{"web1",  "web2", "db-main",
                                                    "cache", "lb",   "backup-3"};
  static constexpr std::array<const char*, 6> programs{"app",   "sshd", "kernel",
                                                       "nginx", "cron", "postgres"};
  std::vector<std::string> lines;
  lines.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::string line;
    // Pieces appended one by one: GCC 12 warns wrongly about text + std::string chains.
    const auto number = [&](std::uint32_t from, std::uint32_t count) {
      line += std::to_string(from + random.Below(count));
    };
    if (random.Below(3) == 0) {
      line = "[2024-03-0";
      number(1, 9);
      line += " 14:";
      number(10, 50);
      line += ":";
      number(10, 50);
      line += "] ";
    } else {
      line = "Mar  ";
      number(1, 9);
      line += " 14:07:";
      number(10, 50);
      line += " ";
    }
    line += random.Pick(hosts);
    line += " ";
    line += random.Pick(programs);
    line += "[";
    number(100, 30000);
    line += "]:";
    const std::size_t length = 40 + random.Below(121);
    while (line.size() < length) {
      switch (random.Below(6)) {
      case 0:
        line += " ";
        number(0, 100000);
        break;
      case 1:
        line += " id=";
        number(0, 1 << 20);
        break;
      default:
        line += " ";
        line += random.Pick(BenchLineWords);
      }
    }
    line.resize(length);
    lines.push_back(std::move(line));
  }
  return lines;
}

// count rules of the kinds people write: literal words, (?i) words, alternations of words in
// groups, \d classes, .* between two literals, anchored prefixes; about two in three name words
// no line holds, and one in ten drops the lines it matches.
inline std::vector<TBenchRule> BenchRuleList(std::size_t count, std::uint64_t seed = 7) {
  TBenchRandom random(seed);
  static constexpr std::array<TColor, 8> colors{clRed,    clYellow, clFuchsia, clOlive,
                                                clMaroon, clBlue,   clGreen,   clPurple};
  std::vector<TBenchRule> rules;
  rules.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    // A word of its own makes each rule distinct, as in a real list.
    const auto word = [&] {
      std::string chosen =
          random.Below(3) == 0 ? random.Pick(BenchLineWords) : random.Pick(BenchRuleOnlyWords);
      if (random.Below(2) == 0)
        chosen += std::string("-") + std::to_string(i);
      return chosen;
    };
    std::string pattern;
    switch (random.Below(8)) {
    case 0:
    case 1:
      pattern = word();
      break;
    case 2:
      pattern = std::string("(?i)") + word();
      break;
    case 3:
      pattern = std::string("(") + word() + "|" + word() + "|" + word() + ")";
      break;
    case 4:
      pattern = word() + " (" + word() + "|" + word() + ")";
      break;
    case 5:
      pattern = word() + (random.Below(2) == 0 ? "=\\d+" : " \\d{3}ms");
      break;
    case 6:
      pattern = word() + ".*" + word();
      break;
    default:
      pattern = std::string(random.Below(2) == 0 ? "^\\[2024-03-0\\d " : "^Mar  \\d+ .*") + word();
      break;
    }
    rules.push_back({pattern, random.Below(10) != 0, colors[i % colors.size()]});
  }
  return rules;
}

template <class TList>
void FillRules(TRules& rules, const TList& list) {
  for (const auto& entry : list) {
    auto rule = std::make_unique<TRule>();
    rule->SetRegExp(entry.Pattern);
    rule->SetLogLine(entry.LogLine);
    rule->SetColor(entry.Color);
    rule->SetActive(true);
    rules.Add(std::move(rule));
  }
}

inline void FillRules(TRules& rules) {
  FillRules(rules, BenchRules);
}

} // namespace ornavel
