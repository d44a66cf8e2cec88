#include "ufhost_cli.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <istream>
#include <memory>
#include <ostream>
#include <sstream>

#include "formula_call.h"
#include "function_library.h"
#include "host_dates.h"
#include "calendar_view.h"
#include "report.h"
#include "report_outcome.h"
#include "site_check.h"

namespace ufhost {
namespace {

const char kHelp[] =
    "ufhost - loads a user function library the way the report engine does and\n"
    "evaluates its formula functions.\n"
    "\n"
    "Usage:\n"
    "  ufhost LIBRARY --list\n"
    "  ufhost LIBRARY [--no-check] CALL... [--file FILE]\n"
    "  ufhost LIBRARY [--no-check] -\n"
    "  ufhost LIBRARY --report TEMPLATE [--rows FILE.csv]\n"
    "  ufhost LIBRARY --check [--json] [COMPANY [BOOK]]\n"
    "  ufhost LIBRARY --calendar COMPANY [--books 0-8] [--from YEAR] [--to YEAR] [--html FILE]\n"
    "  ufhost --help | --version\n"
    "\n"
    "  --list             per function: its definition text, template and example\n"
    "                     (control characters shown as \\t etc.)\n"
    "  CALL               a formula call with literal arguments, e.g.\n"
    "                       'ZelNum(10, 2, \"1234.567\")'  'ZelTime'  'ZelFYEnd(2, 1, 2024-03-15)'\n"
    "  --file FILE        calls from FILE, one per line; FILE - is standard input\n"
    "  -                  calls from standard input\n"
    "                     (blank lines and lines starting with # are skipped)\n"
    "  --no-check         pass the arguments even when their number does not match\n"
    "                     the definition: shows the library's own answer; a value of\n"
    "                     another type than its position declares is still refused\n"
    "  --report TEMPLATE  fill a report template (see below)\n"
    "  --rows FILE.csv    the rows of the report's @row section\n"
    "  --check            checks each link a fiscal-year end needs (library, COM,\n"
    "                     engine, data source WINZELRW, a ZelFYEnd call, schema);\n"
    "                     exit 0 only when all pass, 1 when one fails; with --json\n"
    "                     one JSON document (per check: name, status ok, warn,\n"
    "                     fail or skipped, detail, boxes, advice)\n"
    "  --calendar         a company's fiscal years per book through ZelFYEnd, as a\n"
    "                     table, or with --html FILE as a page with a timeline\n"
    "\n"
    "Each call prints exactly one line on standard output: texts as they are, numbers\n"
    "as formula values, dates as YYYY-MM-DD or (no date), times as HH:MM:SS,\n"
    "booleans as True or False, and #ERROR for a failed call (the reason goes to\n"
    "standard error). Function names match regardless of case; a misspelt one gets\n"
    "the nearest known name as a suggestion.\n"
    "\n"
    "Literals:\n"
    "  numbers    123  -4.5  1e3 (passed to the library as 100 times their value)\n"
    "  texts      \"in double quotes\", escapes \\\" \\\\ \\n \\t \\r \\xHH (no NUL byte)\n"
    "  dates      Date(2024, 3, 15) or 2024-03-15 (Julian before 15 October 1582)\n"
    "  times      Time(14, 5, 0)   date-times  DateTime(2024, 3, 15, 14, 5, 0)\n"
    "  booleans   True  False\n"
    "\n"
    "Every call runs inside a report job (UFStartJob/UFEndJob). A string result\n"
    "lands in a buffer of the size the function's return-size function asks for\n"
    "(255 bytes when it has none); a write outside it, a result without its\n"
    "terminating NUL, a replaced result pointer or a write into an argument text\n"
    "is reported as an error.\n"
    "\n"
    "Report templates (section names in any case):\n"
    "  @header      starts the header section, output once before the rows\n"
    "  @row         starts the row section, output once per row of the CSV file\n"
    "  @footer      starts the footer section, output once after the rows\n"
    "  @# text      a comment line, not output\n"
    "  Other lines are text; text before the first section line is header.\n"
    "  {Call(...)} in the text is replaced by the call's result; {{ and }} give\n"
    "  single braces. In the @row section $column inside a call stands for that\n"
    "  row's field (column names from the CSV's first line, any case; $\"unit price\"\n"
    "  for a name that is not one word): a field\n"
    "  that reads as a number is a number, an ISO date (2024-03-15) a date,\n"
    "  anything else a text; a String parameter always gets the field as written.\n"
    "  A failed call prints #ERROR in its place and a message naming the row and\n"
    "  the call on standard error. While rows are processed and standard error is\n"
    "  a terminal, \"row N of M\" shows the progress there. The CSV file is read\n"
    "  row by row; a line that breaks the format stops the rows there (exit 4).\n"
    "\n"
    "  Example template:\n"
    "    @header\n"
    "    Asset register, printed {ZelTime}\n"
    "    @row\n"
    "    {ZelSplitHdr(20, 1, $name)} {ZelNum(12, 2, $cost)}\n"
    "    @footer\n"
    "    {{end}}\n"
    "\n"
    "Exit codes (the highest applies when several problems occur):\n"
    "  0  every call succeeded\n"
    "  1  a function answered a host error code (named, e.g. UFNotEnoughParameters (6))\n"
    "  2  the command line is wrong\n"
    "  3  the library cannot be loaded or is not a function library\n"
    "  4  bad input: unknown function, wrong number or types of arguments, bad\n"
    "     literal, a missing or unreadable file or a folder, bad template or CSV\n"
    "  5  the library broke the buffer rules (see above)\n"
    "  6  the harness itself failed (out of memory, standard output cannot be\n"
    "     written); also for --check and --calendar\n"
    "  7  every row was written, but fiscal-year calls failed for a reason of the\n"
    "     site's set-up: the library showed a box, or calls gave no date while the\n"
    "     engine or the data source is missing; one line on standard error says\n"
    "     how many calls gave no date and the first cause. A company without a\n"
    "     calendar is a plain (no date) and no failure\n";

// Control characters as escapes, so the stored text shows exactly.
std::string visible(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c < 0x20 || c == 0x7f) {
      static const char hex[] = "0123456789ABCDEF";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Opens a file to read; false, with the system's reason in why, for a folder
// or a file that is missing or cannot be read.
bool openInput(const std::string& path, std::ifstream& f, std::string& why) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    why = std::strerror(EISDIR);
    return false;
  }
  errno = 0;
  f.open(path, std::ios::binary);
  if (!f) {
    why = errno ? std::strerror(errno) : "it cannot be opened";
    return false;
  }
  return true;
}

bool readFile(const std::string& path, std::string& text, std::string& why) {
  std::ifstream f;
  if (!openInput(path, f, why)) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  if (f.bad()) {
    why = "a read error";
    return false;
  }
  text = ss.str();
  return true;
}

// Rows in a CSV file up to its end or the first break of the format: for the
// progress count, read once more before the report. Only a regular file can
// be read twice: from a pipe the count would take the report's rows (or wait
// for a second writer), so there is no count then.
long countRows(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  std::ifstream f;
  std::string why;
  if (!openInput(path, f, why)) return 0;
  CsvReader reader(f);
  std::vector<std::string> fields;
  long n = 0;
  while (reader.next(fields, why)) ++n;
  return n;
}

struct Options {
  std::string library;
  bool list = false;
  bool noCheck = false;
  bool stdinCalls = false;
  std::string callFile;
  std::string reportTemplate;
  std::string rowsFile;
  std::vector<std::string> calls;
};

class Runner {
 public:
  Runner(std::istream& in, std::ostream& out, std::ostream& err) : in_(in), out_(out), err_(err) {}

  int run(const std::vector<std::string>& args, Progress progress) {
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string& a = args[i];
      auto value = [&](std::string& into) {
        if (i + 1 >= args.size()) return usage("option " + a + " needs a value");
        into = args[++i];
        return true;
      };
      if (a == "--help" || a == "-h") {
        out_ << kHelp;
        return kExitOk;
      } else if (a == "--version") {
        out_ << "ufhost (u2lvost) " << U2LVOST_VERSION << "\n";
        return kExitOk;
      } else if (a == "--list") {
        o.list = true;
      } else if (a == "--no-check") {
        o.noCheck = true;
      } else if (a == "--file") {
        if (!value(o.callFile)) return kExitUsage;
      } else if (a == "--report") {
        if (!value(o.reportTemplate)) return kExitUsage;
      } else if (a == "--rows") {
        if (!value(o.rowsFile)) return kExitUsage;
      } else if (a == "-") {
        o.stdinCalls = true;
      } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
        usage("unknown option " + a);
        return kExitUsage;
      } else if (o.library.empty()) {
        o.library = a;
      } else {
        o.calls.push_back(a);
      }
    }
    if (o.library.empty()) {
      usage("no library given");
      return kExitUsage;
    }
    const bool anyCalls = !o.calls.empty() || o.stdinCalls || !o.callFile.empty();
    if (!o.reportTemplate.empty() && (anyCalls || o.list)) {
      usage("--report cannot be combined with calls or --list");
      return kExitUsage;
    }
    if (!o.rowsFile.empty() && o.reportTemplate.empty()) {
      usage("--rows needs --report");
      return kExitUsage;
    }
    if (!o.list && !anyCalls && o.reportTemplate.empty()) {
      usage("nothing to do: give --list, calls, --file, - or --report");
      return kExitUsage;
    }
    if (o.stdinCalls && !o.callFile.empty()) {
      usage("give either - or --file, not both");
      return kExitUsage;
    }

    std::string error;
    if (!library_.load(o.library, error)) {
      err_ << "ufhost: " << error << "\n";
      return kExitLoad;
    }
    noCheck_ = o.noCheck;
    SetupWatch watch;
    if (o.list) list();
    if (!o.reportTemplate.empty()) {
      report(o.reportTemplate, o.rowsFile, progress);
    } else if (anyCalls) {
      library_.startJob();
      for (const std::string& c : o.calls) evaluate(c, "");
      if (o.stdinCalls || o.callFile == "-") {
        evaluateLines(in_, "standard input");
      } else if (!o.callFile.empty()) {
        std::ifstream f;
        std::string why;
        if (!openInput(o.callFile, f, why))
          fail(kExitBadInput, "cannot read " + o.callFile + ": " + why);
        else
          evaluateLines(f, o.callFile);
      }
      library_.endJob();
    }
    out_.flush();
    exit_ = std::max(exit_, watch.finish(fiscal_, err_));
    library_.unload();
    return exit_;
  }

 private:
  bool usage(const std::string& why) {
    err_ << "ufhost: " << why << "\n"
         << "Usage: ufhost LIBRARY --list | CALL... | --file FILE | - | --report TEMPLATE [--rows FILE.csv]\n"
         << "       ufhost --help for more\n";
    return false;
  }

  void fail(int code, const std::string& message) {
    err_ << "ufhost: " << message << "\n";
    exit_ = std::max(exit_, code);
  }

  void list() {
    out_ << "Library: " << library_.path();
    if (library_.version())
      out_ << " (interface version " << (library_.version() >> 8) << "." << (library_.version() & 0xFF) << ")";
    out_ << "\n";
    for (const FunctionInfo& fn : library_.functions()) {
      out_ << "\n" << (fn.understood ? fn.signature.name : "(row " + std::to_string(fn.index + 1) + ")") << "\n";
      out_ << "  definition: " << visible(fn.definition) << "\n";
      out_ << "  template:   " << visible(fn.templateText) << "\n";
      out_ << "  example:    " << visible(fn.example) << "\n";
      if (!fn.understood) {
        out_ << "  cannot be called: " << fn.parseError << "\n";
      } else if (fn.signature.returnType == ValueType::String) {
        out_ << "  result:     String, "
             << (fn.returnSize ? "buffer size from its return-size function"
                               : "no return-size function (default buffer of " +
                                     std::to_string(FunctionLibrary::kDefaultStringSize) + " bytes)")
             << "\n";
      } else {
        out_ << "  result:     " << typeName(fn.signature.returnType) << "\n";
      }
    }
  }

  // One line on out per call, #ERROR for a failed one (its reason on err),
  // so that results line up with the calls.
  void evaluate(const std::string& text, const std::string& where) {
    const std::string prefix = where + text + ": ";
    FormulaCall call;
    std::string error;
    if (!parseFormulaCall(text, call, error)) return failCall(kExitBadInput, prefix + error);
    const FunctionInfo* fn = library_.find(call.name);
    if (!fn) {
      return failCall(kExitBadInput,
                      prefix + unknownFunction(library_, call.name) + " (ufhost LIBRARY --list shows them)");
    }
    std::vector<Value> args;
    for (const FormulaArgument& a : call.args) args.push_back(a.value);
    CallResult r = noCheck_ ? library_.evaluateAnyCount(*fn, args) : library_.evaluate(*fn, args);
    switch (r.status) {
      case CallStatus::Ok:
        if (isFiscalFunction(fn->signature.name)) {
          ++fiscal_.calls;
          fiscal_.noDate += r.value.type == ValueType::Date && r.value.date == kNoDate;
        }
        out_ << formatValue(r.value) << "\n";
        return;
      case CallStatus::FunctionError:
        return failCall(kExitFunctionError, prefix + r.message);
      case CallStatus::NotCallable:
        return failCall(kExitBadInput, prefix + r.message);
      default:
        return failCall(kExitGuard, prefix + r.message);
    }
  }

  void failCall(int code, const std::string& message) {
    out_ << "#ERROR\n";
    out_.flush();  // before the message, where both go to one file or screen
    fail(code, message);
  }

  void evaluateLines(std::istream& in, const std::string& name) {
    std::string line;
    int n = 0;
    int readError = 0;
    for (;;) {
      errno = 0;
      if (!std::getline(in, line)) {
        readError = errno;
        break;
      }
      ++n;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      size_t b = line.find_first_not_of(" \t");
      if (b == std::string::npos || line[b] == '#') continue;
      evaluate(line.substr(b), name + ":" + std::to_string(n) + ": ");
    }
    // A source that opened but cannot be read (a folder as standard input, an
    // I/O error) is bad input, not the end of the calls. std::cin shares C's
    // stdin, which keeps its read error to itself.
    if (in.bad() || (&in == &std::cin && std::ferror(stdin)))
      fail(kExitBadInput, "cannot read " + name + ": " + (readError ? std::strerror(readError) : "a read error"));
  }

  void report(const std::string& templatePath, const std::string& rowsPath, Progress progress) {
    std::string text, error;
    if (!readFile(templatePath, text, error)) return fail(kExitBadInput, "cannot read " + templatePath + ": " + error);
    ReportTemplate tpl;
    if (!parseReportTemplate(text, tpl, error)) return fail(kExitBadInput, templatePath + ": " + error);
    // The rows are read as the report goes, never held whole.
    const bool haveRows = !rowsPath.empty();
    std::ifstream csv;
    std::unique_ptr<CsvReader> rows;
    if (haveRows) {
      if (!openInput(rowsPath, csv, error)) return fail(kExitBadInput, "cannot read " + rowsPath + ": " + error);
      rows.reset(new CsvReader(csv));
      if (!rows->readHeader(error)) return fail(kExitBadInput, rowsPath + ": " + error);
    }
    std::vector<std::string> problems;
    if (!bindReport(tpl, library_, haveRows ? &rows->columns() : nullptr, problems)) {
      for (const std::string& p : problems) fail(kExitBadInput, templatePath + ": " + p);
      return;
    }
    const long rowCount = haveRows && progress != Progress::Off ? countRows(rowsPath) : 0;
    ReportOutcome outcome = runReport(library_, tpl, rows.get(), rowCount, out_, err_, progress);
    if (!outcome.rowsError.empty()) fail(kExitBadInput, rowsPath + ": " + outcome.rowsError + " (the rows stop there)");
    if (outcome.functionErrors) exit_ = std::max(exit_, static_cast<int>(kExitFunctionError));
    if (outcome.badFields) exit_ = std::max(exit_, static_cast<int>(kExitBadInput));
    if (outcome.guardViolations) exit_ = std::max(exit_, static_cast<int>(kExitGuard));
    fiscal_.calls += outcome.fiscalCalls;
    fiscal_.noDate += outcome.fiscalNoDate;
  }

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  FunctionLibrary library_;
  bool noCheck_ = false;
  int exit_ = kExitOk;
  FiscalTally fiscal_;
};

}  // namespace

const char* ufhostHelp() { return kHelp; }

int runUfhost(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
              bool errIsTerminal, bool outIsTerminal) {
  int code;
  // The site check and the calendar view have command lines of their own.
  if (args.size() >= 2 && args[1] == "--check") {
    code = runSiteCheck(args[0], std::vector<std::string>(args.begin() + 2, args.end()), out, err);
  } else if (args.size() >= 2 && args[1] == "--calendar") {
    code = runCalendarView(args[0], std::vector<std::string>(args.begin() + 2, args.end()), out, err);
  } else {
    Runner runner(in, out, err);
    Progress progress = !errIsTerminal ? Progress::Off : outIsTerminal ? Progress::OnSharedScreen : Progress::On;
    code = runner.run(args, progress);
  }
  // Results that never reached standard output (a full disk) are no success.
  if (!out.flush()) {
    err << "ufhost: cannot write standard output\n";
    code = std::max(code, static_cast<int>(kExitInternal));
  }
  return code;
}

}  // namespace ufhost
