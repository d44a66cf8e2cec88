// ZelFYEnd through a loaded library, and today's date: what the site check and
// the calendar view both ask of the harness.
#pragma once

#include <cstdint>
#include <string>

#include "function_library.h"

namespace ufhost {

// ZelFYEnd(company, book, day) through the loaded library: the year end's day
// number, or kNoDate when the library gives none; a failed call puts its message
// in error (when given) and also gives kNoDate.
int32_t fiscalYearEnd(FunctionLibrary& library, const FunctionInfo& fn, int company, int book, int32_t day,
                      std::string* error = nullptr);

// How many fiscal-year calls answered, and how many of those gave no date: a
// "no date" may be the site's set-up failing rather than a company without a
// calendar. Calls that failed are counted elsewhere.
struct FiscalTally {
  long calls = 0;
  long noDate = 0;
  // Whether fn's calls are counted: asked once per call site, not per call.
  static bool counts(const FunctionInfo& fn);
  // A call of a function that counts().
  void add(const CallResult& result);
};

// Today's local date as a host day number.
int32_t todayDayNumber();

}  // namespace ufhost
