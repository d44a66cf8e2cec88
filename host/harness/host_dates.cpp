#include "host_dates.h"

#include <charconv>
#include <cstring>

#include "civil_days.h"

namespace ufhost {
namespace {

constexpr int32_t kFirstDayOfYear1 = 1721423;    // 1 January 1, Julian
constexpr int32_t kFirstGregorianDay = 2299160;  // 15 October 1582
constexpr int32_t kDay1970 = 2440587;            // 1 January 1970, where the shared day count starts

// Days before the first of each month in a common year.
constexpr int kMonthStart[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

bool isGregorianDate(int y, int m, int d) { return y > 1582 || (y == 1582 && (m > 10 || (m == 10 && d >= 15))); }

// Day number of 1 January of a year counted on the Julian calendar.
int32_t julianYearStart(int y) {
  if (y < 0) {
    const int32_t j = y + 4713;  // [0, 4712]; leap years are those with j % 4 == 1
    return 365 * j + (j + 2) / 4;
  }
  const int32_t k = y - 1;  // [0, 1581]; leap years are those with k % 4 == 3
  return kFirstDayOfYear1 + 365 * k + k / 4;
}

int dayOfYear(int y, int m, int d) {  // [0, 365]
  return kMonthStart[m - 1] + (m > 2 && isLeapYear(y) ? 1 : 0) + d - 1;
}

void setMonthAndDay(int year, int doy, CivilDate& out) {
  const bool leap = isLeapYear(year);
  int m = 1;
  while (m < 12 && doy >= kMonthStart[m] + (m >= 2 && leap ? 1 : 0)) ++m;
  out.year = year;
  out.month = m;
  out.day = doy - kMonthStart[m - 1] - (m > 2 && leap ? 1 : 0) + 1;
}

}  // namespace

bool isLeapYear(int year) {
  if (year < 1582) return year % 4 == 0;  // Julian, on the signed year number
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int daysInMonth(int year, int month) {
  if (year < kFirstYear || year > kLastYear || year == 0 || month < 1 || month > 12) return 0;
  return kMonthStart[month] - kMonthStart[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
}

int32_t dayNumberFromCivil(int year, int month, int day) {
  const int length = daysInMonth(year, month);
  if (length == 0 || day < 1 || day > length) return kNoDate;
  if (year == 1582 && month == 10 && day > 4 && day < 15) return kNoDate;  // dropped by the reform
  if (isGregorianDate(year, month, day))
    return static_cast<int32_t>(civil::daysFromCivil(year, month, day) + kDay1970);
  return julianYearStart(year) + dayOfYear(year, month, day);
}

bool civilFromDayNumber(int32_t n, CivilDate& out) {
  if (n < 0) return false;
  if (n >= kFirstGregorianDay) {
    const civil::Date c = civil::civilFromDays(static_cast<int64_t>(n) - kDay1970);
    if (c.year > kLastYear) return false;
    out = CivilDate{static_cast<int>(c.year), c.month, c.day};
    return true;
  }
  if (n >= kFirstDayOfYear1) {
    // Four-year cycles from year 1: three common years, then a leap year.
    const int32_t d = n - kFirstDayOfYear1;
    const int32_t cycle = d / 1461;
    const int32_t r = d % 1461;                         // [0, 1460]
    const int32_t inCycle = r / 365 < 3 ? r / 365 : 3;  // [0, 3]
    setMonthAndDay(1 + 4 * cycle + inCycle, r - 365 * inCycle, out);
    return true;
  }
  // Four-year cycles from -4713: a common year, a leap year, two common years.
  const int32_t cycle = n / 1461;
  int32_t r = n % 1461;  // [0, 1460]
  int inCycle = 0;
  if (r >= 365) {
    r -= 365;
    inCycle = 1;
    if (r >= 366) {
      r -= 366;
      inCycle = 2 + r / 365;  // [2, 3]
      r %= 365;
    }
  }
  setMonthAndDay(kFirstYear + 4 * cycle + inCycle, r, out);
  return true;
}

namespace {
// Two decimal digits of v, [0, 99], at p; the end.
char* putTwoDigits(char* p, int v) {
  p[0] = static_cast<char>('0' + v / 10);
  p[1] = static_cast<char>('0' + v % 10);
  return p + 2;
}
}  // namespace

char* writeDayNumber(int32_t dayNumber, char* p) {
  CivilDate c;
  if (dayNumber == kNoDate) return std::strcpy(p, "(no date)") + 9;
  if (!civilFromDayNumber(dayNumber, c)) {
    p = std::to_chars(std::strcpy(p, "(invalid date ") + 14, p + kDayNumberRoom, dayNumber).ptr;
    *p++ = ')';
    return p;
  }
  // Put together by hand: a report prints millions of these, and printf's
  // reading of its format would cost more than the rest of the row.
  if (c.year < 0) *p++ = '-';
  const int year = c.year < 0 ? -c.year : c.year;  // [1, 32767]
  if (year >= 10000) *p++ = static_cast<char>('0' + year / 10000);
  p = putTwoDigits(p, year / 100 % 100);
  p = putTwoDigits(p, year % 100);
  *p++ = '-';
  p = putTwoDigits(p, c.month);
  *p++ = '-';
  return putTwoDigits(p, c.day);
}

std::string formatDayNumber(int32_t dayNumber) {
  char text[kDayNumberRoom];
  return std::string(text, writeDayNumber(dayNumber, text));
}

}  // namespace ufhost
