// A company's fiscal years per book, worked out through the library's own
// ZelFYEnd (year end E; the next year's end is ZelFYEnd of E + 1), shown as a
// text table or as a self-contained HTML page with a timeline per book.
#pragma once

#include <iosfwd>
#include <string>

namespace ufhost {

// ufhost [LIBRARY] --calendar COMPANY [--books LIST] [--from YEAR] [--to YEAR] [--html FILE]:
// the option values as given, empty when an option was not.
struct CalendarOptions {
  std::string company, books, from, to, html;
};
// The values are checked here; returns the exit code.
int runCalendarView(const std::string& library, const CalendarOptions& options, std::ostream& out, std::ostream& err);

}  // namespace ufhost
