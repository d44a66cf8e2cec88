// The resolver's database layer: one connection to the fixed data source per
// report job, opened on the job's first statement, with a login and a query
// timeout; one statement handle reused by every query; typed readers for the
// current row; every ODBC diagnostic record shown in an "SQL Error" box.
//
// A return code below zero is a failure; SQL_SUCCESS_WITH_INFO counts as
// success everywhere. Every failed read is counted (_job.failures), so that
// callers can tell an error from an empty result; a failure whose state says
// the connection is gone or the statement ran out of time ends the job's
// database work: no statement and no box until the next job.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "DATE.h"
#include "companyDatabase.h"
#include "credentials.h"
#include "ktstr.h"
#include "persistCalendar.h"
#include "platform.h"

namespace {

using companyDatabase::kDataSource;
using companyDatabase::kErrorCaption;
using companyDatabase::kUser;

// A driver that kept answering SQL_SUCCESS would otherwise hold the user in an
// endless series of boxes; no real failure carries this many records.
const int kMaxDiagnosticRecords = 64;

bool failed(SQLRETURN rc) { return rc < 0; }

// One diagnostic record, read once: some drivers misbehave when asked twice.
struct Diagnostic {
  char state[6];
  SQLINTEGER native;
  char message[513];
};

// Every pending record of the handles, in the driver's order.
std::vector<Diagnostic> readDiagnostics(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt) {
  std::vector<Diagnostic> records;
  for (int shown = 0; shown < kMaxDiagnosticRecords; ++shown) {
    Diagnostic d;
    std::memset(&d, 0, sizeof d);
    SQLRETURN rc = SQLError(henv, hdbc, hstmt, reinterpret_cast<SQLCHAR*>(d.state), &d.native,
                            reinterpret_cast<SQLCHAR*>(d.message), 511, nullptr);
    // With info: the message did not fit and comes cut. It is still a record to
    // show; stopping there would hide a failure whose text is long.
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    // A driver that fills every byte must still leave us terminated texts.
    d.state[sizeof d.state - 1] = '\0';
    d.message[sizeof d.message - 1] = '\0';
    records.push_back(d);
  }
  return records;
}

void showDiagnostics(const std::vector<Diagnostic>& records, const char* funcName) {
  char buff[768];
  if (!funcName) funcName = "";
  for (const Diagnostic& d : records) {
    // Bounded: a long driver message is cut, never written past buff.
    std::snprintf(buff, sizeof buff, "%s\n[%s][Native:  %ld]\n%s", funcName, d.state, static_cast<long>(d.native),
                  d.message);
    showMessageBox(kErrorCaption, buff);
  }
}

bool stateIs(const Diagnostic& d, const char* state) { return std::strcmp(d.state, state) == 0; }

// The connection itself is gone, not just this statement: the connection-
// exception class 08 (08S01 communication link failure, 08003 not open, ...),
// and the server's own "shutting down / cannot connect now" states that a
// driver may pass through unchanged.
bool isLinkState(const Diagnostic& d) {
  if (d.state[0] == '0' && d.state[1] == '8') return true;
  return stateIs(d, "57P01") || stateIs(d, "57P02") || stateIs(d, "57P03");
}

// The statement ran out of time: the driver's own timeout (HYT00, HYT01), the
// server's statement timeout or a cancel (57014), or SQLite's busy timeout,
// which its driver reports as a general error with SQLite's code 5 or 6.
// States come in their ODBC 2 spelling (S1T00, S1000) to the ODBC 2
// environment the layer allocates.
bool isTimeoutState(const Diagnostic& d) {
  if (stateIs(d, "HYT00") || stateIs(d, "S1T00") || stateIs(d, "HYT01") || stateIs(d, "57014")) return true;
  const bool general = stateIs(d, "HY000") || stateIs(d, "S1000");
  return general && (d.native == 5 || d.native == 6) && std::strstr(d.message, "locked") != nullptr;
}

// The statement names a table that does not exist (ODBC 3, ODBC 2, PostgreSQL).
bool isMissingTableState(const Diagnostic& d) {
  return stateIs(d, "42S02") || stateIs(d, "S0002") || stateIs(d, "42P01");
}

// The server has no free connection slot. PostgreSQL's own state is 53300; its
// ODBC driver reports the refusal as 08001 with the server's text.
bool isNoSlotState(const Diagnostic& d) {
  if (stateIs(d, "53300")) return true;
  return stateIs(d, "08001") && (std::strstr(d.message, "too many clients") != nullptr ||
                                 std::strstr(d.message, "too many connections") != nullptr ||
                                 std::strstr(d.message, "remaining connection slots are reserved") != nullptr);
}

// The connection string: the data source, the SQLite driver's busy timeout (in
// milliseconds; other drivers ignore the keyword), the user and the password,
// braced when it holds characters the string gives a meaning to. The password
// comes last, so that a driver that cannot read braces loses nothing before it.
std::string connectionString(const char* password, unsigned queryTimeout) {
  std::string text = std::string("DSN=") + kDataSource + ";Timeout=" + std::to_string(queryTimeout * 1000u) +
                     ";UID=" + kUser + ";PWD=";
  const std::string pwd = password;
  if (pwd.find_first_of(";{}= ") == std::string::npos) return text + pwd;
  text += '{';
  for (char c : pwd) {
    text += c;
    if (c == '}') text += '}';
  }
  return text + '}';
}

}  // namespace

void doErrors(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName) {
  showDiagnostics(readDiagnostics(henv, hdbc, hstmt), funcName);
}

bool CPersistCalendar::readFailed(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName) {
  ++_job.failures;
  const std::vector<Diagnostic> records = readDiagnostics(henv, hdbc, hstmt);
  showDiagnostics(records, funcName);
  bool missingTable = false;
  for (const Diagnostic& d : records) {
    if (isLinkState(d)) _job.linkLost = true;
    if (isTimeoutState(d)) _job.timedOut = true;
    if (isMissingTableState(d)) missingTable = true;
  }
  if (missingTable) _missingTableState = true;
  return missingTable;
}

bool CPersistCalendar::openHDBC() {
  if (_job.henv == nullptr) {
    if (failed(SQLAllocEnv(&_job.henv))) {
      _job.henv = nullptr;  // the next query tries again
      readFailed(_job.henv, nullptr, nullptr, "SQLAllocEnv (openHDBC)");
      return false;
    }
  }
  // A connection handle stands for an open connection, also after a failed
  // connect: no new attempt is made in this job.
  if (_job.hdbc != nullptr) return true;
  if (failed(SQLAllocConnect(_job.henv, &_job.hdbc))) {
    _job.hdbc = nullptr;
    readFailed(_job.henv, nullptr, nullptr, "SQLAllocConnect (openHDBC)");
    return false;
  }
  // A refused site password file has shown its box; like a failed connect, the
  // handle stays and no new attempt is made in this job. The handle was never
  // connected: the job's later statements fail without using it.
  const char* password = dataSourcePassword();
  if (password == nullptr) {
    ++_job.failures;
    _job.linkLost = true;
    return false;
  }
  if (!connect(password)) {
    _job.linkLost = true;  // whatever the reason: tried again at the next job, not sooner
    return false;
  }
  return true;
}

bool CPersistCalendar::connect(const char* password) {
  // A listener that accepts and never answers must not hold the report.
  SQLSetConnectAttr(_job.hdbc, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(_job.timeouts.login)), 0);
  const std::string text = connectionString(password, _job.timeouts.query);
  const uint64_t started = monotonicMilliseconds();
  const uint64_t limit = uint64_t{_job.timeouts.login} * 1000u;
  uint32_t pause = 250;
  for (;;) {
    SQLRETURN rc = SQLDriverConnect(_job.hdbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str())),
                                    SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!failed(rc)) return true;
    const std::vector<Diagnostic> records = readDiagnostics(_job.henv, _job.hdbc, nullptr);
    bool noSlot = false;
    for (const Diagnostic& d : records) noSlot = noSlot || isNoSlotState(d);
    // A server full for the moment: other reports end and free their slots.
    // Tried again with a growing pause, as long as the login timeout allows.
    const uint64_t elapsed = monotonicMilliseconds() - started;
    if (noSlot && elapsed + pause < limit) {
      sleepMilliseconds(pause);
      pause *= 2;
      continue;
    }
    ++_job.failures;
    showDiagnostics(records, "SQLConnect (openHDBC)");
    return false;
  }
}

bool CPersistCalendar::openHSTMT() {
  if (!openHDBC()) return false;
  if (_job.hstmt != nullptr) {
    // Reuse: rows still pending from the previous statement are discarded.
    SQLFreeStmt(_job.hstmt, SQL_UNBIND);
    SQLFreeStmt(_job.hstmt, SQL_RESET_PARAMS);
    SQLFreeStmt(_job.hstmt, SQL_CLOSE);
    return true;
  }
  if (failed(SQLAllocStmt(_job.hdbc, &_job.hstmt))) {
    _job.hstmt = nullptr;
    readFailed(_job.henv, _job.hdbc, nullptr, "SQLAllocStmt (openHSTMT)");
    return false;
  }
  // Bounds a statement that waits on a lock. A driver that does not take it
  // (SQLite's) has the busy timeout of the connection string instead.
  SQLSetStmtAttr(_job.hstmt, SQL_ATTR_QUERY_TIMEOUT,
                 reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(_job.timeouts.query)), 0);
  return true;
}

bool CPersistCalendar::prepareHSTMT(const char* sql) {
  if (sql == nullptr) return false;  // no statement, nothing to report
  if (_job.databaseDone()) {
    // The connection failed or was lost, or a statement ran out of time: until
    // the next job no statement is sent and no box shown. Still a failure,
    // never "no rows".
    ++_job.failures;
    return false;
  }
  if (!openHSTMT()) return false;
  if (failed(SQLExecDirect(_job.hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS))) {
    readFailed(_job.henv, _job.hdbc, _job.hstmt, "SQLExecDirect (prepareHSTMT)");
    return false;
  }
  return nextRow();
}

bool CPersistCalendar::nextRow() {
  SQLRETURN rc = SQLFetch(_job.hstmt);
  if (rc == SQL_NO_DATA_FOUND) return false;
  if (failed(rc)) {
    readFailed(_job.henv, _job.hdbc, _job.hstmt, "SQLFetch (nextRow)");
    return false;
  }
  return true;
}

int32_t CPersistCalendar::getInt(int16_t fieldNo) {
  SQLINTEGER data = 0;
  SQLSMALLINT sdata = 0;
  SQLLEN pcbValue = 0;
  _lastIntNull = false;
  if (failed(SQLGetData(_job.hstmt, fieldNo, SQL_C_SLONG, &data, 4, &pcbValue))) {
    doErrors(_job.henv, _job.hdbc, _job.hstmt, "SQLGetData (getInt)");
    sdata = -1;
    if (failed(SQLGetData(_job.hstmt, fieldNo, SQL_C_SSHORT, &sdata, 2, &pcbValue))) {
      readFailed(_job.henv, _job.hdbc, _job.hstmt, "SQLGetData (getInt)");
      return -1;
    }
    data = sdata;
  }
  _lastIntNull = pcbValue == SQL_NULL_DATA;
  if (_lastIntNull) data = 0;
  return data;
}

char* CPersistCalendar::getString(int16_t fieldNo, char* str, int32_t len) {
  // No room for even the terminating zero: nothing can be handed back.
  if (str == nullptr || len < 1) return nullptr;
  str[0] = '\0';
  SQLLEN pcbValue = 0;
  if (failed(SQLGetData(_job.hstmt, fieldNo, SQL_C_CHAR, str, len, &pcbValue))) {
    readFailed(_job.henv, _job.hdbc, _job.hstmt, "SQLGetData (getString)");
    str[0] = '\0';  // whatever the driver left is no text of ours
    return nullptr;
  }
  if (pcbValue == SQL_NULL_DATA) str[0] = '\0';
  // A value cut to the buffer stays a terminated text even if a driver forgot.
  str[len - 1] = '\0';
  return str;
}

bool CPersistCalendar::getTimestamp(int16_t fieldNo, TIMESTAMP_STRUCT* ts) {
  if (ts == nullptr) return false;
  SQLLEN pcbValue = 0;
  _lastDateNull = false;
  if (!failed(SQLGetData(_job.hstmt, fieldNo, SQL_C_TIMESTAMP, ts, 16, &pcbValue))) {
    _lastDateNull = pcbValue == SQL_NULL_DATA;
    if (_lastDateNull) std::memset(ts, 0, sizeof *ts);
    return true;
  }
  doErrors(_job.henv, _job.hdbc, _job.hstmt, "SQLGetData (getTimestamp)");
  DATE_STRUCT ds;
  std::memset(&ds, 0, sizeof ds);
  if (failed(SQLGetData(_job.hstmt, fieldNo, SQL_C_DATE, &ds, 6, &pcbValue))) {
    readFailed(_job.henv, _job.hdbc, _job.hstmt, "SQLGetData (getTimestamp)");
    return false;
  }
  std::memset(ts, 0, sizeof *ts);
  _lastDateNull = pcbValue == SQL_NULL_DATA;
  if (pcbValue != SQL_NULL_DATA) {
    ts->year = ds.year;
    ts->month = ds.month;
    ts->day = ds.day;
  }
  return true;
}

namespace {

bool sameNameIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    const char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 32) : *a;
    const char y = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 32) : *b;
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

// The catalog decides what the failure alone cannot: a driver that reports
// every failure alike (SQLite's general error) still lists its tables. Asked
// without boxes; a catalog that cannot be read proves nothing missing.
bool CPersistCalendar::versionTableMissing(bool missingTableState) {
  if (missingTableState) return true;
  if (_job.databaseDone() || _job.hstmt == nullptr) return false;
  SQLFreeStmt(_job.hstmt, SQL_CLOSE);
  static char tableType[] = "TABLE";
  if (failed(SQLTables(_job.hstmt, nullptr, 0, nullptr, 0, nullptr, 0, reinterpret_cast<SQLCHAR*>(tableType),
                       SQL_NTS)))
    return false;
  // An old company database has its Book table and no VersionTable; a file
  // that lists no tables at all (SQLite's answer for a file that is no
  // database) proves nothing.
  bool found = false, listed = false, bookTable = false;
  for (;;) {
    const SQLRETURN rc = SQLFetch(_job.hstmt);
    if (rc == SQL_NO_DATA_FOUND) {
      listed = true;
      break;
    }
    if (failed(rc)) break;
    char name[256] = {};
    SQLLEN length = 0;
    if (failed(SQLGetData(_job.hstmt, 3, SQL_C_CHAR, name, sizeof name, &length))) break;
    if (length == SQL_NULL_DATA) continue;
    if (sameNameIgnoringCase(name, "VersionTable")) found = true;
    if (sameNameIgnoringCase(name, "Book")) bookTable = true;
  }
  SQLFreeStmt(_job.hstmt, SQL_CLOSE);
  return listed && !found && bookTable;
}

bool CPersistCalendar::terminate() {
  _job.closeConnection();
  return true;
}

bool isCalendarDate(const TIMESTAMP_STRUCT& ts) {
  if (ts.year < 1 || ts.year > 9999 || ts.month < 1 || ts.month > 12 || ts.day < 1) return false;
  return ts.day <= lastDayOfMonth(static_cast<int16_t>(ts.month), static_cast<int16_t>(ts.year));
}

// NULL has its own documented meaning. But a driver may also answer "NULL" for
// a value it cannot convert (SQLite does, for 'garbage', '2001-13-45' or 'abc'):
// only a column that is NULL as text too is NULL. A driver that will not give
// the column twice is taken at its word.
bool CPersistCalendar::reallyNull(int16_t fieldNo, ktStr& stored) {
  char text[64] = {};
  SQLLEN pcbValue = 0;
  if (failed(SQLGetData(_job.hstmt, fieldNo, SQL_C_CHAR, text, sizeof text, &pcbValue))) return true;
  if (pcbValue == SQL_NULL_DATA) return true;
  text[sizeof text - 1] = '\0';
  stored = ktStr("'") + text + "'";
  return false;
}

bool CPersistCalendar::storedDateOk(int16_t fieldNo, const TIMESTAMP_STRUCT& ts, ktStr& stored) {
  if (_lastDateNull) return reallyNull(fieldNo, stored);
  if (isCalendarDate(ts)) return true;
  stored = storedText(fieldNo);
  return false;
}

bool CPersistCalendar::storedNumberOk(int16_t fieldNo, ktStr& stored) {
  return !_lastIntNull || reallyNull(fieldNo, stored);
}

ktStr CPersistCalendar::storedText(int16_t fieldNo) {
  // Quiet: only for naming a value already found wrong.
  char text[64] = {};
  SQLLEN pcbValue = 0;
  if (failed(SQLGetData(_job.hstmt, fieldNo, SQL_C_CHAR, text, sizeof text, &pcbValue))) return ktStr("(unreadable)");
  if (pcbValue == SQL_NULL_DATA) return ktStr("NULL");
  text[sizeof text - 1] = '\0';
  return ktStr("'") + text + "'";
}

void CPersistCalendar::badStoredValue(const char* table, const char* column, const char* key, const char* stored,
                                      const char* what) {
  ++_job.failures;
  char buff[768];
  std::snprintf(buff, sizeof buff, "%s.%s is not %s\n%s\nstored: %s", table, column, what, key, stored);
  showMessageBox(kErrorCaption, buff);
}
