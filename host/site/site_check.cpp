#include "site_check.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "calendar_view.h"
#include "exit_codes.h"
#include "fiscal_year_end.h"
#include "check_json.h"
#include "companyDatabase.h"
#include "comtypes.h"
#include "function_library.h"
#include "host_dates.h"
#include "site_check_odbc.h"
#include "site_check_sys.h"
#include "vrzelcal.h"

namespace ufhost {

std::string site::guidText(REFCLSID g) {
  OLECHAR wide[40];
  std::string text;
  if (StringFromGUID2(g, wide, 40) > 0)
    for (const OLECHAR* c = wide; *c; ++c) text += static_cast<char>(*c);
  return text;
}

namespace {

using companyDatabase::kDataSource;
using companyDatabase::kPasswordCaption;
const char* const kTables[] = {"versiontable", "company", "book", "bookshyr", "calendar", "cycleobject"};
// Without a company given, the first of these that gives a date is used.
constexpr int kFirstCompany = 1, kLastCompany = 20;

std::string hresultText(HRESULT hr) {
  struct Name {
    HRESULT hr;
    const char* name;
  };
  static const Name kNames[] = {{S_OK, "S_OK"},
                                {S_FALSE, "S_FALSE"},
                                {E_FAIL, "E_FAIL"},
                                {E_NOINTERFACE, "E_NOINTERFACE"},
                                {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
                                {E_INVALIDARG, "E_INVALIDARG"},
                                {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
                                {CO_E_NOTINITIALIZED, "CO_E_NOTINITIALIZED"},
                                {CO_E_DLLNOTFOUND, "CO_E_DLLNOTFOUND"},
                                {CO_E_ERRORINDLL, "CO_E_ERRORINDLL"},
                                {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"}};
  char buf[64];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(hr)));
  for (const Name& n : kNames)
    if (n.hr == hr) return std::string(n.name) + " (" + buf + ")";
  return buf;
}


// Prints the checks: "ok", "FAIL" or "--" (found out nothing that is wrong),
// the check's name, what it found; under a failure what to do. With json, the
// findings are kept for one document at the end instead.
class Report {
 public:
  Report(std::ostream& out, bool json) : out_(out), json_(json) {}
  void pass(const char* name, const std::string& found) { line("ok  ", {name, "ok", found, {}, {}}); }
  // status: "skipped" (could not run) or "warn" (could not be verified)
  void info(const char* name, const std::string& found, const char* status = "skipped") {
    line("--  ", {name, status, found, {}, {}});
  }
  // details: lines shown under the finding, before what to do.
  void fail(const char* name, const std::string& found, const std::string& todo,
            const std::vector<std::string>& details = {}) {
    line("FAIL", {name, "fail", found, details, todo});
    failed_ = true;
    if (json_) return;
    for (const std::string& d : details) out_ << "          " << d << "\n";
    if (!todo.empty()) out_ << "        what to do: " << todo << "\n";
  }
  bool failed() const { return failed_; }
  void finish(const std::string& library, int code) {
    if (json_) writeCheckJson(out_, library, results_, code);
  }

 private:
  void line(const char* mark, CheckResult result) {
    results_.push_back(std::move(result));
    if (json_) return;
    std::string n = results_.back().name;
    n.resize(18, ' ');
    out_ << mark << "  " << n << results_.back().detail << "\n";
  }
  std::ostream& out_;
  bool json_;
  std::vector<CheckResult> results_;
  bool failed_ = false;
};

class SiteCheck {
 public:
  SiteCheck(std::ostream& out, bool json, int company, int book)
      : report_(out, json), company_(company), book_(book), layout_(site::currentLayout()) {}

  int run(const std::string& libraryPath) {
    checkLibrary(libraryPath);
    checkCom();
    checkEngine();
    checkDataSource();
    // The check's own connection first: it gives up after the login timeout,
    // where the library's might wait on a server that does not answer.
    if (dataSourceOk_) schema_ = site::readSchema(kDataSource, companyDatabase::kUser);
    checkFiscalYear();
    checkSchema();
    if (library_.isLoaded()) library_.unload();
    if (comInitialised_) CoUninitialize();
    const int code = report_.failed() ? 1 : 0;
    report_.finish(libraryPath, code);
    return code;
  }

 private:
  void checkLibrary(const std::string& path) {
    std::string error;
    if (!library_.load(path, error)) {
      return report_.fail("library", error,
                          "give the path of the installed report library (libu2lvost.so / u2lvost.dll)");
    }
    std::string bad;
    for (const FunctionInfo& f : library_.functions())
      if (!f.understood) bad += (bad.empty() ? "" : "; ") + ("row " + std::to_string(f.index + 1) + ": " + f.parseError);
    fyEnd_ = library_.find("ZelFYEnd");
    if (!bad.empty()) {
      return report_.fail("library", path + " loads, but its function table is not sound: " + bad,
                          "reinstall the report library; this file is damaged or of another product");
    }
    if (!fyEnd_) {
      return report_.fail("library", path + " loads, but has no ZelFYEnd function",
                          "install the report library that offers ZelFYEnd");
    }
    report_.pass("library", path + " loads; " + std::to_string(library_.functions().size()) +
                                " functions, tables sound, ZelFYEnd present");
  }

  void checkCom() {
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
      return report_.fail("COM", "CoInitialize answered " + hresultText(hr),
                          "the COM runtime is not usable on this thread; reinstall it");
    }
    comInitialised_ = true;
    report_.pass("COM", "CoInitialize answered " + hresultText(hr) +
                            (hr == S_FALSE ? " (already initialised on this thread)" : ""));
  }

  void checkEngine() {
    struct Class {
      const char* name;
      const CLSID* clsid;
      const IID* iid;
    };
    const Class classes[] = {{"calendar factory", &CLSID_VRZELCalendarFactory, &IID_IVRZELCalendarFactory},
                             {"collection", &CLSID_ktEnumDispatch, &IID_IktEnumDispatch}};
    std::string found, unregistered, removed, searched;
    for (const Class& c : classes) {
      site::ClassRegistration reg;
      if (site::findClassRegistration(*c.clsid, reg, searched) != S_OK) {
        unregistered += (unregistered.empty() ? "" : ", ") + std::string(c.name) + " " + site::guidText(*c.clsid);
        continue;
      }
      std::string where = c.name + std::string(" in ") + reg.file +
                          (reg.line ? " line " + std::to_string(reg.line) : std::string()) + ": " + reg.server;
      if (!sys::fileExists(reg.server))
        removed += (removed.empty() ? "" : "; ") + where;
      else
        found += (found.empty() ? "" : "; ") + where;
    }
    if (!unregistered.empty()) {
      report_.fail("engine registered", "not registered (looked in " + searched + "): " + unregistered,
                   site::engineNotRegistered(searched, layout_).advice);
      return notTried("engine loads", "the engine is not registered");
    }
    if (!removed.empty()) {
      report_.fail("engine registered", "the registered file does not exist: " + removed,
                   site::engineFileMissing(removed, layout_).advice);
      return notTried("engine loads", "the registered engine file is missing");
    }
    report_.pass("engine registered", found);
    if (!comInitialised_) return notTried("engine loads", "COM is not usable");
    for (const Class& c : classes) {
      IUnknown* obj = nullptr;
      HRESULT hr = CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, *c.iid, reinterpret_cast<void**>(&obj));
      if (FAILED(hr) || !obj) {
        return report_.fail("engine loads",
                            std::string("CoCreateInstance of the ") + c.name + " answered " + hresultText(hr),
                            (hr == CO_E_DLLNOTFOUND ? "the engine library or one it needs cannot be loaded: "
                                                    : "the engine does not work as registered: ") +
                                site::engineFileMissing(layout_.engineFile, layout_).advice);
      }
      obj->Release();
    }
    report_.pass("engine loads", "the engine library loads and its calendar factory and collection can be created");
    engineOk_ = true;
  }

  void checkDataSource() {
    site::DataSourceFacts f = site::findDataSource(kDataSource);
    if (!f.problem.empty()) return report_.fail("data source", f.problem, "reinstall the ODBC driver manager");
    if (!f.defined) {
      return report_.fail("data source",
                          std::string(kDataSource) + " is not defined in " + site::odbcIniLocation(false) + " or " +
                              site::odbcIniLocation(true),
                          site::dataSourceUndefined(layout_).advice);
    }
    setting_ = sourceSetting(f);
    const std::string where = std::string(kDataSource) + " in " + site::odbcIniLocation(f.system);
    const bool byName = f.driverEntry != f.driverFile || f.driverFile.empty();
    if (byName && !f.driverRegistered) {
      return report_.fail("data source", where + " uses the driver \"" + f.driverEntry + "\", which is not registered",
                          site::driverNotRegistered(f.driverEntry, layout_).advice);
    }
    std::string how = byName ? "driver \"" + f.driverEntry + "\" (" + f.driverFile + ")" : "driver " + f.driverFile;
    const std::string located = site::locateDriver(f.driverFile);
    if (located.empty()) {
      return report_.fail("data source", where + " uses " + how + ", but the driver's file " +
                                             (f.driverFile.empty() ? "is not named" : "does not exist"),
                          site::driverFileMissing(f.driverEntry, f.driverFile, layout_).advice);
    }
    if (located != f.driverFile) how += " at " + located;
    report_.pass("data source", where + ", " + how);
    dataSourceOk_ = true;
    dataSourceSystem_ = f.system;
  }

  void checkFiscalYear() {
    if (!fyEnd_) return notTried("fiscal-year end", "the library has no usable ZelFYEnd");
    if (dataSourceOk_ && !schema_.connected && timedOut(schema_)) {
      return notTried("fiscal-year end", "the database server did not answer within " +
                                             std::to_string(companyDatabase::kLoginTimeoutSeconds) + " s");
    }
    const int32_t today = todayDayNumber();
    const int first = company_ >= 0 ? company_ : kFirstCompany, last = company_ >= 0 ? company_ : kLastCompany;
    library_.startJob();
    std::string call, boxText, error;
    int32_t end = kNoDate;
    int tried = 0;
    for (int c = first; c <= last; ++c) {
      call = "ZelFYEnd(" + std::to_string(c) + ", " + std::to_string(book_) + ", " + formatDayNumber(today) + ")";
      site::BoxCapture capture;
      end = fiscalYearEnd(library_, *fyEnd_, c, book_, today, &error);
      boxText += capture.finish();
      ++tried;
      // A database error will not go away for another company.
      if (end != kNoDate || !error.empty() || !boxText.empty()) break;
    }
    library_.endJob();
    std::vector<SqlErrorBox> boxes = parseSqlErrorBoxes(boxText);
    const std::vector<std::string> refusals = site::boxTexts(boxText, kPasswordCaption);
    if (end != kNoDate && boxes.empty() && refusals.empty())
      return report_.pass("fiscal-year end", call + " = " + formatDayNumber(end));
    std::string found = call + (end != kNoDate ? " = " + formatDayNumber(end) : " gave no date");
    if (!error.empty()) found += ": " + error;
    if (company_ < 0 && tried == last - first + 1 && end == kNoDate && boxes.empty() && refusals.empty())
      found = "no company from " + std::to_string(kFirstCompany) + " to " + std::to_string(kLastCompany) +
              " gave a date for book " + std::to_string(book_);
    if (!refusals.empty())
      found += "; the library refused the site password file (a \"" + std::string(kPasswordCaption) + "\" box):";
    if (!boxes.empty())
      found += "; the library showed " + std::to_string(boxes.size()) + " \"" + companyDatabase::kErrorCaption +
               "\" box" + (boxes.size() > 1 ? "es" : "") + ":";
    std::string todo = refusals.empty() ? site::diagnoseBoxes(boxes, setting_, layout_).advice
                                        : site::passwordFileRefused(layout_).advice;
    if (todo.empty()) {
      if (!engineOk_) todo = "mend the engine checks above first";
      else if (!dataSourceOk_) todo = "mend the data source check above first";
      else todo = "check the company's Book rows (and, on schema 5, its calendars) in the company database";
    }
    // Each box once, with how often it came.
    std::vector<std::string> texts = refusals, shown;
    for (const SqlErrorBox& b : boxes) texts.push_back(b.call + " [" + b.sqlState + "] " + b.message);
    for (auto text = texts.begin(); text != texts.end(); ++text) {
      if (std::find(texts.begin(), text, *text) != text) continue;
      const auto times = std::count(text, texts.end(), *text);
      shown.push_back(*text + (times > 1 ? " (" + std::to_string(times) + " times)" : ""));
    }
    report_.fail("fiscal-year end", found, todo, shown);
  }

  // The schema version, read as any host may: through the data source with the
  // user name only. A server that insists on the password keeps it unknown.
  void checkSchema() {
    if (!dataSourceOk_) return report_.info("schema version", "not read: no usable data source");
    const site::SchemaFacts& s = schema_;
    if (!s.connected) {
      // Only a login refusal is the password this check never gives; a source
      // that no password opens (a missing file, no server) is a failure.
      if (site::isLoginRefusal(s.refusalState, s.refusalMessage)) {
        report_.info("schema version", "not read: the database wants the library's password, which this check never "
                                       "uses (" + s.refusal + ")", "warn");
        return;
      }
      site::Diagnosis d = site::sourceRefused(s.refusalState, s.refusalMessage, setting_, layout_);
      report_.fail("schema version", std::string(kDataSource) + " cannot be opened: " + s.refusal,
                   d.generic
                       ? "correct its Database (the SQLite file) or its Servername, Port and Database in " +
                             site::odbcIniLocation(dataSourceSystem_) + ", and check that the server runs"
                       : d.advice);
      return;
    }
    std::string missing;
    for (const char* t : kTables) {
      const auto is = [t](const std::string& name) { return equalsNoCase(name, t); };
      if (std::none_of(s.tables.begin(), s.tables.end(), is)) missing += (missing.empty() ? "" : ", ") + std::string(t);
    }
    if (!missing.empty()) {
      return report_.fail("schema version", "the company database has no table " + missing,
                          "create the six tables from " + layout_.dbScripts + "/schema.sql (see db/README.md)");
    }
    if (s.version.empty()) {
      return report_.fail("schema version", "VersionTable has no version row (AppID 0, ItemNumber 0)",
                          "add it: the library reads its first digit to choose stored (5) or built calendars");
    }
    report_.pass("schema version", site::describeVersion(s.version));
  }

  static bool timedOut(const site::SchemaFacts& s) {
    return s.refusalState == "HYT00" || site::mentions(s.refusalMessage, {"timeout", "timed out"});
  }

  // A check that cannot run because an earlier one failed: that one says what to do.
  void notTried(const char* name, const std::string& why) { report_.info(name, "not tried: " + why); }

  Report report_;
  int company_;
  int book_;
  FunctionLibrary library_;
  const FunctionInfo* fyEnd_ = nullptr;
  bool comInitialised_ = false, engineOk_ = false, dataSourceOk_ = false, dataSourceSystem_ = false;
  site::Layout layout_;
  site::SourceSetting setting_;
  site::SchemaFacts schema_;
};

}  // namespace

site::SourceSetting sourceSetting(const site::DataSourceFacts& f) {
  site::SourceSetting s;
  s.driverEntry = f.driverEntry;
  s.database = f.database;
  s.sqlite = site::mentions(f.driverEntry + " " + f.driverFile, "sqlite");
  if (s.sqlite) s.file = site::fileState(f.database);
  return s;
}

bool readNumber(const std::string& text, int lo, int hi, int& value) {
  // Nine digits stay inside an int.
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::stoi(text);
  return value >= lo && value <= hi;
}

int runSiteCheck(const std::string& library, bool json, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err) {
  int company = -1, book = 0;
  if (args.size() > 2 || (args.size() >= 1 && !readNumber(args[0], 0, 32767, company)) ||
      (args.size() == 2 && !readNumber(args[1], 0, 8, book))) {
    err << "ufhost: --check takes --json, an optional company (0 to 32767) and book (0 to 8)\n"
        << "Usage: ufhost [LIBRARY] --check [--json] [COMPANY [BOOK]]\n";
    return kExitUsage;
  }
  SiteCheck check(out, json, company, book);
  return check.run(library);
}

}  // namespace ufhost
