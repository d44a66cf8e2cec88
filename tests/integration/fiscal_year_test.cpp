// Fiscal-year ends end to end: the built library loaded by the host harness, the
// real calendar engine reached through CoCreateInstance, the sample company read
// over real ODBC from SQLite and from PostgreSQL (db/README.md describes it).
// Expected dates come from the rules of loaded_library.h, never from the library.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "comtypes.h"
#include "function_library.h"
#include "host_dates.h"
#include "loaded_library.h"
#include "odbc_env.h"
#include "persistCalendar.h"
#include "resolver_access.h"
#include "test_env.h"
#include "test_paths.h"

namespace {

using namespace fytest;

struct Case {
  const char* what;
  double company, book;
  Ymd date, expected;
};

class BuiltCalendars : public ::testing::TestWithParam<Backend> {};
class StoredCalendars : public ::testing::TestWithParam<Backend> {};

// Schema 4: calendars built from Book.OrigYrEnd, the business start and BookShYr.
TEST_P(BuiltCalendars, EachBookAndShortYear) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  const Case cases[] = {
      {"book 0, December", 1, 0, {2024, 3, 15}, {2024, 12, 31}},
      {"book 0, first year after the business start", 1, 0, {1990, 5, 1}, {1990, 12, 31}},
      {"book 0, before the business start: the first cycle's rule", 1, 0, {1985, 6, 1}, {1985, 12, 31}},
      {"book 0, the year-end day itself", 1, 0, {2023, 12, 31}, {2023, 12, 31}},
      {"book 1, June before its short year", 1, 1, {2000, 1, 15}, {2000, 6, 30}},
      {"book 1, inside the short year", 1, 1, {2001, 8, 1}, {2001, 9, 30}},
      {"book 1, after the short year: September", 1, 1, {2001, 10, 1}, {2002, 9, 30}},
      {"book 1, long after", 1, 1, {2024, 3, 15}, {2024, 9, 30}},
      {"book 2, March before any short year", 1, 2, {1997, 5, 1}, {1998, 3, 31}},
      {"book 2, first short year (ShortYrID 1)", 1, 2, {1998, 6, 1}, {1998, 12, 31}},
      {"book 2, December years", 1, 2, {2003, 3, 1}, {2003, 12, 31}},
      {"book 2, second short year (ShortYrID 2)", 1, 2, {2004, 3, 1}, {2004, 6, 30}},
      {"book 2, June years", 1, 2, {2004, 7, 1}, {2005, 6, 30}},
      {"book 3, closed, September", 1, 3, {2024, 3, 15}, {2024, 9, 30}},
      {"book 4, no Book row: December", 1, 4, {2024, 3, 15}, {2024, 12, 31}},
      {"book 5 shares book 4's calendar", 1, 5, {2024, 3, 15}, {2024, 12, 31}},
      {"book 6 reads database book 5: January", 1, 6, {2024, 3, 15}, {2025, 1, 31}},
      {"book 7 reads database book 6: November", 1, 7, {2024, 3, 15}, {2024, 11, 30}},
      {"book 8 matches nothing: the last calendar answers", 1, 8, {2024, 3, 15}, {2024, 11, 30}},
      {"book 9 has no slot", 1, 9, {2024, 3, 15}, kNone},
      {"book -1 has no slot", 1, -1, {2024, 3, 15}, kNone},
      {"company 2, fallback start, June", 2, 0, {2024, 3, 15}, {2024, 6, 30}},
      {"company 3, fallback start, December", 3, 0, {1920, 6, 1}, {1920, 12, 31}},
      {"company 4, NULL business start", 4, 0, {2024, 8, 1}, {2025, 6, 30}},
      {"company 9, no data at all: no date, not December defaults", 9, 0, {2024, 3, 15}, kNone},
      {"back to company 1 after others", 1, 1, {2001, 8, 1}, {2001, 9, 30}},
      {"fractional arguments truncate: 1.9 and 2.7", 1.9, 2.7, {2004, 3, 1}, {2004, 6, 30}},
  };
  for (const Case& c : cases) EXPECT_EQ(lib.fyEnd(c.company, c.book, c.date), c.expected) << c.what;
}

TEST_P(BuiltCalendars, ShortYearsApplyInShortYrIDOrder) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  // Swapped: 30 June 2004 first (its March year becomes 1 April to 30 June 2004),
  // then 31 December 1998 (December years from 1 April 1998, up to 31 March 2004).
  lib.source().exec(
      "UPDATE BookShYr SET ShortYrID = 3 WHERE CompanyID = 1 AND BookID = 2 AND ShortYrID = 1;"
      "UPDATE BookShYr SET ShortYrID = 1 WHERE CompanyID = 1 AND BookID = 2 AND ShortYrID = 2;"
      "UPDATE BookShYr SET ShortYrID = 2 WHERE CompanyID = 1 AND BookID = 2 AND ShortYrID = 3;");
  EXPECT_EQ(lib.fyEnd(1, 2, {2004, 3, 1}), (Ymd{2004, 3, 31}));
  EXPECT_EQ(lib.fyEnd(1, 2, {2004, 5, 1}), (Ymd{2004, 6, 30}));
  EXPECT_EQ(lib.fyEnd(1, 2, {1998, 6, 1}), (Ymd{1998, 12, 31}));
}

TEST_P(BuiltCalendars, ABookWithoutAYearEndMonthSpoilsOnlyItself) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  // NULL reads as month 0: that book has no usable rule; the books after it still do.
  lib.source().exec("UPDATE Book SET OrigYrEnd = NULL WHERE CompanyID = 1 AND BookID = 2");
  EXPECT_EQ(lib.fyEnd(1, 2, {1997, 5, 1}), kNone);
  EXPECT_EQ(lib.fyEnd(1, 1, {2024, 3, 15}), (Ymd{2024, 9, 30}));
  EXPECT_EQ(lib.fyEnd(1, 3, {2024, 3, 15}), (Ymd{2024, 9, 30}));
  EXPECT_EQ(lib.fyEnd(1, 6, {2024, 3, 15}), (Ymd{2025, 1, 31}));
  EXPECT_EQ(lib.fyEnd(1, 7, {2024, 3, 15}), (Ymd{2024, 11, 30}));
}

TEST_P(BuiltCalendars, CalendarYearEndIgnoresTheBooks) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  EXPECT_EQ(lib.calEnd(1, 1, {2001, 8, 1}), (Ymd{2001, 12, 31}));
  EXPECT_EQ(lib.calEnd(7, 3, {2024, 2, 29}), (Ymd{2024, 12, 31}));
}

// Schema 5: stored calendars and cycles; each book names its calendar.
TEST_P(StoredCalendars, EachBookAndCycleType) {
  LoadedLibrary lib(GetParam(), Schema::V5);
  const int kSunday = 0, kWednesday = 3, kFriday = 5, kSaturday = 6;
  const Case cases[] = {
      {"calendar 11, December cycle", 1, 0, {2004, 5, 1}, {2004, 12, 31}},
      {"calendar 11, the short year of the June cycle", 1, 0, {2005, 3, 1}, {2005, 6, 30}},
      {"calendar 11, June years", 1, 0, {2005, 8, 1}, {2006, 6, 30}},
      {"calendar 12, 4-4-5 last Saturday of January", 1, 1, {2024, 3, 15}, lastWeekdayOf(2025, 1, kSaturday)},
      {"calendar 12, before this year's end", 1, 1, {2024, 1, 20}, lastWeekdayOf(2024, 1, kSaturday)},
      {"calendar 12, the day after a year end", 1, 1,
       addDays(lastWeekdayOf(2024, 1, kSaturday), 1), lastWeekdayOf(2025, 1, kSaturday)},
      {"calendar 13, 5-4-4 Sunday closest to 30 September", 1, 2, {2024, 3, 15},
       closestWeekdayTo(2024, 9, kSunday)},
      {"calendar 13, the year ending in October", 1, 2, {2000, 10, 1}, closestWeekdayTo(2000, 9, kSunday)},
      {"calendar 14, thirteen periods, Friday closest to 31 March", 1, 3, {2024, 3, 15},
       closestWeekdayTo(2024, 3, kFriday)},
      {"calendar 14, after that year end", 1, 3, addDays(closestWeekdayTo(2024, 3, kFriday), 1),
       closestWeekdayTo(2025, 3, kFriday)},
      {"calendar 15, December cycle", 1, 4, {2009, 6, 1}, {2009, 12, 31}},
      {"calendar 15, the custom year", 1, 4, {2010, 5, 1}, {2010, 8, 31}},
      {"calendar 15, August years", 1, 4, {2010, 10, 1}, {2011, 8, 31}},
      {"book 5 reads BookID 4: calendar 15", 1, 5, {2010, 5, 1}, {2010, 8, 31}},
      {"book 6 reads BookID 5: calendar 16 has no cycles", 1, 6, {2024, 3, 15}, kNone},
      {"book 7 reads BookID 6: calendar 17, last Wednesday of June", 1, 7, {2024, 3, 15},
       lastWeekdayOf(2024, 6, kWednesday)},
      {"book 8: NULL CalendarID, the last calendar answers", 1, 8, {2024, 3, 15},
       lastWeekdayOf(2024, 6, kWednesday)},
      {"book 9 has no slot", 1, 9, {2024, 3, 15}, kNone},
      {"company 2 has no stored calendars", 2, 0, {2024, 3, 15}, kNone},
  };
  for (const Case& c : cases) EXPECT_EQ(lib.fyEnd(c.company, c.book, c.date), c.expected) << c.what;
}

TEST_P(StoredCalendars, NullCalendarIdIsAskedForAgain) {
  LoadedLibrary lib(GetParam(), Schema::V5);
  EXPECT_EQ(lib.fyEnd(1, 8, {2024, 3, 15}), lastWeekdayOf(2024, 6, 3));
  lib.source().exec("UPDATE Book SET CalendarID = 11 WHERE CompanyID = 1 AND BookID = 7");
  EXPECT_EQ(lib.fyEnd(1, 8, {2024, 3, 15}), (Ymd{2024, 6, 30}));
}

TEST_P(StoredCalendars, SlotsBelongToTheCompanyLoaded) {
  LoadedLibrary lib(GetParam(), Schema::V5);
  lib.source().exec(
      "INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (2, 21, 'Second', 0);"
      "INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (2, 22, 'Other', 0);"
      "INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek,"
      " PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)"
      " VALUES (2, 21, 1, '1995-07-01 00:00:00', NULL, 327, 1, 334, 336, 6, 0, 0);"
      "INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek,"
      " PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag)"
      " VALUES (2, 22, 1, '1995-07-01 00:00:00', NULL, 327, 1, 334, 336, 3, 0, 0);");
  // Company 1's book 0 is calendar 11; company 2's book 0 is calendar 21 (June).
  // Were company 1's identifier kept, no calendar of company 2 would match and
  // the last one (March) would answer.
  EXPECT_EQ(lib.fyEnd(1, 0, {2004, 5, 1}), (Ymd{2004, 12, 31}));
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}), (Ymd{2024, 6, 30}));
  EXPECT_EQ(lib.fyEnd(1, 0, {2004, 5, 1}), (Ymd{2004, 12, 31}));
}

TEST_P(StoredCalendars, NegativeCompanyKeepsTheLoadedCalendars) {
  LoadedLibrary lib(GetParam(), Schema::V5);
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 0, {2004, 5, 1}), (Ymd{2004, 12, 31}));
  // A negative company answers nothing, never with the loaded company's calendars...
  EXPECT_EQ(lib.fyEnd(-3, 0, {2004, 5, 1}), kNone);
  // ...which stay loaded for it.
  EXPECT_EQ(lib.fyEnd(1, 0, {2004, 5, 1}), (Ymd{2004, 12, 31}));
}

TEST_P(BuiltCalendars, NegativeCompanyFirstHasNoCalendars) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  EXPECT_EQ(lib.fyEnd(-1, 0, {2024, 3, 15}), kNone);
  EXPECT_EQ(lib.fyEnd(1, 0, {2024, 3, 15}), (Ymd{2024, 12, 31}));
}

INSTANTIATE_TEST_SUITE_P(Databases, BuiltCalendars, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return std::string(testenv::backendName(info.param)); });
INSTANTIATE_TEST_SUITE_P(Databases, StoredCalendars, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return std::string(testenv::backendName(info.param)); });

// A fresh ufhost process evaluating calls with the driver manager's own trace
// on (the driver manager reads that setting once per process). Gives the results
// and the statements executed, in order.
struct TracedRun {
  std::vector<std::string> results, statements;
};

TracedRun runTraced(const DataSource& source, const std::vector<std::string>& calls) {
  testenv::TempDir dir;
  const std::string trace = dir.file("trace.log");
  dir.write("odbcinst.ini", "[ODBC]\nTrace = Yes\nTraceFile = " + trace + "\n");
  std::string callText;
  for (const auto& c : calls) callText += c + "\n";
  const std::string callFile = dir.write("calls.txt", callText);
  const std::string command = "ODBCSYSINI='" + dir.path() + "' ODBCINI='" + source.odbcIni() + "' '" +
                              UFHOST_PROGRAM + "' '" + U2LVOST_LIBRARY + "' --file '" + callFile + "' 2>&1";
  TracedRun run;
  FILE* p = popen(command.c_str(), "r");
  if (!p) throw std::runtime_error("cannot run ufhost");
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::string l(line);
    if (!l.empty() && l.back() == '\n') l.pop_back();
    run.results.push_back(l);
  }
  if (pclose(p) != 0) throw std::runtime_error("ufhost failed");
  std::ifstream in(trace);
  const std::string marker = "SQL = [";
  while (std::getline(in, callText)) {
    auto at = callText.find(marker);
    if (at != std::string::npos) run.statements.push_back(callText.substr(at + marker.size()));
  }
  return run;
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

TEST_P(BuiltCalendars, WarmCallsRunNoStatement) {
  EngineRegistry registry;
  DataSource source(GetParam(), Schema::V4);
  // Cold: the version, the business start, and per book its year end and short years.
  TracedRun cold = runTraced(source, {"ZelFYEnd(1, 1, 2001-08-01)"});
  ASSERT_EQ(cold.results, std::vector<std::string>{"2001-09-30"});
  ASSERT_EQ(cold.statements.size(), 1u + 1u + 7u * 2u);
  EXPECT_TRUE(startsWith(cold.statements[0], "SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0]"));
  EXPECT_TRUE(startsWith(cold.statements[1], "Select BusnStart from Company where CompanyID=1]"));
  EXPECT_TRUE(startsWith(cold.statements[2], "SELECT OrigYrEnd from Book where BookID = 0 AND CompanyID = 1]"));
  EXPECT_TRUE(startsWith(cold.statements[3],
                         "SELECT ShortYear FROM BookShYr WHERE CompanyID = 1 AND BookID = 0 ORDER BY ShortYrID]"));
  // Warm: every book and many dates of the loaded company, not one statement more.
  std::vector<std::string> calls = {"ZelFYEnd(1, 1, 2001-08-01)"};
  for (int book = 0; book <= 8; ++book)
    for (int year = 1995; year <= 2030; year += 5)
      calls.push_back("ZelFYEnd(1, " + std::to_string(book) + ", " + std::to_string(year) + "-06-15)");
  TracedRun warm = runTraced(source, calls);
  EXPECT_EQ(warm.results.size(), calls.size());
  EXPECT_EQ(warm.statements, cold.statements);
}

TEST_P(StoredCalendars, WarmCallsRunNoStatement) {
  EngineRegistry registry;
  DataSource source(GetParam(), Schema::V5);
  // Version, the calendars, each calendar's cycles, then book 0's calendar identifier.
  TracedRun cold = runTraced(source, {"ZelFYEnd(1, 0, 2004-05-01)"});
  ASSERT_EQ(cold.results, std::vector<std::string>{"2004-12-31"});
  ASSERT_EQ(cold.statements.size(), 1u + 1u + 7u + 1u);
  EXPECT_TRUE(startsWith(cold.statements.back(), "SELECT CalendarID FROM Book WHERE CompanyID = 1 AND BookID = 0]"));
  std::vector<std::string> calls = {"ZelFYEnd(1, 0, 2004-05-01)"};
  for (int year = 1995; year <= 2030; year += 5) calls.push_back("ZelFYEnd(1, 0, " + std::to_string(year) + "-06-15)");
  EXPECT_EQ(runTraced(source, calls).statements, cold.statements);
  // A book seen for the first time asks for its identifier once, then never again.
  calls.push_back("ZelFYEnd(1, 7, 2024-03-15)");
  calls.push_back("ZelFYEnd(1, 7, 2025-03-15)");
  EXPECT_EQ(runTraced(source, calls).statements.size(), cold.statements.size() + 1);
}

// The resolver itself: once the company is loaded, answers need no new engine
// object but the fiscal year the engine hands back. Without its factory, and with
// no class creatable at all, it still answers.
TEST(FiscalYearWarm, AnswersWithoutCreatingCalendarsOrCollections) {
  EngineRegistry registry;
  DataSource source(Backend::SQLite, Schema::V5);
  auto serial = [](Ymd v) { return static_cast<DATE>(ufhost::dayNumberFromCivil(v.y, v.m, v.d) - 2415018); };
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  {
    CPersistCalendar resolver;
    EXPECT_EQ(resolver.getFiscalYearEndInMonths(1, 0, 2004, 5, 1), serial({2004, 12, 31}));
    EXPECT_EQ(resolver.getFiscalYearEndInMonths(1, 4, 2010, 5, 1), serial({2010, 8, 31}));
    // The attribute's wide name is made once and kept, not made per lookup.
    const BSTR name = ResolverTestAccess::calendarIdName(resolver);
    ASSERT_NE(nullptr, name);
    ResolverTestAccess::factory(resolver).Release();
    testenv::TempDir dir;
    testenv::ScopedEnv noClasses("U2LVOST_COM_REGISTRY", dir.write("empty.reg", "").c_str());
    EXPECT_EQ(resolver.getFiscalYearEndInMonths(1, 0, 2005, 3, 1), serial({2005, 6, 30}));
    EXPECT_EQ(resolver.getFiscalYearEndInMonths(1, 4, 2010, 10, 1), serial({2011, 8, 31}));
    EXPECT_EQ(resolver.getFiscalYearEndInMonths(1, 7, 2024, 3, 15), serial(lastWeekdayOf(2024, 6, 3)));
    EXPECT_FALSE(ResolverTestAccess::factory(resolver)) << "a warm call created the engine's factory";
    EXPECT_EQ(name, ResolverTestAccess::calendarIdName(resolver));
  }
  CoUninitialize();
}

// A broken company database during a report: the boxes on standard error, -1
// results, and the report goes on.
TEST(FiscalYearFailures, AbsentDataSourceGivesBoxesAndNoDate) {
  EngineRegistry registry;
  DataSource source(Backend::SQLite, Schema::V4, testenv::Fault::Absent);
  FunctionLibrary lib;
  std::string error;
  ASSERT_TRUE(lib.load(U2LVOST_LIBRARY, error)) << error;
  const ufhost::FunctionInfo* fn = lib.find("ZelFYEnd");
  ASSERT_NE(fn, nullptr);
  const std::vector<Value> args = {Value::makeNumber(1), Value::makeNumber(0),
                                   Value::makeDate(ufhost::dayNumberFromCivil(2024, 3, 15))};
  ::testing::internal::CaptureStderr();
  auto first = lib.evaluate(*fn, args);
  auto second = lib.evaluate(*fn, args);
  const std::string boxes = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(first.ok()) << first.message;
  ASSERT_TRUE(second.ok()) << second.message;
  EXPECT_EQ(first.value.date, -1);
  EXPECT_EQ(second.value.date, -1);
  // Each call ran in a job of its own: each job tries to connect once more.
  EXPECT_EQ(countOf(boxes, "SQL Error\nSQLConnect (openHDBC)\n["), countOf(boxes, "SQL Error\n")) << boxes;
  EXPECT_GE(countOf(boxes, "SQL Error\nSQLConnect (openHDBC)\n["), 2u) << boxes;
  EXPECT_EQ(boxes.find("SQLAllocStmt (openHSTMT)"), std::string::npos) << boxes;

  // Within one job: one set of boxes, then neither a statement nor a box.
  lib.startJob();
  ::testing::internal::CaptureStderr();
  auto third = lib.evaluate(*fn, args);
  const std::string once = ::testing::internal::GetCapturedStderr();
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(lib.evaluate(*fn, args).value.date, -1);
  const std::string later = ::testing::internal::GetCapturedStderr();
  lib.endJob();
  EXPECT_EQ(third.value.date, -1);
  EXPECT_NE(once.find("SQL Error\nSQLConnect (openHDBC)\n["), std::string::npos) << once;
  EXPECT_EQ(later, "");
}

TEST(FiscalYearFailures, MissingShortYearTableGivesNoDate) {
  EngineRegistry registry;
  DataSource source(Backend::SQLite, Schema::V4);
  source.exec("DROP TABLE BookShYr");
  FunctionLibrary lib;
  std::string error;
  ASSERT_TRUE(lib.load(U2LVOST_LIBRARY, error)) << error;
  const ufhost::FunctionInfo* fn = lib.find("ZelFYEnd");
  ASSERT_NE(fn, nullptr);
  ::testing::internal::CaptureStderr();
  // Book 1 without its short year: June years throughout.
  auto result = lib.evaluate(*fn, {Value::makeNumber(1), Value::makeNumber(1),
                                   Value::makeDate(ufhost::dayNumberFromCivil(2001, 8, 1))});
  const std::string boxes = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(result.ok()) << result.message;
  // Without its short year book 1 would end in June throughout (2002-06-30):
  // a wrong year end given as a right one. The failed read gives no date.
  EXPECT_EQ(result.value.date, -1);
  EXPECT_NE(boxes.find("SQL Error\nSQLExecDirect (prepareHSTMT)\n["), std::string::npos) << boxes;
}

// Report jobs: calendars live for one job; what was edited in between is read again.
class ReportJobs : public ::testing::TestWithParam<Backend> {};

TEST_P(ReportJobs, AYearEndEditedBetweenJobsIsReadAgain) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 0, {2024, 3, 15}), (Ymd{2024, 12, 31}));
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}), (Ymd{2024, 6, 30}));
  lib.source().exec("UPDATE Book SET OrigYrEnd = 3 WHERE CompanyID = 1 AND BookID = 0");
  // Within the job the calendars read at its start answer, for both companies.
  EXPECT_EQ(lib.fyEnd(1, 0, {2024, 3, 15}), (Ymd{2024, 12, 31}));
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}), (Ymd{2024, 6, 30}));
  lib.nextJob();
  EXPECT_EQ(lib.fyEnd(1, 0, {2024, 3, 15}), (Ymd{2024, 3, 31}));
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}), (Ymd{2024, 6, 30}));
  lib.endJob();
}

TEST_P(ReportJobs, StoredCyclesAndBookCalendarsEditedBetweenJobsAreReadAgain) {
  LoadedLibrary lib(GetParam(), Schema::V5);
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 0, {2005, 8, 1}), (Ymd{2006, 6, 30}));
  EXPECT_EQ(lib.fyEnd(1, 4, {2010, 10, 1}), (Ymd{2011, 8, 31}));
  lib.source().exec(
      "UPDATE CycleObject SET FYEndMonth = 9 WHERE CompanyID = 1 AND CalendarID = 11 AND CycleID = 2;"
      "UPDATE Book SET CalendarID = 11 WHERE CompanyID = 1 AND BookID = 4");
  EXPECT_EQ(lib.fyEnd(1, 0, {2005, 8, 1}), (Ymd{2006, 6, 30}));
  EXPECT_EQ(lib.fyEnd(1, 4, {2010, 10, 1}), (Ymd{2011, 8, 31}));
  lib.nextJob();
  EXPECT_EQ(lib.fyEnd(1, 0, {2005, 8, 1}), (Ymd{2005, 9, 30}));
  EXPECT_EQ(lib.fyEnd(1, 4, {2010, 10, 1}), (Ymd{2011, 9, 30}));
  lib.endJob();
}

TEST_P(ReportJobs, AlternatingCompaniesReadEachOncePerJob) {
  EngineRegistry registry;
  DataSource source(GetParam(), Schema::V4);
  TracedRun once = runTraced(source, {"ZelFYEnd(1, 1, 2001-08-01)", "ZelFYEnd(2, 0, 2024-03-15)",
                                      "ZelFYEnd(3, 0, 1920-06-01)", "ZelFYEnd(5, 0, 2003-05-15)"});
  ASSERT_EQ(once.results, (std::vector<std::string>{"2001-09-30", "2024-06-30", "1920-12-31", "2003-09-30"}));
  std::vector<std::string> calls, want;
  for (int row = 0; row < 40; ++row) {
    calls.insert(calls.end(), {"ZelFYEnd(1, 1, 2001-08-01)", "ZelFYEnd(2, 0, 2024-03-15)",
                               "ZelFYEnd(3, 0, 1920-06-01)", "ZelFYEnd(5, 0, 2003-05-15)"});
    want.insert(want.end(), once.results.begin(), once.results.end());
  }
  TracedRun alternating = runTraced(source, calls);
  EXPECT_EQ(alternating.results, want);
  EXPECT_EQ(alternating.statements, once.statements);
}

INSTANTIATE_TEST_SUITE_P(Databases, ReportJobs, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return std::string(testenv::backendName(info.param)); });

// No made-up answers: each fault of the company database gives no date, with a
// bounded number of boxes, and the next job reads again.
class DatabaseFaults : public ::testing::TestWithParam<Backend> {};

TEST_P(DatabaseFaults, CompanyNumbersOutsideTheRangeGiveNoDate) {
  for (Schema schema : {Schema::V4, Schema::V5}) {
    LoadedLibrary lib(GetParam(), schema);
    lib.startJob();
    const Ymd right = schema == Schema::V4 ? Ymd{2001, 9, 30} : lastWeekdayOf(2002, 1, 6);
    const Ymd date = {2001, 8, 1};
    EXPECT_EQ(lib.fyEnd(1, 1, date), right);
    // 65537 and 131073 cut to 1, 32769 and 40000 to negatives, 65535 to -1.
    for (double company : {32768.0, 32769.0, 40000.0, 65535.0, 65537.0, 131073.0, -1.0, -65535.0})
      EXPECT_EQ(lib.fyEnd(company, 1, date), kNone) << "company " << company;
    EXPECT_EQ(lib.fyEnd(1, 1, date), right);
    lib.endJob();
  }
}

TEST_P(DatabaseFaults, CompanyWithNoRowsGivesNoDate) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 0, {2024, 3, 15}), (Ymd{2024, 12, 31}));
  for (double company : {9.0, 0.0, 32767.0}) EXPECT_EQ(lib.fyEnd(company, 0, {2024, 3, 15}), kNone) << company;
  // A Book row alone makes the company known (business start from the fallback).
  lib.source().exec("INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (9, 0, 6, 'T')");
  lib.nextJob();
  EXPECT_EQ(lib.fyEnd(9, 0, {2024, 3, 15}), (Ymd{2024, 6, 30}));
  lib.endJob();
}

TEST_P(DatabaseFaults, BookTableMissing) {
  for (Schema schema : {Schema::V4, Schema::V5}) {
    LoadedLibrary lib(GetParam(), schema);
    lib.source().exec("DROP TABLE Book");
    noDateWithOneSetOfBoxes(lib);
  }
}

TEST_P(DatabaseFaults, ShortYearTableMissing) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  lib.source().exec("DROP TABLE BookShYr");
  const std::string boxes = noDateWithOneSetOfBoxes(lib);
  EXPECT_EQ(countOf(boxes, "SQL Error\nSQLExecDirect (prepareHSTMT)\n"), countOf(boxes, "SQL Error\n")) << boxes;
}

TEST_P(DatabaseFaults, CalendarTablesMissing) {
  for (const char* table : {"Calendar", "CycleObject"}) {
    LoadedLibrary lib(GetParam(), Schema::V5);
    lib.source().exec(std::string("DROP TABLE ") + table);
    noDateWithOneSetOfBoxes(lib);
  }
}

TEST_P(DatabaseFaults, AFailureLastsOneJobOnly) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  lib.source().exec("ALTER TABLE BookShYr RENAME TO BookShYrAway");
  noDateWithOneSetOfBoxes(lib);
  lib.source().exec("ALTER TABLE BookShYrAway RENAME TO BookShYr");
  std::string boxes;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, boxes), (Ymd{2001, 9, 30}));
  lib.endJob();
  EXPECT_EQ(boxes, "");
}

TEST_P(DatabaseFaults, VersionTableMissingStillBuildsCalendars) {
  LoadedLibrary lib(GetParam(), Schema::V4);
  lib.source().exec("DROP TABLE VersionTable");
  std::string first, later;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, first), (Ymd{2001, 9, 30}));
  EXPECT_EQ(lib.fyEnd(1, 2, {2004, 3, 1}, later), (Ymd{2004, 6, 30}));
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, later), (Ymd{2024, 6, 30}));
  lib.endJob();
  EXPECT_EQ(countOf(first, "SQL Error\nSQLExecDirect (prepareHSTMT)\n"), countOf(first, "SQL Error\n")) << first;
  EXPECT_GE(countOf(first, "SQL Error\n"), 1u);
  EXPECT_EQ(later, "") << "the version is asked once per job";
}

INSTANTIATE_TEST_SUITE_P(Databases, DatabaseFaults, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return std::string(testenv::backendName(info.param)); });

TEST(DatabaseFaultsSQLite, GarbageFileGivesNoDate) {
  LoadedLibrary lib(Backend::SQLite, Schema::V4);
  {
    std::ofstream garbage(lib.source().database(), std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 4096; ++i) garbage.put(static_cast<char>((i * 37 + 11) & 0xFF));
  }
  noDateWithOneSetOfBoxes(lib);
  // Another company in the same job: its own failure, its own set of boxes.
  std::string other;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, other), kNone);
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, other), kNone);
  lib.endJob();
  EXPECT_GE(countOf(other, "SQL Error\n"), 1u);
}

// Text in a date column: the SQLite driver gives it as an all-zero date without
// an error, which must not pass for NULL or for any date.
TEST(DatabaseFaultsSQLite, ShortYearThatIsNoDate) {
  for (const char* stored : {"garbage", "2001-13-45", "2001-02-30"}) {
    SCOPED_TRACE(stored);
    LoadedLibrary lib(Backend::SQLite, Schema::V4);
    lib.source().exec(std::string("UPDATE BookShYr SET ShortYear = '") + stored +
                      "' WHERE CompanyID = 1 AND BookID = 2 AND ShortYrID = 2");
    std::string boxes;
    lib.startJob();
    EXPECT_EQ(lib.fyEnd(1, 2, {2004, 3, 1}, boxes), kNone);
    // The whole company: no calendars in this job, not just the one book.
    EXPECT_EQ(lib.fyEnd(1, 0, {2024, 3, 15}, boxes), kNone);
    // Other companies are not touched.
    EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, boxes), (Ymd{2024, 6, 30}));
    lib.endJob();
    const std::string named = std::string("SQL Error\nBookShYr.ShortYear is not a date\n") +
                              "CompanyID 1, BookID 2, ShortYrID 2\nstored: '" + stored + "'\n";
    EXPECT_EQ(countOf(boxes, named), 1u) << boxes;
    // Any other box is the driver's own refusal of the same value.
    EXPECT_EQ(countOf(boxes, "SQL Error\n"), 1 + countOf(boxes, "SQL Error\nSQLGetData (getTimestamp)\n")) << boxes;
  }
}

TEST(DatabaseFaultsSQLite, StoredCycleDateThatIsNoDate) {
  LoadedLibrary lib(Backend::SQLite, Schema::V5);
  lib.source().exec(
      "UPDATE CycleObject SET EffectiveDate = '2005-02-30' WHERE CompanyID = 1 AND CalendarID = 11 AND CycleID = 2");
  std::string boxes;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 0, {2005, 8, 1}, boxes), kNone);
  EXPECT_EQ(lib.fyEnd(1, 1, {2024, 3, 15}, boxes), kNone);
  lib.endJob();
  EXPECT_EQ(countOf(boxes, "SQL Error\nCycleObject.EffectiveDate is not a date\nCompanyID 1, CalendarID 11, "
                           "CycleID 2\nstored: '2005-02-30'\n"),
            1u)
      << boxes;
  EXPECT_EQ(countOf(boxes, "SQL Error\n"), 1u) << boxes;
}

// Numbers the driver cannot convert read as NULL on SQLite: told apart from a
// real NULL, named in one box, and the company answers nothing in the job.
TEST(DatabaseFaultsSQLite, StoredNumberThatIsNoNumber) {
  const struct {
    Schema schema;
    const char* update;
    double book;
    Ymd date;
    const char* box;
  } cases[] = {
      {Schema::V4, "UPDATE Book SET OrigYrEnd = 'abc' WHERE CompanyID = 1 AND BookID = 3", 0, {2024, 3, 15},
       "Book.OrigYrEnd is not a number\nCompanyID 1, BookID 3\nstored: 'abc'\n"},
      {Schema::V4, "DELETE FROM Company WHERE CompanyID = 1; UPDATE Book SET OrigYrEnd = 'June' WHERE CompanyID = 1",
       0, {2024, 3, 15}, "Book.OrigYrEnd is not a number\nCompanyID 1, the first open book\nstored: 'June'\n"},
      {Schema::V5, "UPDATE Book SET CalendarID = 'eleven' WHERE CompanyID = 1 AND BookID = 0", 0, {2024, 3, 15},
       "Book.CalendarID is not a number\nCompanyID 1, BookID 0\nstored: 'eleven'\n"},
      {Schema::V5, "UPDATE Calendar SET UpdateFlag = 'yes' WHERE CompanyID = 1 AND CalendarID = 13", 0,
       {2024, 3, 15}, "Calendar.UpdateFlag is not a number\nCompanyID 1, CalendarID 13\nstored: 'yes'\n"},
      {Schema::V5,
       "UPDATE CycleObject SET FYEndMonth = 'x' WHERE CompanyID = 1 AND CalendarID = 11 AND CycleID = 2", 0,
       {2024, 3, 15}, "CycleObject.FYEndMonth is not a number\nCompanyID 1, CalendarID 11, CycleID 2\nstored: 'x'\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.update);
    LoadedLibrary lib(Backend::SQLite, c.schema);
    lib.source().exec(c.update);
    std::string boxes;
    lib.startJob();
    EXPECT_EQ(lib.fyEnd(1, c.book, c.date, boxes), kNone);
    EXPECT_EQ(lib.fyEnd(1, 1, c.date, boxes), kNone);
    lib.endJob();
    EXPECT_EQ(countOf(boxes, std::string("SQL Error\n") + c.box), 1u) << boxes;
    EXPECT_EQ(countOf(boxes, "SQL Error\n"), 1u) << boxes;
  }
}

TEST(DatabaseFaultsPostgres, RoleWithoutSelectGivesNoDate) {
  LoadedLibrary lib(Backend::PostgreSQL, Schema::V4);
  lib.source().exec("REVOKE SELECT ON ALL TABLES IN SCHEMA public FROM \"WINZEL\"");
  const std::string boxes = noDateWithOneSetOfBoxes(lib);
  EXPECT_NE(boxes.find("[42501]"), std::string::npos) << boxes;  // insufficient privilege
  lib.source().exec("GRANT SELECT ON ALL TABLES IN SCHEMA public TO \"WINZEL\"");
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}), (Ymd{2001, 9, 30}));
  lib.endJob();
}

// The server stops in the middle of a report and comes back: the rest of that
// report gets no date from what it had not read yet, with one set of boxes; the
// next report answers again, in the same process.
TEST(DatabaseFaultsPostgres, ServerStoppedMidReportThenRestarted) {
  LoadedLibrary lib(Backend::PostgreSQL, Schema::V4);
  struct Restart {
    bool stopped = false;
    ~Restart() {
      if (stopped) try {
          testenv::startPostgresServer();
        } catch (...) {
        }
    }
  } restart;
  std::string before, lost, after;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, before), (Ymd{2001, 9, 30}));
  testenv::stopPostgresServer();
  restart.stopped = true;
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, lost), kNone);
  const size_t firstBoxes = countOf(lost, "SQL Error\n");
  for (int row = 0; row < 50; ++row) {
    EXPECT_EQ(lib.fyEnd(2 + row % 3, 0, {2024, 3, 15}, after), kNone) << row;
    // What was read before the loss is still right and still answers.
    EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, after), (Ymd{2001, 9, 30})) << row;
  }
  lib.endJob();
  EXPECT_EQ(before, "");
  EXPECT_GE(firstBoxes, 1u);
  EXPECT_LE(firstBoxes, 4u) << lost;
  EXPECT_EQ(after, "") << "boxes after the connection was known lost";

  // Still down at the next job: one attempt to connect, one set of boxes.
  std::string down;
  lib.startJob();
  for (int row = 0; row < 10; ++row) EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, down), kNone);
  lib.endJob();
  EXPECT_GE(countOf(down, "SQL Error\nSQLConnect (openHDBC)\n"), 1u) << down;
  EXPECT_EQ(countOf(down, "SQL Error\n"), countOf(down, "SQL Error\nSQLConnect (openHDBC)\n")) << down;

  testenv::startPostgresServer();
  restart.stopped = false;
  std::string back;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, back), (Ymd{2024, 6, 30}));
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, back), (Ymd{2001, 9, 30}));
  lib.endJob();
  EXPECT_EQ(back, "");
}

}  // namespace
