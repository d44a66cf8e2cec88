// The resolver's database layer against real ODBC drivers: the same test bodies
// run on the SQLite sample and on the PostgreSQL server of scripts/pg.sh. Error
// boxes are captured through the message-box sink; expected box texts come from
// reading the driver's diagnostic records independently through raw ODBC.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "odbc_env.h"
#include "persistCalendar.h"
#include "resolver_access.h"
#include "platform.h"
#include "test_paths.h"

namespace {

using testenv::Backend;
using testenv::DataSource;
using testenv::Fault;
using testenv::Schema;

struct Box {
  std::string caption, text;
  std::string label, state, native, message;  // the three lines, taken apart
};

void captureBox(const char* caption, const char* text, void* context) {
  auto* boxes = static_cast<std::vector<Box>*>(context);
  Box b;
  b.caption = caption;
  b.text = text;
  // "label\n[STATE][Native:  N]\nmessage"; a box of any other shape keeps empty parts.
  const std::string& t = b.text;
  const size_t firstBreak = t.find('\n');
  const size_t stateEnd = firstBreak == std::string::npos ? firstBreak : t.find("][Native:  ", firstBreak);
  const size_t secondBreak = stateEnd == std::string::npos ? stateEnd : t.find("]\n", stateEnd + 11);
  if (secondBreak != std::string::npos && t.compare(firstBreak + 1, 1, "[") == 0) {
    const std::string native = t.substr(stateEnd + 11, secondBreak - stateEnd - 11);
    if (!native.empty() && native.find_first_not_of("-0123456789") == std::string::npos) {
      b.label = t.substr(0, firstBreak);
      b.state = t.substr(firstBreak + 2, stateEnd - firstBreak - 2);
      b.native = native;
      b.message = t.substr(secondBreak + 2);
    }
  }
  boxes->push_back(b);
}

std::vector<std::string> labels(const std::vector<Box>& boxes) {
  std::vector<std::string> v;
  for (const auto& b : boxes) v.push_back(b.label);
  return v;
}

// One diagnostic record as the driver gives it.
struct Diag {
  std::string state;
  long native = 0;
  std::string message;
};

// Connects to WINZELRW with the library's user and password and runs sql (none:
// connect only) on a connection of our own; returns the diagnostic records of the
// call that failed, read with a buffer large enough for any message. Empty when
// nothing failed.
std::vector<Diag> rawFailureRecords(const char* sql) {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT stmt = nullptr;
  std::vector<Diag> records;
  auto collect = [&](SQLHSTMT st) {
    for (int i = 0; i < 100; ++i) {
      SQLCHAR state[6] = {};
      SQLINTEGER native = 0;
      std::vector<SQLCHAR> msg(8192);
      SQLRETURN rc = SQLError(env, dbc, st, state, &native, msg.data(), static_cast<SQLSMALLINT>(msg.size()), nullptr);
      if (rc != SQL_SUCCESS) break;
      records.push_back({reinterpret_cast<char*>(state), static_cast<long>(native), reinterpret_cast<char*>(msg.data())});
    }
  };
  if (SQLAllocEnv(&env) < 0) return records;
  if (SQLAllocConnect(env, &dbc) >= 0) {
    // Connected as the library connects: the driver manager words a refusal
    // of SQLDriverConnect a little differently from one of SQLConnect.
    std::string text = std::string("DSN=WINZELRW;UID=WINZEL;PWD=") + getPassword();
    if (SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(&text[0]), SQL_NTS, nullptr, 0, nullptr,
                         SQL_DRIVER_NOPROMPT) < 0) {
      collect(nullptr);
    } else {
      if (sql && SQLAllocStmt(dbc, &stmt) >= 0) {
        if (SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS) < 0) collect(stmt);
        SQLFreeStmt(stmt, SQL_DROP);
      }
      SQLDisconnect(dbc);
    }
    SQLFreeConnect(dbc);
  }
  SQLFreeEnv(env);
  return records;
}

// The box text a record must give: label, bracketed state and native code, text.
std::string expectedBoxText(const std::string& label, const Diag& d) {
  return label + "\n[" + d.state + "][Native:  " + std::to_string(d.native) + "]\n" + d.message;
}

// Class (first two characters) of each box's state.
std::vector<std::string> stateClasses(const std::vector<Box>& boxes) {
  std::vector<std::string> v;
  for (const auto& b : boxes) v.push_back(b.state.substr(0, 2));
  return v;
}

bool isOneOf(const std::string& s, std::initializer_list<const char*> options) {
  for (const char* o : options)
    if (s == o) return true;
  return false;
}

class DbLayer : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override { setMessageBoxSink(&captureBox, &boxes); }
  void TearDown() override { setMessageBoxSink(nullptr, nullptr); }

  std::vector<int32_t> walkInts(CPersistCalendar& pc, const char* sql) {
    std::vector<int32_t> v;
    if (!pc.prepareHSTMT(sql)) return v;
    do v.push_back(pc.getInt(1));
    while (pc.nextRow());
    return v;
  }

  std::vector<Box> boxes;
};

std::string backendParamName(const ::testing::TestParamInfo<Backend>& info) {
  return testenv::backendName(info.param);
}

TEST_P(DbLayer, WalksEveryRowThenStopsWithoutABox) {
  DataSource ds(GetParam(), Schema::V4);
  CPersistCalendar pc;
  // Company 1 of the sample has Book rows 0..6 except 4.
  EXPECT_EQ(walkInts(pc, "SELECT BookID FROM Book WHERE CompanyID = 1 ORDER BY BookID"),
            (std::vector<int32_t>{0, 1, 2, 3, 5, 6}));
  EXPECT_FALSE(pc.nextRow());
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, StatementWithoutRowsIsFalseAndQuiet) {
  DataSource ds(GetParam(), Schema::V4);
  CPersistCalendar pc;
  EXPECT_FALSE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 9"));
  EXPECT_FALSE(pc.prepareHSTMT("SELECT OrigYrEnd from Book where BookID = 4 AND CompanyID = 1"));
  EXPECT_TRUE(boxes.empty());
  // The statement handle stays usable.
  EXPECT_EQ(walkInts(pc, "SELECT OrigYrEnd from Book where BookID = 2 AND CompanyID = 1"), std::vector<int32_t>{3});
}

TEST_P(DbLayer, ReadsTheVersionTextOfEachSchema) {
  const struct {
    Schema schema;
    const char* info;
  } cases[] = {{Schema::V4, "4.1"}, {Schema::V5, "5.0"}};
  for (const auto& c : cases) {
    DataSource ds(GetParam(), c.schema);
    CPersistCalendar pc;
    char buf[20];
    ASSERT_TRUE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
    EXPECT_EQ(pc.getString(1, buf, sizeof buf), buf);
    EXPECT_STREQ(buf, c.info);
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, ReadsSigned32BitIntegers) {
  DataSource ds(GetParam(), Schema::V4);
  const int32_t values[] = {-7, 1, 40000, -40000, 2147483647, -2147483647 - 1};
  std::string insert;
  for (size_t i = 0; i < std::size(values); ++i)
    insert += "INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen) VALUES (900, " + std::to_string(i) + ", " +
              std::to_string(values[i]) + ", 'T');\n";
  ds.exec(insert);
  CPersistCalendar pc;
  EXPECT_EQ(walkInts(pc, "SELECT OrigYrEnd FROM Book WHERE CompanyID = 900 ORDER BY BookID"),
            std::vector<int32_t>(std::begin(values), std::end(values)));
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, NullColumnsReadAsZeroEmptyAndAllZeroTimestamp) {
  DataSource ds(GetParam(), Schema::V4);
  ds.exec(
      "INSERT INTO Company (CompanyID, BusnStart) VALUES (900, NULL);"
      "INSERT INTO Book (CompanyID, BookID, OrigYrEnd, IsOpen, CalendarID) VALUES (900, 0, NULL, 'T', NULL);"
      "INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (900, 1, NULL, NULL);");
  CPersistCalendar pc;
  ASSERT_TRUE(pc.prepareHSTMT(
      "SELECT Book.OrigYrEnd, Calendar.CalendarName, Company.BusnStart FROM Book, Calendar, Company "
      "WHERE Book.CompanyID = 900 AND Calendar.CompanyID = 900 AND Company.CompanyID = 900"));
  EXPECT_EQ(pc.getInt(1), 0);
  char name[16];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(pc.getString(2, name, sizeof name), name);
  EXPECT_EQ(name[0], '\0');
  TIMESTAMP_STRUCT ts;
  std::memset(&ts, 0x55, sizeof ts);
  EXPECT_TRUE(pc.getTimestamp(3, &ts));
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&ts);
  for (size_t i = 0; i < sizeof ts; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, TextIsCutToTheBufferAndTerminated) {
  DataSource ds(GetParam(), Schema::V5);
  const std::string stored = "Depreciation calendar";
  ds.exec("INSERT INTO Calendar (CompanyID, CalendarID, CalendarName, UpdateFlag) VALUES (900, 1, '" + stored +
          "', 0);");
  const int32_t sizes[] = {1, 2, 8, 21, 22, 40};
  for (int32_t len : sizes) {
    SCOPED_TRACE("buffer of " + std::to_string(len));
    CPersistCalendar pc;
    ASSERT_TRUE(pc.prepareHSTMT("SELECT CalendarName FROM Calendar WHERE CompanyID = 900"));
    char buf[48];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(pc.getString(1, buf, len), buf);
    const std::string expected = stored.substr(0, static_cast<size_t>(len - 1));
    EXPECT_EQ(std::string(buf), expected);
    for (size_t i = static_cast<size_t>(len); i < sizeof buf; ++i) ASSERT_EQ(buf[i], '#') << "written past the buffer at " << i;
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, TextWithoutABufferIsNotRead) {
  DataSource ds(GetParam(), Schema::V4);
  CPersistCalendar pc;
  ASSERT_TRUE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(pc.getString(1, buf, 0), nullptr);
  EXPECT_EQ(pc.getString(1, buf, -5), nullptr);
  EXPECT_EQ(pc.getString(1, nullptr, 8), nullptr);
  for (char c : buf) EXPECT_EQ(c, '#');
  // The column is still unread: the value comes whole.
  EXPECT_EQ(pc.getString(1, buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "4.1");
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, ReadsTimestampColumns) {
  DataSource ds(GetParam(), Schema::V4);
  const struct {
    int id;
    const char* literal;
    int year, month, day, hour, minute, second;
  } cases[] = {
      {901, "1987-03-15 13:45:30", 1987, 3, 15, 13, 45, 30},
      {902, "1899-12-30 00:00:00", 1899, 12, 30, 0, 0, 0},
      {903, "2000-02-29 23:59:59", 2000, 2, 29, 23, 59, 59},
      {904, "2038-01-19 03:14:08", 2038, 1, 19, 3, 14, 8},
      {905, "9999-12-31 00:00:01", 9999, 12, 31, 0, 0, 1},
  };
  std::string insert;
  for (const auto& c : cases)
    insert += "INSERT INTO Company (CompanyID, BusnStart) VALUES (" + std::to_string(c.id) + ", '" + c.literal + "');\n";
  ds.exec(insert);
  CPersistCalendar pc;
  ASSERT_TRUE(pc.prepareHSTMT("SELECT BusnStart, CompanyID FROM Company WHERE CompanyID > 900 ORDER BY CompanyID"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.literal);
    TIMESTAMP_STRUCT ts;
    std::memset(&ts, 0x55, sizeof ts);
    ASSERT_TRUE(pc.getTimestamp(1, &ts));
    EXPECT_EQ(pc.getInt(2), c.id);
    EXPECT_EQ(ts.year, c.year);
    EXPECT_EQ(ts.month, c.month);
    EXPECT_EQ(ts.day, c.day);
    EXPECT_EQ(ts.hour, c.hour);
    EXPECT_EQ(ts.minute, c.minute);
    EXPECT_EQ(ts.second, c.second);
    EXPECT_EQ(ts.fraction, 0u);
    bool more = pc.nextRow();
    EXPECT_EQ(more, &c != &cases[std::size(cases) - 1]);
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, ANewQueryDiscardsThePendingRows) {
  DataSource ds(GetParam(), Schema::V4);
  CPersistCalendar pc;
  ASSERT_TRUE(pc.prepareHSTMT("SELECT BookID FROM Book WHERE CompanyID = 1 ORDER BY BookID"));
  EXPECT_EQ(pc.getInt(1), 0);
  // Five Book rows are still pending; the second statement's rows come alone.
  EXPECT_EQ(walkInts(pc, "SELECT CompanyID FROM Company ORDER BY CompanyID"), (std::vector<int32_t>{1, 4, 5}));
  EXPECT_FALSE(pc.nextRow());
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, TerminateIsAlwaysTrueAndAQueryAfterItReconnects) {
  DataSource ds(GetParam(), Schema::V5);
  CPersistCalendar pc;
  EXPECT_TRUE(pc.terminate());  // never connected
  EXPECT_TRUE(pc.terminate());
  EXPECT_EQ(ResolverTestAccess::job(pc).henv, nullptr);
  EXPECT_EQ(ResolverTestAccess::job(pc).hdbc, nullptr);
  EXPECT_EQ(ResolverTestAccess::job(pc).hstmt, nullptr);

  char buf[20];
  ASSERT_TRUE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  EXPECT_NE(ResolverTestAccess::job(pc).henv, nullptr);
  EXPECT_NE(ResolverTestAccess::job(pc).hdbc, nullptr);
  EXPECT_NE(ResolverTestAccess::job(pc).hstmt, nullptr);
  EXPECT_TRUE(pc.terminate());
  EXPECT_EQ(ResolverTestAccess::job(pc).henv, nullptr);
  EXPECT_EQ(ResolverTestAccess::job(pc).hdbc, nullptr);
  EXPECT_EQ(ResolverTestAccess::job(pc).hstmt, nullptr);
  EXPECT_TRUE(pc.terminate());

  ASSERT_TRUE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  ASSERT_EQ(pc.getString(1, buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "5.0");
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, AbsentDataSourceFailsOnceThenOnlyAtTheStatement) {
  DataSource absent(GetParam(), Schema::V4, Fault::Absent);
  CPersistCalendar pc;
  EXPECT_FALSE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  ASSERT_FALSE(boxes.empty());
  for (const auto& b : boxes) {
    EXPECT_EQ(b.caption, "SQL Error");
    EXPECT_EQ(b.label, "SQLConnect (openHDBC)") << b.text;
    EXPECT_EQ(b.state.substr(0, 2), "IM") << "driver manager state expected: " << b.text;
  }
  EXPECT_NE(ResolverTestAccess::job(pc).hdbc, nullptr);  // kept: it stands for the connection from now on
  EXPECT_TRUE(ResolverTestAccess::job(pc).linkLost);

  // Known lost: no statement and no box any more, and still a failure.
  boxes.clear();
  const uint32_t failures = ResolverTestAccess::job(pc).failures;
  EXPECT_FALSE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ResolverTestAccess::job(pc).failures, failures + 1);

  // Even once the data source exists, no new connection is tried...
  DataSource present(GetParam(), Schema::V4);
  boxes.clear();
  EXPECT_FALSE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  EXPECT_TRUE(boxes.empty());

  // ...until terminate.
  boxes.clear();
  EXPECT_TRUE(pc.terminate());
  char buf[20];
  ASSERT_TRUE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  ASSERT_EQ(pc.getString(1, buf, sizeof buf), buf);
  EXPECT_STREQ(buf, "4.1");
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, FailingStatementShowsTheDriversRecords) {
  DataSource ds(GetParam(), Schema::V4);
  const char* sql = "SELECT Info FROM NoSuchTable";
  const std::vector<Diag> records = rawFailureRecords(sql);
  ASSERT_FALSE(records.empty()) << "the driver accepted a statement on a missing table";

  CPersistCalendar pc;
  EXPECT_FALSE(pc.prepareHSTMT(sql));
  ASSERT_EQ(boxes.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(boxes[i].caption, "SQL Error");
    EXPECT_EQ(boxes[i].text, expectedBoxText("SQLExecDirect (prepareHSTMT)", records[i]));
  }
  // Missing table: syntax/access class (42, ODBC 2's S0) or the driver's general error.
  EXPECT_TRUE(isOneOf(boxes[0].state.substr(0, 2), {"42", "S0", "S1", "HY"})) << boxes[0].text;

  // The handle serves the next statement.
  boxes.clear();
  EXPECT_EQ(walkInts(pc, "SELECT OrigYrEnd from Book where BookID = 6 AND CompanyID = 1"), std::vector<int32_t>{11});
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, BoxTextIsCutToItsBufferNeverOverrun) {
  DataSource ds(GetParam(), Schema::V4);
  // A failure pending on handles of our own, reported under a label far longer
  // than the 768-byte box text.
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT stmt = nullptr;
  ASSERT_GE(SQLAllocEnv(&env), 0);
  ASSERT_GE(SQLAllocConnect(env, &dbc), 0);
  char dsn[] = "WINZELRW", user[] = "WINZEL";
  ASSERT_GE(SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(dsn), SQL_NTS, reinterpret_cast<SQLCHAR*>(user), SQL_NTS,
                       reinterpret_cast<SQLCHAR*>(getPassword()), SQL_NTS),
            0);
  ASSERT_GE(SQLAllocStmt(dbc, &stmt), 0);
  char sql[] = "SELECT Info FROM NoSuchTable";
  ASSERT_LT(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql), SQL_NTS), 0);

  const std::string label(1000, 'L');
  doErrors(env, dbc, stmt, label.c_str());
  SQLFreeStmt(stmt, SQL_DROP);
  SQLDisconnect(dbc);
  SQLFreeConnect(dbc);
  SQLFreeEnv(env);

  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "SQL Error");
  EXPECT_EQ(boxes[0].text, label.substr(0, 767));
}

TEST_P(DbLayer, UnreadableColumnGivesTheFailureValues) {
  DataSource ds(GetParam(), Schema::V4);
  CPersistCalendar pc;
  const char* sql = "SELECT OrigYrEnd from Book where BookID = 0 AND CompanyID = 1";

  // Column 2 does not exist: both integer attempts fail, one box each.
  ASSERT_TRUE(pc.prepareHSTMT(sql));
  EXPECT_EQ(pc.getInt(2), -1);
  EXPECT_EQ(labels(boxes), (std::vector<std::string>{"SQLGetData (getInt)", "SQLGetData (getInt)"}));

  boxes.clear();
  ASSERT_TRUE(pc.prepareHSTMT(sql));
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(pc.getString(2, buf, sizeof buf), nullptr);
  EXPECT_EQ(buf[0], '\0');  // a terminated (empty) text all the same
  EXPECT_EQ(labels(boxes), std::vector<std::string>{"SQLGetData (getString)"});

  boxes.clear();
  ASSERT_TRUE(pc.prepareHSTMT(sql));
  TIMESTAMP_STRUCT ts;
  EXPECT_FALSE(pc.getTimestamp(2, &ts));
  EXPECT_EQ(labels(boxes), (std::vector<std::string>{"SQLGetData (getTimestamp)", "SQLGetData (getTimestamp)"}));

  // Invalid descriptor index: 07 (ODBC 3) or S1 (ODBC 2's general class).
  for (const auto& c : stateClasses(boxes)) EXPECT_TRUE(isOneOf(c, {"07", "S1", "HY"})) << c;

  // Column 1 is fine on the same row set.
  boxes.clear();
  ASSERT_TRUE(pc.prepareHSTMT(sql));
  EXPECT_EQ(pc.getInt(1), 12);
  EXPECT_TRUE(boxes.empty());
}

TEST_P(DbLayer, ReadingBeforeAnyQueryIsRefusedSafely) {
  DataSource ds(GetParam(), Schema::V4);
  CPersistCalendar pc;
  // No statement handle yet: every reader gives its failure value.
  EXPECT_FALSE(pc.nextRow());
  EXPECT_EQ(pc.getInt(1), -1);
  char buf[8] = "xxxxxxx";
  EXPECT_EQ(pc.getString(1, buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "");
  TIMESTAMP_STRUCT ts;
  EXPECT_FALSE(pc.getTimestamp(1, &ts));
  EXPECT_FALSE(pc.getTimestamp(1, nullptr));
  EXPECT_FALSE(pc.prepareHSTMT(nullptr));
  EXPECT_EQ(ResolverTestAccess::job(pc).hdbc, nullptr);  // and no connection was made for them
  // The object still works normally afterwards.
  EXPECT_EQ(walkInts(pc, "SELECT OrigYrEnd from Book where BookID = 6 AND CompanyID = 1"), std::vector<int32_t>{11});
}

TEST_P(DbLayer, ReadingAfterAFailedStatementIsRefusedSafely) {
  DataSource ds(GetParam(), Schema::V4);
  CPersistCalendar pc;
  ASSERT_FALSE(pc.prepareHSTMT("SELECT Info FROM NoSuchTable"));
  boxes.clear();
  // No result set: the driver manager refuses every read (function sequence).
  EXPECT_EQ(pc.getInt(1), -1);
  EXPECT_EQ(boxes.size(), 2u);
  char buf[8] = "xxxxxxx";
  EXPECT_EQ(pc.getString(1, buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "");
  TIMESTAMP_STRUCT ts;
  EXPECT_FALSE(pc.getTimestamp(1, &ts));
  EXPECT_EQ(boxes.size(), 5u);
  for (const auto& c : stateClasses(boxes)) EXPECT_TRUE(isOneOf(c, {"S1", "HY", "24"})) << c;
}

INSTANTIATE_TEST_SUITE_P(Drivers, DbLayer, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), backendParamName);

// What only the server database can show: authentication and fetch-time failures.
class DbLayerPostgres : public ::testing::Test {
 protected:
  void SetUp() override { setMessageBoxSink(&captureBox, &boxes); }
  void TearDown() override { setMessageBoxSink(nullptr, nullptr); }
  std::vector<Box> boxes;
};

TEST_F(DbLayerPostgres, WrongPasswordShowsOneBoxPerRecordThenNoNewAttempt) {
  DataSource ds(Backend::PostgreSQL, Schema::V4, Fault::WrongPassword);
  const std::vector<Diag> records = rawFailureRecords(nullptr);
  ASSERT_FALSE(records.empty()) << "the server took a password it should refuse";

  CPersistCalendar pc;
  EXPECT_FALSE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  ASSERT_EQ(boxes.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(boxes[i].caption, "SQL Error");
    EXPECT_EQ(boxes[i].text, expectedBoxText("SQLConnect (openHDBC)", records[i]));
  }
  // Connection failures: class 08 (the driver) or 28 (authorization).
  EXPECT_TRUE(isOneOf(boxes[0].state.substr(0, 2), {"08", "28"})) << boxes[0].text;

  boxes.clear();
  EXPECT_FALSE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  EXPECT_TRUE(boxes.empty()) << "a second set of boxes for the same failure";
}

TEST_F(DbLayerPostgres, ALostConnectionStopsStatementsUntilTerminate) {
  DataSource ds(Backend::PostgreSQL, Schema::V4);
  CPersistCalendar pc;
  const char* sql = "SELECT OrigYrEnd from Book where BookID = 6 AND CompanyID = 1";
  ASSERT_TRUE(pc.prepareHSTMT(sql));
  EXPECT_FALSE(ResolverTestAccess::job(pc).linkLost);
  // The server ends the library's session, as an administrator or a restart would.
  ds.exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = 'WINZEL' AND datname = '" +
          ds.database() + "'");
  EXPECT_FALSE(pc.prepareHSTMT(sql));
  ASSERT_FALSE(boxes.empty());
  EXPECT_TRUE(ResolverTestAccess::job(pc).linkLost) << boxes[0].text;
  bool linkState = false;
  for (const auto& b : boxes) linkState = linkState || b.state.substr(0, 2) == "08" || b.state.substr(0, 3) == "57P";
  EXPECT_TRUE(linkState) << "no connection state among the records";

  // Known lost: neither a statement nor a box, and a failure each time.
  boxes.clear();
  const uint32_t failures = ResolverTestAccess::job(pc).failures;
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(pc.prepareHSTMT(sql));
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ResolverTestAccess::job(pc).failures, failures + 3);

  EXPECT_TRUE(pc.terminate());
  EXPECT_FALSE(ResolverTestAccess::job(pc).linkLost);
  ASSERT_TRUE(pc.prepareHSTMT(sql));
  EXPECT_EQ(pc.getInt(1), 11);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(DbLayerPostgres, RightPasswordIsAccepted) {
  DataSource ds(Backend::PostgreSQL, Schema::V4);
  EXPECT_TRUE(rawFailureRecords("SELECT Info FROM VersionTable").empty());
  CPersistCalendar pc;
  EXPECT_TRUE(pc.prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0"));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(DbLayerPostgres, TheRoleCannotWrite) {
  DataSource ds(Backend::PostgreSQL, Schema::V4);
  ds.setOption("ReadOnly", "0");  // let the statement reach the server
  CPersistCalendar pc;
  EXPECT_FALSE(pc.prepareHSTMT("DELETE FROM Book"));
  ASSERT_EQ(labels(boxes), std::vector<std::string>{"SQLExecDirect (prepareHSTMT)"});
  // Refused by the server: read-only transaction (25) or no privilege (42).
  EXPECT_TRUE(isOneOf(boxes[0].state.substr(0, 2), {"25", "42"})) << boxes[0].text;
  EXPECT_EQ(ds.rows("SELECT count(*) FROM Book WHERE CompanyID = 1"), std::vector<std::string>{"6"});
}

TEST_F(DbLayerPostgres, FailureWhileFetchingIsReportedByNextRow) {
  DataSource ds(Backend::PostgreSQL, Schema::V4);
  // Rows fetched one at a time from a cursor, so the third row's error surfaces
  // in the fetch, not in the execution.
  ds.setOption("UseDeclareFetch", "1");
  ds.setOption("Fetch", "1");
  CPersistCalendar pc;
  ASSERT_TRUE(pc.prepareHSTMT("SELECT CASE WHEN g < 3 THEN g ELSE 1 / (g - g) END FROM generate_series(1, 5) g"));
  EXPECT_EQ(pc.getInt(1), 1);
  ASSERT_TRUE(pc.nextRow());
  EXPECT_EQ(pc.getInt(1), 2);
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(pc.nextRow());
  ASSERT_EQ(labels(boxes), std::vector<std::string>{"SQLFetch (nextRow)"});
  EXPECT_EQ(boxes[0].state.substr(0, 2), "22") << boxes[0].text;  // data exception: division by zero
}

TEST_F(DbLayerPostgres, SeveralPendingRecordsGiveOneBoxEach) {
  DataSource ds(Backend::PostgreSQL, Schema::V4);
  // A message of 1300 characters reaches the driver manager as several records of
  // at most 511 characters; each is shown in its own box, cut to the 511 bytes
  // asked for (510 characters and the terminator), in the driver's order.
  const char* sql = "DO $$ BEGIN RAISE EXCEPTION '%', repeat('0123456789', 130); END $$";
  const std::vector<Diag> records = rawFailureRecords(sql);
  ASSERT_GE(records.size(), 2u);
  EXPECT_GE(records[0].message.size(), 511u);

  CPersistCalendar pc;
  EXPECT_FALSE(pc.prepareHSTMT(sql));
  ASSERT_EQ(boxes.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    Diag cut = records[i];
    cut.message = cut.message.substr(0, 510);
    EXPECT_EQ(boxes[i].text, expectedBoxText("SQLExecDirect (prepareHSTMT)", cut)) << "record " << i;
  }
  boxes.clear();

  // Short messages are one record each and shown whole.
  const char* shortFailure = "DO $$ BEGIN RAISE EXCEPTION 'short failure'; END $$";
  const std::vector<Diag> shortRecords = rawFailureRecords(shortFailure);
  ASSERT_EQ(shortRecords.size(), 1u);
  EXPECT_FALSE(pc.prepareHSTMT(shortFailure));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, expectedBoxText("SQLExecDirect (prepareHSTMT)", shortRecords[0]));
}

TEST(DbPassword, IsBuiltInTheStaticBufferAndAbsentFromTheLibraryFile) {
  char* pw = getPassword();
  ASSERT_EQ(pw, passbuff);
  ASSERT_EQ(std::strlen(pw), 7u);
  const std::string clear(pw, 7);
  for (char c : clear) EXPECT_TRUE(c > ' ' && c < 127) << "password characters are printable";
  EXPECT_EQ(std::string(getPassword()), clear);  // built anew, the same each time

  std::ifstream in(U2LVOST_LIBRARY, std::ios::binary);
  ASSERT_TRUE(in) << "cannot read " << U2LVOST_LIBRARY;
  const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(image.size(), 1000u);
  EXPECT_EQ(image.find(clear), std::string::npos) << "the clear password is in " << U2LVOST_LIBRARY;
}

}  // namespace
