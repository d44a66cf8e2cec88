// The built library loaded as the report engine loads it, over one company
// database, and the calendar rules the tests compute expected dates with.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>

#include "function_library.h"
#include "host_dates.h"
#include "odbc_env.h"
#include "test_paths.h"

namespace fytest {

using testenv::Backend;
using testenv::DataSource;
using testenv::EngineRegistry;
using testenv::Schema;
using ufhost::FunctionLibrary;
using ufhost::Value;

struct Ymd {
  int y, m, d;
  bool operator==(const Ymd& o) const { return y == o.y && m == o.m && d == o.d; }
};

inline std::ostream& operator<<(std::ostream& os, const Ymd& v) { return os << v.y << '-' << v.m << '-' << v.d; }

// The test's own calendar rules (proleptic Gregorian).
inline bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
inline int lastDay(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : days[m - 1];
}
// 0 = Sunday .. 6 = Saturday (Zeller's congruence).
inline int weekday(Ymd v) {
  int m = v.m, y = v.y;
  if (m < 3) m += 12, y -= 1;
  int h = (v.d + 13 * (m + 1) / 5 + y + y / 4 - y / 100 + y / 400) % 7;  // 0 = Saturday
  return (h + 6) % 7;
}
inline Ymd addDays(Ymd v, int n) {
  while (n > 0) {
    if (++v.d > lastDay(v.y, v.m)) v.d = 1, ++v.m;
    if (v.m > 12) v.m = 1, ++v.y;
    --n;
  }
  while (n < 0) {
    if (--v.d < 1) {
      if (--v.m < 1) v.m = 12, --v.y;
      v.d = lastDay(v.y, v.m);
    }
    ++n;
  }
  return v;
}
// Last given weekday (0 = Sunday) of a month.
inline Ymd lastWeekdayOf(int y, int m, int dow) {
  Ymd v{y, m, lastDay(y, m)};
  while (weekday(v) != dow) v = addDays(v, -1);
  return v;
}
// The given weekday nearest the month's last day (up to three days after it).
inline Ymd closestWeekdayTo(int y, int m, int dow) {
  Ymd end{y, m, lastDay(y, m)};
  for (int k = -3; k <= 3; ++k)
    if (weekday(addDays(end, k)) == dow) return addDays(end, k);
  return end;
}

constexpr Ymd kNone{0, 0, 0};  // ZelFYEnd's "no fiscal year end" (-1)

inline size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}


// The library loaded as the report engine loads it, over one company database.
class LoadedLibrary {
 public:
  LoadedLibrary(Backend backend, Schema schema) : source_(backend, schema) {
    std::string error;
    if (!lib_.load(U2LVOST_LIBRARY, error)) throw std::runtime_error(error);
  }
  DataSource& source() { return source_; }

  // A report job around the calls that follow (calls outside one get their own).
  void startJob() { lib_.startJob(); }
  void endJob() { lib_.endJob(); }
  void nextJob() {
    lib_.endJob();
    lib_.startJob();
  }

  // ZelFYEnd through the harness; kNone for -1.
  Ymd fyEnd(double company, double book, Ymd date) { return call("ZelFYEnd", company, book, date); }
  Ymd calEnd(double company, double book, Ymd date) { return call("ZelCalYEnd", company, book, date); }
  // The same, with the boxes it showed (standard error) added to boxes.
  Ymd fyEnd(double company, double book, Ymd date, std::string& boxes) {
    ::testing::internal::CaptureStderr();
    Ymd result = kNone;
    try {
      result = fyEnd(company, book, date);
    } catch (...) {
      boxes += ::testing::internal::GetCapturedStderr();
      throw;
    }
    boxes += ::testing::internal::GetCapturedStderr();
    return result;
  }

 private:
  Ymd call(const char* name, double company, double book, Ymd date) {
    const ufhost::FunctionInfo* fn = lib_.find(name);
    if (!fn) throw std::runtime_error(std::string("no function ") + name);
    auto result = lib_.evaluate(
        *fn, {Value::makeNumber(company), Value::makeNumber(book),
              Value::makeDate(ufhost::dayNumberFromCivil(date.y, date.m, date.d))});
    if (!result.ok() || result.errorCode != 0) throw std::runtime_error(name + (": " + result.message));
    if (result.value.date == -1) return kNone;
    ufhost::CivilDate c;
    if (!ufhost::civilFromDayNumber(result.value.date, c)) throw std::runtime_error("bad day number");
    return Ymd{c.year, c.month, c.day};
  }

  EngineRegistry registry_;
  DataSource source_;
  FunctionLibrary lib_;
};

// Calls the company's book 1 five times in one job: no date every time, and
// every box comes with the first call. Gives those boxes.
inline std::string noDateWithOneSetOfBoxes(LoadedLibrary& lib, double company = 1) {
  std::string first, later;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(company, 1, {2001, 8, 1}, first), kNone);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(lib.fyEnd(company, 1 + i % 2, {2001, 8, 1}, later), kNone);
  lib.endJob();
  EXPECT_NE(first.find("SQL Error\n"), std::string::npos) << "no box for the failure";
  EXPECT_EQ(later, "") << "boxes after the first call of the job";
  return first;
}

}  // namespace fytest
