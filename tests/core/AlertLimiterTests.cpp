#include "core/AlertLimiterUnit.h"
#include "core/LogUnit.h"

#include <gtest/gtest.h>

namespace ornavel {
namespace {

using namespace std::chrono_literals;

// A flood of one rule's alerts gives one notice at once and one more, the newest line with the
// count of the rest, when the interval ends; another rule is told on its own; a rule quiet for
// an interval is told at once again.
TEST(AlertLimiter, OneNoticePerRulePerIntervalAndTheRestCounted) {
  TAlertLimiter limiter(5s);
  const TAlertLimiter::TClock::time_point start{};
  const auto offer = [&](std::string_view rule, std::uint64_t line, auto at) {
    const std::string text = "line " + std::to_string(line);
    return limiter.Offer(TLogAlert{rule, text, clRed, line}, start + at);
  };
  const auto first = offer("Errors", 0, 0ms);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Text, "line 0");
  EXPECT_EQ(first->More, 0u);
  int told = 0;
  for (std::uint64_t line = 1; line < 10'000; ++line)
    told += offer("Errors", line, std::chrono::microseconds(line * 100)).has_value();
  EXPECT_EQ(told, 0);
  EXPECT_TRUE(offer("Disk", 10'000, 1s)) << "another rule has its own interval";
  EXPECT_TRUE(limiter.TakeDue(start + 4s).empty());
  ASSERT_EQ(limiter.NextDue(), start + 5s);

  const std::vector<TAlertNotice> due = limiter.TakeDue(start + 5s);
  ASSERT_EQ(due.size(), 1u);
  EXPECT_EQ(due[0].Rule, "Errors");
  EXPECT_EQ(due[0].Text, "line 9999");
  EXPECT_EQ(due[0].Line, 9999u);
  EXPECT_EQ(due[0].More, 9998u);
  EXPECT_FALSE(limiter.NextDue());
  EXPECT_FALSE(offer("Errors", 10'001, 9s)) << "the flush began a new interval";
  const auto late = offer("Errors", 10'002, 10s);
  ASSERT_TRUE(late) << "a pending alert folds into the next notice";
  EXPECT_EQ(late->More, 1u);
  EXPECT_TRUE(offer("Errors", 10'003, 20s));
}

} // namespace
} // namespace ornavel
