// The resolver's database layer: one connection to the fixed data source, opened
// on first use and kept; one statement handle reused by every query; typed readers
// for the current row; every ODBC diagnostic record shown in an "SQL Error" box.
//
// Only ODBC 2 core calls are used, so the same text builds against unixODBC and
// odbc32. A return code below zero is a failure; SQL_SUCCESS_WITH_INFO counts as
// success everywhere. Every failed read is counted (_failures), so that callers
// can tell an error from an empty result; a failure whose state says the
// connection is gone stops all statements until terminate (the next job).
#include <cstdio>
#include <cstring>

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

// States that say the connection itself is gone, not just this statement: the
// connection-exception class 08 (08S01 communication link failure, 08003 not
// open, ...), and the server's own "shutting down / cannot connect now" states
// that a driver may pass through unchanged.
bool isLinkState(const SQLCHAR* state) {
  const char* s = reinterpret_cast<const char*>(state);
  if (s[0] == '0' && s[1] == '8') return true;
  return std::strcmp(s, "57P01") == 0 || std::strcmp(s, "57P02") == 0 || std::strcmp(s, "57P03") == 0;
}

// doErrors' work; tells whether a record said that the connection is gone.
bool showDiagnostics(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName) {
  SQLCHAR sqlStateBuf[6];
  SQLINTEGER NativeError = 0;
  SQLCHAR vendorMsg[513];
  char buff[768];
  bool linkLost = false;
  if (!funcName) funcName = "";
  for (int shown = 0; shown < kMaxDiagnosticRecords; ++shown) {
    std::memset(sqlStateBuf, 0, sizeof sqlStateBuf);
    std::memset(vendorMsg, 0, sizeof vendorMsg);
    NativeError = 0;
    SQLRETURN rc = SQLError(henv, hdbc, hstmt, sqlStateBuf, &NativeError, vendorMsg, 511, nullptr);
    // With info: the message did not fit and comes cut. It is still a record to
    // show; stopping there would hide a failure whose text is long.
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    // A driver that fills every byte must still leave us terminated texts.
    sqlStateBuf[sizeof sqlStateBuf - 1] = '\0';
    vendorMsg[sizeof vendorMsg - 1] = '\0';
    if (isLinkState(sqlStateBuf)) linkLost = true;
    // Bounded: a long driver message is cut, never written past buff.
    std::snprintf(buff, sizeof buff, "%s\n[%s][Native:  %ld]\n%s", funcName,
                  reinterpret_cast<const char*>(sqlStateBuf), static_cast<long>(NativeError),
                  reinterpret_cast<const char*>(vendorMsg));
    showMessageBox(kErrorCaption, buff);
  }
  return linkLost;
}

}  // namespace

void doErrors(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName) {
  showDiagnostics(henv, hdbc, hstmt, funcName);
}

void CPersistCalendar::readFailed(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName) {
  ++_failures;
  if (showDiagnostics(henv, hdbc, hstmt, funcName)) _linkLost = true;
}

bool CPersistCalendar::openHDBC() {
  if (_henv == nullptr) {
    if (failed(SQLAllocEnv(&_henv))) {
      _henv = nullptr;  // the next query tries again
      readFailed(_henv, nullptr, nullptr, "SQLAllocEnv (openHDBC)");
      return false;
    }
  }
  // A connection handle stands for an open connection, also after a failed
  // connect: no new attempt is made until terminate.
  if (_hdbc != nullptr) return true;
  if (failed(SQLAllocConnect(_henv, &_hdbc))) {
    _hdbc = nullptr;
    readFailed(_henv, nullptr, nullptr, "SQLAllocConnect (openHDBC)");
    return false;
  }
  // A refused site password file has shown its box; like a failed connect, the
  // handle stays and no new attempt is made until terminate. The handle was
  // never connected: the job's later statements fail without using it.
  const char* password = dataSourcePassword();
  if (password == nullptr) {
    ++_failures;
    _linkLost = true;
    return false;
  }
  SQLRETURN rc = SQLConnect(_hdbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kDataSource)), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>(kUser)), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>(password)), SQL_NTS);
  if (failed(rc)) {
    readFailed(_henv, _hdbc, nullptr, "SQLConnect (openHDBC)");
    _linkLost = true;  // whatever the reason: tried again at the next job, not sooner
    return false;
  }
  _connected = true;
  return true;
}

bool CPersistCalendar::openHSTMT() {
  if (!openHDBC()) return false;
  if (_hstmt != nullptr) {
    // Reuse: rows still pending from the previous statement are discarded.
    SQLFreeStmt(_hstmt, SQL_UNBIND);
    SQLFreeStmt(_hstmt, SQL_RESET_PARAMS);
    SQLFreeStmt(_hstmt, SQL_CLOSE);
    return true;
  }
  if (failed(SQLAllocStmt(_hdbc, &_hstmt))) {
    _hstmt = nullptr;
    readFailed(_henv, _hdbc, nullptr, "SQLAllocStmt (openHSTMT)");
    return false;
  }
  return true;
}

bool CPersistCalendar::prepareHSTMT(const char* sql) {
  if (sql == nullptr) return false;  // no statement, nothing to report
  if (_linkLost) {
    // The connection failed or was lost: until terminate (the next job) no
    // statement is sent and no box shown. Still a failure, never "no rows".
    ++_failures;
    return false;
  }
  if (!openHSTMT()) return false;
  if (failed(SQLExecDirect(_hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS))) {
    readFailed(_henv, _hdbc, _hstmt, "SQLExecDirect (prepareHSTMT)");
    return false;
  }
  return nextRow();
}

bool CPersistCalendar::nextRow() {
  SQLRETURN rc = SQLFetch(_hstmt);
  if (rc == SQL_NO_DATA_FOUND) return false;
  if (failed(rc)) {
    readFailed(_henv, _hdbc, _hstmt, "SQLFetch (nextRow)");
    return false;
  }
  return true;
}

int32_t CPersistCalendar::getInt(int16_t fieldNo) {
  SQLINTEGER data = 0;
  SQLSMALLINT sdata = 0;
  SQLLEN pcbValue = 0;
  _lastIntNull = false;
  if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_SLONG, &data, 4, &pcbValue))) {
    doErrors(_henv, _hdbc, _hstmt, "SQLGetData (getInt)");
    sdata = -1;
    if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_SSHORT, &sdata, 2, &pcbValue))) {
      readFailed(_henv, _hdbc, _hstmt, "SQLGetData (getInt)");
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
  if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_CHAR, str, len, &pcbValue))) {
    readFailed(_henv, _hdbc, _hstmt, "SQLGetData (getString)");
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
  if (!failed(SQLGetData(_hstmt, fieldNo, SQL_C_TIMESTAMP, ts, 16, &pcbValue))) {
    _lastDateNull = pcbValue == SQL_NULL_DATA;
    if (_lastDateNull) std::memset(ts, 0, sizeof *ts);
    return true;
  }
  doErrors(_henv, _hdbc, _hstmt, "SQLGetData (getTimestamp)");
  DATE_STRUCT ds;
  std::memset(&ds, 0, sizeof ds);
  if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_DATE, &ds, 6, &pcbValue))) {
    readFailed(_henv, _hdbc, _hstmt, "SQLGetData (getTimestamp)");
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

bool CPersistCalendar::terminate() {
  if (_hstmt != nullptr) {
    SQLFreeStmt(_hstmt, SQL_DROP);
    _hstmt = nullptr;
  }
  if (_hdbc != nullptr) {
    SQLDisconnect(_hdbc);
    SQLFreeConnect(_hdbc);
    _hdbc = nullptr;
  }
  _connected = false;
  _linkLost = false;  // the next statement connects afresh
  if (_henv != nullptr) {
    SQLFreeEnv(_henv);
    _henv = nullptr;
  }
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
  if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_CHAR, text, sizeof text, &pcbValue))) return true;
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
  if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_CHAR, text, sizeof text, &pcbValue))) return ktStr("(unreadable)");
  if (pcbValue == SQL_NULL_DATA) return ktStr("NULL");
  text[sizeof text - 1] = '\0';
  return ktStr("'") + text + "'";
}

void CPersistCalendar::badStoredValue(const char* table, const char* column, const char* key, const char* stored,
                                      const char* what) {
  ++_failures;
  char buff[768];
  std::snprintf(buff, sizeof buff, "%s.%s is not %s\n%s\nstored: %s", table, column, what, key, stored);
  showMessageBox(kErrorCaption, buff);
}
