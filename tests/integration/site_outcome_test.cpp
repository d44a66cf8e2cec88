// What a monitoring system and a site administrator rely on: --check --json
// (validated against docs/check.schema.json), the report's exit code and summary
// line on each set-up failure, and advice that follows the cause.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "exit_codes.h"
#include "host_dates.h"
#include "odbc_env.h"
#include "report_outcome.h"
#include "site_advice.h"
#include "site_run.h"

namespace {

using sitetest::contains;
using testenv::Backend;
using testenv::DataSource;
using testenv::Fault;
using testenv::Schema;
namespace site = ufhost::site;

// Validates the document against the schema in the repository and gives each
// check's "name=status" on a line of its own, then "status=..." of the whole.
std::string validatedStatuses(const testenv::TempDir& dir, const std::string& json) {
  const std::string doc = dir.write("check.json", json);
  const std::string script =
      "import json, sys, jsonschema\n"
      "doc = json.load(open(sys.argv[1]))\n"
      "jsonschema.validate(doc, json.load(open(sys.argv[2])))\n"
      "for c in doc['checks']: print(c['name'] + '=' + c['status'])\n"
      "print('status=' + doc['status'])\n";
  const std::string py = dir.write("validate.py", script);
  sitetest::Outcome v = sitetest::runCommand(
      dir, "python3 " + sitetest::shellQuote(py) + " " + sitetest::shellQuote(doc) + " " +
               sitetest::shellQuote(U2LVOST_SOURCE_DIR "/docs/check.schema.json"));
  EXPECT_EQ(v.code, 0) << "not valid against docs/check.schema.json (python3-jsonschema from scripts/setup.sh):\n"
                       << v.err << json;
  return v.out;
}

enum class Break { Nothing, Unregister, MissingDatabaseFile };

struct JsonCase {
  const char* what;
  Break broken;
  int code;
  std::string statuses;  // as validatedStatuses prints them
  const char* advice;    // part of the document
};

class CheckJson : public ::testing::TestWithParam<JsonCase> {};

TEST_P(CheckJson, OneValidDocumentWithTheTextModesExitCode) {
  const JsonCase& c = GetParam();
  DataSource source(Backend::SQLite, Schema::V4);
  sitetest::Site site;
  testenv::TempDir spare;
  if (c.broken == Break::Unregister) site.unregisterEngine();
  if (c.broken == Break::MissingDatabaseFile) source.setOption("Database", spare.file("gone.db"));
  // --json is an option like any other: before --check as well as after it.
  sitetest::Outcome json = site.ufhost({"--json", "--check"});
  sitetest::Outcome text = site.ufhost({"--check"});
  EXPECT_EQ(json.code, c.code) << json.out << json.err;
  EXPECT_EQ(text.code, c.code);
  EXPECT_EQ(validatedStatuses(spare, json.out), c.statuses);
  EXPECT_TRUE(contains(json.out, c.advice)) << json.out;
  EXPECT_TRUE(contains(json.out, "\"version\": \"" U2LVOST_VERSION "\""));
  EXPECT_FALSE(contains(json.err, "SQL Error")) << "boxes belong in the document";
}

INSTANTIATE_TEST_SUITE_P(
    Sites, CheckJson,
    ::testing::Values(
        JsonCase{"healthy", Break::Nothing, 0,
                 "library=ok\nCOM=ok\nengine registered=ok\nengine loads=ok\ndata source=ok\nfiscal-year end=ok\n"
                 "schema version=ok\nstatus=ok\n",
                 "\"advice\": \"\""},
        JsonCase{"unregistered", Break::Unregister, 1,
                 "library=ok\nCOM=ok\nengine registered=fail\nengine loads=skipped\ndata source=ok\n"
                 "fiscal-year end=fail\nschema version=ok\nstatus=fail\n",
                 "register the calendar engine " VRZELCAL_LIBRARY},
        JsonCase{"missingfile", Break::MissingDatabaseFile, 1,
                 "library=ok\nCOM=ok\nengine registered=ok\nengine loads=ok\ndata source=ok\n"
                 "fiscal-year end=fail\nschema version=fail\nstatus=fail\n",
                 "gone.db does not exist"}),
    [](const ::testing::TestParamInfo<JsonCase>& info) { return std::string(info.param.what); });

// A server that takes the connection and never answers: the probe gives up at
// the login timeout instead of waiting with the library.
TEST(CheckJsonProbe, AServerThatDoesNotAnswerEndsTheCheck) {
  DataSource source(Backend::PostgreSQL, Schema::V4);
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof at;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size), 0);
  source.setOption("Servername", "127.0.0.1");
  source.setOption("Port", std::to_string(ntohs(at.sin_port)));
  sitetest::Site site;
  sitetest::Outcome o = site.ufhost({"--check", "--json"});
  ::close(listener);
  EXPECT_EQ(o.code, 1) << o.out << o.err;
  testenv::TempDir dir;
  const std::string statuses = validatedStatuses(dir, o.out);
  EXPECT_TRUE(contains(statuses, "fiscal-year end=skipped\nschema version=fail\n")) << statuses;
  EXPECT_TRUE(contains(o.out, "did not answer within 15 s")) << o.out;
  EXPECT_TRUE(contains(o.out, "check Servername and Port")) << o.out;
}

// The report and the calls say when the site's set-up made them fail.
enum class Fault2 { None, Unregister, RemoveEngineFile, Undefined, UnregisteredDriver, MissingFile, WrongPassword };

struct ReportCase {
  const char* what;
  Backend backend;
  Fault2 fault;
  int company;  // 99 has no calendar at all
  int code;
  const char* cause;  // part of the summary line; "" for none
};

class ReportSetup : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportSetup, ExitCodeAndSummaryLine) {
  const ReportCase& c = GetParam();
  DataSource source(c.backend, Schema::V4,
                    c.fault == Fault2::Undefined       ? Fault::Absent
                    : c.fault == Fault2::WrongPassword ? Fault::WrongPassword
                                                       : Fault::None);
  sitetest::Site site;
  testenv::TempDir dir;
  if (c.fault == Fault2::Unregister) site.unregisterEngine();
  if (c.fault == Fault2::RemoveEngineFile) site.registerEngine(dir.file("libvrzelcal-old.so"));
  if (c.fault == Fault2::MissingFile) source.setOption("Database", dir.file("gone.db"));
  if (c.fault == Fault2::UnregisteredDriver) {
    dir.write("odbc.ini", "[WINZELRW]\nDriver = NoSuchDriver\nDatabase = " + source.database() + "\n");
    dir.write("odbcinst.ini", "");
  }
  testenv::ScopedEnv ini("ODBCINI", c.fault == Fault2::UnregisteredDriver ? dir.file("odbc.ini").c_str()
                                                                          : source.odbcIni().c_str());
  testenv::ScopedEnv sys("ODBCSYSINI", c.fault == Fault2::UnregisteredDriver ? dir.path().c_str()
                                                                             : std::getenv("ODBCSYSINI"));
  const std::string company = std::to_string(c.company);
  const std::string tpl = dir.write("t.txt", "@row\n{ZelFYEnd(" + company + ", 0, $day)} {ZelNum(6, 0, $n)}\n");
  const std::string csv = dir.write("rows.csv", "day,n\n2024-03-01,1\n2024-06-01,2\n2024-09-01,3\n");
  for (bool report : {true, false}) {
    SCOPED_TRACE(report ? "report" : "calls");
    sitetest::Outcome o =
        report ? site.ufhost({"--report", tpl, "--rows", csv})
               : site.ufhost({"ZelFYEnd(" + company + ", 0, 2024-03-01)", "ZelFYEnd(" + company + ", 0, 2024-09-01)"});
    EXPECT_EQ(o.code, c.code) << o.out << o.err;
    EXPECT_EQ(sitetest::count(o.out, "\n"), report ? 3u : 2u) << "every row is written: " << o.out;
    const size_t summaries = sitetest::count(o.err, "fiscal-year calls gave no date");
    if (*c.cause == '\0') {
      EXPECT_EQ(summaries, 0u) << o.err;
      continue;
    }
    EXPECT_EQ(summaries, 1u) << o.err;
    EXPECT_TRUE(contains(o.err, report ? "ufhost: 3 of 3 fiscal-year calls gave no date"
                                       : "ufhost: 2 of 2 fiscal-year calls gave no date"))
        << o.err;
    EXPECT_TRUE(contains(o.err, "; first cause: ")) << o.err;
    EXPECT_TRUE(contains(o.err, c.cause)) << o.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReportSetup,
    ::testing::Values(
        ReportCase{"healthy", Backend::SQLite, Fault2::None, 1, 0, ""},
        ReportCase{"NoCalendarIsAPlainNoDate", Backend::SQLite, Fault2::None, 99, 0, ""},
        ReportCase{"EngineUnregistered", Backend::SQLite, Fault2::Unregister, 1, 7,
                   "the calendar engine is not registered"},
        ReportCase{"EngineFileGone", Backend::SQLite, Fault2::RemoveEngineFile, 1, 7,
                   "libvrzelcal-old.so, which does not exist"},
        ReportCase{"DataSourceUndefined", Backend::SQLite, Fault2::Undefined, 1, 7, "WINZELRW is not defined"},
        ReportCase{"DriverNotRegistered", Backend::SQLite, Fault2::UnregisteredDriver, 1, 7,
                   "WINZELRW names the driver \"NoSuchDriver\", which is not registered"},
        ReportCase{"SQLiteFileMissing", Backend::SQLite, Fault2::MissingFile, 1, 7, "gone.db does not exist"},
        ReportCase{"PostgresHealthy", Backend::PostgreSQL, Fault2::None, 1, 0, ""},
        ReportCase{"PostgresWrongPassword", Backend::PostgreSQL, Fault2::WrongPassword, 1, 7,
                   "the server refused WINZEL's password"}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.what); });

TEST(ReportSetupVerdict, BoxesOrASetupFaultFailAPlainNoDateDoesNot) {
  const std::string box = "SQL Error\nSQLConnect (openHDBC)\n[53300][Native:  0]\nsorry, too many clients already\n\n";
  const std::string refusal = "WINZELRW Password\nthe password file is readable by others\n\n";
  const site::Diagnosis engineGone{"the calendar engine is not registered", "register it"};
  struct Case {
    ufhost::FiscalTally tally;
    std::string text;
    site::Diagnosis fault;
    bool faultAsked;
    const char* summary;  // "" when the report did not fail
  } cases[] = {
      {{4, 0}, "", {}, false, ""},
      {{4, 2}, "", {}, true, ""},
      {{4, 4}, "", engineGone, true, "4 of 4 fiscal-year calls gave no date; first cause: the calendar engine"},
      {{4, 0}, "", engineGone, false, ""},  // every call gave a date: nothing to look into
      {{3, 3}, "noise\n" + box, {}, false, "showed 1 \"SQL Error\" box; first cause: the database server is full"},
      {{3, 3}, refusal, {}, false, "first cause: the library refused the site password file"},
      {{0, 0}, box + box, {}, false, "0 of 0 fiscal-year calls gave no date, the library showed 2 \"SQL Error\" boxes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.summary);
    bool asked = false;
    ufhost::SetupVerdict v = ufhost::judgeSetup(c.tally, c.text, site::SourceSetting(), [&] {
      asked = true;
      return c.fault;
    });
    EXPECT_EQ(asked, c.faultAsked);
    EXPECT_EQ(v.failed, *c.summary != '\0');
    EXPECT_TRUE(contains(v.summary, c.summary)) << v.summary;
  }
}

// Only ZelFYEnd's answers count, whatever its case; a failed call is counted
// elsewhere, a date is no "no date".
TEST(ReportSetupVerdict, OnlyZelFYEndsAnswersCount) {
  struct Case {
    const char* name;
    ufhost::CallStatus status;
    int32_t day;
    long calls, noDate;
  } cases[] = {
      {"ZelFYEnd", ufhost::CallStatus::Ok, ufhost::kNoDate, 1, 1},
      {"zelfyend", ufhost::CallStatus::Ok, 738000, 1, 0},
      {"ZELFYEND", ufhost::CallStatus::Ok, ufhost::kNoDate, 1, 1},
      {"ZelFYEnd", ufhost::CallStatus::FunctionError, ufhost::kNoDate, 0, 0},
      {"ZelCalYEnd", ufhost::CallStatus::Ok, ufhost::kNoDate, 0, 0},
      {"ZelFYEn", ufhost::CallStatus::Ok, ufhost::kNoDate, 0, 0},
      {"ZelFYEndX", ufhost::CallStatus::Ok, ufhost::kNoDate, 0, 0},
  };
  for (const Case& c : cases) {
    ufhost::FunctionInfo fn;
    fn.signature.name = c.name;
    ufhost::CallResult r;
    r.status = c.status;
    r.value = ufhost::Value::makeDate(c.day);
    ufhost::FiscalTally tally;
    if (ufhost::FiscalTally::counts(fn)) tally.add(r);
    EXPECT_EQ(tally.calls, c.calls) << c.name;
    EXPECT_EQ(tally.noDate, c.noDate) << c.name;
  }
}

// Each cause with its advice, in the terms of each layout.
TEST(SiteAdvice, AdviceFollowsTheCause) {
  site::Layout build;
  build.kind = site::Layout::BuildTree;
  build.dbScripts = "/src/db";
  build.dsnScript = "bash /src/scripts/odbc-dsn.sh";
  build.engineFile = "/build/engine/libvrzelcal.so";
  build.registerEngine = "/build/com/regsvr /build/engine/libvrzelcal.so";
  site::Layout installed = build;
  installed.kind = site::Layout::Installed;
  installed.dbScripts = "/usr/share/u2lvost/db";
  installed.dsnScript = "/usr/share/u2lvost/scripts/odbc-dsn.sh";
  installed.engineFile = "/usr/lib/x86_64-linux-gnu/u2lvost/libvrzelcal.so.1";
  installed.registerEngine = "dpkg-reconfigure u2lvost (as root)";
  site::Layout windows;
  windows.kind = site::Layout::Windows;
  windows.dbScripts = "C:\\u2lvost\\db";
  windows.dsnScript = "C:\\u2lvost\\winzelrw.cmd";
  windows.passwordFolderScript = "C:\\u2lvost\\site-folder.cmd";
  windows.engineFile = "C:\\u2lvost\\vrzelcal.dll";
  windows.registerEngine = "repair the installation as an administrator (msiexec /i u2lvost-1.1.0-win32.msi ...)";

  site::SourceSetting pg;
  pg.driverEntry = "PostgreSQL Unicode";
  pg.database = "company";
  site::SourceSetting sqlite;
  sqlite.driverEntry = "SQLite3";
  sqlite.database = "/srv/company.db";
  sqlite.sqlite = true;
  site::SourceSetting sqliteLocked = sqlite;
  sqliteLocked.file = {true, false, "mode 0600, owner root, group root; this account is report"};
  site::SourceSetting sqliteGone = sqlite;
  site::SourceSetting sqliteFine = sqlite;
  sqliteFine.file = {true, true, "mode 0660"};

  using Box = ufhost::SqlErrorBox;
  const Box connect{"SQLConnect (openHDBC)", "", ""};
  auto at = [&](const char* state, const char* message) { return Box{connect.call, state, message}; };
  struct Case {
    const char* what;
    std::vector<Box> boxes;
    site::SourceSetting setting;
    const site::Layout* layout;
    std::vector<std::string> advice;  // parts of the advice
    std::vector<std::string> never;   // misleading parts it must not have
  } cases[] = {
      {"server full", {at("53300", "FATAL: sorry, too many clients already")}, pg, &build,
       {"pooler", "max_connections"}, {"Servername"}},
      {"database missing", {at("3D000", "FATAL: database \"compnay\" does not exist")}, pg, &build,
       {"correct Database"}, {"password"}},
      {"pg_hba names only the company database",
       {at("28000", "FATAL: no pg_hba.conf entry for host \"127.0.0.1\", user \"WINZEL\", database \"compnay\"")},
       pg, &installed, {"check the database name first", "\"compnay\"", "/usr/share/u2lvost/db/pg_role.sh compnay"},
       {"--reset-password"}},
      {"wrong password", {at("28P01", "FATAL: password authentication failed for user \"WINZEL\"")}, pg, &installed,
       {"check the database name first: Database in odbc.ini says \"company\"",
        "/usr/share/u2lvost/db/pg_role.sh company --reset-password"}, {"/src/"}},
      {"wrong password, build tree", {at("28P01", "password authentication failed")}, pg, &build,
       {"/src/db/pg_role.sh"}, {"/usr/share"}},
      {"driver not registered",
       {at("IM002", "[unixODBC][Driver Manager]Data source name not found and no default driver specified")},
       site::SourceSetting{"SQLite3", "/srv/company.db", true, {}}, &installed,
       {"libsqliteodbc", "odbcinst -q -d"}, {"define WINZELRW"}},
      {"driver not registered on Windows", {at("IM002", "Data source name not found")}, pg, &windows,
       {"32-bit psqlODBC", "ODBC administrator"}, {"Debian", "apt-get"}},
      {"data source undefined", {at("IM002", "Data source name not found")}, site::SourceSetting(), &installed,
       {"/usr/share/u2lvost/scripts/odbc-dsn.sh install"}, {"driver"}},
      {"data source undefined on Windows", {at("IM002", "Data source name not found")}, site::SourceSetting(),
       &windows, {"C:\\u2lvost\\winzelrw.cmd", "SysWOW64\\odbcad32.exe"}, {"odbc-dsn.sh", "install.cmd"}},
      {"driver file missing", {at("01000", "[unixODBC][Driver Manager]Can't open lib '/nowhere/libgone.so' : file not found")},
       site::SourceSetting{"PG", "company", false, {}}, &installed, {"/nowhere/libgone.so"}, {"messages below"}},
      {"SQLite file missing", {at("S1000", "[unixODBC][SQLite]connect failed")}, sqliteGone, &build,
       {"/srv/company.db does not exist"}, {"cannot be opened"}},
      {"SQLite file unreadable", {at("S1000", "[unixODBC][SQLite]connect failed")}, sqliteLocked, &build,
       {"exists but cannot be opened", "mode 0600, owner root"}, {"does not exist"}},
      {"table missing", {Box{"SQLExecDirect (prepareHSTMT)", "42P01", "relation \"book\" does not exist"}}, pg,
       &installed, {"/usr/share/u2lvost/db/schema.sql"}, {"correct Database"}},
      {"server down", {at("08001", "could not connect to server: Connection refused")}, pg, &build,
       {"check Servername and Port"}, {"password"}},
      {"an unknown fault still points somewhere", {Box{"SQLFetch (nextRow)", "HY000", "disk I/O error"}},
       sqliteFine, &build, {"the driver's message is all that is known"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    site::Diagnosis d = site::diagnoseBoxes(c.boxes, c.setting, *c.layout);
    EXPECT_FALSE(d.cause.empty());
    EXPECT_EQ(d.generic, c.advice.front() == "the driver's message is all that is known");
    for (const std::string& part : c.advice) EXPECT_TRUE(contains(d.advice, part)) << d.advice;
    for (const std::string& part : c.never) EXPECT_FALSE(contains(d.advice, part)) << d.advice;
  }
  EXPECT_TRUE(site::diagnoseBoxes({}, pg, build).advice.empty());
  // The engine's advice names the layout's own file and way to register.
  EXPECT_TRUE(contains(site::engineNotRegistered("x", installed).advice, "dpkg-reconfigure u2lvost"));
  EXPECT_TRUE(contains(site::engineFileMissing("/old.so", installed).advice,
                       "/usr/lib/x86_64-linux-gnu/u2lvost/libvrzelcal.so.1"));
  EXPECT_TRUE(contains(site::engineNotRegistered("x", windows).advice, "msiexec"));
  EXPECT_FALSE(contains(site::engineNotRegistered("x", windows).advice, "install.cmd"));
  // A refused site password file: each platform's own rule.
  const struct {
    const site::Layout* layout;
    std::vector<std::string> advice, never;
  } refusals[] = {
      {&installed, {"mode 0640 or 0600", "owned by root"}, {"ProgramData", "site-folder.cmd"}},
      {&windows, {"%ProgramData%\\u2lvost", "Administrators and SYSTEM", "C:\\u2lvost\\site-folder.cmd"}, {"0640", "root"}},
  };
  for (const auto& r : refusals) {
    const std::string advice = site::passwordFileRefused(*r.layout).advice;
    for (const std::string& part : r.advice) EXPECT_TRUE(contains(advice, part)) << advice;
    for (const std::string& part : r.never) EXPECT_FALSE(contains(advice, part)) << advice;
  }
}

}  // namespace

namespace {

// A date column keeps its width when a book has no fiscal year.
TEST(ReportNoDate, TakesTheWidthOfADate) {
  DataSource source(Backend::SQLite, Schema::V4);
  sitetest::Site site;
  testenv::TempDir dir;
  const std::string tpl = dir.write("t.txt", "@row\n{ZelFYEnd(99, 0, $day)}|{ZelFYEnd(1, 0, $day)}|\n");
  const std::string csv = dir.write("rows.csv", "day\n2024-03-01\n");
  sitetest::Outcome o = site.ufhost({"--report", tpl, "--rows", csv});
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "(no date) |2024-12-31|\n");
}

}  // namespace

namespace {

// Where results and messages go to one file, the watch on the library's boxes
// keeps them in the order they were written: calls' results and messages, and
// a report whose first 64 KB block goes out before the box and whose rows,
// made after it, follow it.
TEST(ReportSetupWatch, ResultsAndMessagesKeepTheirOrderInOneFile) {
  DataSource source(Backend::SQLite, Schema::V4);
  sitetest::Site site;
  testenv::TempDir dir;
  source.setOption("Database", dir.file("gone.db"));
  testenv::ScopedEnv reg("U2LVOST_COM_REGISTRY", site.registry().c_str());
  testenv::ScopedEnv noSystemFile("U2LVOST_COM_SYSTEM_REGISTRY", "");
  const std::string ufhost = sitetest::shellQuote(UFHOST_PROGRAM) + " " + sitetest::shellQuote(U2LVOST_LIBRARY);
  std::string calls = ufhost;
  for (const char* call : {"ZelNum(10, 2)", "ZelFYEnd(1, 0, 2024-03-01)", "ZelNum(5, 0, \"1\")", "ZelSplitHdr(8, 1)"})
    calls += " --no-check " + sitetest::shellQuote(call);
  std::string tpl = "@header\n", csv = "n,day\n";
  for (int i = 0; i < 2000; ++i) tpl += "header line " + std::to_string(i) + ": " + std::string(40, '-') + "\n";
  tpl += "@row\n{ZelNum(6, 0, $n)} {ZelFYEnd(1, 0, $day)}\n";
  for (int i = 1; i <= 3; ++i) csv += std::to_string(i) + ",2024-03-01\n";
  const std::string report = ufhost + " --report " + sitetest::shellQuote(dir.write("t.txt", tpl)) + " --rows " +
                             sitetest::shellQuote(dir.write("rows.csv", csv));
  const struct Case {
    std::string command;
    std::vector<std::string> inOrder;
  } cases[] = {
      {calls,
       {"#ERROR\nufhost: ZelNum(10, 2): ZelNum answered UFNotEnoughParameters (6)\n",
        "SQL Error\nSQLConnect (openHDBC)\n", "\n\n(no date)\n    1\n#ERROR\nufhost: ZelSplitHdr(8, 1): ",
        "ufhost: 1 of 1 fiscal-year calls gave no date, the library showed 1 \"SQL Error\" box; first cause: "}},
      {report,
       {"header line 0: ", "SQL Error\nSQLConnect (openHDBC)\n",
        "     1 (no date) \n     2 (no date) \n     3 (no date) \n", "ufhost: 3 of 3 fiscal-year calls gave no date"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command.substr(0, 200));
    sitetest::Outcome o = sitetest::runCommand(dir, "{ " + c.command + " 2>&1; }");
    EXPECT_EQ(o.code, 7);
    EXPECT_EQ(o.err, "");
    size_t at = 0;
    for (const std::string& part : c.inOrder) {
      const size_t found = o.out.find(part, at);
      ASSERT_NE(found, std::string::npos) << part << "\nafter " << at << " in\n" << o.out.substr(at, 2000);
      at = found + part.size();
    }
  }
}

}  // namespace
