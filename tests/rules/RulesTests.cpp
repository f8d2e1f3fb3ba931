#include "TestSupport.h"
#include "rules/PatternUnit.h"
#include "rules/RulesUnit.h"

#include <atomic>
#include <deque>
#include <fnmatch.h>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

struct TRuleFields {
  std::string Name;
  std::string RegExp;
  bool LogLine = true;
  TColor Color = clWhite;
  TMonitorTypes Types = TMonitorTypes::All();
  bool Active = true;
};

std::unique_ptr<TRule> MakeRule(const TRuleFields& fields) {
  auto rule = std::make_unique<TRule>();
  rule->SetName(fields.Name);
  rule->SetRegExp(fields.RegExp);
  rule->SetLogLine(fields.LogLine);
  rule->SetColor(fields.Color);
  rule->SetMonitorTypes(fields.Types);
  rule->SetActive(fields.Active);
  return rule;
}

// Helpers to run a line of some kind through a rule list.
class RulesFixture {
protected:
  struct TOutcome {
    bool Keep;
    TColor Color;
    std::vector<std::string> Faults;
    std::string Decision;
    const std::string* Alert;
  };

  TOutcome Evaluate(std::optional<TMonitorType> type, const std::string& text,
                    const std::string& source = {}) {
    TLogItem item{0, TLogLevel::Notice, nullptr, type, clWindowText, text, source, {}, {}};
    TOutcome outcome{};
    outcome.Keep = List.ProcessItem(item, outcome.Faults);
    outcome.Color = item.Color;
    outcome.Decision = std::string(item.Decision);
    outcome.Alert = item.Alert;
    return outcome;
  }

  TRule& Add(const TRuleFields& fields) { return List.Add(MakeRule(fields)); }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < List.Count(); ++i)
      names.push_back(List.GetRule(i).Name());
    return names;
  }

  std::vector<int> Priorities() const {
    std::vector<int> priorities;
    for (std::size_t i = 0; i < List.Count(); ++i)
      priorities.push_back(List.GetRule(i).Priority());
    return priorities;
  }

  TRules List;
};

class Rules : public RulesFixture, public testing::Test {};

struct TExample {
  const char* Name;
  std::optional<TMonitorType> Type;
  const char* Text;
  bool Keep;
  TColor Color;
};

// The list: "Errors" keeps error lines of every kind in red; "Heartbeats", lower in the list,
// drops syslog heartbeats.
class RulesExamples : public RulesFixture, public testing::TestWithParam<TExample> {
protected:
  void SetUp() override {
    Add({"Errors", "error", true, clRed});
    Add({"Heartbeats", "heartbeat", false, clWhite, {mtSyslog}});
  }
};

TEST_P(RulesExamples, LastMatchingRuleDecides) {
  const auto outcome = Evaluate(GetParam().Type, GetParam().Text);
  EXPECT_EQ(outcome.Keep, GetParam().Keep);
  if (outcome.Keep) {
    EXPECT_EQ(outcome.Color, GetParam().Color);
  }
  EXPECT_TRUE(outcome.Faults.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RulesExamples,
    testing::Values(
        TExample{"SyslogHeartbeatErrorIsDropped", mtSyslog, "heartbeat error 7", false, clWhite},
        TExample{"FileDiskErrorIsRed", mtFile, "disk error", true, clRed},
        TExample{"LetterCaseCounts", mtFile, "Disk Error", true, clWindowText},
        TExample{"SyslogHeartbeatIsDropped", mtSyslog, "heartbeat ok", false, clWhite},
        TExample{"FileHeartbeatIsNotCovered", mtFile, "heartbeat error", true, clRed},
        TExample{"OwnMessageIsUntouched", std::nullopt, "heartbeat error", true, clWindowText},
        TExample{"DebugOutputErrorIsRed", mtDebugString, "an error", true, clRed}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TSourceExample {
  const char* Name;
  TMonitorType Type;
  const char* Source;
  const char* Text;
  bool Keep;
  TColor Color;
};

// Rules for some sources only, below one for every source: "Errors" keeps error lines in red;
// "Noisy proxy" drops them from sources like *nginx*; "Lab" draws them blue from 10.0.0.*;
// "Access" drops requests from files named access.log.
class RulesPerSource : public RulesFixture, public testing::TestWithParam<TSourceExample> {
protected:
  void SetUp() override {
    Add({"Errors", "error", true, clRed});
    Add({"Noisy proxy", "error", false, clWhite}).SetSource("*nginx*");
    Add({"Lab", "error", true, clBlue, {mtSyslog}}).SetSource("10.0.0.*");
    Add({"Access", "GET", false, clWhite, {mtFile}}).SetSource("access.log");
  }
};

TEST_P(RulesPerSource, ARuleNamingSourcesDecidesOnlyForThem) {
  const TSourceExample& example = GetParam();
  const auto outcome = Evaluate(example.Type, example.Text, example.Source);
  EXPECT_EQ(outcome.Keep, example.Keep);
  if (outcome.Keep) {
    EXPECT_EQ(outcome.Color, example.Color);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RulesPerSource,
    testing::Values(
        TSourceExample{"ProxyFileByPath", mtFile, "/var/log/nginx/error.log", "upstream error",
                       false, clWhite},
        TSourceExample{"OtherFile", mtFile, "/var/log/app.log", "upstream error", true, clRed},
        TSourceExample{"ProxyJournalIdentifier", mtEventLog, "nginx", "(System) nginx: error",
                       false, clWhite},
        TSourceExample{"LabHost", mtSyslog, "10.0.0.7", "disk error", true, clBlue},
        TSourceExample{"OtherHost", mtSyslog, "10.0.1.7", "disk error", true, clRed},
        TSourceExample{"NamedSourceWithoutName", mtSyslog, "", "disk error", true, clRed},
        TSourceExample{"FileByLastPart", mtFile, "/srv/www/access.log", "GET /", false, clWhite},
        TSourceExample{"RotatedFileIsAnother", mtFile, "/srv/www/access.log.1", "GET /", true,
                       clWindowText}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Rules, AKeptLineSaysWhichRuleDecidedByItsPlaceAndName) {
  Add({"Errors", "error", true, clRed});
  Add({"Off", "x", true, clRed}).SetActive(false);
  Add({"Disk", "disk", true, clBlue});
  EXPECT_EQ(Evaluate(mtFile, "disk error").Decision, "kept by rule 3 'Disk'");
  EXPECT_EQ(Evaluate(mtFile, "an error").Decision, "kept by rule 1 'Errors'");
  EXPECT_EQ(Evaluate(mtFile, "nothing").Decision, "");
  List.GetRule(0).SetName("Failures");
  EXPECT_EQ(Evaluate(mtFile, "an error").Decision, "kept by rule 1 'Failures'");
  // Only a kept line that an alerting rule decided alerts, by that rule's name.
  List.GetRule(2).SetAlert(true);
  Add({"Drop", "dropped", false, clRed}).SetAlert(true);
  ASSERT_NE(Evaluate(mtFile, "disk error").Alert, nullptr);
  EXPECT_EQ(*Evaluate(mtFile, "disk error").Alert, "Disk");
  EXPECT_EQ(Evaluate(mtFile, "an error").Alert, nullptr);
  EXPECT_EQ(Evaluate(mtFile, "disk dropped").Alert, nullptr);
}

TEST_F(Rules, InactiveRuleHasNoSay) {
  TRule& errors = Add({"Errors", "error", true, clRed});
  errors.SetActive(false);
  EXPECT_EQ(Evaluate(mtFile, "disk error").Color, clWindowText);
  errors.SetActive(true);
  EXPECT_EQ(Evaluate(mtFile, "disk error").Color, clRed);
}

TEST_F(Rules, NewRuleHasTheDefaultsAndNoSayUntilActiveWithAPattern) {
  auto fresh = std::make_unique<TRule>();
  EXPECT_EQ(fresh->Color(), clWhite);
  EXPECT_EQ(fresh->Name(), "Unnamed");
  EXPECT_EQ(fresh->RegExp(), "");
  EXPECT_EQ(fresh->MonitorTypes(), TMonitorTypes::All());
  EXPECT_TRUE(fresh->LogLine());
  EXPECT_FALSE(fresh->Active());
  EXPECT_EQ(fresh->Priority(), 0);
  TRule& rule = List.Add(std::move(fresh));
  rule.SetLogLine(false);
  EXPECT_TRUE(Evaluate(mtFile, "anything").Keep);
  rule.SetActive(true);
  EXPECT_TRUE(Evaluate(mtFile, "anything").Keep); // an empty pattern never matches
  rule.SetRegExp("any");
  EXPECT_FALSE(Evaluate(mtFile, "anything").Keep);
}

TEST_F(Rules, EmptyListKeepsEveryLineInItsColour) {
  for (const TSourceKind& kind : SourceKinds) {
    const auto outcome = Evaluate(kind.Type, "anything");
    EXPECT_TRUE(outcome.Keep);
    EXPECT_EQ(outcome.Color, clWindowText);
  }
}

TEST_F(Rules, RuleWithoutMonitorTypesNeverApplies) {
  Add({"Nothing", "x", false, clRed, {}});
  for (const TSourceKind& kind : SourceKinds)
    EXPECT_TRUE(Evaluate(kind.Type, "x").Keep);
}

TEST_F(Rules, LaterRuleWinsInBothDirections) {
  Add({"Keep", "disk", true, clGreen});
  Add({"Drop", "full", false, clBlue});
  Add({"Back", "urgent", true, clYellow});
  EXPECT_FALSE(Evaluate(mtFile, "disk full").Keep);
  const auto back = Evaluate(mtFile, "urgent: disk full");
  EXPECT_TRUE(back.Keep);
  EXPECT_EQ(back.Color, clYellow);
  EXPECT_EQ(Evaluate(mtFile, "disk ok").Color, clGreen);
}

TEST_F(Rules, AddAndDeleteKeepPrioritiesEqualToPositions) {
  Add({"a", "a"});
  Add({"b", "b"});
  Add({"c", "c"});
  EXPECT_EQ(Priorities(), (std::vector<int>{0, 1, 2}));
  List.Delete(0);
  EXPECT_EQ(Names(), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(Priorities(), (std::vector<int>{0, 1}));
  EXPECT_THROW(List.Delete(2), std::out_of_range);
  EXPECT_THROW(List.GetRule(2), std::out_of_range);
}

TEST_F(Rules, SortOrdersByPriorityAndMovesSwapNeighbours) {
  Add({"a", "a"});
  List.Sort();
  EXPECT_EQ(Priorities(), std::vector<int>{0});
  Add({"b", "b"});
  Add({"c", "c"});
  Add({"d", "d"});
  // Move "c" up: it takes its upper neighbour's priority and the sort swaps the two.
  List.GetRule(2).SetPriority(1);
  List.Sort();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "c", "b", "d"}));
  EXPECT_EQ(Priorities(), (std::vector<int>{0, 1, 2, 3}));
  // Move "a" down.
  List.GetRule(0).SetPriority(1);
  List.Sort();
  EXPECT_EQ(Names(), (std::vector<std::string>{"c", "a", "b", "d"}));
  // Distinct priorities in any order.
  List.GetRule(0).SetPriority(30);
  List.GetRule(1).SetPriority(-5);
  List.GetRule(2).SetPriority(7);
  List.GetRule(3).SetPriority(0);
  List.Sort();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "d", "b", "c"}));
  EXPECT_EQ(Priorities(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(Rules, MovedRulesEvaluateInTheirNewOrder) {
  Add({"Keep", "x", true, clGreen});
  Add({"Drop", "x", false, clBlue});
  EXPECT_FALSE(Evaluate(mtFile, "x").Keep);
  List.GetRule(1).SetPriority(0);
  List.Sort();
  EXPECT_TRUE(Evaluate(mtFile, "x").Keep);
}

TEST_F(Rules, EditedFieldsApplyToTheNextItem) {
  TRule& rule = Add({"r", "alpha", true, clRed});
  EXPECT_EQ(Evaluate(mtFile, "alpha").Color, clRed);
  rule.SetRegExp("beta");
  EXPECT_EQ(Evaluate(mtFile, "alpha").Color, clWindowText);
  EXPECT_EQ(Evaluate(mtFile, "beta").Color, clRed);
  rule.SetColor(clBlue);
  EXPECT_EQ(Evaluate(mtFile, "beta").Color, clBlue);
  rule.SetLogLine(false);
  EXPECT_FALSE(Evaluate(mtFile, "beta").Keep);
  EXPECT_FALSE(List.KeepsAll(mtFile));
  rule.SetMonitorTypes({mtSyslog});
  EXPECT_TRUE(Evaluate(mtFile, "beta").Keep);
  EXPECT_FALSE(Evaluate(mtSyslog, "beta").Keep);
  // The log passes lines of kinds no rule covers without looking at each.
  EXPECT_TRUE(List.KeepsAll(mtFile));
  EXPECT_FALSE(List.KeepsAll(mtSyslog));
  rule.SetActive(false);
  EXPECT_TRUE(List.KeepsAll(mtSyslog));
}

TEST_F(Rules, EditOnTheUserInterfaceThreadAppliesToTheNextItemOfAnEvaluatingThread) {
  TRule& rule = Add({"r", "alpha", true, clRed});
  std::atomic<int> step{0};
  TColor before = 0;
  TColor after = 0;
  std::thread evaluator([&] {
    before = Evaluate(mtFile, "alpha").Color; // this thread now holds the list as it was
    step = 1;
    while (step != 2)
      std::this_thread::yield();
    after = Evaluate(mtFile, "alpha").Color;
  });
  while (step != 1)
    std::this_thread::yield();
  rule.SetColor(clBlue);
  step = 2;
  evaluator.join();
  EXPECT_EQ(before, clRed);
  EXPECT_EQ(after, clBlue);
}

TEST_F(Rules, ThreadEvaluatingTwoListsInTurnGetsEachListsAnswer) {
  Add({"Drop", "x", false, clWhite});
  TRules other;
  other.Add(MakeRule({"Red", "x", true, clRed}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(Evaluate(mtFile, "x").Keep);
    TLogItem item{0, TLogLevel::Notice, nullptr, mtFile, clWindowText, "x", {}, {}, {}};
    std::vector<std::string> faults;
    EXPECT_TRUE(other.ProcessItem(item, faults));
    EXPECT_EQ(item.Color, clRed);
  }
}

TEST_F(Rules, FaultyRuleSwitchesOffAtTheFirstLineItCoversAndTheOthersStillDecide) {
  Add({"Errors", "error", true, clRed});
  TRule& faulty = Add({"Broken", "[a-", false, clBlue, {mtSyslog}});
  Add({"Drop disk", "disk", false, clGreen});

  const auto other = Evaluate(mtFile, "file error"); // not a kind the faulty rule covers
  EXPECT_TRUE(other.Faults.empty());
  EXPECT_TRUE(faulty.Active());

  const auto first = Evaluate(mtSyslog, "syslog error");
  EXPECT_FALSE(faulty.Active());
  EXPECT_TRUE(first.Keep);
  EXPECT_EQ(first.Color, clRed);
  ASSERT_EQ(first.Faults.size(), 1u);
  EXPECT_EQ(first.Faults[0],
            "Rule Broken switched off: missing terminating ] for character class at offset 3");

  EXPECT_FALSE(Evaluate(mtSyslog, "disk error").Keep);
  EXPECT_TRUE(Evaluate(mtSyslog, "error").Faults.empty()); // reported once

  List.GetRule(0).SetColor(clYellow); // any edit republishes the list: it stays off
  EXPECT_FALSE(faulty.Active());
  EXPECT_TRUE(Evaluate(mtSyslog, "error").Faults.empty());

  faulty.SetActive(true); // until the user switches it on again
  EXPECT_EQ(Evaluate(mtSyslog, "error").Faults.size(), 1u);
}

// The rule that decides is found from the end: the rules before it are not searched, so a
// pattern that fails only when searched goes on until a line reaches it, while one that does
// not compile is switched off at the first line it covers all the same.
TEST_F(Rules, RulesBeforeTheDecidingOneAreNotSearchedButBrokenPatternsStillSwitchOff) {
  TRule& runaway = Add({"Runaway", "(a+)+$", false, clBlue});
  TRule& broken = Add({"Broken", "(", false, clBlue});
  Add({"Red b", "b", true, clRed});
  const std::string line = std::string(4096, 'a') + "b";
  const auto decided = Evaluate(mtFile, line);
  EXPECT_TRUE(decided.Keep);
  EXPECT_EQ(decided.Color, clRed);
  EXPECT_TRUE(runaway.Active());
  EXPECT_FALSE(broken.Active());
  ASSERT_EQ(decided.Faults.size(), 1u);
  EXPECT_TRUE(decided.Faults[0].starts_with("Rule Broken switched off: "));
  const auto reached = Evaluate(mtFile, std::string(4096, 'a') + "c");
  EXPECT_FALSE(runaway.Active());
  ASSERT_EQ(reached.Faults.size(), 1u);
  EXPECT_TRUE(reached.Faults[0].starts_with("Rule Runaway switched off: "));
}

TEST_F(Rules, AddingNoRuleFails) {
  EXPECT_THROW(List.Add(nullptr), std::invalid_argument);
  EXPECT_EQ(List.Count(), 0u);
}

// Evaluations on several threads while the list is edited in every way; under ThreadSanitizer
// this also shows that they share nothing unguarded.
TEST_F(Rules, EvaluationRunsSafelyWhileTheListIsEdited) {
  const std::set<TColor> palette{clRed, clGreen, clBlue, clYellow, clAqua, clWindowText};
  Add({"r0", "line", true, clRed});
  Add({"r1", "line", true, clGreen});
  Add({"r2", "other", true, clBlue});
  TRule& faulty = Add({"Broken", "(", true, clAqua});
  std::atomic<bool> stop{false};
  std::atomic<int> faultReports{0};
  std::atomic<int> strayColours{0};
  std::atomic<long> evaluations{0};
  std::vector<std::thread> evaluators;
  for (int t = 0; t < 3; ++t) {
    evaluators.emplace_back([&] {
      for (int i = 0; !stop; ++i) {
        const TMonitorType type = i % 2 ? mtSyslog : mtFile;
        TLogItem item{0, TLogLevel::Notice, nullptr, type, clWindowText, "a line of text", {}, {},
                      {}};
        std::vector<std::string> faults;
        List.ProcessItem(item, faults);
        faultReports += static_cast<int>(faults.size());
        if (!palette.contains(item.Color))
          ++strayColours;
        ++evaluations;
      }
    });
  }
  for (int round = 0; round < 300; ++round) {
    // Every round overlaps some evaluations, however the threads are scheduled.
    const long seen = evaluations;
    while (evaluations < seen + 3)
      std::this_thread::yield();
    TRule& added = Add({"temp", round % 2 ? "line" : "text", round % 3 != 0, clYellow});
    List.GetRule(1).SetPriority(0);
    List.Sort();
    List.GetRule(0).SetRegExp(round % 2 ? "line" : "other");
    List.GetRule(2).SetColor(round % 2 ? clRed : clBlue);
    List.GetRule(1).SetMonitorTypes(round % 2 ? TMonitorTypes{mtFile} : TMonitorTypes::All());
    added.SetActive(round % 4 != 0);
    List.Delete(static_cast<std::size_t>(added.Priority()));
  }
  stop = true;
  for (auto& evaluator : evaluators)
    evaluator.join();
  EXPECT_EQ(strayColours, 0);
  EXPECT_FALSE(faulty.Active());
  EXPECT_EQ(faultReports, 1);
  EXPECT_EQ(List.Count(), 4u);
}

// Each line of many kinds against a list of 160 rules of the kinds people write, most matching
// nothing: the list answers as trying every active rule's own pattern from the last one back
// does, whatever its search for the rules' texts leaves out.
TEST_F(Rules, DecideAsEveryRuleTriedInTurn) {
  const std::vector<std::string> words = {"error", "disk",  "Timeout", "net",     "fail",
                                          "user",  "eth0",  "WARN",    "refused", "heartbeat",
                                          "a-z",   "ok ok", "GET /"};
  const std::vector<std::string> shapes = {
      "@1",  "(?i)@1",    "(@1|@2) done",   "\\b(?:@1|@2)\\b", "@1\\d+",      "@1.*@2", "^@1",
      "@2$", "[a-z]+ @1", "(?i)(@1|x@2)y?", "@1|@2",           "(@1|zq\\d)+", "@1 @2",  "never@1"};
  const TColor colors[] = {clRed, clBlue, clGreen, clYellow, clWhite};
  const auto fill = [](std::string shape, const std::string& first, const std::string& second) {
    for (const auto& [mark, word] : {std::pair{"@1", first}, std::pair{"@2", second}}) {
      for (std::size_t at; (at = shape.find(mark)) != std::string::npos;)
        shape.replace(at, 2, word);
    }
    return shape;
  };
  std::deque<TPattern> patterns;
  const auto addRule = [&](const std::string& regExp, std::size_t i) {
    TRule& rule = Add({"r" + std::to_string(i), regExp, i % 5 != 0, colors[i % 5],
                       i % 7 == 3 ? TMonitorTypes{mtSyslog} : TMonitorTypes::All(), i % 11 != 4});
    rule.SetAlert(i % 4 == 1);
    if (i % 13 == 6)
      rule.SetSource("app*");
    patterns.emplace_back(regExp);
  };
  for (std::size_t i = 0; i < 160; ++i)
    addRule(fill(shapes[i % shapes.size()], words[i * 5 % words.size()],
                 words[(i * 3 + 1) % words.size()]),
            i);
  // A key is the first 32 bytes of a text; a line may hold the key but not the text.
  addRule("a literal text that runs past the length of a key", 160);
  addRule("(unclosed", 161);

  std::vector<std::string> lines = {"", "disk done", "NET done",
                                    "a literal text that runs past "
                                    "the length of a key!",
                                    "a literal text that runs past the len"};
  std::uint32_t seed = 12345; // a fixed walk, so that a failure can be replayed
  const auto next = [&seed](std::size_t count) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % count;
  };
  const std::vector<std::string> filler = {"the",   "x",    "42",   "xnetz", "zq7",    "[",   "  ",
                                           "ERROR", "Fail", "d1sk", "eth01", "user=7", "done"};
  for (int line = 0; line < 400; ++line) {
    std::string text;
    for (std::size_t parts = 1 + next(9); parts-- > 0;) {
      const std::vector<std::string>& from = next(2) == 0 ? words : filler;
      text += from[next(from.size())] + (next(3) == 0 ? "" : " ");
    }
    lines.push_back(text);
  }

  for (std::size_t line = 0; line < lines.size(); ++line) {
    const TMonitorType type = line % 3 == 0 ? mtSyslog : mtFile;
    const std::string source = line % 2 == 0 ? "app.log" : "db.log";
    // Rules whose pattern does not compile go first, wherever they stand; then the last match.
    std::vector<std::string> faults;
    bool keep = true;
    TColor color = clWindowText;
    std::string decision, alert;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      const TRule& rule = List.GetRule(i);
      if (!patterns[i].Valid() && rule.Active() && rule.MonitorTypes().Contains(type))
        faults.push_back("Rule " + rule.Name() + " switched off: " + patterns[i].CompileError());
    }
    for (std::size_t i = patterns.size(); i-- > 0;) {
      const TRule& rule = List.GetRule(i);
      if (!rule.Active() || !patterns[i].Valid() || !rule.MonitorTypes().Contains(type) ||
          (!rule.Source().empty() && ::fnmatch(rule.Source().c_str(), source.c_str(), 0) != 0) ||
          !patterns[i].Search(lines[line]))
        continue;
      keep = rule.LogLine();
      color = rule.Color();
      if (keep) {
        decision = "kept by rule " + std::to_string(i + 1) + " '" + rule.Name() + "'";
        alert = rule.Alert() ? rule.Name() : "";
      }
      break;
    }
    const TOutcome outcome = Evaluate(type, lines[line], source);
    SCOPED_TRACE("line " + std::to_string(line) + ": \"" + lines[line] + "\"");
    EXPECT_EQ(outcome.Keep, keep);
    EXPECT_EQ(outcome.Color, color);
    EXPECT_EQ(outcome.Decision, decision);
    EXPECT_EQ(outcome.Alert ? *outcome.Alert : "", alert);
    EXPECT_EQ(outcome.Faults, faults);
  }
}

} // namespace
} // namespace ornavel
