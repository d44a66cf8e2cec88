// Many report processes at once on one company database: 16 ufhost reports
// against one PostgreSQL server and 4 on one SQLite file, each alternating four
// companies row by row. Every answer must be right, no process may show a box,
// and each holds at most one connection to the database.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "comtypes.h"
#include "odbc_env.h"
#include "report_processes.h"
#include "test_env.h"
#include "test_paths.h"

namespace {

using testenv::Backend;
using testenv::DataSource;
using testenv::EngineRegistry;
using testenv::Schema;

// The rows of one report: the schema-4 sample's companies 1, 2, 3 and 5 in turn
// (book 0: December, June, December, September year ends), on 15 May of a
// year that moves on with the row. Gives the CSV and the expected report lines.
struct Report {
  std::string csv;
  std::vector<std::string> expected;
};

Report alternatingReport(int rows) {
  struct Company {
    int id, yearEndMonth, lastDay;
  } const companies[] = {{1, 12, 31}, {2, 6, 30}, {3, 12, 31}, {5, 9, 30}};
  Report r;
  r.csv = "company,book,date\n";
  for (int row = 0; row < rows; ++row) {
    const Company& c = companies[row % 4];
    const int year = 1995 + (row / 4) % 30;
    r.csv += std::to_string(c.id) + ",0," + std::to_string(year) + "-05-15\n";
    // 15 May lies before every one of these year ends in its own year.
    char line[16];
    std::snprintf(line, sizeof line, "%04d-%02d-%02d", year, c.yearEndMonth, c.lastDay);
    r.expected.push_back(line);
  }
  return r;
}


struct ProcessResult : reportrun::Outcome {
  int connects = 0;  // connects in the process's ODBC trace
};

// Starts `count` report processes at once over the same rows and waits for all.
// Each traces its ODBC calls into a file of its own (the trace of a warm report
// is short: its rows run no statement).
std::vector<ProcessResult> runReports(const testenv::TempDir& dir, int count, const Report& report) {
  const std::string tpl = dir.write("report.txt", "@row\n{ZelFYEnd($company, $book, $date)}\n");
  const std::string rows = dir.write("rows.csv", report.csv);
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    const std::string sys = dir.file("sys" + n);
    mkdir(sys.c_str(), 0700);
    dir.write("sys" + n + "/odbcinst.ini", "[ODBC]\nTrace = Yes\nTraceFile = " + sys + "/trace.log\n");
    pids.push_back(reportrun::start(tpl, rows, dir.file("out" + n), dir.file("err" + n), {{"ODBCSYSINI", sys}}));
  }
  const auto deadline = reportrun::Clock::now() + std::chrono::minutes(5);
  std::vector<ProcessResult> results(count);
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    static_cast<reportrun::Outcome&>(results[i]) =
        reportrun::finish(pids[i], deadline, dir.file("out" + n), dir.file("err" + n));
    std::istringstream trace(testenv::readFile(dir.file("sys" + n + "/trace.log")));
    for (std::string line; std::getline(trace, line);)
      if (line.find("Str In = [DSN=WINZELRW;") != std::string::npos) ++results[i].connects;  // one per connect
  }
  return results;
}

void checkReports(Backend backend, int processes, int rows) {
  EngineRegistry registry;
  DataSource source(backend, Schema::V4);
  const Report report = alternatingReport(rows);
  testenv::TempDir dir;
  const std::vector<ProcessResult> results = runReports(dir, processes, report);
  for (int i = 0; i < processes; ++i) {
    SCOPED_TRACE("report process " + std::to_string(i));
    const ProcessResult& r = results[i];
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.errors, "") << "a box or a failed call";
    ASSERT_EQ(r.lines.size(), report.expected.size());
    size_t wrong = 0;
    for (size_t row = 0; row < r.lines.size(); ++row)
      if (r.lines[row] != report.expected[row] && wrong++ < 5)
        ADD_FAILURE() << "row " << row << ": " << r.lines[row] << ", expected " << report.expected[row];
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(r.connects, 1) << "connections opened by one report";
  }
}

TEST(ReportLoad, SixteenReportsOnOnePostgresServer) { checkReports(Backend::PostgreSQL, 16, 10000); }

TEST(ReportLoad, FourReportsOnOneSQLiteFile) { checkReports(Backend::SQLite, 4, 10000); }

}  // namespace
