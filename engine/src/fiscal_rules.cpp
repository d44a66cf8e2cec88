#include "fiscal_rules.h"

#include "civil_days.h"
#include "vrzelcal.h"

namespace vrz {

namespace {

// Days from 1 January 1970 back to the serial origin, 30 December 1899.
constexpr Day kSerial1970 = 25569;
// Days from 1 March of year 0 (proleptic) to the serial origin.
constexpr Day kOriginFromMarch0 = civil::kMarchZeroTo1970 - kSerial1970;

bool isWeekType(int32_t type) {
  return type == CYCLETYPE_FOURFOURFIVE || type == CYCLETYPE_FOURFIVEFOUR || type == CYCLETYPE_FIVEFOURFOUR ||
         type == CYCLETYPE_THIRTEENPERIOD;
}

}  // namespace

Day serialFromCivil(int64_t year, int month, int day) {
  return civil::daysFromCivil(year, month, day) + kSerial1970;
}

int weekdayOf(Day serial) {
  Day r = (serial - 1) % 7;  // 0 for Sunday
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

Day lastDayOfMonth(int64_t year, int month) {
  // The day before the first of the next month.
  return month == 12 ? serialFromCivil(year + 1, 1, 1) - 1 : serialFromCivil(year, month + 1, 1) - 1;
}

bool ruleIsUsable(const CycleRule& rule) {
  if (rule.type == CYCLETYPE_CUSTOM) return true;
  if (rule.month < 1 || rule.month > 12) return false;
  if (rule.type == CYCLETYPE_MONTHLY) return true;
  if (!isWeekType(rule.type)) return false;
  return rule.weekday >= DATEOFWEEK_SUNDAY && rule.weekday <= DATEOFWEEK_SATURDAY &&
         (rule.election == YEARENDELECTION_LASTWEEKDAY || rule.election == YEARENDELECTION_CLOSESTWEEKDAY);
}

namespace {

// Days from the last day of the month in year - 1 to its last day in year: the
// leap day between them is year's for February and later, year - 1's for January.
Day monthEndStep(int64_t year, int month) {
  return 365 + (civil::isLeapYear(month >= 2 ? year : year - 1) ? 1 : 0);
}

// The rule's year end in the year whose month (the rule's) ends on monthEnd.
Day yearEndFromMonthEnd(const CycleRule& rule, Day monthEnd) {
  if (rule.type == CYCLETYPE_MONTHLY) return monthEnd;
  const int back = (weekdayOf(monthEnd) - rule.weekday + 7) % 7;  // days back to the weekday, [0, 6]
  if (rule.election == YEARENDELECTION_LASTWEEKDAY || back <= 3) return monthEnd - back;
  return monthEnd - back + 7;  // forward 1..3 days, into the next month
}

}  // namespace

// A year end lies within [month end - 6, month end + 3] of its year, and each
// year's end comes after the last one's. d's year is estimated from the mean
// Gregorian year, which is never more than a year off, then the estimate moves
// to the first year end on or after d: a step or two at most, each step a
// year's length from the last month end, so no date is converted back and
// forth as a whole.
YearEndsAround yearEndsAround(const CycleRule& rule, Day d) {
  if (rule.type == CYCLETYPE_CUSTOM) {
    if (rule.end < d) return {true, false, rule.end, 0};
    return {false, true, 0, rule.end};
  }
  int64_t year = civil::floorDiv((d + kOriginFromMarch0) * 400, 146097);  // 400 years hold 146,097 days
  Day monthEnd = lastDayOfMonth(year, rule.month);
  Day end = yearEndFromMonthEnd(rule, monthEnd);
  while (end < d) {
    ++year;
    monthEnd += monthEndStep(year, rule.month);
    end = yearEndFromMonthEnd(rule, monthEnd);
  }
  for (;;) {
    const Day monthEndBefore = monthEnd - monthEndStep(year, rule.month);
    const Day before = yearEndFromMonthEnd(rule, monthEndBefore);
    if (before < d) return {true, true, before, end};
    --year;
    monthEnd = monthEndBefore;
    end = before;
  }
}

HRESULT fiscalYearOf(const CycleRule* rules, size_t count, Day d, FiscalYearSpan* out) {
  if (count == 0) return E_FAIL;
  // The rule in force: the last one that took effect on or before d; before the
  // first effective date, the one in force on that date. Ties: the last added.
  const Day first = rules[0].effective;
  const Day probe = d < first ? first : d;
  size_t lo = 0, hi = count;  // the first rule after probe lies in [lo, hi]
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (rules[mid].effective <= probe)
      lo = mid + 1;
    else
      hi = mid;
  }
  const size_t k = lo - 1;  // lo >= 1: rules[0] is on or before probe
  const CycleRule& rule = rules[k];
  if (!ruleIsUsable(rule)) return E_FAIL;

  const YearEndsAround around = yearEndsAround(rule, d);
  Day end = around.onOrAfter;
  bool hasEnd = around.hasOnOrAfter;
  if (k + 1 < count) {
    const Day cut = rules[k + 1].effective - 1;  // the next rule starts a new year
    if (!hasEnd || cut < end) end = cut;
    hasEnd = true;
  }
  if (d < rule.effective && (!hasEnd || end >= rule.effective)) {
    // Before the first cycle: its rule, up to the day before the cycle begins.
    end = rule.effective - 1;
    hasEnd = true;
  }
  if (!hasEnd) return E_FAIL;

  Day start;
  if (d >= rule.effective) {
    start = around.hasBefore && around.before + 1 > rule.effective ? around.before + 1 : rule.effective;
  } else {
    // Before the first cycle its rule runs backwards without a first year.
    if (!around.hasBefore) return E_FAIL;
    start = around.before + 1;
  }
  out->start = start;
  out->end = end;
  return S_OK;
}

}  // namespace vrz
