// Host day numbers. The arithmetic is the host's own, in doubles with truncation
// toward zero (not floor): the host's numbering of the years before year 1 depends
// on it, so it must not be "improved" into integer floor division.
#include "crdates.h"

#include <cmath>

const uint16_t DaysInMonth[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

namespace {

// Gregorian from 1582 on; before that every year divisible by 4, on the signed
// year, so 0, -4, -8 are leap years and -1, -5 are not.
bool isHostLeapYear(int16_t year) {
  if (year >= 1582) return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return year % 4 == 0;
}

// Every value reaching here is a whole number well inside 64 bits, so the
// conversion is defined; narrowing to the 16-bit fields then wraps (only for
// day numbers outside the supported range).
int64_t whole(double v) { return static_cast<int64_t>(v); }

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
  double workYear = year < 0 ? year + 1.0 : year;  // [-32767, 32767]
  double workMonth = month;                        // [0, 65535]
  const double workDay = day;                      // [0, 65535]
  if (workMonth <= 2) {
    // January and February are months 13 and 14 of the year before.
    workYear -= 1;
    workMonth += 12;
  }
  double b = 0;
  if (workYear * 10000 + workMonth * 100 + workDay >= 15821015) {
    const double a = std::trunc(workYear / 100);
    b = 2 - a + std::trunc(a / 4);
  }
  // |result| stays below 16 million for any argument, well inside 32 bits.
  return static_cast<CRDate>(
      whole(std::trunc(365.25 * workYear) + std::trunc(30.6001 * (workMonth + 1)) + workDay + b + 1720994));
}

void CRDateToYearMonthDay(CRDate date, int16_t* year, uint16_t* month, uint16_t* day) {
  // In doubles from the start: date + 1 must not overflow for the largest day number.
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
  if (year) *year = static_cast<int16_t>(whole(y));
  if (month) *month = static_cast<uint16_t>(whole(monthOfYear));
  if (day) *day = static_cast<uint16_t>(whole(dayOfMonth));
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
