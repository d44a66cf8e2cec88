#include "fiscal_rules.h"

#include "vrzelcal.h"

namespace vrz {

namespace {

// Days from 1 March of year 0 (proleptic) to the serial origin, 30 December 1899.
constexpr Day kOriginFromMarch0 = 693899;

Day floorDiv(Day a, Day b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

bool isWeekType(int32_t type) {
  return type == CYCLETYPE_FOURFOURFIVE || type == CYCLETYPE_FOURFIVEFOUR || type == CYCLETYPE_FIVEFOURFOUR ||
         type == CYCLETYPE_THIRTEENPERIOD;
}

}  // namespace

// Years start on 1 March in the arithmetic, so the leap day ends a year.
Day serialFromCivil(int64_t year, int month, int day) {
  const int64_t y = month <= 2 ? year - 1 : year;
  const Day era = floorDiv(y, 400);
  const int64_t yoe = y - era * 400;                                   // [0, 399]
  const int64_t mp = month > 2 ? month - 3 : month + 9;                // [0, 11], March = 0
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;                    // [0, 365]
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;           // [0, 146096]
  return era * 146097 + doe - kOriginFromMarch0;
}

void civilFromSerial(Day serial, int64_t* year, int* month, int* day) {
  const Day z = serial + kOriginFromMarch0;
  const Day era = floorDiv(z, 146097);
  const int64_t doe = z - era * 146097;                                      // [0, 146096]
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);               // [0, 365]
  const int64_t mp = (5 * doy + 2) / 153;                                    // [0, 11]
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);                     // [1, 31]
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);                      // [1, 12]
  *year = yoe + era * 400 + (*month <= 2 ? 1 : 0);
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

Day yearEndOfYear(const CycleRule& rule, int64_t year) {
  const Day monthEnd = lastDayOfMonth(year, rule.month);
  if (rule.type == CYCLETYPE_MONTHLY) return monthEnd;
  const int back = (weekdayOf(monthEnd) - rule.weekday + 7) % 7;  // days back to the weekday, [0, 6]
  if (rule.election == YEARENDELECTION_LASTWEEKDAY || back <= 3) return monthEnd - back;
  return monthEnd - back + 7;  // forward 1..3 days, into the next month
}

// A year end lies within [month end - 6, month end + 3] of its year: the end of
// the year before d's year lies before d unless d is in the first days of
// January, the end of the year after lies after d, and the one two years back
// always before it. So at most three year ends bracket d.
YearEndsAround yearEndsAround(const CycleRule& rule, Day d) {
  if (rule.type == CYCLETYPE_CUSTOM) {
    if (rule.end < d) return {true, false, rule.end, 0};
    return {false, true, 0, rule.end};
  }
  int64_t year;
  int month, day;
  civilFromSerial(d, &year, &month, &day);
  const Day previous = yearEndOfYear(rule, year - 1);
  if (previous >= d) return {true, true, yearEndOfYear(rule, year - 2), previous};
  const Day current = yearEndOfYear(rule, year);
  if (current >= d) return {true, true, previous, current};
  return {true, true, current, yearEndOfYear(rule, year + 1)};
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
