// A site's report day: a long-lived report engine, a PostgreSQL server that an
// administrator also works on, a SQLite file that a script remakes, and reports
// over many companies. Each fault gives right answers or no date, never a
// made-up one, and no wait longer than the timeouts.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "loaded_library.h"
#include "test_env.h"

namespace {

using namespace fytest;
using testenv::ScopedEnv;

using Clock = std::chrono::steady_clock;
double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Company 1, book 1 on 1 August 2001: its stored calendar (schema 5) ends the
// year on the last Saturday of January; the schema-4 rule would give another day.
const Ymd kStoredAnswer = lastWeekdayOf(2002, 1, 6);
const Ymd kBuiltAnswer{2001, 9, 30};  // the same book under the schema-4 sample

// Another session that holds a lock on a table until it is destroyed: an
// administrator's open ALTER or LOCK TABLE (PostgreSQL), a writer's exclusive
// transaction (SQLite, which locks the whole file).
class TableLock {
 public:
  TableLock(const DataSource& source, const std::string& table) : source_(source) {
    session_ = popen((source.toolCommand() + " > /dev/null 2>&1").c_str(), "w");
    if (!session_) throw std::runtime_error("cannot start a session to hold the lock");
    if (source.backend() == Backend::PostgreSQL)
      std::fprintf(session_, "BEGIN;\nLOCK TABLE %s IN ACCESS EXCLUSIVE MODE;\n", table.c_str());
    else  // waits out the probes' own brief read locks: the tool stops at its first error
      std::fprintf(session_, ".timeout 5000\nBEGIN EXCLUSIVE;\nUPDATE %s SET %s = %s;\n", table.c_str(),
                   table == "VersionTable" ? "Info" : "IsOpen", table == "VersionTable" ? "Info" : "IsOpen");
    std::fflush(session_);
    waitUntilHeld(table);
  }
  ~TableLock() {
    std::fputs("COMMIT;\n", session_);
    pclose(session_);
  }

 private:
  void waitUntilHeld(const std::string& table) {
    for (int i = 0; i < 200; ++i) {
      if (source_.backend() == Backend::PostgreSQL) {
        const auto held = source_.rows("SELECT count(*) FROM pg_locks WHERE granted AND mode = 'AccessExclusiveLock'"
                                       " AND relation = '" + table + "'::regclass");
        if (!held.empty() && held[0] == "1") return;
      } else {
        try {
          source_.rows("SELECT count(*) FROM " + table);  // the tool does not wait for a lock
        } catch (const std::runtime_error&) {
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("the lock on " + table + " was not taken");
  }
  const DataSource& source_;
  FILE* session_ = nullptr;
};

class ReportDay : public ::testing::TestWithParam<Backend> {};

// A version query that waits on a lock until the query timeout: no dates for
// that job, one set of boxes, and the next job reads the stored calendars.
TEST_P(ReportDay, LockedVersionQueryGivesNoDateNotBuiltCalendars) {
  ScopedEnv queryTimeout("U2LVOST_QUERY_TIMEOUT", "1");
  LoadedLibrary lib(GetParam(), Schema::V5);
  std::string boxes;
  {
    TableLock lock(lib.source(), "VersionTable");
    const Clock::time_point start = Clock::now();
    boxes = noDateWithOneSetOfBoxes(lib);
    EXPECT_LT(secondsSince(start), 10.0) << "a 1-second query timeout did not bound the wait";
  }
  EXPECT_EQ(countOf(boxes, "SQL Error\nSQLExecDirect (prepareHSTMT)\n"), countOf(boxes, "SQL Error\n")) << boxes;
  if (GetParam() == Backend::PostgreSQL)
    EXPECT_NE(boxes.find("[57014]"), std::string::npos) << boxes;  // cancelled by the statement timeout
  else
    EXPECT_NE(boxes.find("locked"), std::string::npos) << boxes;
  std::string after;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, after), kStoredAnswer);
  lib.endJob();
  EXPECT_EQ(after, "");
}

// A lock on Book held longer than the query timeout, met part way through a
// report: the statement gives up, the job sends no further statement and shows
// no further box; what was read before still answers; the next job reads again.
TEST_P(ReportDay, StatementOutOfTimeEndsTheJobsDatabaseWork) {
  ScopedEnv queryTimeout("U2LVOST_QUERY_TIMEOUT", "1");
  LoadedLibrary lib(GetParam(), Schema::V4);
  std::string before, first, later;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, before), kBuiltAnswer);
  {
    TableLock lock(lib.source(), "Book");
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, first), kNone);
    for (int row = 0; row < 20; ++row) {
      EXPECT_EQ(lib.fyEnd(2 + row % 4, 0, {2024, 3, 15}, later), kNone) << row;
      EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, later), kBuiltAnswer) << row;
    }
    // One wait of the timeout, not one per company.
    EXPECT_LT(secondsSince(start), 10.0);
  }
  lib.endJob();
  EXPECT_EQ(before, "");
  EXPECT_GE(countOf(first, "SQL Error\n"), 1u);
  EXPECT_EQ(later, "") << "boxes after the statement ran out of time";

  std::string next;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, next), (Ymd{2024, 6, 30}));
  lib.endJob();
  EXPECT_EQ(next, "");
}

INSTANTIATE_TEST_SUITE_P(Databases, ReportDay, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         [](const auto& info) { return std::string(testenv::backendName(info.param)); });

// WINZEL without SELECT on VersionTable of a schema-5 database: no dates, not
// the December year ends of the built calendars.
TEST(ReportDayPostgres, RefusedVersionQueryGivesNoDateNotBuiltCalendars) {
  LoadedLibrary lib(Backend::PostgreSQL, Schema::V5);
  lib.source().exec("REVOKE SELECT ON VersionTable FROM \"WINZEL\"");
  const std::string boxes = noDateWithOneSetOfBoxes(lib);
  EXPECT_NE(boxes.find("[42501]"), std::string::npos) << boxes;  // insufficient privilege
  lib.source().exec("GRANT SELECT ON VersionTable TO \"WINZEL\"");
  std::string after;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, after), kStoredAnswer);
  lib.endJob();
  EXPECT_EQ(after, "");
}

// A loopback listener of the test's own that takes connections and never
// answers: a half-dead proxy in front of the server.
class SilentListener {
 public:
  SilentListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 16) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot open a loopback listener");
    port_ = ntohs(address.sin_port);
  }
  ~SilentListener() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST(ReportDayPostgres, ListenerThatNeverAnswersGivesUpWithinTheLoginTimeout) {
  ScopedEnv loginTimeout("U2LVOST_LOGIN_TIMEOUT", "1");
  SilentListener listener;
  LoadedLibrary lib(Backend::PostgreSQL, Schema::V4);
  lib.source().setOption("Port", std::to_string(listener.port()));
  const Clock::time_point start = Clock::now();
  const std::string boxes = noDateWithOneSetOfBoxes(lib);
  EXPECT_LT(secondsSince(start), 10.0);
  EXPECT_EQ(countOf(boxes, "SQL Error\nSQLConnect (openHDBC)\n"), countOf(boxes, "SQL Error\n")) << boxes;
}

// Restarted while no report ran: the next job connects afresh, right and quiet.
TEST(ReportDayPostgres, ServerRestartedBetweenJobs) {
  LoadedLibrary lib(Backend::PostgreSQL, Schema::V4);
  std::string boxes;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, boxes), kBuiltAnswer);
  lib.endJob();
  testenv::stopPostgresServer();
  testenv::startPostgresServer();
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, boxes), (Ymd{2024, 6, 30}));
  EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, boxes), kBuiltAnswer);
  lib.endJob();
  EXPECT_EQ(boxes, "");
}

// The role's connections limited, as a server full of other users refuses
// WINZEL: put back whatever the test does.
class ConnectionLimit {
 public:
  explicit ConnectionLimit(const DataSource& source) : source_(source) { set(0); }
  ~ConnectionLimit() {
    try {
      set(-1);
    } catch (...) {
    }
  }
  void set(int limit) { source_.exec("ALTER ROLE \"WINZEL\" CONNECTION LIMIT " + std::to_string(limit)); }

 private:
  const DataSource& source_;
};

TEST(ReportDayPostgres, ConnectRefusedForSlotsIsTriedAgainWithinTheLoginTimeout) {
  ScopedEnv loginTimeout("U2LVOST_LOGIN_TIMEOUT", "3");
  LoadedLibrary lib(Backend::PostgreSQL, Schema::V4);
  {
    // Full for the whole login timeout: one set of boxes, no date.
    ConnectionLimit full(lib.source());
    const Clock::time_point start = Clock::now();
    const std::string boxes = noDateWithOneSetOfBoxes(lib);
    EXPECT_LT(secondsSince(start), 10.0);
    EXPECT_NE(boxes.find("too many connections"), std::string::npos) << boxes;
    EXPECT_EQ(countOf(boxes, "SQL Error\nSQLConnect (openHDBC)\n"), countOf(boxes, "SQL Error\n")) << boxes;
  }
  {
    // A slot comes free within the login timeout: right, and no box.
    ConnectionLimit full(lib.source());
    std::thread freed([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      full.set(-1);
    });
    std::string boxes;
    lib.startJob();
    EXPECT_EQ(lib.fyEnd(1, 1, {2001, 8, 1}, boxes), kBuiltAnswer);
    lib.endJob();
    freed.join();
    EXPECT_EQ(boxes, "");
  }
}

// A company file remade by a move (as db/make_sample.sh does) or restored from
// a backup between two jobs: the second job reads the new file.
TEST(ReportDaySQLite, FileReplacedBetweenJobs) {
  LoadedLibrary lib(Backend::SQLite, Schema::V4);
  const std::string file = lib.source().database();
  const std::string remade = file + ".new";
  std::filesystem::copy_file(file, remade);
  std::string boxes;
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, boxes), (Ymd{2024, 6, 30}));
  lib.endJob();
  ASSERT_EQ(std::system(("sqlite3 '" + remade + "' \"UPDATE Book SET OrigYrEnd = 9 WHERE CompanyID = 2 AND BookID = 0\"")
                            .c_str()),
            0);
  std::filesystem::rename(remade, file);
  lib.startJob();
  EXPECT_EQ(lib.fyEnd(2, 0, {2024, 3, 15}, boxes), (Ymd{2024, 9, 30}));
  lib.endJob();
  EXPECT_EQ(boxes, "");
}

// A consolidated report cycling 1,000 companies row by row: every answer right,
// and every company read once in the job. The second pass runs with the Book
// table renamed away, so any company read again would give no date.
TEST(ReportDaySQLite, ThousandCompaniesRowByRowStayForTheJob) {
  LoadedLibrary lib(Backend::SQLite, Schema::V4);
  std::string sql = "BEGIN;\n";
  for (int c = 100; c < 1100; ++c)
    sql += "INSERT INTO Company (CompanyID, BusnStart) VALUES (" + std::to_string(c) +
           ", '1990-01-01 00:00:00');\nINSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (" +
           std::to_string(c) + ", 0, " + std::to_string(1 + c % 12) + ", 'T');\n";
  lib.source().exec(sql + "COMMIT;");
  auto expected = [](int c) {
    const int month = 1 + c % 12;
    const int year = month >= 3 ? 2024 : 2025;  // the year end on or after 15 March 2024
    return Ymd{year, month, lastDay(year, month)};
  };
  std::string boxes;
  lib.startJob();
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "first pass" : "second pass, Book renamed away");
    size_t wrong = 0;
    for (int c = 100; c < 1100; ++c)
      if (!(lib.fyEnd(c, 0, {2024, 3, 15}, boxes) == expected(c)) && wrong++ < 5) ADD_FAILURE() << "company " << c;
    EXPECT_EQ(wrong, 0u);
    if (pass == 0) lib.source().exec("ALTER TABLE Book RENAME TO BookAway");
  }
  lib.endJob();
  EXPECT_EQ(boxes, "");
}

}  // namespace
