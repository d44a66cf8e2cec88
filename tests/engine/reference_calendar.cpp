#include "reference_calendar.h"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>

namespace enginetest {

namespace {

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int monthLength(int y, int m) {
  static const int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kLengths[m - 1];
}

constexpr int kMonthly = 327, kCustom = 332, kLastWeekday = 336;

}  // namespace

const DayTable& DayTable::get() {
  static const DayTable table;
  return table;
}

DayTable::DayTable() {
  // Anchor: 1 January 1900 is serial 2 and 1 January 2000 a Saturday. Count back
  // to 1800 by whole years, then walk forward day by day.
  long serialOf1800 = 2;
  for (int y = 1800; y < 1900; ++y) serialOf1800 -= leap(y) ? 366 : 365;
  first_ = serialOf1800;
  for (int y = 1800; y <= 2200; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= monthLength(y, m); ++d) days_.push_back({y, m, d});
  weekdays_.resize(days_.size());
  const long saturday = serial(2000, 1, 1) - first_;
  for (size_t i = 0; i < days_.size(); ++i) {
    long offset = (static_cast<long>(i) - saturday) % 7;
    if (offset < 0) offset += 7;
    weekdays_[i] = static_cast<int>((6 + offset) % 7) + 1;  // Saturday is 7
  }
}

long DayTable::serial(int year, int month, int day) const {
  Civil key{year, month, day};
  auto less = [](const Civil& a, const Civil& b) {
    if (a.year != b.year) return a.year < b.year;
    if (a.month != b.month) return a.month < b.month;
    return a.day < b.day;
  };
  auto it = std::lower_bound(days_.begin(), days_.end(), key, less);
  if (it == days_.end() || it->year != year || it->month != month || it->day != day)
    throw std::out_of_range("date outside the day table");
  return first_ + static_cast<long>(it - days_.begin());
}

long S(int year, int month, int day) { return DayTable::get().serial(year, month, day); }

ReferenceCalendar::ReferenceCalendar(std::vector<RefCycle> cycles) : cycles_(std::move(cycles)) {
  std::stable_sort(cycles_.begin(), cycles_.end(),
                   [](const RefCycle& a, const RefCycle& b) { return a.effective < b.effective; });
  for (const RefCycle& c : cycles_) ends_.push_back(yearEndsOf(c));
}

std::shared_ptr<const ReferenceCalendar::YearEnds> ReferenceCalendar::yearEndsOf(const RefCycle& c) {
  // The fields that decide the year ends; a monthly rule ignores weekday and election.
  const bool weekly = c.type != kMonthly && c.type != kCustom;
  const std::array<long, 5> key = {c.type, c.month, weekly ? c.weekday : 0, weekly ? c.election : 0,
                                   c.type == kCustom ? c.end : 0};
  static std::map<std::array<long, 5>, std::shared_ptr<const YearEnds>> known;
  auto found = known.find(key);
  if (found != known.end()) return found->second;

  const DayTable& t = DayTable::get();
  auto made = std::make_shared<YearEnds>();
  std::vector<long>& ends = made->days;
  if (c.type == kCustom) {
    ends.push_back(c.end);
  } else {
    for (long s = t.first() + 7; s <= t.last() - 7; ++s) {
      // s is the last day of a year-end month.
      if (t.civil(s).month != c.month || t.civil(s + 1).month == c.month) continue;
      if (c.type == kMonthly) {
        ends.push_back(s);
      } else if (c.election == kLastWeekday) {
        for (long back = s; back > s - 7; --back)
          if (t.weekday(back) == c.weekday) ends.push_back(back);
      } else {
        for (long near = s - 3; near <= s + 3; ++near)
          if (t.weekday(near) == c.weekday) ends.push_back(near);
      }
    }
  }
  made->flags.assign(static_cast<size_t>(t.last() - t.first() + 1), false);
  for (long e : ends)
    if (t.contains(e)) made->flags[static_cast<size_t>(e - t.first())] = true;
  known.emplace(key, made);
  return made;
}

bool ReferenceCalendar::isYearEnd(size_t cycle, long serial) const {
  const DayTable& t = DayTable::get();
  if (!t.contains(serial)) throw std::out_of_range("walk left the day table");
  return ends_[cycle]->flags[static_cast<size_t>(serial - t.first())];
}

RefYear ReferenceCalendar::fiscalYear(long d) const {
  if (cycles_.empty()) return {false, 0, 0};
  // The cycle in force: the last one whose effective date is on or before d; for
  // earlier dates the one in force on the first effective date.
  size_t k = 0;
  const long probe = std::max(d, cycles_.front().effective);
  for (size_t i = 0; i < cycles_.size(); ++i)
    if (cycles_[i].effective <= probe) k = i;
  const bool hasNext = k + 1 < cycles_.size();
  const long nextEffective = hasNext ? cycles_[k + 1].effective : 0;
  const DayTable& t = DayTable::get();

  const long firstEffective = cycles_.front().effective;
  long end = d;
  while (!isYearEnd(k, end) && !(hasNext && end == nextEffective - 1) &&
         !(d < firstEffective && end == firstEffective - 1)) {
    if (end >= t.last() - 1) return {false, 0, 0};  // no year end ahead
    ++end;
  }
  long start = d;
  while (!(d >= cycles_[k].effective && start == cycles_[k].effective) && !isYearEnd(k, start - 1)) {
    if (start <= t.first() + 1) return {false, 0, 0};
    --start;
  }
  return {true, start, end};
}

}  // namespace enginetest
