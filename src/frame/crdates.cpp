// Host day numbers. The arithmetic is the host's own, done in whole numbers with the
// same truncation toward zero (not floor) the host applies to its doubles: the
// host's numbering of the years before year 1 depends on it, so it must not be
// "improved" into floor division.
#include "crdates.h"

const uint16_t DaysInMonth[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

namespace {

// Gregorian from 1582 on; before that every year divisible by 4, on the signed
// year, so 0, -4, -8 are leap years and -1, -5 are not.
bool isHostLeapYear(int16_t year) {
  if (year >= 1582) return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return year % 4 == 0;
}

// trunc(365.25 * n): whole days of n years of 365.25 days, toward zero as the
// host truncates.
int64_t quarterDays(int64_t n) { return 1461 * n / 4; }

// trunc(30.6001 * m), the days before month m of the shifted year, toward zero.
// The quotient is whole only for multiples of 10000, where the host's product in
// doubles also comes out exact.
int64_t monthDays(int64_t m) { return 306001 * m / 10000; }

}  // namespace

CRDate CRYearMonthDayToDate(int16_t year, uint16_t month, uint16_t day) {
  if (year < -4713) return -1;
  const bool leap = isHostLeapYear(year);
  if (month < 1 || month > 12) return -1;
  const uint16_t monthLength = static_cast<uint16_t>(DaysInMonth[month] + (month == 2 && leap ? 1 : 0));
  if (day == 99) day = monthLength;
  if (day < 1 || day > monthLength) return -1;
  return YMDToJulian(year, month, day);
}

CRDate YMDToJulian(int16_t year, uint16_t month, uint16_t day) {
  // Year -1 is year 0 of the arithmetic; year 0 itself is taken as given.
  int64_t workYear = year < 0 ? year + 1 : year;  // [-32767, 32767]
  int64_t workMonth = month;                      // [0, 65535]
  const int64_t workDay = day;                    // [0, 65535]
  if (workMonth <= 2) {
    // January and February are months 13 and 14 of the year before.
    workYear -= 1;
    workMonth += 12;
  }
  int64_t b = 0;
  if (workYear * 10000 + workMonth * 100 + workDay >= 15821015) {
    const int64_t a = workYear / 100;
    b = 2 - a + a / 4;
  }
  // |result| stays below 16 million for any argument, well inside 32 bits.
  return static_cast<CRDate>(quarterDays(workYear) + monthDays(workMonth + 1) + workDay + b + 1720994);
}

namespace {

// The same steps for Gregorian day numbers up to kFastLast, where every
// intermediate value is positive and fits 32 unsigned bits (20 * b below 2^31):
// each division is one multiplication, with no sign correction.
constexpr CRDate kFastLast = 100000000;

void splitGregorian(uint32_t z, int16_t* year, uint16_t* month, uint16_t* day) {
  const uint32_t alpha = (4 * z - 7468865) / 146097;
  const uint32_t b = z + 1 + alpha - alpha / 4 + 1524;
  const uint32_t c = (20 * b - 2442) / 7305;
  const uint32_t d = 1461 * c / 4;
  const uint32_t e = (10000 * (b - d)) / 306001;  // [4, 15]
  const uint32_t dayOfMonth = b - d - 306001 * e / 10000;
  const uint32_t monthOfYear = e <= 13 ? e - 1 : e - 13;
  const uint32_t y = monthOfYear >= 3 ? c - 4716 : c - 4715;
  if (year) *year = static_cast<int16_t>(y);
  if (month) *month = static_cast<uint16_t>(monthOfYear);
  if (day) *day = static_cast<uint16_t>(dayOfMonth);
}

}  // namespace

void CRDateToYearMonthDay(CRDate date, int16_t* year, uint16_t* month, uint16_t* day) {
  if (date >= 2299160 && date <= kFastLast) {
    splitGregorian(static_cast<uint32_t>(date) + 1, year, month, day);
    return;
  }
  // In 64 bits from the start: date + 1 must not overflow for the largest day number.
  const int64_t z = int64_t{date} + 1;
  int64_t a = z;
  if (z >= 2299161) {
    // Whole centuries since the reform's base: (z - 1867216.25) / 36524.25, positive here.
    const int64_t alpha = (4 * z - 7468865) / 146097;
    a = z + 1 + alpha - alpha / 4;
  }
  const int64_t b = a > 1721423 ? a + 1524 : a + 1158;
  // (b - 122.1) / 365.25: the numerator is never a multiple of 5, so the quotient
  // is never whole and truncation matches the host's rounding in doubles.
  const int64_t c = (20 * b - 2442) / 7305;
  const int64_t d = quarterDays(c);
  const int64_t e = (10000 * (b - d)) / 306001;  // b - d is within a few hundred days
  const int64_t dayOfMonth = b - d - monthDays(e);
  const int64_t monthOfYear = e <= 13 ? e - 1 : e - 13;
  const int64_t y = monthOfYear >= 3 ? c - 4716 : c - 4715;
  if (year) *year = static_cast<int16_t>(y);
  if (month) *month = static_cast<uint16_t>(monthOfYear);
  if (day) *day = static_cast<uint16_t>(dayOfMonth);
}

CRTime CRHourMinuteSecondToTime(uint16_t hour, uint16_t minute, uint16_t second) {
  // At most 65535 * 3661 = 239923635: no overflow.
  return static_cast<CRTime>(int32_t{hour} * 3600 + int32_t{minute} * 60 + int32_t{second});
}

void CRTimeToHourMinuteSecond(CRTime time, uint16_t* hour, uint16_t* minute, uint16_t* second) {
  if (hour) *hour = static_cast<uint16_t>(time / 3600);
  if (minute) *minute = static_cast<uint16_t>((time / 60) % 60);
  if (second) *second = static_cast<uint16_t>(time % 60);
}
