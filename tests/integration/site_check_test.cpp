// ufhost --check against a healthy set-up and against each broken link a
// fiscal-year end needs: what each check line says, what it advises, the exit code.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <sstream>

#include "odbc_env.h"
#include "site_check.h"
#include "site_run.h"

namespace {

using sitetest::contains;
using testenv::Backend;
using testenv::DataSource;
using testenv::Fault;
using testenv::Schema;

const char* const kChecks[] = {"library",        "COM",          "engine registered", "engine loads",
                               "data source",    "fiscal-year end", "schema version"};

// check name -> "ok", "FAIL" or "--"; every line of the report in its order.
std::map<std::string, std::string> marks(const std::string& out, std::vector<std::string>& order) {
  std::map<std::string, std::string> m;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 8 || line[0] == ' ') continue;
    std::string mark = line.substr(0, 4);
    while (!mark.empty() && mark.back() == ' ') mark.pop_back();
    for (const char* c : kChecks)
      if (line.compare(6, std::string(c).size() + 1, std::string(c) + " ") == 0) {
        m[c] = mark;
        order.push_back(c);
      }
  }
  return m;
}

std::string thisYear() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return std::to_string(tm.tm_year + 1900);
}

enum class Break { Nothing, Unregister, RemoveEngineFile, DropBookTable, MissingDatabaseFile };

struct Case {
  const char* what;
  Backend backend;
  Fault fault;
  Break broken;
  int code;
  // Expected marks of the seven checks, in kChecks order.
  std::vector<const char*> expect;
  std::vector<std::string> says;  // parts of standard output
};

class SiteCheck : public ::testing::TestWithParam<Case> {};

TEST_P(SiteCheck, EachLinkIsCheckedAndExplained) {
  const Case& c = GetParam();
  DataSource source(c.backend, Schema::V4, c.fault);
  sitetest::Site site;
  testenv::TempDir spare;
  if (c.broken == Break::Unregister) site.unregisterEngine();
  if (c.broken == Break::RemoveEngineFile) {
    const std::string copy = spare.file("libvrzelcal-old.so");
    site.registerEngine(copy);  // registered, then the file went away
  }
  if (c.broken == Break::DropBookTable) source.exec("DROP TABLE Book");
  if (c.broken == Break::MissingDatabaseFile) source.setOption("Database", spare.file("gone.db"));

  sitetest::Outcome o = site.ufhost({"--check"});
  SCOPED_TRACE(o.out + o.err);
  EXPECT_EQ(o.code, c.code);
  std::vector<std::string> order;
  std::map<std::string, std::string> got = marks(o.out, order);
  ASSERT_EQ(order.size(), 7u);
  for (size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(order[i], kChecks[i]);  // one line per check, in order
    EXPECT_EQ(got[kChecks[i]], c.expect[i]) << kChecks[i];
  }
  for (const std::string& part : c.says) EXPECT_TRUE(contains(o.out, part)) << part;
  // A failure always says what to do; a clean run has nothing to do.
  EXPECT_EQ(contains(o.out, "what to do:"), c.code != 0);
  // The library's boxes are shown under their check, not left on standard error.
  EXPECT_FALSE(contains(o.err, "SQL Error"));
}

const std::string kYearEnd = " = " + thisYear() + "-12-31";

INSTANTIATE_TEST_SUITE_P(
    Links, SiteCheck,
    ::testing::Values(
        Case{"healthy SQLite",
             Backend::SQLite, Fault::None, Break::Nothing, 0,
             {"ok", "ok", "ok", "ok", "ok", "ok", "ok"},
             {"tables sound, ZelFYEnd present", "line 3: " VRZELCAL_LIBRARY, "libsqlite3odbc.so",
              "ZelFYEnd(1, 0, " + thisYear() + "-", kYearEnd, "4.1 (calendars built from the books)"}},
        Case{"healthy PostgreSQL: the version needs the library's login",
             Backend::PostgreSQL, Fault::None, Break::Nothing, 0,
             {"ok", "ok", "ok", "ok", "ok", "ok", "--"},
             {"psqlodbcw.so", kYearEnd, "wants the library's password, which this check never uses"}},
        Case{"engine unregistered",
             Backend::SQLite, Fault::None, Break::Unregister, 1,
             {"ok", "ok", "FAIL", "--", "ok", "FAIL", "ok"},
             {"not registered (looked in ", "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}", "register the calendar engine " VRZELCAL_LIBRARY,
              "not tried: the engine is not registered", "mend the engine checks above first"}},
        Case{"engine file removed",
             Backend::SQLite, Fault::None, Break::RemoveEngineFile, 1,
             {"ok", "ok", "FAIL", "--", "ok", "FAIL", "ok"},
             {"the registered file does not exist", "libvrzelcal-old.so", "classes.reg line 2: ", "register the engine's real file " VRZELCAL_LIBRARY}},
        Case{"data source missing",
             Backend::SQLite, Fault::Absent, Break::Nothing, 1,
             {"ok", "ok", "ok", "ok", "FAIL", "FAIL", "--"},
             {"WINZELRW is not defined in ", "SQLConnect (openHDBC) [IM002]", "1 \"SQL Error\" box:",
              "define WINZELRW with bash " U2LVOST_SOURCE_DIR "/scripts/odbc-dsn.sh install"}},
        Case{"login refused on PostgreSQL",
             Backend::PostgreSQL, Fault::WrongPassword, Break::Nothing, 1,
             {"ok", "ok", "ok", "ok", "ok", "FAIL", "--"},
             {"gave no date", "SQLConnect (openHDBC) [", "check the database name first", U2LVOST_SOURCE_DIR "/db/pg_role.sh ", "--reset-password"}},
        Case{"table missing on SQLite",
             Backend::SQLite, Fault::None, Break::DropBookTable, 1,
             {"ok", "ok", "ok", "ok", "ok", "FAIL", "FAIL"},
             {"no such table: Book", "create the six tables from " U2LVOST_SOURCE_DIR "/db/schema.sql", "has no table book"}},
        Case{"database file missing on SQLite: no password would open it",
             Backend::SQLite, Fault::None, Break::MissingDatabaseFile, 1,
             {"ok", "ok", "ok", "ok", "ok", "FAIL", "FAIL"},
             {"SQLConnect (openHDBC) [", "WINZELRW cannot be opened", "gone.db does not exist: correct Database"}},
        Case{"table missing on PostgreSQL",
             Backend::PostgreSQL, Fault::None, Break::DropBookTable, 1,
             {"ok", "ok", "ok", "ok", "ok", "FAIL", "--"},
             {"SQLExecDirect (prepareHSTMT) [42P01]", "create the six tables"}}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name;
      for (const char* p = info.param.what; *p && *p != ':'; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST(SiteCheckCommand, CompanyAndBookAreUsedAsGiven) {
  DataSource source(Backend::SQLite, Schema::V4);
  sitetest::Site site;
  const std::string year = thisYear();
  struct Case {
    std::vector<std::string> args;
    std::string call;
  } cases[] = {
      {{"--check", "3"}, "ZelFYEnd(3, 0, " + year + "-"},
      {{"--check", "3", "1"}, "ZelFYEnd(3, 1, " + year + "-"},
  };
  for (const Case& c : cases) {
    sitetest::Outcome o = site.ufhost(c.args);
    EXPECT_EQ(o.code, 0) << o.out << o.err;
    EXPECT_TRUE(contains(o.out, "ok    fiscal-year end   " + c.call)) << o.out;
  }
}

// The library refuses the site's password file with a box of its own: that box
// is the reason, shown under the check, and no other company is blamed.
TEST(SiteCheckCommand, ARefusedSitePasswordFileIsShownAsTheReason) {
  DataSource source(Backend::SQLite, Schema::V4);
  sitetest::Site site;
  struct Case {
    const char* file;
    const char* content;
    mode_t mode;
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {"readable.password", "site-pass\n", 0644, {"--check"}, "others can read"},
      {"empty.password", "", 0600, {"--check"}, "first line is empty"},
      {"writable.password", "site-pass\n", 0622, {"--check", "2", "1"}, "others can write"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = site.dir().write(c.file, c.content);
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    testenv::ScopedEnv file("U2LVOST_PASSWORD_FILE", path.c_str());
    sitetest::Outcome o = site.ufhost(c.args);
    SCOPED_TRACE(o.out + o.err);
    EXPECT_EQ(o.code, 1);
    std::vector<std::string> order;
    EXPECT_EQ(marks(o.out, order)["fiscal-year end"], "FAIL");
    const size_t at = o.out.find("FAIL  fiscal-year end");
    ASSERT_NE(at, std::string::npos);
    const std::string under = o.out.substr(at, o.out.find("\nok", at) - at);
    for (const std::string& part : {std::string("\"WINZELRW Password\""), path, std::string(c.reason)})
      EXPECT_TRUE(contains(under, part)) << part;
    EXPECT_TRUE(contains(under, "what to do: ") && contains(under, "password file")) << under;
    EXPECT_FALSE(contains(o.out, "no company from")) << "only the first company was tried";
    EXPECT_FALSE(contains(o.out, "site-pass")) << "the password itself is never shown";
    EXPECT_FALSE(contains(o.err, "WINZELRW Password"));
  }
}

TEST(SiteCheckCommand, ALibraryThatDoesNotLoadOrIsNotOursFails) {
  DataSource source(Backend::SQLite, Schema::V4);
  sitetest::Site site;
  struct Case {
    std::string library;
    const char* says;
  } cases[] = {
      {"/no/such/libu2lvost.so", "cannot load /no/such/libu2lvost.so"},
      {UF_FIXTURE_LIBRARY, "function table is not sound"},
  };
  for (const Case& c : cases) {
    sitetest::Outcome o = site.ufhostOn(c.library, {"--check"});
    SCOPED_TRACE(o.out);
    EXPECT_EQ(o.code, 1);
    std::vector<std::string> order;
    std::map<std::string, std::string> got = marks(o.out, order);
    EXPECT_EQ(order.size(), 7u);
    EXPECT_EQ(got["library"], "FAIL");
    EXPECT_EQ(got["fiscal-year end"], "--");
    EXPECT_EQ(got["engine loads"], "ok");  // the other links are still checked
    EXPECT_EQ(got["data source"], "ok");
    EXPECT_TRUE(contains(o.out, c.says));
  }
}

TEST(SiteCheckCommand, WrongArgumentsAreRefused) {
  sitetest::Site site;
  for (std::vector<std::string> args : {std::vector<std::string>{"--check", "x"}, {"--check", "1", "9"},
                                        {"--check", "1", "2", "3"}, {"--check", "-1"}, {"--check", "99999"}}) {
    sitetest::Outcome o = site.ufhost(args);
    EXPECT_EQ(o.code, 2) << args[1];
    EXPECT_TRUE(contains(o.err, "Usage: ufhost [LIBRARY] --check [--json] [COMPANY [BOOK]]")) << o.err;
    EXPECT_EQ(o.out, "");
  }
}

// The data source as a site defines it: by a driver's name from odbcinst.ini.
TEST(SiteCheckCommand, DriverEntriesAreFollowedToTheirFile) {
  testenv::TempDir odbc;
  const std::string db = odbc.file("company.db");
  ASSERT_EQ(std::system(("bash " + sitetest::shellQuote(U2LVOST_SOURCE_DIR "/db/make_sample.sh") + " sqlite 4 " +
                         sitetest::shellQuote(db))
                            .c_str()),
            0);
  const std::string source = "[WINZELRW]\nDatabase = " + db + "\nNoCreat = 1\n";
  struct Case {
    const char* what;
    std::string odbcIni, odbcinstIni;
    const char* mark;
    const char* says;
  } cases[] = {
      {"a registered driver", source + "Driver = SQLite3\n", "[SQLite3]\nDriver = libsqlite3odbc.so\n", "ok",
       "driver \"SQLite3\" (libsqlite3odbc.so) at /"},
      {"an unregistered driver", source + "Driver = NoSuchDriver\n", "[SQLite3]\nDriver = libsqlite3odbc.so\n",
       "FAIL", "uses the driver \"NoSuchDriver\", which is not registered"},
      {"a driver whose file is gone", source + "Driver = SQLite3\n", "[SQLite3]\nDriver = /nowhere/libgone.so\n",
       "FAIL", "the driver's file does not exist"},
  };
  sitetest::Site site;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    odbc.write("odbc.ini", c.odbcIni);
    odbc.write("odbcinst.ini", c.odbcinstIni);
    testenv::ScopedEnv ini("ODBCINI", odbc.file("none.ini").c_str());
    testenv::ScopedEnv sys("ODBCSYSINI", odbc.path().c_str());
    testenv::ScopedEnv search("ODBCSEARCH", nullptr);
    sitetest::Outcome o = site.ufhost({"--check"});
    std::vector<std::string> order;
    EXPECT_EQ(marks(o.out, order)["data source"], c.mark) << o.out;
    EXPECT_TRUE(contains(o.out, c.says)) << o.out;
    EXPECT_TRUE(contains(o.out, "data source       WINZELRW in " + odbc.file("odbc.ini"))) << o.out;
    EXPECT_EQ(o.code, std::string(c.mark) == "ok" ? 0 : 1);
  }
}

TEST(SiteCheckBoxes, BoxesAreReadFromTheLibrarysText) {
  const std::string text =
      "noise before\n"
      "SQL Error\nSQLConnect (openHDBC)\n[28P01][Native:  0]\nFATAL: password authentication failed\nfor user\n\n"
      "SQL Error\nSQLAllocStmt (openHSTMT)\n[08003][Native:  0]\nconnection not open\n\n"
      "SQL Error\ncut short\n";
  std::vector<ufhost::SqlErrorBox> boxes = ufhost::parseSqlErrorBoxes(text);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].call, "SQLConnect (openHDBC)");
  EXPECT_EQ(boxes[0].sqlState, "28P01");
  EXPECT_EQ(boxes[0].message, "FATAL: password authentication failed for user");
  EXPECT_EQ(boxes[1].call, "SQLAllocStmt (openHSTMT)");
  EXPECT_EQ(boxes[1].sqlState, "08003");
  EXPECT_TRUE(ufhost::parseSqlErrorBoxes("").empty());
  EXPECT_TRUE(ufhost::parseSqlErrorBoxes("SQL Error\n").empty());
}

}  // namespace

namespace {

TEST(SiteCheckCommand, HelpNamesTheCheckAndTheCalendar) {
  testenv::TempDir dir;
  sitetest::Outcome o = sitetest::runCommand(dir, sitetest::shellQuote(UFHOST_PROGRAM) + " --help");
  EXPECT_EQ(o.code, 0);
  for (const char* part : {"ufhost [LIBRARY] --check [--json] [COMPANY [BOOK]]", "ufhost [LIBRARY] --calendar COMPANY",
                           "exit 0 only when all pass", "--html FILE"})
    EXPECT_TRUE(contains(o.out, part)) << part;
}

}  // namespace
