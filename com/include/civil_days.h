// Days of the proleptic Gregorian calendar and back: written once here for the
// report library, the calendar engine and the host harness, which all include
// the COM types beside it. Years are counted from 1 March, so a leap day ends
// its year and month lengths follow the 153/5 rule. The steps never fail:
// each caller checks at its edges what it accepts.
#pragma once

#include <cstdint>

namespace civil {

// Days from 1 March of year 0 to 1 January 1970.
constexpr int64_t kMarchZeroTo1970 = 719468;

constexpr int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

constexpr bool isLeapYear(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

// Days from 1 January 1970 to year-month-day. A day past its month's end, or a
// month past 12, runs on into the ones that follow; month 0 is December of the
// year before.
constexpr int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
  const int64_t y = month <= 2 ? year - 1 : year;
  const int64_t era = floorDiv(y, 400);
  const int64_t yoe = y - era * 400;                          // [0, 399]
  const int64_t mp = month > 2 ? month - 3 : month + 9;       // March = 0; [0, 11] for a month of the year
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;           // [0, 365] for a day of the year
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;  // [0, 146096] for a day of the era
  return era * 146097 + doe - kMarchZeroTo1970;
}

struct Date {
  int64_t year;
  int month;  // [1, 12]
  int day;    // [1, 31]
};

// The date of a day counted from 1 January 1970.
constexpr Date civilFromDays(int64_t days) {
  const int64_t z = days + kMarchZeroTo1970;
  const int64_t era = floorDiv(z, 146097);
  const int64_t doe = z - era * 146097;                                       // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                     // [0, 11]
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);             // [1, 31]
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);              // [1, 12]
  return Date{yoe + era * 400 + (month <= 2), month, day};
}

}  // namespace civil
