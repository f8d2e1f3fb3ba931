#pragma once

#include <string>
#include <string_view>

namespace ornavel {

// Days since 30 December 1899, the fraction being the time of day, in local time.
using TDateTime = double;

struct TDateTimeParts {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
  int DayOfWeek = 7; // 1 Sunday .. 7 Saturday
};

TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int millisecond = 0);
TDateTimeParts DecodeDateTime(TDateTime value);

// The current local date and time, to the millisecond.
TDateTime Now();

// The value as text after a date-time pattern: d dd ddd dddd (day, number or name), m mm mmm
// mmmm (month; minutes right after an hour), yy yyyy, h hh, n nn, s ss, z zzz (milliseconds),
// am/pm a/p ampm (12-hour clock), c ddddd dddddd t tt (whole date and time forms), / and :
// (separators), text in single or double quotes as it stands; anything else is copied.
std::string FormatDateTime(std::string_view format, TDateTime value);

} // namespace ornavel
