#include "support/date_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace nexora {
namespace {

struct KnownDate {
  int year;
  int month;
  int day;
  std::int32_t dayNumber;
};

// Day numbers worked out by hand: 0001-01-01 is 1; 1970-01-01 is day count 25569 and
// 2020-01-01 day count 43831, each plus 693594.
constexpr KnownDate KnownDates[] = {
    {1, 1, 1, 1},         {1, 1, 31, 31},          {1, 2, 1, 32},          {1, 12, 31, 365},
    {2, 1, 1, 366},       {4, 12, 31, 1461},       {1899, 12, 30, 693594}, {1899, 12, 31, 693595},
    {1900, 3, 1, 693655}, {1970, 1, 1, 719163},    {2000, 2, 29, 730179},  {2000, 3, 1, 730180},
    {2020, 1, 1, 737425}, {9999, 12, 31, 3652059},
};

TEST(DateTimeTest, KnownDatesAndDayNumbers) {
  for (const KnownDate &d : KnownDates) {
    EXPECT_EQ(DayNumberOf(d.year, d.month, d.day), d.dayNumber) << d.year << "-" << d.month << "-" << d.day;
    int year = 0;
    int month = 0;
    int day = 0;
    EXPECT_TRUE(DecodeDayNumber(d.dayNumber, year, month, day));
    EXPECT_EQ(year, d.year);
    EXPECT_EQ(month, d.month);
    EXPECT_EQ(day, d.day);
  }
  static_assert(DayNumberOf(1899, 12, 30) == DayNumber18991230);
  static_assert(DayNumberOf(2020, 1, 1) - DayNumber18991230 == 43831);
  static_assert(MaxDayNumber == 3652059);
}

TEST(DateTimeTest, DayNumbersRoundTripAndFollowEachOther) {
  // Every day of 1890..2110, and every day of the first and last years of the range.
  const auto checkRange = [](int firstYear, int lastYear) {
    std::int32_t expected = DayNumberOf(firstYear, 1, 1);
    for (int year = firstYear; year <= lastYear; ++year) {
      for (int month = 1; month <= 12; ++month) {
        for (int day = 1; day <= DaysInMonth(year, month); ++day) {
          ASSERT_EQ(DayNumberOf(year, month, day), expected) << year << "-" << month << "-" << day;
          int y = 0;
          int m = 0;
          int d = 0;
          ASSERT_TRUE(DecodeDayNumber(expected, y, m, d));
          ASSERT_EQ(y * 10000 + m * 100 + d, year * 10000 + month * 100 + day);
          ++expected;
        }
      }
    }
  };
  checkRange(1, 4);
  checkRange(1890, 2110);
  checkRange(9996, 9999);
}

TEST(DateTimeTest, InvalidDatesAreRejected) {
  struct Case {
    int year;
    int month;
    int day;
  };
  for (const Case c : {Case{0, 1, 1}, Case{10000, 1, 1}, Case{2020, 0, 1}, Case{2020, 13, 1}, Case{2020, 1, 0},
                       Case{2020, 1, 32}, Case{2021, 2, 29}, Case{1900, 2, 29}, Case{2020, 4, 31}}) {
    EXPECT_FALSE(IsValidDate(c.year, c.month, c.day)) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(DayNumberOf(c.year, c.month, c.day), 0);
  }
  EXPECT_TRUE(IsValidDate(2000, 2, 29));
  EXPECT_TRUE(IsValidDate(2024, 2, 29));

  for (const std::int32_t dayNumber : {0, -1, MaxDayNumber + 1}) {
    int year = -1;
    int month = -1;
    int day = -1;
    EXPECT_FALSE(DecodeDayNumber(dayNumber, year, month, day)) << dayNumber;
    EXPECT_EQ(year + month + day, 0);
  }
}

TEST(DateTimeTest, MillisecondsOfDay) {
  EXPECT_EQ(MillisecondsOfDay(12, 30, 0, 0), 45'000'000);
  EXPECT_EQ(MillisecondsOfDay(0, 0, 0, 0), 0);
  EXPECT_EQ(MillisecondsOfDay(23, 59, 59, 999), MillisecondsPerDay - 1);
  EXPECT_EQ(MillisecondsOfDay(24, 0, 0, 0), -1);
  EXPECT_EQ(MillisecondsOfDay(1, 60, 0, 0), -1);
  EXPECT_EQ(MillisecondsOfDay(1, 0, 60, 0), -1);
  EXPECT_EQ(MillisecondsOfDay(1, 0, 0, 1000), -1);
  EXPECT_EQ(MillisecondsOfDay(-1, 0, 0, 0), -1);

  for (std::int32_t ms = 0; ms < MillisecondsPerDay; ms += 997) {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    ASSERT_TRUE(DecodeMillisecondsOfDay(ms, hour, minute, second, millisecond));
    ASSERT_EQ(MillisecondsOfDay(hour, minute, second, millisecond), ms);
  }
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  EXPECT_FALSE(DecodeMillisecondsOfDay(MillisecondsPerDay, hour, minute, second, millisecond));
  EXPECT_FALSE(DecodeMillisecondsOfDay(-1, hour, minute, second, millisecond));
}

TEST(DateTimeTest, DateTimeValues) {
  const std::int32_t dayNumber = DayNumberOf(2020, 1, 1);
  const double value = EncodeDateTime(dayNumber, 45'000'000);
  EXPECT_EQ(value, 737425.0 * 86400000.0 + 45000000.0);

  std::int32_t decodedDay = 0;
  std::int32_t decodedMs = 0;
  EXPECT_TRUE(DecodeDateTime(value, decodedDay, decodedMs));
  EXPECT_EQ(decodedDay, dayNumber);
  EXPECT_EQ(decodedMs, 45'000'000);

  const double last = EncodeDateTime(MaxDayNumber, MillisecondsPerDay - 1);
  EXPECT_TRUE(DecodeDateTime(last, decodedDay, decodedMs));
  EXPECT_EQ(decodedDay, MaxDayNumber);
  EXPECT_EQ(decodedMs, MillisecondsPerDay - 1);

  for (const double bad :
       {0.0, -1.0, last + 1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(DecodeDateTime(bad, decodedDay, decodedMs)) << bad;
    EXPECT_EQ(decodedDay, 0);
    EXPECT_EQ(decodedMs, 0);
  }
}

TEST(DateTimeTest, HeaderTimeEncoding) {
  EXPECT_EQ(EncodeHeaderTime(43831.0), -649763.0);
  EXPECT_EQ(DecodeHeaderTime(-649763.0), 43831.0);
  const double afternoon = 43831.0 + 0.5625; // 13:30
  EXPECT_DOUBLE_EQ(DecodeHeaderTime(EncodeHeaderTime(afternoon)), afternoon);
}

// Runs with a chosen TZ and restores the process's own zone afterwards.
class LocalClockTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (const char *zone = std::getenv("TZ")) {
      savedZone_ = zone;
    }
  }

  static void SetZone(const char *zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

  void TearDown() override {
    if (savedZone_) {
      setenv("TZ", savedZone_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  // Local day count of a whole second, from the zone's offset as localtime_r reports it.
  static double LocalDayCountOf(std::time_t seconds, std::tm &local) {
    localtime_r(&seconds, &local);
    return static_cast<double>(seconds + local.tm_gmtoff) / 86400.0 + 25569.0;
  }

private:
  std::optional<std::string> savedZone_;
};

TEST_F(LocalClockTest, NowMatchesLocalTimeInSeveralZones) {
  const double slack = 2.0 / 86400.0;
  for (const char *zone : {"UTC0", "XST-5:30", "YST8"}) {
    SetZone(zone);
    std::tm before{};
    std::tm after{};
    const double from = LocalDayCountOf(std::time(nullptr), before);
    const double now = LocalDayCountNow();
    const std::int32_t today = TodayDayNumber();
    const std::int32_t milliseconds = NowMillisecondsOfDay();
    const double to = LocalDayCountOf(std::time(nullptr), after);

    EXPECT_GE(now, from - slack) << zone;
    EXPECT_LE(now, to + slack) << zone;

    const std::int32_t dayBefore = DayNumberOf(before.tm_year + 1900, before.tm_mon + 1, before.tm_mday);
    const std::int32_t dayAfter = DayNumberOf(after.tm_year + 1900, after.tm_mon + 1, after.tm_mday);
    EXPECT_TRUE(today == dayBefore || today == dayAfter) << zone;
    if (dayBefore == dayAfter) {
      const std::int32_t msBefore = MillisecondsOfDay(before.tm_hour, before.tm_min, before.tm_sec, 0);
      const std::int32_t msAfter = MillisecondsOfDay(after.tm_hour, after.tm_min, after.tm_sec, 999);
      EXPECT_GE(milliseconds, msBefore - 2000) << zone;
      EXPECT_LE(milliseconds, msAfter + 2000) << zone;
    }
  }
}

} // namespace
} // namespace nexora
