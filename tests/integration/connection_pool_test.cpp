// Many report users through a connection pool: 32 ufhost report processes at once
// reach PostgreSQL through pgbouncer in transaction mode (scripts/pg.sh pgb_start),
// which keeps at most 8 server connections. Half read the schema-4 sample, half the
// schema-5 sample, each alternating companies row by row. Every answer must be the
// one the same report gives connected straight to the server (and, where the
// sample's documentation gives it, that year end), no process may show a box, and
// the server must never see more connections of WINZEL than the pool's size.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "odbc_env.h"
#include "report_processes.h"
#include "test_env.h"

namespace {

using testenv::Backend;
using testenv::DataSource;
using testenv::Schema;

constexpr int kReports = 32;
constexpr int kRows = 2160;

// What scripts/pg.sh pgb_start exports.
struct Pool {
  std::string port, socketDir;
  int size = 0;
};

Pool poolFromEnvironment() {
  const char* port = std::getenv("U2LVOST_PGB_PORT");
  const char* socketDir = std::getenv("U2LVOST_PGB_SOCKET");
  const char* size = std::getenv("U2LVOST_PGB_POOL");
  if (!port || !*port || !socketDir || !*socketDir || !size || !*size)
    throw std::runtime_error(
        "connection pool not available: U2LVOST_PGB_PORT is not set. Run the tests through scripts/test.sh, "
        "or start the pool after the server: eval \"$(bash scripts/pg.sh pgb-start)\"");
  return {port, socketDir, std::atoi(size)};
}

// The rows of one report, and the answers known beforehand by row.
struct Rows {
  std::string csv = "company,book,date\n";
  std::map<int, std::string> known;
};

std::string isoDate(int year, int month, int day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

// Schema 4: companies 1, 2, 3 and 5 in turn, book 0 (December, June, December and
// September year ends), on 15 May of a year that moves on every four rows.
Rows schema4Rows() {
  struct Company {
    int id, yearEndMonth, lastDay;
  } const companies[] = {{1, 12, 31}, {2, 6, 30}, {3, 12, 31}, {5, 9, 30}};
  Rows r;
  for (int row = 0; row < kRows; ++row) {
    const Company& c = companies[row % 4];
    const int year = 1995 + (row / 4) % 30;
    r.csv += std::to_string(c.id) + ",0," + std::to_string(year) + "-05-15\n";
    r.known[row] = isoDate(year, c.yearEndMonth, c.lastDay);
  }
  return r;
}

// Schema 5: company 1 and its three copies (companyCopiesSql) in turn, each book
// number 0 to 8 for four rows, 15 May 1995 to 2024. Known: company 1 in 2003.
Rows schema5Rows() {
  const int companies[] = {1, 11, 21, 31};
  // Company 1's year ends for 15 May 2003 by book number; book 6 names a calendar
  // without cycles, which has no fiscal year.
  const char* const company1In2003[] = {"2003-12-31", "2004-01-31", "2003-09-28", "2004-04-02", "2003-12-31",
                                        "2003-12-31", nullptr,      "2003-06-25", "2003-06-25"};
  Rows r;
  for (int row = 0; row < kRows; ++row) {
    const int company = companies[row % 4], book = (row / 4) % 9, year = 1995 + (row / 36) % 30;
    r.csv += std::to_string(company) + "," + std::to_string(book) + "," + std::to_string(year) + "-05-15\n";
    if (company == 1 && year == 2003 && company1In2003[book]) r.known[row] = company1In2003[book];
  }
  return r;
}

// Companies 11, 21 and 31: company 1's calendars, with its books moved on by one,
// two and three BookIDs, so that a book number answers differently in each.
const char kCompanyCopiesSql[] =
    "INSERT INTO Company (CompanyID, BusnStart) SELECT 1 + k, BusnStart FROM Company, generate_series(10, 30, 10) k "
    "WHERE CompanyID = 1;"
    "INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) SELECT 1 + k, (BookID + k / 10) % 8, "
    "OrigYrEnd, IsOpen, CalendarID FROM Book, generate_series(10, 30, 10) k WHERE CompanyID = 1;"
    "INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) SELECT 1 + k, CalendarID, CalendarName, "
    "UpdateFlag FROM Calendar, generate_series(10, 30, 10) k WHERE CompanyID = 1;"
    "INSERT INTO CycleObject (CompanyID, CalendarID, CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, "
    "PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag) SELECT 1 + k, CalendarID, CycleID, "
    "EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, FYEndMonth, YearOffset, UpdateFlag "
    "FROM CycleObject, generate_series(10, 30, 10) k WHERE CompanyID = 1;";

struct Report {
  std::string odbcIni;  // the data source the process reads
  const Rows* rows;
};

using reportrun::Outcome;

// Starts one ufhost report process per report at once and waits for all (two
// minutes at most; they take seconds).
std::vector<Outcome> runReports(const testenv::TempDir& dir, const std::vector<Report>& reports) {
  const std::string tpl = dir.write("report.txt", "@row\n{ZelFYEnd($company, $book, $date)}\n");
  std::vector<pid_t> pids;
  for (size_t i = 0; i < reports.size(); ++i) {
    const std::string n = std::to_string(i);
    pids.push_back(reportrun::start(tpl, dir.write("rows" + n + ".csv", reports[i].rows->csv), dir.file("out" + n),
                                    dir.file("err" + n), {{"ODBCINI", reports[i].odbcIni}}));
  }
  const auto deadline = reportrun::Clock::now() + std::chrono::minutes(2);
  std::vector<Outcome> outcomes;
  for (size_t i = 0; i < reports.size(); ++i) {
    const std::string n = std::to_string(i);
    outcomes.push_back(reportrun::finish(pids[i], deadline, dir.file("out" + n), dir.file("err" + n)));
  }
  return outcomes;
}

// Counts the server's connections of WINZEL opened after `since` (the server's
// clock), every 20 ms, through one psql session of the server's superuser.
class ConnectionSampler {
 public:
  ConnectionSampler(const testenv::TempDir& dir, const std::string& since) : out_(dir.file("samples.txt")) {
    const testenv::PostgresFacts pg = testenv::PostgresFacts::fromEnvironment();
    const std::string script = dir.write(
        "sample.sql", "SELECT count(*) FROM pg_stat_activity WHERE usename = 'WINZEL' AND backend_start > '" +
                          since + "' \\watch 0.02\n");
    pid_ = fork();
    if (pid_ == 0) {
      if (!freopen(out_.c_str(), "w", stdout)) _exit(125);
      execlp("psql", "psql", "-X", "-A", "-t", "-h", pg.socketDir.c_str(), "-p", pg.port.c_str(), "-U",
             pg.admin.c_str(), "-d", "postgres", "-f", script.c_str(), static_cast<char*>(nullptr));
      _exit(126);
    }
  }
  ~ConnectionSampler() { stop(); }

  // Ends the sampling; the counts seen, in order.
  std::vector<int> stop() {
    if (pid_ > 0) {
      kill(pid_, SIGINT);  // ends the \watch; psql then reaches the end of its script
      reportrun::waitUntil(pid_, reportrun::Clock::now() + std::chrono::seconds(5));
      pid_ = -1;
    }
    std::vector<int> counts;
    std::istringstream in(testenv::readFile(out_));
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) counts.push_back(std::atoi(line.c_str()));
    return counts;
  }

 private:
  std::string out_;
  pid_t pid_ = -1;
};

// A command of the pool's console, run as the server's superuser; its rows.
std::string poolConsole(const Pool& pool, const testenv::TempDir& dir, const std::string& command) {
  const testenv::PostgresFacts pg = testenv::PostgresFacts::fromEnvironment();
  const std::string out = dir.file("console.txt");
  const std::string cmd = "psql -X -A -t -F '|' -h '" + pool.socketDir + "' -p " + pool.port + " -U " + pg.admin +
                          " -d pgbouncer -c '" + command + "' > '" + out + "' 2>&1";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("the pool's console: " + testenv::readFile(out));
  return testenv::readFile(out);
}

// Transactions the pool passed to each database (SHOW STATS).
std::map<std::string, long> poolTransactions(const Pool& pool, const testenv::TempDir& dir) {
  std::map<std::string, long> transactions;
  std::istringstream in(poolConsole(pool, dir, "SHOW STATS"));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string database, count;
    if (std::getline(fields, database, '|') && std::getline(fields, count, '|'))
      transactions[database] = std::atol(count.c_str());
  }
  return transactions;
}

// Closes the pool's server connections to the test's databases when the test
// ends, so that the tests after it find the server's slots free.
class PoolRelease {
 public:
  PoolRelease(const Pool& pool, const testenv::TempDir& dir, std::vector<std::string> databases)
      : pool_(pool), dir_(dir), databases_(std::move(databases)) {}
  ~PoolRelease() {
    for (const std::string& db : databases_) try {
        poolConsole(pool_, dir_, "KILL " + db);
        poolConsole(pool_, dir_, "RESUME " + db);
      } catch (...) {
      }
  }

 private:
  const Pool& pool_;
  const testenv::TempDir& dir_;
  std::vector<std::string> databases_;
};

// A report ran to its end without a box, one line a row, and the rows whose year
// end is known have it.
void expectSound(const Outcome& got, const Rows& rows) {
  EXPECT_EQ(got.status, 0) << got.errors;
  EXPECT_EQ(got.errors, "") << "a box or a failed call";
  ASSERT_EQ(got.lines.size(), static_cast<size_t>(kRows));
  for (const auto& k : rows.known) EXPECT_EQ(got.lines[k.first], k.second) << "row " << k.first;
}

void expectSameAnswers(const Outcome& got, const Outcome& reference) {
  ASSERT_EQ(got.lines.size(), reference.lines.size());
  size_t wrong = 0;
  for (size_t row = 0; row < got.lines.size(); ++row)
    if (got.lines[row] != reference.lines[row] && wrong++ < 5)
      ADD_FAILURE() << "row " << row << ": " << got.lines[row] << ", straight to the server " << reference.lines[row];
  EXPECT_EQ(wrong, 0u);
}

TEST(ConnectionPool, ThirtyTwoReportsThroughEightPostgresServerConnections) {
  const Pool pool = poolFromEnvironment();
  ASSERT_EQ(pool.size, 8);
  testenv::EngineRegistry registry;
  DataSource s4(Backend::PostgreSQL, Schema::V4);
  DataSource s5(Backend::PostgreSQL, Schema::V5);
  s5.exec(kCompanyCopiesSql);
  const Rows rows4 = schema4Rows(), rows5 = schema5Rows();
  testenv::TempDir dir;
  PoolRelease release(pool, dir, {s4.database(), s5.database()});

  // The reference: each report once, connected straight to the server.
  std::vector<Outcome> direct = runReports(dir, {{s4.odbcIni(), &rows4}, {s5.odbcIni(), &rows5}});
  for (size_t i = 0; i < direct.size(); ++i) {
    SCOPED_TRACE("straight to the server, schema " + std::to_string(4 + i));
    expectSound(direct[i], i == 0 ? rows4 : rows5);
  }
  if (HasFailure()) return;

  s4.setOption("Port", pool.port);
  s5.setOption("Port", pool.port);
  std::vector<Report> pooled;
  for (int i = 0; i < kReports; ++i)
    pooled.push_back(i % 2 ? Report{s5.odbcIni(), &rows5} : Report{s4.odbcIni(), &rows4});
  const std::map<std::string, long> before = poolTransactions(pool, dir);
  const std::vector<std::string> now = s4.rows("SELECT clock_timestamp()");
  ASSERT_EQ(now.size(), 1u);

  ConnectionSampler sampler(dir, now[0]);
  const std::vector<Outcome> outcomes = runReports(dir, pooled);
  const std::vector<int> counts = sampler.stop();

  for (int i = 0; i < kReports; ++i) {
    SCOPED_TRACE("report " + std::to_string(i) + " through the pool, schema " + std::to_string(i % 2 ? 5 : 4));
    expectSound(outcomes[i], i % 2 ? rows5 : rows4);
    expectSameAnswers(outcomes[i], direct[i % 2]);
  }
  ASSERT_FALSE(counts.empty()) << "no sample of the server's connections";
  const int most = *std::max_element(counts.begin(), counts.end());
  std::printf("server connections of WINZEL: at most %d at once in %zu samples\n", most, counts.size());
  EXPECT_LE(most, pool.size) << "server connections of WINZEL at once";
  EXPECT_GE(most, 1) << "the samples never saw the pool's connections";
  std::map<std::string, long> after = poolTransactions(pool, dir);
  for (const DataSource* ds : {&s4, &s5})
    EXPECT_GT(after[ds->database()], before.count(ds->database()) ? before.at(ds->database()) : 0)
        << "no transaction of " << ds->database() << " went through the pool";
}

}  // namespace
