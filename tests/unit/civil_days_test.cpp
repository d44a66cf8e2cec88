// The shared civil-date arithmetic: every day over a wide range converts back
// to itself and follows the day before; a few fixed anchors; leap years.
#include <gtest/gtest.h>

#include "civil_days.h"

namespace {

TEST(CivilDays, EveryDayRoundTripsAndFollowsTheLast) {
  // From 1 March of year -10000 to the end of year 10000, each day once.
  const int64_t first = civil::daysFromCivil(-10000, 3, 1), last = civil::daysFromCivil(10000, 12, 31);
  civil::Date before = civil::civilFromDays(first - 1);
  for (int64_t n = first; n <= last; ++n) {
    const civil::Date d = civil::civilFromDays(n);
    ASSERT_EQ(civil::daysFromCivil(d.year, d.month, d.day), n);
    const bool nextDay = d.year == before.year && d.month == before.month && d.day == before.day + 1;
    const bool nextMonth = d.day == 1 && ((d.year == before.year && d.month == before.month + 1) ||
                                          (d.year == before.year + 1 && d.month == 1 && before.month == 12));
    ASSERT_TRUE(nextDay || nextMonth) << n;
    before = d;
  }
}

TEST(CivilDays, AnchorsLeapYearsAndDaysThatRunOn) {
  struct Anchor {
    int64_t year;
    int month, day;
    int64_t days;
  } anchors[] = {{1970, 1, 1, 0},         {2000, 3, 1, 11017},   {1899, 12, 30, -25569},
                 {1582, 10, 15, -141427}, {0, 3, 1, -719468},    {-1, 12, 31, -719529},
                 {9999, 12, 31, 2932896}};
  for (const Anchor& a : anchors) {
    EXPECT_EQ(civil::daysFromCivil(a.year, a.month, a.day), a.days) << a.year;
    const civil::Date d = civil::civilFromDays(a.days);
    EXPECT_EQ(d.year, a.year);
    EXPECT_EQ(d.month, a.month);
    EXPECT_EQ(d.day, a.day);
  }
  for (int64_t y : {2000, 2024, -4, 0, 1600}) EXPECT_TRUE(civil::isLeapYear(y)) << y;
  for (int64_t y : {1900, 2023, -1, 2100, 1700}) EXPECT_FALSE(civil::isLeapYear(y)) << y;
  // Day 32 of January is 1 February; month 13 is January of the next year; month 0 the December before.
  EXPECT_EQ(civil::daysFromCivil(2024, 1, 32), civil::daysFromCivil(2024, 2, 1));
  EXPECT_EQ(civil::daysFromCivil(2024, 13, 1), civil::daysFromCivil(2025, 1, 1));
  EXPECT_EQ(civil::daysFromCivil(2024, 0, 1), civil::daysFromCivil(2023, 12, 1));
}

}  // namespace
