#include "DateTimeUnit.h"

#include <algorithm>
#include <array>
#include <cctype>
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
  // Sources stamp many lines a second; the local time is worked out once a second per thread.
  thread_local std::time_t localSeconds = -1;
  thread_local std::tm local{};
  if (seconds != localSeconds) {
    if (localtime_r(&seconds, &local) == nullptr)
      throw std::runtime_error("Cannot read the local time");
    localSeconds = seconds;
  }
  const auto millisecond = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  // A leap second is shown as the last second of its minute.
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                        static_cast<int>(millisecond));
}

} // namespace ornavel

namespace ornavel {
namespace {

constexpr std::array<std::string_view, 12> ShortMonthNames{
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 12> LongMonthNames{
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed",
                                                        "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};
constexpr std::string_view ShortDateFormat = "yyyy-mm-dd";
constexpr std::string_view LongDateFormat = "dddd, mmmm d, yyyy";
constexpr std::string_view ShortTimeFormat = "hh:nn";
constexpr std::string_view LongTimeFormat = "hh:nn:ss";

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return Lower(a) == Lower(b); });
}

std::string Number(int value, int digits) {
  std::string text = std::to_string(value);
  if (text.size() < static_cast<std::size_t>(digits))
    text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  return text;
}

// Writes one pattern; the whole-form letters (c, ddddd, t, ...) write other patterns, never
// themselves, so the depth stays bounded.
class TDateTimeWriter {
public:
  explicit TDateTimeWriter(TDateTime value) : FParts(DecodeDateTime(value)) {}

  std::string Write(std::string_view format) {
    FTwelveHour = UsesTwelveHourClock(format);
    std::string text;
    Append(format, text);
    return text;
  }

private:
  static bool UsesTwelveHourClock(std::string_view format) {
    for (std::size_t i = 0; i < format.size(); ++i) {
      if (format[i] == '\'' || format[i] == '"') {
        i = std::min(format.find(format[i], i + 1), format.size());
        continue;
      }
      const auto rest = format.substr(i);
      if (StartsWithNoCase(rest, "am/pm") || StartsWithNoCase(rest, "a/p") ||
          StartsWithNoCase(rest, "ampm"))
        return true;
    }
    return false;
  }

  void Append(std::string_view format, std::string& text) {
    std::size_t i = 0;
    while (i < format.size()) {
      const char c = format[i];
      if (c == '\'' || c == '"') {
        const auto end = format.find(c, i + 1);
        text += format.substr(i + 1, end == std::string_view::npos ? end : end - i - 1);
        i = end == std::string_view::npos ? format.size() : end + 1;
        continue;
      }
      std::size_t run = 1;
      while (i + run < format.size() && Lower(format[i + run]) == Lower(c))
        ++run;
      i += AppendToken(format.substr(i), Lower(c), run, text);
    }
  }

  // Appends what the token at the start of rest stands for; answers how many characters it used.
  std::size_t AppendToken(std::string_view rest, char letter, std::size_t run, std::string& text) {
    // Only an m that comes next after an hour, separators aside, means minutes.
    if (letter != 'm' && std::isalpha(static_cast<unsigned char>(letter)))
      FAfterHour = false;
    switch (letter) {
    case 'y':
      text += run <= 2 ? Number(FParts.Year % 100, 2) : Number(FParts.Year, 4);
      return run;
    case 'm':
      return AppendMonthOrMinute(run, text);
    case 'd':
      return AppendDay(run, text);
    case 'h':
      text += Number(Hour(), run >= 2 ? 2 : 1);
      FAfterHour = true;
      return run;
    case 'n':
      text += Number(FParts.Minute, run >= 2 ? 2 : 1);
      return run;
    case 's':
      text += Number(FParts.Second, run >= 2 ? 2 : 1);
      return run;
    case 'z':
      text += Number(FParts.Millisecond, run >= 3 ? 3 : 1);
      return run;
    case 'a':
      return AppendAmPm(rest, text);
    case 'c':
      Append(ShortDateFormat, text);
      text += ' ';
      Append(LongTimeFormat, text);
      return run;
    case 't':
      Append(run >= 2 ? LongTimeFormat : ShortTimeFormat, text);
      return run;
    default:
      text += rest.front();
      return 1;
    }
  }

  std::size_t AppendMonthOrMinute(std::size_t run, std::string& text) {
    if (FAfterHour && run <= 2) {
      text += Number(FParts.Minute, static_cast<int>(run));
      FAfterHour = false;
      return run;
    }
    const auto month = static_cast<std::size_t>(FParts.Month - 1);
    if (run == 1 || run == 2)
      text += Number(FParts.Month, static_cast<int>(run));
    else if (run == 3)
      text += ShortMonthNames[month];
    else
      text += LongMonthNames[month];
    return run;
  }

  std::size_t AppendDay(std::size_t run, std::string& text) {
    const auto weekday = static_cast<std::size_t>(FParts.DayOfWeek - 1);
    switch (std::min<std::size_t>(run, 6)) {
    case 1:
    case 2:
      text += Number(FParts.Day, static_cast<int>(run));
      break;
    case 3:
      text += ShortDayNames[weekday];
      break;
    case 4:
      text += LongDayNames[weekday];
      break;
    case 5:
      Append(ShortDateFormat, text);
      break;
    default:
      Append(LongDateFormat, text);
      break;
    }
    return run;
  }

  std::size_t AppendAmPm(std::string_view rest, std::string& text) {
    const bool pm = FParts.Hour >= 12;
    if (StartsWithNoCase(rest, "am/pm")) {
      // The case of the pattern's letters is kept: AM/PM gives AM or PM, am/pm gives am or pm.
      text += pm ? rest.substr(3, 2) : rest.substr(0, 2);
      return 5;
    }
    if (StartsWithNoCase(rest, "a/p")) {
      text += pm ? rest[2] : rest[0];
      return 3;
    }
    if (StartsWithNoCase(rest, "ampm")) {
      text += pm ? "PM" : "AM";
      return 4;
    }
    text += rest.front();
    return 1;
  }

  int Hour() const {
    if (!FTwelveHour)
      return FParts.Hour;
    const int hour = FParts.Hour % 12;
    return hour == 0 ? 12 : hour;
  }

  TDateTimeParts FParts;
  bool FTwelveHour = false;
  bool FAfterHour = false;
};

} // namespace

std::string FormatDateTime(std::string_view format, TDateTime value) {
  return TDateTimeWriter(value).Write(format);
}

} // namespace ornavel
