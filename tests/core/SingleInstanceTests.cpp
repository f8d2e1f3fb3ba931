#include "core/SingleInstanceUnit.h"

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

// A log and rules that depend one way, as the real ones do: making the rules reports to the log.
class SingleInstance : public testing::Test {
protected:
  struct TFakeLog {
    std::vector<std::string> Reports;
  };
  struct TFakeRules {};

  TFakeLog& Log() {
    return LogInstance.Get([this] {
      ++LogsMade;
      return std::make_unique<TFakeLog>();
    });
  }

  TFakeRules& Rules() {
    return RulesInstance.Get([this] {
      ++RulesMade;
      Log().Reports.push_back("Rules.xml: parse error");
      return std::make_unique<TFakeRules>();
    });
  }

  TSingleInstance<TFakeLog> LogInstance{"log"};
  TSingleInstance<TFakeRules> RulesInstance{"rules"};
  std::atomic<int> LogsMade{0};
  std::atomic<int> RulesMade{0};
};

TEST_F(SingleInstance, MakingOneObjectMayUseAnotherAndEachIsMadeOnce) {
  std::vector<std::thread> askers;
  std::vector<TFakeRules*> answers(8);
  for (std::size_t i = 0; i < answers.size(); ++i)
    askers.emplace_back([&, i] { answers[i] = &Rules(); });
  for (auto& asker : askers)
    asker.join();
  EXPECT_EQ(RulesMade, 1);
  EXPECT_EQ(LogsMade, 1);
  for (TFakeRules* answer : answers)
    EXPECT_EQ(answer, answers[0]);
  EXPECT_EQ(Log().Reports, std::vector<std::string>{"Rules.xml: parse error"});
}

TEST_F(SingleInstance, AskingForAnObjectWhileMakingItFailsInsteadOfHanging) {
  TSingleInstance<int> instance("number");
  const auto make = [&]() -> std::unique_ptr<int> {
    instance.Get([] { return std::make_unique<int>(1); });
    return std::make_unique<int>(2);
  };
  EXPECT_THROW(instance.Get(make), std::logic_error);
  EXPECT_EQ(instance.Get([] { return std::make_unique<int>(3); }), 3);
}

TEST_F(SingleInstance, FailedCreationIsTriedAgain) {
  TSingleInstance<int> instance("number");
  int attempts = 0;
  const auto make = [&] {
    if (++attempts == 1)
      throw std::runtime_error("first attempt fails");
    return std::make_unique<int>(attempts);
  };
  EXPECT_THROW(instance.Get(make), std::runtime_error);
  EXPECT_EQ(instance.Existing(), nullptr);
  EXPECT_EQ(instance.Get(make), 2);
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
