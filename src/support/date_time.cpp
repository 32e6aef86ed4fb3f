#include "support/date_time.h"

#include <cerrno>
#include <cmath>
#include <ctime>
#include <system_error>

namespace nexora {

bool DecodeDateTime(double value, std::int32_t &dayNumber, std::int32_t &milliseconds) {
  dayNumber = milliseconds = 0;
  constexpr double Limit = static_cast<double>(MaxDayNumber + 1) * MillisecondsPerDay;
  if (!(value >= MillisecondsPerDay && value < Limit)) {
    return false;
  }
  const auto total = static_cast<std::int64_t>(std::llround(value));
  const auto day = static_cast<std::int32_t>(total / MillisecondsPerDay);
  if (day > MaxDayNumber) {
    return false; // rounded up past the last millisecond of 9999-12-31
  }
  dayNumber = day;
  milliseconds = static_cast<std::int32_t>(total % MillisecondsPerDay);
  return true;
}

namespace {

struct LocalMoment {
  std::int32_t dayNumber;
  std::int32_t milliseconds;
};

LocalMoment ReadLocalMoment() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
    throw std::system_error(errno, std::generic_category(), "clock_gettime");
  }
  tm local{};
  if (localtime_r(&now.tv_sec, &local) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "localtime_r");
  }
  // A leap second (tm_sec 60) is folded into the last second of its minute.
  const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  const auto millisecond = static_cast<int>(now.tv_nsec / 1'000'000);
  return {DayNumberOf(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
          MillisecondsOfDay(local.tm_hour, local.tm_min, second, millisecond)};
}

} // namespace

double LocalDayCountNow() {
  const LocalMoment moment = ReadLocalMoment();
  return static_cast<double>(moment.dayNumber - DayNumber18991230) +
         static_cast<double>(moment.milliseconds) / MillisecondsPerDay;
}

std::int32_t TodayDayNumber() { return ReadLocalMoment().dayNumber; }

std::int32_t NowMillisecondsOfDay() { return ReadLocalMoment().milliseconds; }

} // namespace nexora
