// A company's fiscal years per book, worked out through the library's own
// ZelFYEnd (year end E; the next year's end is ZelFYEnd of E + 1), shown as a
// text table or as a self-contained HTML page with a timeline per book.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "function_library.h"

namespace ufhost {

struct FiscalYear {
  int32_t first = 0;  // day numbers
  int32_t last = 0;
  bool firstKnown = true;  // false: the year began before the search window
  int32_t days() const { return last - first + 1; }
  bool isShort() const { return days() < 364; }
  bool isFiftyThreeWeeks() const { return days() == 371; }
};

struct BookYears {
  int book = 0;
  std::vector<FiscalYear> years;
  std::string problem;   // why the walk stopped early, empty when it covered the range
  std::string calendar;  // "calendar \"Tax\"", "built from the book's year end"; empty when not known
};

// When and from what the page was made.
struct CalendarStamp {
  std::string made;        // local date and time
  std::string dataSource;  // "WINZELRW in /etc/odbc.ini"
  std::string version;     // the schema version, or why it is not known
};

// The fiscal years of the book overlapping 1 January of fromYear to 31 December of toYear.
BookYears walkFiscalYears(FunctionLibrary& library, const FunctionInfo& fn, int company, int book, int fromYear,
                          int toYear);

void writeCalendarText(std::ostream& out, int company, int fromYear, int toYear, const std::vector<BookYears>& books,
                       const CalendarStamp& stamp);
void writeCalendarHtml(std::ostream& out, int company, int fromYear, int toYear, const std::vector<BookYears>& books,
                       const CalendarStamp& stamp);

// ufhost [LIBRARY] --calendar COMPANY [--books LIST] [--from YEAR] [--to YEAR] [--html FILE]:
// the option values as given, empty when an option was not.
struct CalendarOptions {
  std::string company, books, from, to, html;
};
// The values are checked here; returns the exit code.
int runCalendarView(const std::string& library, const CalendarOptions& options, std::ostream& out, std::ostream& err);

}  // namespace ufhost
