#include "TestSupport.h"
#include "core/DateTimeUnit.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>

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

// Sets the process's time zone while it lives and then puts the previous one back, so that a
// failing test leaves no strange zone behind for the tests after it.
class TTimeZone {
public:
  explicit TTimeZone(const char* zone) {
    if (const char* previous = std::getenv("TZ"))
      FPrevious = previous;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TTimeZone() {
    if (FPrevious)
      setenv("TZ", FPrevious->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  TTimeZone(const TTimeZone&) = delete;
  TTimeZone& operator=(const TTimeZone&) = delete;

private:
  std::optional<std::string> FPrevious;
};

TEST(DateTime, NowIsTheLocalTime) {
  // Half an hour off a whole hour from UTC, so that a UTC clock cannot pass for the local one.
  const TTimeZone zone("XYZ-05:30");
  // Bracketed by the clock Now reads: time() reads a coarser one, which may lag it by a tick and
  // so still show the second before.
  const auto clock = [] {
    return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  };
  const std::time_t before = clock();
  const TDateTimeParts now = DecodeDateTime(Now());
  const std::time_t after = clock();
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

namespace ornavel {
namespace {

struct TFormatCase {
  const char* Format;
  const char* Text;
};

// Tuesday 5 March 2024, 14:07:09.045, and a morning to tell the 12-hour forms apart.
class DateTimeFormatting : public testing::TestWithParam<TFormatCase> {};

TEST_P(DateTimeFormatting, WritesEachLetterGroup) {
  EXPECT_EQ(FormatDateTime(GetParam().Format, EncodeDateTime(2024, 3, 5, 14, 7, 9, 45)),
            GetParam().Text)
      << GetParam().Format;
}

INSTANTIATE_TEST_SUITE_P(
    DateTime, DateTimeFormatting,
    testing::Values(TFormatCase{"yyyy-mm-dd hh:nn:ss", "2024-03-05 14:07:09"},
                    TFormatCase{"dd.mm.yyyy", "05.03.2024"}, TFormatCase{"d/m/yy", "5/3/24"},
                    TFormatCase{"ddd dddd", "Tue Tuesday"}, TFormatCase{"mmm mmmm", "Mar March"},
                    TFormatCase{"h:n:s", "14:7:9"}, TFormatCase{"hh:mm", "14:07"},
                    TFormatCase{"hh:mm dd/mm", "14:07 05/03"}, TFormatCase{"h mm", "14 07"},
                    TFormatCase{"hh ss mm", "14 09 03"}, TFormatCase{"z zzz", "45 045"},
                    TFormatCase{"h:nn am/pm", "2:07 pm"}, TFormatCase{"hh:nn AM/PM", "02:07 PM"},
                    TFormatCase{"h a/p", "2 p"}, TFormatCase{"h ampm", "2 PM"},
                    TFormatCase{"'Day' d \"of\" mmmm", "Day 5 of March"},
                    TFormatCase{"'hh' hh", "hh 14"}, TFormatCase{"c", "2024-03-05 14:07:09"},
                    TFormatCase{"ddddd", "2024-03-05"},
                    TFormatCase{"dddddd", "Tuesday, March 5, 2024"},
                    TFormatCase{"t|tt", "14:07|14:07:09"},
                    TFormatCase{"YYYY-MM-DD HH:NN", "2024-03-05 14:07"},
                    TFormatCase{"[x] q w # 100%", "[x] q w # 100%"}, TFormatCase{"", ""},
                    TFormatCase{"'unclosed", "unclosed"},
                    TFormatCase{"yyyyyyy ddddddddd", "2024 Tuesday, March 5, 2024"}),
    [](const auto& info) { return test::CaseName(info.index, info.param.Format); });

TEST(DateTimeFormatting, TwelveHourClockAroundMidnightAndNoon) {
  EXPECT_EQ(FormatDateTime("h:nn am/pm", EncodeDateTime(2024, 1, 1, 0, 5)), "12:05 am");
  EXPECT_EQ(FormatDateTime("h:nn am/pm", EncodeDateTime(2024, 1, 1, 12, 5)), "12:05 pm");
  EXPECT_EQ(FormatDateTime("'am/pm' h", EncodeDateTime(2024, 1, 1, 13)), "am/pm 13");
}

} // namespace
} // namespace ornavel
