#include "core/SingleInstanceUnit.h"

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

// Two single objects that reach each other while being made, as the log and the rules do: the
// log takes the rules when it is made, and the rules report a load failure to the log.
class SingleInstance : public testing::Test {
protected:
  struct TFakeRules {};
  struct TFakeLog {
    TFakeRules* Rules = nullptr;
    std::vector<std::string> Reports;
  };

  TFakeLog& Log() {
    return LogInstance.Get(
        [this] {
          ++LogsMade;
          return std::make_unique<TFakeLog>();
        },
        [this](TFakeLog& log) { log.Rules = &Rules(); });
  }

  TFakeRules& Rules() {
    return RulesInstance.Get(
        [this] {
          ++RulesMade;
          return std::make_unique<TFakeRules>();
        },
        [this](TFakeRules&) { Log().Reports.push_back("Rules.xml: parse error"); });
  }

  TSingleInstance<TFakeLog> LogInstance{"log"};
  TSingleInstance<TFakeRules> RulesInstance{"rules"};
  std::atomic<int> LogsMade{0};
  std::atomic<int> RulesMade{0};
};

TEST_F(SingleInstance, ReportDuringCreationReachesTheObjectBeingMadeStartingFromTheLog) {
  TFakeLog& log = Log();
  EXPECT_EQ(LogsMade, 1);
  EXPECT_EQ(RulesMade, 1);
  EXPECT_EQ(log.Rules, &Rules());
  EXPECT_EQ(log.Reports, std::vector<std::string>{"Rules.xml: parse error"});
  EXPECT_EQ(&Log(), &log);
}

TEST_F(SingleInstance, ReportDuringCreationReachesTheObjectBeingMadeStartingFromTheRules) {
  TFakeRules& rules = Rules();
  EXPECT_EQ(LogsMade, 1);
  EXPECT_EQ(RulesMade, 1);
  EXPECT_EQ(Log().Rules, &rules);
  EXPECT_EQ(Log().Reports.size(), 1u);
}

TEST_F(SingleInstance, ThreadsAskingAtOnceGetOneCompleteObject) {
  std::vector<std::thread> askers;
  std::vector<TFakeLog*> answers(8);
  for (std::size_t i = 0; i < answers.size(); ++i)
    askers.emplace_back([&, i] { answers[i] = &Log(); });
  for (auto& asker : askers)
    asker.join();
  EXPECT_EQ(LogsMade, 1);
  EXPECT_EQ(RulesMade, 1);
  for (TFakeLog* answer : answers) {
    EXPECT_EQ(answer, answers[0]);
    EXPECT_NE(answer->Rules, nullptr); // never seen half made
  }
}

TEST_F(SingleInstance, FailedCreationIsTriedAgain) {
  TSingleInstance<int> instance("number");
  int attempts = 0;
  const auto make = [&] {
    ++attempts;
    return std::make_unique<int>(attempts);
  };
  const auto initialise = [&](int&) {
    if (attempts == 1)
      throw std::runtime_error("first attempt fails");
  };
  EXPECT_THROW(instance.Get(make, initialise), std::runtime_error);
  EXPECT_EQ(instance.Existing(), nullptr);
  EXPECT_EQ(instance.Get(make, initialise), 2);
}

TEST_F(SingleInstance, DestroyedObjectIsNotMadeAgain) {
  Log();
  LogInstance.Destroy();
  EXPECT_EQ(LogInstance.Existing(), nullptr);
  EXPECT_THROW(Log(), std::logic_error);
  EXPECT_EQ(LogsMade, 1);
}

} // namespace
} // namespace ornavel
