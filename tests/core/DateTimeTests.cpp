#include "core/DateTimeUnit.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include <gtest/gtest.h>

namespace ornavel {
namespace {

TEST(DateTime, CountsDaysFromTheEndOf1899) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1970, 1, 1), 25569.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 12), 36526.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
}

TEST(DateTime, DecodesWhatItEncodes) {
  const TDateTimeParts parts = DecodeDateTime(EncodeDateTime(2024, 3, 5, 14, 7, 9, 999));
  EXPECT_EQ(parts.Year, 2024);
  EXPECT_EQ(parts.Month, 3);
  EXPECT_EQ(parts.Day, 5);
  EXPECT_EQ(parts.Hour, 14);
  EXPECT_EQ(parts.Minute, 7);
  EXPECT_EQ(parts.Second, 9);
  EXPECT_EQ(parts.Millisecond, 999);
  EXPECT_EQ(parts.DayOfWeek, 3); // a Tuesday

  const TDateTimeParts before = DecodeDateTime(-1.25);
  EXPECT_EQ(before.Day, 29);
  EXPECT_EQ(before.Hour, 6);

  // 23:59:59.9996 rounds up into the next day, not to a 24th hour.
  const TDateTimeParts late = DecodeDateTime(EncodeDateTime(2024, 2, 29) + 0.9999999999);
  EXPECT_EQ(late.Month, 3);
  EXPECT_EQ(late.Day, 1);
  EXPECT_EQ(late.Hour, 0);
}

TEST(DateTime, RejectsImpossibleDates) {
  EXPECT_THROW(EncodeDateTime(2023, 2, 29), std::invalid_argument);
  EXPECT_THROW(EncodeDateTime(2024, 13, 1), std::invalid_argument);
  EXPECT_THROW(EncodeDateTime(2024, 1, 1, 24), std::invalid_argument);
}

TEST(DateTime, NowIsTheLocalTime) {
  // Half an hour off a whole hour from UTC, so that a UTC clock cannot pass for the local one.
  setenv("TZ", "XYZ-05:30", 1);
  tzset();
  const std::time_t before = std::time(nullptr);
  const TDateTimeParts now = DecodeDateTime(Now());
  const std::time_t after = std::time(nullptr);
  std::tm local{};
  bool matched = false;
  for (std::time_t t = before; t <= after && !matched; ++t) {
    localtime_r(&t, &local);
    matched = local.tm_year + 1900 == now.Year && local.tm_mon + 1 == now.Month &&
              local.tm_mday == now.Day && local.tm_hour == now.Hour && local.tm_min == now.Minute &&
              local.tm_sec == now.Second;
  }
  EXPECT_TRUE(matched);
}

} // namespace
} // namespace ornavel
