// OLE dates: anchors, two-digit years, run-on arithmetic and a walk over every
// day from 1 January 100 to 31 December 9999 against days-from-civil.
#include <gtest/gtest.h>

#include <cmath>
#include <climits>
#include <ctime>
#include <limits>

#include "DATE.h"

namespace {

// Independent reference: days since 1 January 1970 of a proleptic Gregorian date,
// by 400-year eras with floor division.
int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// DATE serial: 30 December 1899 is serial 0.
double serialOf(int y, int m, int d) { return static_cast<double>(daysFromCivil(y, m, d) - daysFromCivil(1899, 12, 30)); }

bool gregorianLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int monthDays(int y, int m) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return lengths[m - 1] + (m == 2 && gregorianLeap(y) ? 1 : 0);
}

struct Mdy {
  int16_t m, d, y;
};

Mdy split(DATE dt) {
  Mdy r{-9, -9, -9};
  MDYFromDATE(dt, &r.m, &r.d, &r.y);
  return r;
}

TEST(Date, DATEFromMDYAnchors) {
  struct Case {
    int16_t m, d, y;
    double expected;
  } cases[] = {
      {12, 31, 1999, 36525.0}, {1, 1, 2000, 36526.0}, {1, 1, 1900, 2.0},      {2, 28, 1900, 60.0},
      {3, 1, 1900, 61.0},      {2, 29, 2000, 36585.0}, {12, 31, 9999, 2958465.0}, {12, 30, 1899, 0.0},
      // Two-digit years pivot at 20.
      {6, 30, 99, 36341.0},    {6, 30, 19, 43646.0},  {6, 30, 20, 7487.0},
      // A missing component is no date.
      {0, 1, 2000, -1.0},      {1, 0, 2000, -1.0},    {1, 1, 0, -1.0},        {0, 0, 0, -1.0},
  };
  for (const Case& c : cases) EXPECT_EQ(DATEFromMDY(c.m, c.d, c.y), c.expected) << c.m << '/' << c.d << '/' << c.y;
}

TEST(Date, MDYFromDATEAnchorsAndMissingDates) {
  struct Case {
    double dt;
    int16_t m, d, y;
  } cases[] = {
      {1.0, 12, 31, 1899},
      {36526.75, 1, 1, 2000},
      {36525.999, 12, 31, 1999},
      {2958465.0, 12, 31, 9999},
      {0.0, 0, 0, 0},
      {0.5, 12, 30, 1899},  // greater than zero: the fraction is dropped afterwards
      {-5.0, 0, 0, 0},
      {std::numeric_limits<double>::quiet_NaN(), 0, 0, 0},
      {-std::numeric_limits<double>::infinity(), 0, 0, 0},
      // No 32-bit day number: treated as no date rather than overflowing.
      {std::numeric_limits<double>::infinity(), 0, 0, 0},
      {1e300, 0, 0, 0},
      {2147483647.0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const Mdy got = split(c.dt);
    EXPECT_EQ(got.m, c.m) << c.dt;
    EXPECT_EQ(got.d, c.d) << c.dt;
    EXPECT_EQ(got.y, c.y) << c.dt;
  }
}

TEST(Date, DayNumbersAndRunOnArithmetic) {
  EXPECT_EQ(jday(10, 15, 1582), 1);
  EXPECT_EQ(jday(12, 30, 1899), 115859);
  EXPECT_EQ(jday(10, 14, 1582), 0);  // proleptic: no gap at the switch
  struct Case {
    uint16_t m, d, y;
    int y2, m2, d2;  // the date it must land on
  } cases[] = {
      {1, 32, 2000, 2000, 2, 1},  {1, 0, 2000, 1999, 12, 31}, {13, 1, 2000, 2001, 1, 1},
      {0, 1, 2000, 1999, 12, 1},  {2, 30, 2001, 2001, 3, 2},  {3, 0, 2000, 2000, 2, 29},
      {1, 1, 0, 2000, 1, 1},      {12, 31, 19, 2019, 12, 31}, {1, 1, 20, 1920, 1, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(jday(c.m, c.d, c.y) - 115859, serialOf(c.y2, c.m2, c.d2)) << c.m << '/' << c.d << '/' << c.y;
  // The largest arguments stay inside 32 bits.
  EXPECT_EQ(jday(1, 1, 65535) - 115859, serialOf(65535, 1, 1));
}

TEST(Date, YearWithCentury) {
  struct Case {
    uint16_t in, out;
  } cases[] = {{0, 2000}, {19, 2019}, {20, 1920}, {99, 1999}, {100, 100}, {1999, 1999}, {65535, 65535}};
  for (const Case& c : cases) EXPECT_EQ(yearWithCentury(c.in), c.out) << c.in;
}

TEST(Date, LeapYearsAndMonthLengths) {
  struct Case {
    int16_t y;
    int16_t leap;
  } leaps[] = {{2000, -1}, {1900, 0}, {2004, -1}, {2023, 0}, {1600, -1}, {2100, 0}, {-4, -1}, {-100, 0}, {-400, -1}};
  for (const Case& c : leaps) EXPECT_EQ(isLeapYear(c.y), c.leap) << c.y;

  EXPECT_EQ(lastDayOfMonth(2, 1900), 28);
  EXPECT_EQ(lastDayOfMonth(2, 2000), 29);
  EXPECT_EQ(lastDayOfMonth(2, 2004), 29);
  for (int16_t bad : {0, 13, -1, 32767}) EXPECT_EQ(lastDayOfMonth(bad, 2000), 0) << bad;
  // daysInMonth is the ordinary year.
  for (int m = 1; m <= 12; ++m) EXPECT_EQ(daysInMonth[m - 1], monthDays(2023, m)) << m;
}

TEST(Date, EndOfMonth) {
  for (double dt = 36557.0; dt <= 36585.0; dt += 1.0) EXPECT_EQ(EndOfMonth(dt), 36585.0) << dt;
  EXPECT_EQ(EndOfMonth(36585.9), 36585.0);
  EXPECT_EQ(EndOfMonth(0.0), 1.0);  // 30 December 1899 -> 31 December 1899
  EXPECT_EQ(EndOfMonth(std::numeric_limits<double>::quiet_NaN()), -1.0);
  EXPECT_EQ(EndOfMonth(1e300), -1.0);
}

// Month ends of days whose year jday cannot take back: years below 100 (jday would
// widen them) and years beyond 16 bits, the leap rule applied to the true year.
TEST(Date, EndOfMonthOfYearsJdayCannotRebuild) {
  const struct {
    int y, m, d;
  } cases[] = {
      {0, 3, 1},      {0, 12, 31},    {4, 2, 5},       {50, 1, 15},    {99, 2, 28},   {99, 12, 1},
      {32767, 12, 1}, {32768, 2, 1},  {32900, 2, 10},  {33200, 2, 10}, {40000, 2, 1}, {40100, 2, 28},
      {65535, 2, 20}, {65536, 2, 20}, {70000, 1, 15},  {70000, 2, 15}, {70100, 2, 15}, {100000, 11, 30},
  };
  for (const auto& c : cases) {
    const double serial = serialOf(c.y, c.m, c.d);
    const double want = serial + (monthDays(c.y, c.m) - c.d);
    for (double fraction : {0.0, 0.75}) {
      // Before serial 0 a time of day moves the value away from zero, as OLE writes it.
      const double value = serial < 0 ? serial - fraction : serial + fraction;
      EXPECT_EQ(EndOfMonth(value), want) << c.m << '/' << c.d << '/' << c.y << " at " << fraction;
    }
  }
  // The largest day number is 23 April; its month ends a week later.
  EXPECT_EQ(EndOfMonth(double{INT32_MAX} - kDATEEpochJday), double{INT32_MAX} - kDATEEpochJday + 7);
  // A time of day before serial 0 is dropped toward zero: -1.5 is 29 December 1899.
  EXPECT_EQ(EndOfMonth(-1.5), 1.0);
}

TEST(Date, ComponentsAndWeekdays) {
  EXPECT_EQ(Month(0.0), 12);
  EXPECT_EQ(Day(0.0), 30);
  EXPECT_EQ(Year(0.0), 1899);
  EXPECT_EQ(Day(36526.99), 1);
  struct Case {
    double dt;
    int16_t weekday;
  } cases[] = {
      {1.0, 1}, {0.0, 7}, {36526.0, 7}, {36526.9, 7}, {2.0, 2},
      // Before serial 0 the weekday keeps counting backwards.
      {-1.0, 6}, {-7.0, 7}, {-8.0, 6},
      // No day number, no weekday.
      {std::numeric_limits<double>::quiet_NaN(), 0}, {1e300, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Weekday(c.dt), c.weekday) << c.dt;
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), -1e300}) {
    EXPECT_EQ(Month(bad), 0);
    EXPECT_EQ(Day(bad), 0);
    EXPECT_EQ(Year(bad), 0);
  }
}

TEST(Date, CurrentYearIsReadOnceAndCached) {
  std::time_t before = std::time(nullptr);
  std::tm tmBefore{};
  localtime_r(&before, &tmBefore);
  const uint16_t first = yearNow();
  std::time_t after = std::time(nullptr);
  std::tm tmAfter{};
  localtime_r(&after, &tmAfter);
  // Any New Year between the two readings is allowed for.
  EXPECT_TRUE(first == tmBefore.tm_year + 1900 || first == tmAfter.tm_year + 1900) << first;
  EXPECT_EQ(yearNow(), first);
  EXPECT_EQ(hundredsNow(), first / 100 * 100);
}

// The inverse of daysFromCivil, by the same eras: year, month, day.
void civilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2 ? 1 : 0);
}

TEST(Date, DayNumbersFarFromTodaySplitAsTheProlepticCalendarSays) {
  // From 1 March of year 0 to the largest day number; years beyond 16 bits wrap.
  const int64_t first = -578040;  // 1 March of year 0
  const int64_t to1970 = daysFromCivil(1899, 12, 30) - kDATEEpochJday;
  struct Range {
    int64_t from, to, step;
  } ranges[] = {
      {first, first + 800000, 1},                  // years 0 to about 2190, every day
      {999000000, 1001000000, 1},                  // across 10^9
      {INT32_MAX - 300000, INT32_MAX, 1},          // the largest
      {first, INT32_MAX, 7919},                    // a stride over all of them
  };
  for (const Range& r : ranges) {
    int failures = 0;
    for (int64_t n = r.from; n <= r.to && failures < 5; n += r.step) {
      int64_t year;
      int month, day;
      civilFromDays(n + to1970, &year, &month, &day);
      Mdy got{0, 0, 0};
      MDYFromjday(static_cast<int32_t>(n), &got.m, &got.d, &got.y);
      if (got.m != month || got.d != day || got.y != static_cast<int16_t>(year)) {
        ADD_FAILURE() << "day number " << n << " splits as " << got.m << '/' << got.d << '/' << got.y << ", expected "
                      << month << '/' << day << '/' << year;
        ++failures;
      }
    }
  }
}

TEST(Date, EveryDayFrom100To9999FollowsThePreviousAndConvertsBack) {
  int y = 100, m = 1, d = 1;
  double serial = serialOf(100, 1, 1);
  const double last = serialOf(9999, 12, 31);
  ASSERT_EQ(last, 2958465.0);
  // Serial 1 is a Sunday: weekday 1 + (serial - 1) mod 7, counted with a floor.
  auto expectedWeekday = [](double s) {
    long r = static_cast<long>(s - 1) % 7;
    if (r < 0) r += 7;
    return static_cast<int16_t>(r + 1);
  };
  for (; serial <= last; serial += 1.0) {
    const int16_t mm = static_cast<int16_t>(m), dd = static_cast<int16_t>(d), yy = static_cast<int16_t>(y);
    const double fromMdy = DATEFromMDY(mm, dd, yy);
    const int32_t day = jday(static_cast<uint16_t>(m), static_cast<uint16_t>(d), static_cast<uint16_t>(y));
    Mdy back{0, 0, 0};
    MDYFromjday(day, &back.m, &back.d, &back.y);
    const double lastOfMonth = serial + (monthDays(y, m) - d);
    // Dates of serial 0 and before are no date to MDYFromDATE.
    const Mdy split3 = serial > 0 ? split(serial) : Mdy{mm, dd, yy};
    const bool ok = fromMdy == serial && back.m == mm && back.d == dd && back.y == yy && split3.m == mm &&
                    split3.d == dd && split3.y == yy && Month(serial) == mm && Day(serial) == dd &&
                    Year(serial) == yy && Weekday(serial) == expectedWeekday(serial) &&
                    lastDayOfMonth(mm, yy) == monthDays(y, m) && EndOfMonth(serial) == lastOfMonth &&
                    (isLeapYear(yy) != 0) == gregorianLeap(y);
    if (!ok) {
      ADD_FAILURE() << m << '/' << d << '/' << y << " (serial " << serial << "): DATEFromMDY " << fromMdy
                    << ", MDYFromjday " << back.m << '/' << back.d << '/' << back.y << ", Weekday "
                    << Weekday(serial) << ", EndOfMonth " << EndOfMonth(serial);
      return;
    }
    if (++d > monthDays(y, m)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
  EXPECT_EQ(y, 10000);
}

}  // namespace
