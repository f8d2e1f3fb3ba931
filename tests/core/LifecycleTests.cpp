#include "TestSupport.h"
#include "config/AppDataUnit.h"
#include "config/ConfigUnit.h"
#include "core/LogUnit.h"
#include "rules/RulesUnit.h"
#include "sources/FileMonitorUnit.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

// The single log and rule list through the program's life: made together on first use, the
// rules loaded from a faulty file reporting through the log that is being made, the log filtering
// through that same rule list, and all gone for good at the end in the program's order.
TEST(Lifecycle, SingleLogAndRulesAreMadeTogetherAndEndInOrder) {
  test::WriteFile(
      IncludePath(GetAppDataFolder(), "Rules.xml"),
      test::CrLf(
          {R"(<?xml version="1.0"?>)", "<Rules>",
           R"(<Rule name="Drop heartbeats" regexp="heartbeat" active="True" logline="False"/>)",
           R"(<Rule name="Faulty" color="reddish"/>)", "</Rules>"}));
  TLog& log = GetLog();
  TRules& rules = GetRules();
  EXPECT_EQ(&GetLog(), &log);
  // Reported once (the rules were made once), kept like any report without a source.
  ASSERT_EQ(log.Count(), 1u);
  const TLogItem report = log.GetItem(0);
  EXPECT_EQ(report.Text, "'reddish' is not a valid integer value");
  EXPECT_EQ(report.Level, TLogLevel::LoadFailure);
  EXPECT_EQ(report.Source, nullptr);
  EXPECT_EQ(report.Color, clWindowText);
  ASSERT_EQ(rules.Count(), 1u);

  const auto file = test::MakeSource<TFileMonitorThread>();
  log.AddLine(nullptr, "Starting up..");
  log.AddLine(file.get(), "heartbeat");
  ASSERT_EQ(log.Count(), 2u);
  EXPECT_EQ(log.GetItem(1).Text, "Starting up..");

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
