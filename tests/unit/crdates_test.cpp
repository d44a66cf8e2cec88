// Host day numbers and times: anchor dates, the calendar switch, year 0, and a
// walk over every day from 1 January -4713 to 31 December 9999.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "crdates.h"

namespace {

struct Ymd {
  int16_t year;
  uint16_t month, day;
};

bool operator==(const Ymd& a, const Ymd& b) { return a.year == b.year && a.month == b.month && a.day == b.day; }

std::ostream& operator<<(std::ostream& os, const Ymd& d) {
  return os << d.year << '-' << d.month << '-' << d.day;
}

Ymd split(CRDate date) {
  Ymd r{0, 0, 0};
  CRDateToYearMonthDay(date, &r.year, &r.month, &r.day);
  return r;
}

// The host calendar written out independently: Julian before 15 October 1582
// (leap when the signed year is divisible by 4), Gregorian from then on, no year 0.
int monthLength(int year, int month) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap;
  if (year >= 1582)
    leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  else
    leap = year % 4 == 0;
  return lengths[month - 1] + (month == 2 && leap ? 1 : 0);
}

Ymd nextDay(Ymd d) {
  if (d.year == 1582 && d.month == 10 && d.day == 4) return {1582, 10, 15};
  if (d.day < monthLength(d.year, d.month)) return {d.year, d.month, static_cast<uint16_t>(d.day + 1)};
  if (d.month < 12) return {d.year, static_cast<uint16_t>(d.month + 1), 1};
  return {static_cast<int16_t>(d.year == -1 ? 1 : d.year + 1), 1, 1};
}

TEST(CRDates, YearMonthDayToDateAnchorsAndRejections) {
  struct Case {
    int16_t year;
    uint16_t month, day;
    CRDate expected;
  } cases[] = {
      {2000, 1, 1, 2451544},   {1899, 12, 30, 2415018}, {1970, 1, 1, 2440587}, {9999, 12, 31, 5373483},
      {-4713, 1, 1, 0},        {-4714, 12, 31, -1},     {-32768, 1, 1, -1},    {2024, 2, 99, 2460369},
      {2023, 13, 1, -1},       {2023, 0, 1, -1},        {2023, 1, 0, -1},      {2023, 4, 31, -1},
      {2023, 1, 98, -1},       {2023, 65535, 1, -1},    {1500, 2, 29, 2268991},
      // 29 February: Gregorian leap years only from 1582, Julian ones before.
      {1700, 2, 29, -1},       {1900, 2, 29, -1},       {-1, 2, 29, -1},
      {1582, 10, 15, 2299160}, {1582, 10, 4, 2299159},
      // The ten dropped days are accepted as the Gregorian days ten later.
      {1582, 10, 5, 2299160},  {1582, 10, 14, 2299169},
      // Year 0 counts as year -1.
      {0, 1, 1, 1721058},      {-1, 1, 1, 1721058},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CRYearMonthDayToDate(c.year, c.month, c.day), c.expected)
        << c.year << '-' << c.month << '-' << c.day;
}

TEST(CRDates, DateToYearMonthDayAnchors) {
  struct Case {
    CRDate date;
    Ymd expected;
  } cases[] = {
      {0, {-4713, 1, 1}},         {2451544, {2000, 1, 1}},   {5373483, {9999, 12, 31}},
      {2415018, {1899, 12, 30}},  {2440587, {1970, 1, 1}},   {2460369, {2024, 2, 29}},
      {2299159, {1582, 10, 4}},   {2299160, {1582, 10, 15}}, {2268991, {1500, 2, 29}},
      {1721058, {-1, 1, 1}},      {-1, {-4714, 12, 31}},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.date), c.expected) << c.date;
}

TEST(CRDates, InputsWithoutTheirOwnNumberConvertBackToTheOtherDate) {
  for (uint16_t day = 5; day <= 14; ++day)
    EXPECT_EQ(split(CRYearMonthDayToDate(1582, 10, day)), (Ymd{1582, 10, static_cast<uint16_t>(day + 10)}));
  EXPECT_EQ(split(CRYearMonthDayToDate(0, 1, 1)), (Ymd{-1, 1, 1}));
  EXPECT_EQ(split(CRYearMonthDayToDate(0, 6, 30)), (Ymd{-1, 6, 30}));
}

TEST(CRDates, EveryDayFromTheFirstToTheLastFollowsThePreviousAndConvertsBack) {
  Ymd expected{-4713, 1, 1};
  for (CRDate n = 0; n <= 5373483; ++n) {
    const Ymd got = split(n);
    if (!(got == expected)) {
      ADD_FAILURE() << "day " << n << " split as " << got << ", expected " << expected;
      return;
    }
    const CRDate back = CRYearMonthDayToDate(got.year, got.month, got.day);
    if (back != n) {
      ADD_FAILURE() << got << " converts back to " << back << ", expected " << n;
      return;
    }
    if (n < 5373483) expected = nextDay(expected);
  }
  EXPECT_EQ(expected, (Ymd{9999, 12, 31}));
}

TEST(CRDates, DayNumbersOutsideTheRangeStillGiveAMonth) {
  // Nothing is settled there but safety: the month stays 1..12 and nothing traps.
  for (CRDate n : {INT32_MAX, INT32_MAX - 1, 5373484, 11967900}) {
    const Ymd got = split(n);
    EXPECT_GE(got.month, 1) << n;
    EXPECT_LE(got.month, 12) << n;
  }
  // Null outputs are skipped.
  CRDateToYearMonthDay(2451544, nullptr, nullptr, nullptr);
  uint16_t month = 0;
  CRDateToYearMonthDay(2451544, nullptr, &month, nullptr);
  EXPECT_EQ(month, 1);
}

// The host's own conversions, in doubles with truncation toward zero, as the
// host computes them. The library works in whole numbers and must agree on every
// argument, including those outside any calendar.
CRDate hostYmdToJulian(int16_t year, uint16_t month, uint16_t day) {
  double workYear = year < 0 ? year + 1.0 : year;
  double workMonth = month;
  const double workDay = day;
  if (workMonth <= 2) {
    workYear -= 1;
    workMonth += 12;
  }
  double b = 0;
  if (workYear * 10000 + workMonth * 100 + workDay >= 15821015) {
    const double a = std::trunc(workYear / 100);
    b = 2 - a + std::trunc(a / 4);
  }
  return static_cast<CRDate>(static_cast<int64_t>(std::trunc(365.25 * workYear) +
                                                  std::trunc(30.6001 * (workMonth + 1)) + workDay + b + 1720994));
}

Ymd hostSplit(CRDate date) {
  const double z = static_cast<double>(date) + 1;
  double a = z;
  if (z >= 2299161) {
    const double alpha = std::trunc((z - 1867216.25) / 36524.25);
    a = z + 1 + alpha - std::trunc(alpha / 4);
  }
  const double b = a > 1721423 ? a + 1524 : a + 1158;
  const double c = std::trunc((b - 122.1) / 365.25);
  const double d = std::trunc(365.25 * c);
  const double e = std::trunc((b - d) / 30.6001);
  const double dayOfMonth = b - d - std::trunc(30.6001 * e);
  const double monthOfYear = e <= 13 ? e - 1 : e - 13;
  const double y = monthOfYear >= 3 ? c - 4716 : c - 4715;
  return {static_cast<int16_t>(static_cast<int64_t>(y)), static_cast<uint16_t>(static_cast<int64_t>(monthOfYear)),
          static_cast<uint16_t>(static_cast<int64_t>(dayOfMonth))};
}

TEST(CRDates, SplittingAgreesWithTheHostArithmeticOnEveryKindOfDayNumber) {
  struct Range {
    int64_t first, last, step;
  } ranges[] = {
      {-3000000, 12000000, 1},                  // every day of the calendars and well around them
      {INT32_MIN, INT32_MIN + 200000, 1},       // the lowest day numbers
      {INT32_MAX - 200000, INT32_MAX, 1},       // the highest, where date + 1 needs 64 bits
      {99900000, 100100000, 1},                 // far future: where 32 bits stop being enough
      {INT32_MIN, INT32_MAX, 9973},             // a stride over the whole type
  };
  for (const Range& r : ranges) {
    int failures = 0;
    for (int64_t n = r.first; n <= r.last && failures < 5; n += r.step) {
      const CRDate date = static_cast<CRDate>(n);
      const Ymd want = hostSplit(date), got = split(date);
      if (!(got == want)) {
        ADD_FAILURE() << "day " << date << " split as " << got << ", the host gives " << want;
        ++failures;
      }
    }
  }
}

TEST(CRDates, DayNumbersAgreeWithTheHostArithmeticForEveryYearAndOddArguments) {
  // Months and days unchecked by YMDToJulian, among them the months whose
  // 30.6001 products are whole numbers (9999 + 1, 19999 + 1, ...).
  const std::vector<uint16_t> months = {0,    1,     2,     3,     7,     12,    13,    14,    15,   9998,
                                        9999, 10000, 19999, 29999, 39999, 49999, 59999, 65534, 65535};
  const std::vector<uint16_t> days = {0, 1, 4, 5, 14, 15, 28, 29, 31, 99, 32767, 65535};
  int failures = 0;
  for (int32_t year = INT16_MIN; year <= INT16_MAX && failures < 5; ++year)
    for (uint16_t month : months)
      for (uint16_t day : days) {
        const auto y = static_cast<int16_t>(year);
        const CRDate want = hostYmdToJulian(y, month, day), got = YMDToJulian(y, month, day);
        if (got != want) {
          ADD_FAILURE() << year << '-' << month << '-' << day << " gives " << got << ", the host " << want;
          ++failures;
        }
      }
}

TEST(CRDates, TimesOfDay) {
  EXPECT_EQ(CRHourMinuteSecondToTime(23, 59, 59), 86399);
  EXPECT_EQ(CRHourMinuteSecondToTime(0, 0, 0), 0);
  // No range checks: 25 hours and 61 minutes just count on.
  EXPECT_EQ(CRHourMinuteSecondToTime(25, 61, 61), 25 * 3600 + 61 * 60 + 61);
  EXPECT_EQ(CRHourMinuteSecondToTime(65535, 65535, 65535), 65535 * 3661);

  uint16_t h = 0, m = 0, s = 0;
  CRTimeToHourMinuteSecond(3725, &h, &m, &s);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(m, 2);
  EXPECT_EQ(s, 5);

  // Every second of the day, counted independently.
  CRTime t = 0;
  for (uint16_t hour = 0; hour < 24; ++hour)
    for (uint16_t minute = 0; minute < 60; ++minute)
      for (uint16_t second = 0; second < 60; ++second, ++t) {
        ASSERT_EQ(CRHourMinuteSecondToTime(hour, minute, second), t);
        CRTimeToHourMinuteSecond(t, &h, &m, &s);
        ASSERT_EQ(h, hour);
        ASSERT_EQ(m, minute);
        ASSERT_EQ(s, second);
      }
}

}  // namespace
