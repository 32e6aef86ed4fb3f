#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace nexora {

// Dates and times inside the engine (proleptic Gregorian calendar, years 1..9999):
// - a date is a day number, 0001-01-01 being day 1 (0 means no date);
// - a time is milliseconds since midnight;
// - a date and time is a double holding day number * 86'400'000 + milliseconds;
// - a day count is days since 1899-12-30 00:00 with the time of day as fraction.
// All functions may be called from any thread. Only the clock readers can raise (see below).

constexpr std::int32_t MillisecondsPerDay = 86'400'000;
// Day number of 1899-12-30: a day count plus this is a day number.
constexpr std::int32_t DayNumber18991230 = 693594;

constexpr bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days in the month, 0 for a month outside 1..12.
constexpr int DaysInMonth(int year, int month) {
  constexpr std::array<int, 12> days{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) {
    return 0;
  }
  return month == 2 && IsLeapYear(year) ? 29 : days[static_cast<std::size_t>(month - 1)];
}

// Year 1..9999, month 1..12 and a day that exists in that month.
constexpr bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && day >= 1 && day <= DaysInMonth(year, month);
}

// Day number of a date; 0 when the date is not valid (IsValidDate).
constexpr std::int32_t DayNumberOf(int year, int month, int day) {
  if (!IsValidDate(year, month, day)) {
    return 0;
  }
  const int yearsBefore = year - 1;
  int days = yearsBefore * 365 + yearsBefore / 4 - yearsBefore / 100 + yearsBefore / 400;
  for (int m = 1; m < month; ++m) {
    days += DaysInMonth(year, m);
  }
  return days + day;
}

// Day number of 9999-12-31, the last valid date.
constexpr std::int32_t MaxDayNumber = DayNumberOf(9999, 12, 31);

// Splits a day number 1..MaxDayNumber into its date and returns true; for any other number
// sets year, month and day to 0 and returns false.
constexpr bool DecodeDayNumber(std::int32_t dayNumber, int &year, int &month, int &day) {
  year = month = day = 0;
  if (dayNumber < 1 || dayNumber > MaxDayNumber) {
    return false;
  }
  constexpr int Days400 = 146097;
  constexpr int Days100 = 36524;
  constexpr int Days4 = 1461;
  int rest = dayNumber - 1;
  const int cycles400 = rest / Days400;
  rest %= Days400;
  // The last day of a 400-year cycle belongs to the fourth century, not a fifth.
  const int cycles100 = rest / Days100 == 4 ? 3 : rest / Days100;
  rest -= cycles100 * Days100;
  const int cycles4 = rest / Days4;
  rest %= Days4;
  // Likewise the last day of a 4-year cycle belongs to its fourth year.
  const int years = rest / 365 == 4 ? 3 : rest / 365;
  rest -= years * 365;
  year = cycles400 * 400 + cycles100 * 100 + cycles4 * 4 + years + 1;
  month = 1;
  while (rest >= DaysInMonth(year, month)) {
    rest -= DaysInMonth(year, month);
    ++month;
  }
  day = rest + 1;
  return true;
}

// Hour 0..23, minute 0..59, second 0..59, millisecond 0..999.
constexpr bool IsValidTime(int hour, int minute, int second, int millisecond) {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59 && millisecond >= 0 &&
         millisecond <= 999;
}

// Milliseconds since midnight; -1 when the time is not valid (IsValidTime).
constexpr std::int32_t MillisecondsOfDay(int hour, int minute, int second, int millisecond) {
  if (!IsValidTime(hour, minute, second, millisecond)) {
    return -1;
  }
  return ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
}

// Splits milliseconds 0..MillisecondsPerDay - 1 into their time and returns true; for any
// other value sets all parts to 0 and returns false.
constexpr bool DecodeMillisecondsOfDay(std::int32_t milliseconds, int &hour, int &minute, int &second,
                                       int &millisecond) {
  hour = minute = second = millisecond = 0;
  if (milliseconds < 0 || milliseconds >= MillisecondsPerDay) {
    return false;
  }
  millisecond = milliseconds % 1000;
  second = milliseconds / 1000 % 60;
  minute = milliseconds / 60'000 % 60;
  hour = milliseconds / 3'600'000;
  return true;
}

// Date-and-time value of a day number and milliseconds since midnight. Exact: every value
// of valid inputs is an integer below 2^53.
constexpr double EncodeDateTime(std::int32_t dayNumber, std::int32_t milliseconds) {
  return static_cast<double>(dayNumber) * MillisecondsPerDay + milliseconds;
}

// Splits a date-and-time value into day number and milliseconds (a fraction of a
// millisecond is rounded to the nearest) and returns true when the day number is
// 1..MaxDayNumber; otherwise (also for NaN and infinities) sets both to 0 and returns false.
bool DecodeDateTime(double value, std::int32_t &dayNumber, std::int32_t &milliseconds);

// The data file header stores its last-write time as the day count minus DayNumber18991230
// and reads it back by adding it again: day count 43831.0 (2020-01-01) is stored as
// -649763.0.
constexpr double EncodeHeaderTime(double dayCount) { return dayCount - DayNumber18991230; }
constexpr double DecodeHeaderTime(double stored) { return stored + DayNumber18991230; }

// The clock readers use the realtime clock and localtime_r; they raise std::system_error
// when the clock cannot be read or the time cannot be converted to local time.

// Current local date and time as a day count (days since 1899-12-30, fraction the time of
// day to the millisecond).
double LocalDayCountNow();
// Current local date as a day number.
std::int32_t TodayDayNumber();
// Current local time as milliseconds since midnight.
std::int32_t NowMillisecondsOfDay();

} // namespace nexora
