// An independent model of the fiscal-year rules for the engine tests: a table of
// every day from 1800 to 2200 built by walking the calendar one day at a time,
// year ends found by looking at the days around each month end, and fiscal years
// found by walking from the date to the nearest boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace enginetest {

struct Civil {
  int year;
  int month;
  int day;
};

class DayTable {
 public:
  static const DayTable& get();

  long first() const { return first_; }
  long last() const { return first_ + static_cast<long>(days_.size()) - 1; }
  bool contains(long serial) const { return serial >= first() && serial <= last(); }
  const Civil& civil(long serial) const { return days_[static_cast<std::size_t>(serial - first_)]; }
  int weekday(long serial) const { return weekdays_[static_cast<std::size_t>(serial - first_)]; }
  long serial(int year, int month, int day) const;

 private:
  DayTable();
  long first_ = 0;
  std::vector<Civil> days_;
  std::vector<int> weekdays_;  // 1 = Sunday .. 7 = Saturday
};

// Shorthand for DayTable::get().serial(...).
long S(int year, int month, int day);

// One cycle entry as the tests describe it (enumeration values as plain numbers).
struct RefCycle {
  long effective;
  int type;
  int month;
  int weekday;
  int election;
  long end = -1;  // custom cycles only
};

struct RefYear {
  bool ok;
  long start;
  long end;
};

// The fiscal year containing d. cycles: in the order they were added.
class ReferenceCalendar {
 public:
  explicit ReferenceCalendar(std::vector<RefCycle> cyclesInAddedOrder);
  RefYear fiscalYear(long d) const;
  // Every year end of cycle i inside the table.
  const std::vector<long>& yearEnds(std::size_t i) const { return ends_[i]->days; }
  const std::vector<RefCycle>& cycles() const { return cycles_; }

 private:
  bool isYearEnd(std::size_t cycle, long serial) const;
  // The year ends of one rule: ascending, and a flag per day of the table. Rules
  // alike share one (long histories repeat their rules many times).
  struct YearEnds {
    std::vector<long> days;
    std::vector<bool> flags;  // indexed by serial - table first
  };
  static std::shared_ptr<const YearEnds> yearEndsOf(const RefCycle& c);

  std::vector<RefCycle> cycles_;                       // effective-date order, ties in added order
  std::vector<std::shared_ptr<const YearEnds>> ends_;  // per cycle
};

}  // namespace enginetest
