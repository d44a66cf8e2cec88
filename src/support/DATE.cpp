// Proleptic Gregorian arithmetic on a day number where 15 October 1582 is day 1.
// March starts the shifted year, so a leap day is always the year's last day and
// month lengths follow the 153/5 rule. Ranges in the comments hold for the dates
// the unit serves (1 January 100 on, or the arguments' full 16-bit range where
// noted); other inputs are computed in 64 bits and give defined, if meaningless, values.
#include "DATE.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <ctime>

#include "civil_days.h"
#include "platform.h"

const uint8_t daysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

namespace {

// Day number of 28 February of year 0 shifted to 0: removes the epoch offset.
constexpr int64_t kShift = 578041;

// 0 until the first yearNow. Atomic only to make concurrent first calls well defined.
std::atomic<uint16_t> cachedYear{0};

// The day number of dt with the fraction dropped. False for a value that has none:
// not a number, or one whose day number would not fit 32 bits.
bool dayNumberOf(DATE dt, int32_t* out) {
  constexpr double lowest = -2147483648.0 - kDATEEpochJday;
  constexpr double highest = 2147483647.0 - kDATEEpochJday;
  // Quiet compares: an ordered one with NaN would fault a host running with the invalid trap on.
  if (!(std::isgreater(dt, lowest - 1) && std::isless(dt, highest + 1))) return false;
  *out = static_cast<int32_t>(static_cast<int64_t>(dt) + kDATEEpochJday);  // truncates toward zero
  return true;
}

struct MDY {
  int16_t month, day, year;
};

MDY splitDayNumber(int32_t jdayValue) {
  MDY r{};
  MDYFromjday(jdayValue, &r.month, &r.day, &r.year);
  return r;
}

}  // namespace

uint16_t yearNow() {
  uint16_t y = cachedYear.load(std::memory_order_relaxed);
  if (y == 0) {
    std::tm now{};
    // Not cached on failure, so a later call may still read the clock.
    if (localTimeOf(std::time(nullptr), &now)) {
      y = static_cast<uint16_t>(now.tm_year + 1900);
      cachedYear.store(y, std::memory_order_relaxed);
    }
  }
  return y;
}

uint16_t hundredsNow() {
  const uint16_t y = yearNow();
  return static_cast<uint16_t>(y - y % 100);
}

uint16_t yearWithCentury(uint16_t y_) {
  if (y_ > 99) return y_;
  // Fixed pivot 20: it must not move with the clock.
  return static_cast<uint16_t>(y_ >= 20 ? 1900 + y_ : 2000 + y_);
}

// Day number of 1 January 1970, where the shared day count starts.
constexpr int64_t kJday1970 = 141428;

int32_t jday(uint16_t m, uint16_t d, uint16_t y) {
  const uint32_t year = y <= 99 ? yearWithCentury(y) : y;  // [100, 65535]
  // At most 26030356 - kShift: fits 32 bits.
  return static_cast<int32_t>(civil::daysFromCivil(year, m, d) + kJday1970);
}

namespace {

// Day numbers from 1 March of year 0 on: t = 4 * (day + kShift) - 1 is positive.
constexpr int32_t kShortFirst = 1 - static_cast<int32_t>(kShift);

}  // namespace

void MDYFromjday(int32_t jdayValue, int16_t* _month, int16_t* _day, int16_t* _year) {
  int64_t year, month, day;
  if (jdayValue >= kShortFirst) {
    const civil::Date date = civil::civilFromDays(int64_t{jdayValue} - kJday1970);
    year = date.year;
    month = date.month;
    day = date.day;
  } else {
    // Before 1 March of year 0 the answers stay those of truncating division.
    int64_t t = 4 * (int64_t{jdayValue} + kShift) - 1;
    const int64_t c = t / 146097;
    int64_t q = (t - 146097 * c) / 4;
    t = 4 * q + 3;
    const int64_t ya = t / 1461;
    q = (t - 1461 * ya + 4) / 4;
    t = 5 * q - 3;
    const int64_t sm = t / 153;
    day = (t - 153 * sm + 5) / 5;
    year = 100 * c + ya + (sm < 10 ? 0 : 1);
    month = sm < 10 ? sm + 3 : sm - 9;
  }
  if (_month) *_month = static_cast<int16_t>(month);
  if (_day) *_day = static_cast<int16_t>(day);
  if (_year) *_year = static_cast<int16_t>(year);
}

void MDYFromDATE(DATE dt, int16_t* _month, int16_t* _day, int16_t* _year) {
  int32_t n = 0;
  // Not greater than zero (NaN included) is no date; so is one beyond the day range.
  if (std::isgreater(dt, 0.0) && dayNumberOf(dt, &n)) {
    MDYFromjday(n, _month, _day, _year);
    return;
  }
  if (_month) *_month = 0;
  if (_day) *_day = 0;
  if (_year) *_year = 0;
}

DATE DATEFromMDY(int16_t _month, int16_t _day, int16_t _year) {
  if (_month == 0 || _day == 0 || _year == 0) return -1.0;
  // Negative components go on as their 16-bit patterns.
  return static_cast<DATE>(jday(static_cast<uint16_t>(_month), static_cast<uint16_t>(_day),
                                static_cast<uint16_t>(_year)) -
                           kDATEEpochJday);
}

int16_t Month(DATE dt) {
  int32_t n = 0;
  return dayNumberOf(dt, &n) ? splitDayNumber(n).month : 0;
}

int16_t Day(DATE dt) {
  int32_t n = 0;
  return dayNumberOf(dt, &n) ? splitDayNumber(n).day : 0;
}

int16_t Year(DATE dt) {
  int32_t n = 0;
  return dayNumberOf(dt, &n) ? splitDayNumber(n).year : 0;
}

int16_t Weekday(DATE dt) {
  int32_t n = 0;
  if (!dayNumberOf(dt, &n)) return 0;
  // Serial 0 is a Saturday. The remainder is taken as a floor, so serials before
  // 0 keep the 1..7 range (serial -1, a Friday, gives 6).
  int64_t r = (int64_t{n} - kDATEEpochJday) % 7;  // (-7, 7)
  if (r < 0) r += 7;                                // [0, 6]
  return static_cast<int16_t>(r == 0 ? 7 : r);
}

int16_t isLeapYear(int16_t y_) {
  if ((y_ & 3) != 0) return 0;
  return (y_ % 100 != 0 || y_ % 400 == 0) ? -1 : 0;
}

int16_t lastDayOfMonth(int16_t m_, int16_t y_) {
  if (m_ < 1 || m_ > 12) return 0;
  return static_cast<int16_t>(daysInMonth[m_ - 1] + (m_ == 2 && isLeapYear(y_) ? 1 : 0));
}

DATE EndOfMonth(DATE dt) {
  int32_t n = 0;
  if (!dayNumberOf(dt, &n)) return -1.0;
  const MDY date = splitDayNumber(n);
  if (n >= kShortFirst) {
    // Counted on from the day itself: rebuilding through jday would widen a year
    // below 100 and lose one beyond 16 bits, whose leap rule the split year no
    // longer shows. February has 29 days when its 29th is still February.
    const int64_t first = int64_t{n} - (date.day - 1);
    int64_t length = daysInMonth[date.month - 1];
    if (date.month == 2 && first + 28 <= INT32_MAX && splitDayNumber(static_cast<int32_t>(first + 28)).month == 2)
      length = 29;
    return static_cast<DATE>(first + length - 1 - kDATEEpochJday);
  }
  const int16_t last = lastDayOfMonth(date.month, date.year);
  return static_cast<DATE>(jday(static_cast<uint16_t>(date.month), static_cast<uint16_t>(last),
                                static_cast<uint16_t>(date.year)) -
                           kDATEEpochJday);
}
