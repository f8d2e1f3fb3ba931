#include "TestSupport.h"
#include "config/AppDataUnit.h"
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "driver/MonitoringDriverUnit.h"
#include "rules/RulesUnit.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

class TFileSource final : public TSourceThread {
public:
  TFileSource() : TSourceThread(GetLog()) {}
  TMonitorType MonitorType() const override { return mtFile; }

protected:
  void Execute() override {}
};

// The single log and rule list through the program's life: the rules, loaded from a faulty file
// while the log is made, report through it before its first line; the log then filters through
// that same rule list; all end for good in the program's order.
TEST(Lifecycle, LogFiltersThroughTheRulesMadeWithItAndAllEndInOrder) {
  test::WriteFile(
      IncludePath(GetAppDataFolder(), "Rules.xml"),
      test::CrLf(
          {R"(<?xml version="1.0"?>)", "<Rules>",
           R"(<Rule name="Drop heartbeats" regexp="heartbeat" active="True" logline="False"/>)",
           R"(<Rule name="Faulty" color="reddish"/>)", "</Rules>"}));
  TMonitoringDriver driver{TSourceFactory()};
  driver.CreateLog(nullptr);
  TLog& log = GetLog();
  TRules& rules = GetRules();
  // Reported once (the rules were made once), kept like any report without a source.
  ASSERT_EQ(log.Count(), 2u);
  const TLogItem report = log.GetItem(0);
  EXPECT_TRUE(report.Text.ends_with("rule 2 (Faulty), color=\"reddish\": 'reddish' is not a valid "
                                    "integer value"))
      << report.Text;
  EXPECT_EQ(report.Level, TLogLevel::LoadFailure);
  EXPECT_EQ(report.Source, nullptr);
  EXPECT_EQ(report.Color, clWindowText);
  EXPECT_EQ(log.GetItem(1).Text, "Starting up..");
  ASSERT_EQ(rules.Count(), 1u);

  const auto file = TThread::Create<TFileSource>(true);
  log.AddLine(file.get(), "heartbeat");
  log.AddLine(file.get(), "disk full");
  ASSERT_EQ(log.Count(), 3u);
  EXPECT_EQ(log.GetItem(2).MonitorType, mtFile);

  TMainConfig& config = GetConfig();
  config.SetIncludePID(false);

  DestroyLog();
  EXPECT_THROW(GetLog(), std::logic_error);
  EXPECT_EQ(rules.Count(), 1u); // the rules outlive the log
  DestroyRules();
  EXPECT_THROW(GetRules(), std::logic_error);
  DestroyConfig(); // writes what changed
  EXPECT_THROW(GetConfig(), std::logic_error);
  EXPECT_NE(test::ReadFile(IncludePath(GetAppDataFolder(), "Config.xml")).find("IncludePID"),
            std::string::npos);
}

} // namespace
} // namespace ornavel
