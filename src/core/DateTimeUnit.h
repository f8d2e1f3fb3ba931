#pragma once

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

} // namespace ornavel
