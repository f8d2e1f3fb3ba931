#include "DateTimeUnit.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <stdexcept>
#include <string>

namespace ornavel {
namespace {

using namespace std::chrono;

constexpr long long MillisecondsPerDay = 24LL * 60 * 60 * 1000;
// 30 December 1899 counted from 1 January 1970.
constexpr days DateTimeEpoch = sys_days{1899y / December / 30} - sys_days{1970y / January / 1};

} // namespace

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  const year_month_day date{std::chrono::year{year},
                            std::chrono::month{static_cast<unsigned>(month)},
                            std::chrono::day{static_cast<unsigned>(day)}};
  if (!date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59 || millisecond < 0 || millisecond > 999)
    throw std::invalid_argument("Invalid argument to date encode");
  const auto dayNumber = (sys_days{date}.time_since_epoch() - DateTimeEpoch).count();
  const long long timeOfDay = ((hour * 60LL + minute) * 60 + second) * 1000 + millisecond;
  const double fraction = static_cast<double>(timeOfDay) / MillisecondsPerDay;
  // Before the epoch the time of day still counts forward, away from zero.
  return dayNumber < 0 ? static_cast<double>(dayNumber) - fraction
                       : static_cast<double>(dayNumber) + fraction;
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  // Before the epoch the whole part counts days backwards while the fraction still counts forward
  // from midnight, so -1.25 is 29 December 1899, 06:00.
  auto dayNumber = static_cast<long long>(std::trunc(value));
  long long timeOfDay = std::llround(std::fabs(value - static_cast<double>(dayNumber)) *
                                     static_cast<double>(MillisecondsPerDay));
  if (timeOfDay >= MillisecondsPerDay) {
    timeOfDay -= MillisecondsPerDay;
    dayNumber += value < 0 ? -1 : 1;
  }
  const sys_days date{days{dayNumber} + DateTimeEpoch};
  const year_month_day ymd{date};
  TDateTimeParts parts;
  parts.Year = static_cast<int>(ymd.year());
  parts.Month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  parts.Day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  parts.DayOfWeek = static_cast<int>(weekday{date}.c_encoding()) + 1;
  parts.Millisecond = static_cast<int>(timeOfDay % 1000);
  parts.Second = static_cast<int>(timeOfDay / 1000 % 60);
  parts.Minute = static_cast<int>(timeOfDay / 60000 % 60);
  parts.Hour = static_cast<int>(timeOfDay / 3600000);
  return parts;
}

TDateTime Now() {
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr)
    throw std::runtime_error("Cannot read the local time");
  const auto millisecond = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  // A leap second is shown as the last second of its minute.
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                        static_cast<int>(millisecond));
}

} // namespace ornavel
