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

// A year end lies within [month end - 6, month end + 3] of its year, so the
// year of d and its neighbours bound both searches.
bool yearEndOnOrAfter(const CycleRule& rule, Day d, Day* out) {
  if (rule.type == CYCLETYPE_CUSTOM) {
    if (rule.end < d) return false;
    *out = rule.end;
    return true;
  }
  int64_t year;
  int month, day;
  civilFromSerial(d, &year, &month, &day);
  for (int64_t y = year - 1; y <= year + 1; ++y) {
    const Day end = yearEndOfYear(rule, y);
    if (end >= d) {
      *out = end;
      return true;
    }
  }
  return false;  // not reached: the year after always ends later
}

bool yearEndBefore(const CycleRule& rule, Day d, Day* out) {
  if (rule.type == CYCLETYPE_CUSTOM) {
    if (rule.end >= d) return false;
    *out = rule.end;
    return true;
  }
  int64_t year;
  int month, day;
  civilFromSerial(d, &year, &month, &day);
  for (int64_t y = year; y >= year - 2; --y) {
    const Day end = yearEndOfYear(rule, y);
    if (end < d) {
      *out = end;
      return true;
    }
  }
  return false;  // not reached: two years back always ends earlier
}

HRESULT fiscalYearOf(const std::vector<CycleRule>& rules, Day d, FiscalYearSpan* out) {
  if (rules.empty()) return E_FAIL;
  // The rule in force: the last one that took effect on or before d; before the
  // first effective date, the one in force on that date.
  const Day first = rules.front().effective;
  const Day probe = d < first ? first : d;
  size_t k = 0;
  while (k + 1 < rules.size() && rules[k + 1].effective <= probe) ++k;
  const CycleRule& rule = rules[k];
  if (!ruleIsUsable(rule)) return E_FAIL;

  Day end = 0;
  bool hasEnd = yearEndOnOrAfter(rule, d, &end);
  if (k + 1 < rules.size()) {
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

  Day previous = 0;
  const bool hasPrevious = yearEndBefore(rule, d, &previous);
  Day start;
  if (d >= rule.effective) {
    start = hasPrevious && previous + 1 > rule.effective ? previous + 1 : rule.effective;
  } else {
    // Before the first cycle its rule runs backwards without a first year.
    if (!hasPrevious) return E_FAIL;
    start = previous + 1;
  }
  out->start = start;
  out->end = end;
  return S_OK;
}

}  // namespace vrz
