#include "TestSupport.h"
#include "core/LogUnit.h"
#include "rules/RulesUnit.h"
#include "sources/FileMonitorUnit.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

// The single log and rule list through the program's life: made together on first use, the log
// filtering through that same rule list, and gone for good at the end in the program's order.
TEST(Lifecycle, SingleLogAndRulesAreMadeTogetherAndEndInOrder) {
  TLog& log = GetLog();
  TRules& rules = GetRules();
  EXPECT_EQ(&GetLog(), &log);

  auto rule = std::make_unique<TRule>();
  rule->SetRegExp("heartbeat");
  rule->SetLogLine(false);
  rule->SetActive(true);
  rules.Add(std::move(rule));
  const auto file = test::MakeSource<TFileMonitorThread>();
  log.AddLine(nullptr, "Starting up..");
  log.AddLine(file.get(), "heartbeat");
  ASSERT_EQ(log.Count(), 1u);
  EXPECT_EQ(log.GetItem(0).Text, "Starting up..");

  DestroyLog();
  EXPECT_THROW(GetLog(), std::logic_error);
  EXPECT_EQ(rules.Count(), 1u); // the rules outlive the log
  DestroyRules();
  EXPECT_THROW(GetRules(), std::logic_error);
}

} // namespace
} // namespace ornavel
