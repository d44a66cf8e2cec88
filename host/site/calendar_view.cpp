#include "calendar_view.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <sstream>
#include <vector>

#include "companyDatabase.h"
#include "exit_codes.h"
#include "fiscal_year_end.h"
#include "host_dates.h"
#include "site_check.h"
#include "site_check_odbc.h"
#include "site_check_sys.h"

namespace ufhost {
namespace {

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
  std::string boxText;   // what the library showed as boxes while the years were walked
};

// When and from what the page was made.
struct CalendarStamp {
  std::string made;        // local date and time
  std::string dataSource;  // "WINZELRW in /etc/odbc.ini"
  std::string version;     // the schema version, or why it is not known
};

// The first day of a year is searched for at most this far before the earlier
// of the window's first day and the year's end.
constexpr int32_t kLongestSearch = 3660;
// Years with fewer digits read as two-digit years in date conversions.
constexpr int kFirstYearShown = 100;
// A book never shows more years than this, whatever the range.
constexpr size_t kMostYears = 400;

std::string weeksText(int32_t days) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%d", days / 7, (days % 7) * 10 / 7);
  return buf;
}

// A year that began before the search shows no first day, and its length as
// "at least": its real first day is not known.
std::string firstDayText(const FiscalYear& y) { return y.firstKnown ? formatDayNumber(y.first) : "(earlier)"; }
std::string daysText(const FiscalYear& y) { return std::to_string(y.days()) + (y.firstKnown ? "" : "+"); }
std::string weeksOf(const FiscalYear& y) { return weeksText(y.days()) + (y.firstKnown ? "" : "+"); }

std::string noteOf(const FiscalYear& y) {
  if (!y.firstKnown) return "began earlier";
  if (y.isShort()) return "short year";
  if (y.isFiftyThreeWeeks()) return "53 weeks";
  if (y.days() > 371) return "long year";
  return "";
}

// The first day of the year that ends on `end` and holds `from`: ZelFYEnd grows
// with the day, so the smallest day that still answers `end` is found by
// halving. False, with first the earliest day searched, when that day still
// answers `end`.
bool firstDayOf(FunctionLibrary& lib, const FunctionInfo& fn, int company, int book, int32_t from, int32_t end,
                int32_t& first) {
  int32_t lo = std::max<int32_t>(0, std::min(from, end) - kLongestSearch), hi = end;
  if (fiscalYearEnd(lib, fn, company, book, lo) == end) {
    first = lo;
    return false;
  }
  while (hi - lo > 1) {  // fyEnd(lo) != end, fyEnd(hi) == end
    int32_t mid = lo + (hi - lo) / 2;
    if (fiscalYearEnd(lib, fn, company, book, mid) == end)
      hi = mid;
    else
      lo = mid;
  }
  first = hi;
  return true;
}

std::string escapeHtml(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else if (c == '&')
      out += "&amp;";
    else if (c == '"')
      out += "&quot;";
    else
      out += c;
  }
  return out;
}

// "0-8", "1", "0,2,5-7": book numbers 0 to 8, each once, in order.
bool parseBooks(const std::string& text, std::vector<int>& books) {
  bool seen[9] = {};
  // The comma added makes an empty last part (as in "0,") one to refuse.
  std::istringstream parts(text + ",");
  for (std::string part; std::getline(parts, part, ',');) {
    const size_t dash = part.find('-');
    int a, b;
    if (!readNumber(part.substr(0, dash), 0, 8, a)) return false;
    if (dash == std::string::npos)
      b = a;
    else if (!readNumber(part.substr(dash + 1), 0, 8, b) || a > b)
      return false;
    std::fill(seen + a, seen + b + 1, true);
  }
  books.clear();
  for (int i = 0; i < 9; ++i)
    if (seen[i]) books.push_back(i);
  return !books.empty();
}

int thisYear() {
  CivilDate today;
  return civilFromDayNumber(todayDayNumber(), today) ? today.year : 2000;
}

const char kCss[] =
    "body{font-family:sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse;margin:.5em 0 1.5em}"
    "th,td{border:1px solid #bbb;padding:.2em .6em;text-align:right}"
    "th{background:#eee}td.note{text-align:left}"
    "tr.short td{background:#fde8c8}tr.w53 td{background:#dcd3f5}"
    ".legend span{display:inline-block;width:1em;height:1em;margin:0 .3em 0 1em;vertical-align:middle}"
    "svg{display:block;margin:.3em 0 0;width:100%}"
    ".stamp{color:#333}.calendar{font-weight:normal;color:#333}"
    ".years{position:relative;height:1.4em;margin-bottom:.6em;font-size:12px;color:#333}"
    ".years span{position:absolute;top:0;padding-left:2px}"
    ".problem{color:#8a1c00}";

// Fill colours of the timeline: years alternate between two blues.
const char* fillOf(const FiscalYear& y, size_t i) {
  if (y.isShort() && y.firstKnown) return "#e8912d";
  if (y.isFiftyThreeWeeks()) return "#7a5cc9";
  return i % 2 ? "#2f6db5" : "#5b9bd8";
}

// The fiscal years of the book overlapping 1 January of fromYear to 31 December of toYear.
BookYears walkFiscalYears(FunctionLibrary& lib, const FunctionInfo& fn, int company, int book, int fromYear,
                          int toYear) {
  BookYears out;
  out.book = book;
  const int32_t from = dayNumberFromCivil(fromYear, 1, 1);
  const int32_t to = dayNumberFromCivil(toYear, 12, 31);
  std::string error;
  const auto noDate = [&error](int32_t day) {
    return error.empty() ? "ZelFYEnd gives no date for " + formatDayNumber(day) : error;
  };
  int32_t end = fiscalYearEnd(lib, fn, company, book, from, &error);
  if (end == kNoDate) {
    out.problem = noDate(from);
    return out;
  }
  FiscalYear y{0, end};
  y.firstKnown = firstDayOf(lib, fn, company, book, from, end, y.first);
  if (end < from || (y.firstKnown && y.first > from)) {
    // Not the year of the day asked about: a library that reads such dates otherwise.
    out.problem = "ZelFYEnd of " + formatDayNumber(from) + " gives " + formatDayNumber(end) +
                  ", a year that does not contain that day";
    return out;
  }
  out.years.push_back(y);
  while (out.years.back().last < to) {
    if (out.years.size() >= kMostYears) {
      out.problem = "stopped after " + std::to_string(kMostYears) + " years";
      break;
    }
    const int32_t next = out.years.back().last + 1;
    end = fiscalYearEnd(lib, fn, company, book, next, &error);
    if (end == kNoDate || end < next) {
      out.problem = end == kNoDate ? noDate(next)
                                   : "ZelFYEnd of " + formatDayNumber(next) + " gives the earlier day " +
                                         formatDayNumber(end);
      break;
    }
    out.years.push_back({next, end});
  }
  return out;
}

std::string stampText(const CalendarStamp& stamp) {
  return "Made " + stamp.made + " through the data source " + stamp.dataSource + "; schema version " +
         stamp.version + ".";
}

void writeCalendarText(std::ostream& out, int company, int fromYear, int toYear, const std::vector<BookYears>& books,
                       const CalendarStamp& stamp) {
  out << "Company " << company << ": fiscal years from " << fromYear << " to " << toYear << " (by ZelFYEnd)\n";
  out << stampText(stamp) << "\n";
  for (const BookYears& b : books) {
    out << "\nBook " << b.book << (b.calendar.empty() ? "" : ": " + b.calendar) << "\n";
    if (!b.years.empty()) {
      out << "  first day    last day      days   weeks  note\n";
      for (const FiscalYear& y : b.years) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-11s  %-11s  %5s  %6s  %s", firstDayText(y).c_str(),
                      formatDayNumber(y.last).c_str(), daysText(y).c_str(), weeksOf(y).c_str(), noteOf(y).c_str());
        std::string s = line;
        out << s.erase(s.find_last_not_of(' ') + 1) << "\n";
      }
    }
    if (!b.problem.empty()) out << "  (" << b.problem << ")\n";
  }
}

// A self-contained page with a timeline per book.
void writeCalendarHtml(std::ostream& out, int company, int fromYear, int toYear, const std::vector<BookYears>& books,
                       const CalendarStamp& stamp) {
  const std::string title = "Company " + std::to_string(company) + ": fiscal years " + std::to_string(fromYear) +
                            " to " + std::to_string(toYear);
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" << escapeHtml(title)
      << "</title>\n<style>" << kCss << "</style></head>\n<body>\n<h1>" << escapeHtml(title) << "</h1>\n"
      << "<p class=\"legend\">Worked out through ZelFYEnd. <span style=\"background:#e8912d\"></span>short year"
      << "<span style=\"background:#7a5cc9\"></span>53 weeks</p>\n"
      << "<p class=\"stamp\">" << escapeHtml(stampText(stamp)) << "</p>\n";
  const int32_t from = dayNumberFromCivil(fromYear, 1, 1);
  const int32_t to = dayNumberFromCivil(toYear, 12, 31);
  // The bars stretch with the window; the year labels are text beside them, so
  // they keep their size.
  const double width = 1000, height = 32, span = static_cast<double>(to - from + 1);
  for (const BookYears& b : books) {
    out << "<h2>Book " << b.book;
    if (!b.calendar.empty()) out << ": <span class=\"calendar\">" << escapeHtml(b.calendar) << "</span>";
    out << "</h2>\n";
    out << "<svg class=\"timeline\" height=\"" << height << "\" viewBox=\"0 0 " << width << " " << height
        << "\" preserveAspectRatio=\"none\" role=\"img\" aria-label=\"fiscal years of book " << b.book << "\">\n";
    for (size_t i = 0; i < b.years.size(); ++i) {
      const FiscalYear& y = b.years[i];
      const double x0 = std::max(0.0, (y.first - from) / span * width);
      const double x1 = std::min(width, (y.last + 1 - from) / span * width);
      if (x1 <= x0) continue;
      char rect[320];
      std::snprintf(rect, sizeof rect,
                    "<rect class=\"fy\" x=\"%.1f\" y=\"4\" width=\"%.1f\" height=\"22\" fill=\"%s\" "
                    "stroke=\"#fff\"><title>%s to %s, %s days</title></rect>\n",
                    x0, x1 - x0, fillOf(y, i), firstDayText(y).c_str(), formatDayNumber(y.last).c_str(),
                    daysText(y).c_str());
      out << rect;
    }
    // Calendar years as ticks under the bars, so moving year ends stand out.
    std::string labels;
    for (int yr = fromYear; yr <= toYear + 1; ++yr) {
      const double x = (dayNumberFromCivil(yr, 1, 1) - from) / span * width;
      char tick[200];
      std::snprintf(tick, sizeof tick,
                    "<line x1=\"%.1f\" y1=\"26\" x2=\"%.1f\" y2=\"32\" stroke=\"#333\" "
                    "vector-effect=\"non-scaling-stroke\"/>\n",
                    x, x);
      out << tick;
      char label[120];
      std::snprintf(label, sizeof label, "<span style=\"left:%.2f%%\">%d</span>", x / width * 100, yr);
      if (yr <= toYear) labels += label;
    }
    out << "</svg>\n<div class=\"years\">" << labels << "</div>\n";
    if (!b.years.empty()) {
      out << "<table><tr><th>first day</th><th>last day</th><th>days</th><th>weeks</th><th>note</th></tr>\n";
      for (const FiscalYear& y : b.years) {
        const char* cls = y.isShort() && y.firstKnown ? " class=\"short\"" : y.isFiftyThreeWeeks() ? " class=\"w53\"" : "";
        out << "<tr" << cls << "><td>" << firstDayText(y) << "</td><td>" << formatDayNumber(y.last)
            << "</td><td>" << daysText(y) << "</td><td>" << weeksOf(y) << "</td><td class=\"note\">"
            << noteOf(y) << "</td></tr>\n";
      }
      out << "</table>\n";
    }
    if (!b.problem.empty()) out << "<p class=\"problem\">" << escapeHtml(b.problem) << "</p>\n";
  }
  out << "</body></html>\n";
}

// Each book's calendar, and for a book without a fiscal year why: the box the
// library showed, or what the company database holds for it.
CalendarStamp explainBooks(int company, std::vector<BookYears>& books) {
  CalendarStamp stamp;
  stamp.made = site::nowText();
  const site::DataSourceFacts source = site::findDataSource(companyDatabase::kDataSource);
  stamp.dataSource = std::string(companyDatabase::kDataSource) +
                     (source.defined ? " in " + site::odbcIniLocation(source.system) : " (not defined)");
  site::CompanyFacts facts;
  if (source.defined) facts = site::readCompany(companyDatabase::kDataSource, companyDatabase::kUser, company);
  const bool stored = site::storesCalendars(facts.version);
  stamp.version = !facts.version.empty() ? site::describeVersion(facts.version)
                  : facts.connected ? "unknown: VersionTable has no version row"
                  : source.defined  ? "not read (" + facts.refusal + ")"
                                    : "not read";
  const site::SourceSetting setting = source.defined ? sourceSetting(source) : site::SourceSetting();
  int failedBook = -1;  // after a database error the job sends nothing more
  for (BookYears& b : books) {
    const int bookId = companyDatabase::bookSlot(b.book);
    const site::BookFacts* book = facts.connected ? facts.book(bookId) : nullptr;
    const std::string row = "BookID " + std::to_string(bookId);
    if (facts.connected && !stored && !facts.version.empty())
      b.calendar = "built from the book's year end (" + row + ")";
    else if (book && stored && book->calendarFound)
      b.calendar = "calendar \"" + book->calendarName + "\" (" + row + ")";
    else if (stored && facts.calendars > 0)
      b.calendar = (book ? row + " names no stored calendar" : "no " + row) + ": the company's last calendar answers";
    if (!b.years.empty()) continue;
    const std::vector<SqlErrorBox> shown = parseSqlErrorBoxes(b.boxText);
    std::string why;
    if (!shown.empty()) {
      failedBook = b.book;
      why = "the library showed a \"" + std::string(companyDatabase::kErrorCaption) + "\" box: " + shown[0].call +
            " [" + shown[0].sqlState + "] " + shown[0].message + " (" +
            site::diagnoseBoxes(shown, setting, site::currentLayout()).cause + ")";
    } else if (!site::boxTexts(b.boxText, companyDatabase::kPasswordCaption).empty()) {
      why = "the library refused the site password file (a \"" + std::string(companyDatabase::kPasswordCaption) +
            "\" box)";
    } else if (failedBook >= 0) {
      why = "not asked: the database failed for book " + std::to_string(failedBook) + " above";
    } else if (stored && facts.calendars == 0) {
      why = "no calendar: company " + std::to_string(company) + " has no stored calendars";
    } else if (book && stored && book->calendarFound && book->cycles == 0) {
      why = "no cycle in force: calendar \"" + book->calendarName + "\" has no cycles";
    } else if (facts.connected && !book && !stored) {
      why = "company " + std::to_string(company) + " has no " + row;
    }
    if (!why.empty()) b.problem = why + "; " + b.problem;
  }
  return stamp;
}

// The checked values of the options: false, with why, for one out of range.
struct CalendarRequest {
  int company = -1, fromYear = 0, toYear = 0;
  std::vector<int> books = {0, 1, 2, 3, 4, 5, 6, 7, 8};
};
bool readRequest(const CalendarOptions& o, CalendarRequest& r, std::string& why) {
  if (!readNumber(o.company, 0, 32767, r.company)) return (why = "--calendar needs a company number (0 to 32767)"), false;
  if (!o.books.empty() && !parseBooks(o.books, r.books))
    return (why = "--books takes book numbers 0 to 8, e.g. 0-8 or 0,2,5"), false;
  const bool haveFrom = !o.from.empty(), haveTo = !o.to.empty();
  if (haveFrom && !readNumber(o.from, kFirstYearShown, 9999, r.fromYear))
    return (why = "--from takes a year from 100 to 9999"), false;
  if (haveTo && !readNumber(o.to, kFirstYearShown, 9999, r.toYear)) return (why = "--to takes a year from 100 to 9999"), false;
  const int now = thisYear();
  if (!haveFrom) r.fromYear = haveTo ? r.toYear - 7 : now - 5;
  if (!haveTo) r.toYear = std::max(r.fromYear, haveFrom ? r.fromYear + 7 : now + 2);
  if (r.fromYear < kFirstYearShown) r.fromYear = kFirstYearShown;
  if (r.toYear < r.fromYear) return (why = "--to is before --from"), false;
  if (r.toYear - r.fromYear > 200) return (why = "at most 200 years at once"), false;
  return true;
}

// The page into a temporary file beside path, renamed over it once complete:
// a failed write leaves the page that was there. False with the system's reason.
bool writePage(const std::string& path, const std::string& page, std::string& why) {
  const std::string temporary = path + ".tmp";
  errno = 0;
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    why = std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(page.data(), 1, page.size(), f) == page.size() && std::fflush(f) == 0;
  const int writeError = errno;
  if (std::fclose(f) != 0 || !written) {
    why = std::strerror(written ? errno : writeError);
    std::remove(temporary.c_str());
    return false;
  }
  if (!site::replaceFile(temporary, path, why)) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

int runCalendarView(const std::string& libraryPath, const CalendarOptions& options, std::ostream& out,
                    std::ostream& err) {
  CalendarRequest q;
  std::string error;
  if (!readRequest(options, q, error)) {
    err << "ufhost: " << error << "\n"
        << "Usage: ufhost [LIBRARY] --calendar COMPANY [--books 0-8] [--from YEAR --to YEAR] [--html FILE]\n";
    return kExitUsage;
  }
  FunctionLibrary lib;
  if (!lib.load(libraryPath, error)) {
    err << "ufhost: " << error << "\n";
    return kExitLoad;
  }
  const FunctionInfo* fn = lib.find("ZelFYEnd");
  if (!fn || !fn->understood) {
    err << "ufhost: " << libraryPath << " has no usable ZelFYEnd function\n";
    return kExitBadInput;
  }
  std::vector<BookYears> result;
  lib.startJob();
  for (int b : q.books) {
    site::BoxCapture capture;
    result.push_back(walkFiscalYears(lib, *fn, q.company, b, q.fromYear, q.toYear));
    result.back().boxText = capture.finish();
  }
  lib.endJob();
  lib.unload();
  const CalendarStamp stamp = explainBooks(q.company, result);

  int code = kExitOk;
  for (const BookYears& b : result)
    if (b.years.empty()) {
      code = kExitFunctionError;
      err << "ufhost: company " << q.company << ", book " << b.book << ": " << b.problem << "\n";
    }
  if (options.html.empty()) {
    writeCalendarText(out, q.company, q.fromYear, q.toYear, result, stamp);
    return code;
  }
  std::ostringstream page;
  writeCalendarHtml(page, q.company, q.fromYear, q.toYear, result, stamp);
  if (!writePage(options.html, page.str(), error)) {
    err << "ufhost: cannot write " << options.html << ": " << error << "\n";
    return kExitBadInput;
  }
  out << "wrote " << options.html << "\n";
  return code;
}

}  // namespace ufhost
