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

#include "CLI/CLI.hpp"
#include "calendar_view.h"
#include "formula_call.h"
#include "function_library.h"
#include "host_sys.h"
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
    "  ufhost [LIBRARY] --list\n"
    "  ufhost [LIBRARY] [--no-check] CALL... [--file FILE]\n"
    "  ufhost [LIBRARY] [--no-check] -\n"
    "  ufhost [LIBRARY] --report TEMPLATE [--rows FILE.csv]\n"
    "  ufhost [LIBRARY] --check [--json] [COMPANY [BOOK]]\n"
    "  ufhost [LIBRARY] --calendar COMPANY [--books 0-8] [--from YEAR] [--to YEAR] [--html FILE]\n"
    "  ufhost --help | --version\n"
    "\n"
    "  LIBRARY            the function library to load (a path); without it, the\n"
    "                     report library installed with ufhost\n"
    "Options may come in any order, their values as --opt VALUE or --opt=VALUE.\n"
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
    UFHOST_EXIT_CODE_HELP;

// Control characters as escapes, so the stored text shows exactly.
std::string visible(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    out += c == '\t'               ? "\\t"
           : c == '\n'             ? "\\n"
           : c == '\r'             ? "\\r"
           : c < 0x20 || c == 0x7f ? hex
                                   : std::string(1, c);
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
  if (!sys::fileExists(path)) return 0;
  std::ifstream f;
  std::string why;
  if (!openInput(path, f, why)) return 0;
  CsvReader reader(f);
  std::vector<std::string_view> fields;
  long n = 0;
  while (reader.next(fields, why)) ++n;
  return n;
}

struct Options {
  std::string library;  // empty: the one installed with ufhost
  bool help = false;
  bool version = false;
  bool list = false;
  bool noCheck = false;
  bool stdinCalls = false;
  bool check = false;
  bool json = false;  // --check as one JSON document
  bool calendar = false;
  std::string callFile;
  std::string reportTemplate;
  std::string rowsFile;
  std::vector<std::string> calls;
  std::vector<std::string> checkArgs;  // with --check: COMPANY [BOOK]
  CalendarOptions calendarOptions;
};

const char kUsage[] =
    "Usage: ufhost [LIBRARY] --list | CALL... | --file FILE | - | --report TEMPLATE [--rows FILE.csv]\n"
    "       ufhost [LIBRARY] --check [--json] [COMPANY [BOOK]]\n"
    "       ufhost [LIBRARY] --calendar COMPANY [--books 0-8] [--from YEAR] [--to YEAR] [--html FILE]\n"
    "       ufhost --help for more\n";

// A first word that names a library rather than a call: a path, a library's
// file name, or a file that is there. A call has a parenthesis or is a name.
bool looksLikeLibrary(const std::string& word) {
  if (word.find('(') != std::string::npos || word == "-") return false;
  if (word.find('/') != std::string::npos || word.find('\\') != std::string::npos) return true;
  auto endsWith = [&](const char* tail) {
    const size_t n = std::strlen(tail);
    return word.size() >= n && equalsNoCase(word.substr(word.size() - n), tail);
  };
  return endsWith(".so") || endsWith(".dll") || word.find(".so.") != std::string::npos || sys::fileExists(word);
}

// The report library installed with ufhost: in the installed layout, then in
// the build tree's. Empty, with the places looked at in looked, when neither has it.
std::string defaultLibrary(std::string& looked) {
  for (const char* relative : {UFHOST_INSTALLED_LIBRARY, UFHOST_BUILD_LIBRARY}) {
    // Each "../" of the relative path takes one folder off the program's.
    std::string folder = sys::executableFolder(), rest = relative;
    while (rest.compare(0, 3, "../") == 0 && folder.size() > 1) {
      folder.pop_back();
      folder.erase(folder.find_last_of("/\\") + 1);
      rest.erase(0, 3);
    }
    const std::string path = folder + rest;
    if (sys::fileExists(path)) return path;
    looked += (looked.empty() ? "" : " and ") + path;
  }
  return std::string();
}

// The command line's words as CLI11 reads them into o; false with why.
bool readWords(const std::vector<std::string>& args, Options& o, std::string& why) {
  CLI::App app("ufhost", "ufhost");
  app.set_help_flag();
  app.allow_extras();  // said in our own words below
  // A path such as /opt/u2lvost.dll is a word on Windows too, not an option.
  app.allow_windows_style_options(false);
  app.add_flag("-h,--help", o.help);
  app.add_flag("--version", o.version);
  app.add_flag("--list", o.list);
  app.add_flag("--no-check", o.noCheck);
  app.add_flag("--check", o.check);
  app.add_flag("--json", o.json);
  app.add_option("--file", o.callFile);
  app.add_option("--report", o.reportTemplate);
  app.add_option("--rows", o.rowsFile);
  CLI::Option* calendar = app.add_option("--calendar", o.calendarOptions.company);
  app.add_option("--books", o.calendarOptions.books);
  app.add_option("--from", o.calendarOptions.from);
  app.add_option("--to", o.calendarOptions.to);
  app.add_option("--html", o.calendarOptions.html);
  app.add_option("words", o.calls);
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& e) {
    const std::string what = e.what();  // "--file: 1 required TEXT missing"
    why = what.substr(0, what.find(':')) + " needs a value";
    return false;
  } catch (const CLI::ParseError& e) {
    why = e.what();
    return false;
  }
  o.calendar = calendar->count() > 0;
  for (const std::string& extra : app.remaining()) {
    why = (extra.size() > 1 && extra[0] == '-' ? "unknown option " : "unexpected ") + extra;
    return false;
  }
  return true;
}

// What the options ask for that does not go together, or null when nothing.
const char* conflict(const Options& o) {
  const CalendarOptions& c = o.calendarOptions;
  const bool calls = !o.calls.empty() || o.stdinCalls || !o.callFile.empty();
  const bool report = !o.reportTemplate.empty();
  if (o.check + o.calendar + report > 1) return "give one of --check, --calendar and --report";
  if (o.check && (calls || o.list)) return "--check cannot be combined with calls or --list";
  if (o.json && !o.check) return "--json needs --check";
  if (o.calendar && (calls || o.list)) return "--calendar cannot be combined with calls or --list";
  if (!o.calendar && !(c.books.empty() && c.from.empty() && c.to.empty() && c.html.empty()))
    return "--books, --from, --to and --html need --calendar";
  if (report && (calls || o.list)) return "--report cannot be combined with calls or --list";
  if (!o.rowsFile.empty() && !report) return "--rows needs --report";
  if (!o.check && !o.calendar && !report && !calls && !o.list)
    return "nothing to do: give --list, calls, --file, - or --report";
  if (o.stdinCalls && !o.callFile.empty()) return "give either - or --file, not both";
  return nullptr;
}

// The words read and sorted: the library when the first word names one, "-"
// for calls from standard input, COMPANY [BOOK] after --check. False with why.
bool parseCommandLine(const std::vector<std::string>& args, Options& o, std::string& why) {
  if (!readWords(args, o, why)) return false;
  if (o.help || o.version) return true;
  if (!o.calls.empty() && looksLikeLibrary(o.calls.front())) {
    o.library = o.calls.front();
    o.calls.erase(o.calls.begin());
  }
  if (o.check) o.calls.swap(o.checkArgs);
  const auto dash = std::remove(o.calls.begin(), o.calls.end(), std::string("-"));
  o.stdinCalls = dash != o.calls.end();
  o.calls.erase(dash, o.calls.end());
  if (const char* problem = conflict(o)) {
    why = problem;
    return false;
  }
  return true;
}

class Runner {
 public:
  Runner(std::istream& in, std::ostream& out, std::ostream& err) : in_(in), out_(out), err_(err) {}

  int run(const Options& o, Progress progress) {
    std::string error;
    if (!library_.load(o.library, error)) {
      err_ << "ufhost: " << error << "\n";
      return kExitLoad;
    }
    noCheck_ = o.noCheck;
    SetupWatch watch(out_);
    if (o.list) list();
    if (!o.reportTemplate.empty()) {
      report(o.reportTemplate, o.rowsFile, progress);
    } else if (!o.calls.empty() || o.stdinCalls || !o.callFile.empty()) {
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
    raise(watch.finish(fiscal_, err_));
    library_.unload();
    return exit_;
  }

 private:
  // The highest code of the problems met is the exit code.
  void raise(int code) { exit_ = std::max(exit_, code); }

  void fail(int code, const std::string& message) {
    err_ << "ufhost: " << message << "\n";
    raise(code);
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
    // A call of any length is named by at most an excerpt.
    const std::string prefix = where + (text.size() <= kExcerpt ? text : excerpt(text)) + ": ";
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
    if (FiscalTally::counts(*fn)) fiscal_.add(r);
    switch (r.status) {
      case CallStatus::Ok:
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
    if (outcome.functionErrors) raise(kExitFunctionError);
    if (outcome.badFields) raise(kExitBadInput);
    if (outcome.guardViolations) raise(kExitGuard);
    fiscal_.calls += outcome.fiscal.calls;
    fiscal_.noDate += outcome.fiscal.noDate;
  }

  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  FunctionLibrary library_;
  bool noCheck_ = false;
  int exit_ = kExitOk;
  FiscalTally fiscal_;
};

int runCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
               Progress progress) {
  Options o;
  std::string why;
  if (!parseCommandLine(args, o, why)) {
    err << "ufhost: " << why << "\n" << kUsage;
    return kExitUsage;
  }
  if (o.help) {
    out << kHelp;
    return kExitOk;
  }
  if (o.version) {
    out << "ufhost (u2lvost) " << U2LVOST_VERSION << "\n";
    return kExitOk;
  }
  if (o.library.empty()) {
    std::string looked;
    o.library = defaultLibrary(looked);
    if (o.library.empty()) {
      err << "ufhost: no library given, and none installed with ufhost (looked for " << looked << ")\n" << kUsage;
      return kExitUsage;
    }
  }
  if (o.check) return runSiteCheck(o.library, o.json, o.checkArgs, out, err);
  if (o.calendar) return runCalendarView(o.library, o.calendarOptions, out, err);
  Runner runner(in, out, err);
  return runner.run(o, progress);
}

}  // namespace

int runUfhost(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
              bool errIsTerminal, bool outIsTerminal) {
  const Progress progress = !errIsTerminal ? Progress::Off : outIsTerminal ? Progress::OnSharedScreen : Progress::On;
  int code = runCommand(args, in, out, err, progress);
  // Results that never reached standard output (a full disk) are no success.
  if (!out.flush()) {
    err << "ufhost: cannot write standard output\n";
    code = std::max(code, static_cast<int>(kExitInternal));
  }
  return code;
}

}  // namespace ufhost
