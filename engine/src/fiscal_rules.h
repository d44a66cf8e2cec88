// Fiscal-year arithmetic on whole-day serials, free of COM. Serial 0 is
// 30 December 1899 (the OLE DATE origin); the proleptic Gregorian calendar
// holds for every year.
#pragma once

#include <cstdint>
#include <cstddef>

#include "comtypes.h"

namespace vrz {

using Day = int64_t;

// The whole day of a DATE: the fraction (time of day) dropped toward zero, as
// OLE dates store times before 1899 as negative days with a positive time.
inline Day dayOf(DATE d) { return static_cast<Day>(d); }

Day serialFromCivil(int64_t year, int month, int day);
// 1 = Sunday .. 7 = Saturday (serial 1 is a Sunday).
int weekdayOf(Day serial);
// The last day of the month (1..12) of the year.
Day lastDayOfMonth(int64_t year, int month);

// What the arithmetic needs of one cycle entry.
struct CycleRule {
  Day effective = 0;
  Day end = 0;        // last day of a custom cycle's single fiscal year
  int32_t type = 0;   // ECALENDARCYCLE_CYCLETYPE
  int month = 0;      // fiscal-year-end month, 1..12
  int32_t weekday = 0;   // ECALENDARCYCLE_DATEOFWEEK
  int32_t election = 0;  // ECALENDARCYCLE_YEARENDELECTION
};

// False when the rule cannot place a year end (unknown type, a month outside
// 1..12, or for the 52/53-week types an unknown weekday or election).
bool ruleIsUsable(const CycleRule& rule);

// The rule's last year end before d and its first one on or after d; for a
// custom rule (one year end only) one of the two is missing, told by the flags.
struct YearEndsAround {
  bool hasBefore;
  bool hasOnOrAfter;
  Day before;
  Day onOrAfter;
};
YearEndsAround yearEndsAround(const CycleRule& rule, Day d);

struct FiscalYearSpan {
  Day start;
  Day end;
};

// The fiscal year containing d. rules: the calendar's count cycles in
// effective-date order, entries with the same date in the order they were added.
// S_OK, or a failure when there is no rule, the rule in force is unusable, or the
// year has no end under it. A binary search and a few date conversions: the cost
// does not grow with the history.
HRESULT fiscalYearOf(const CycleRule* rules, size_t count, Day d, FiscalYearSpan* out);

}  // namespace vrz
