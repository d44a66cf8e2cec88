// The resolver's database layer: one connection to the fixed data source, opened
// on first use and kept; one statement handle reused by every query; typed readers
// for the current row; every ODBC diagnostic record shown in an "SQL Error" box.
//
// Only ODBC 2 core calls are used, so the same text builds against unixODBC and
// odbc32. A return code below zero is a failure; SQL_SUCCESS_WITH_INFO counts as
// success everywhere.
#include <cstdio>
#include <cstring>

#include "credentials.h"
#include "persistCalendar.h"
#include "platform.h"

namespace {

const char kDataSource[] = "WINZELRW";
const char kUser[] = "WINZEL";
const char kErrorCaption[] = "SQL Error";

// A driver that kept answering SQL_SUCCESS would otherwise hold the user in an
// endless series of boxes; no real failure carries this many records.
const int kMaxDiagnosticRecords = 64;

bool failed(SQLRETURN rc) { return rc < 0; }

}  // namespace

void doErrors(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName) {
  SQLCHAR sqlStateBuf[6];
  SQLINTEGER NativeError = 0;
  SQLCHAR vendorMsg[513];
  char buff[768];
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
    // Bounded: a long driver message is cut, never written past buff.
    std::snprintf(buff, sizeof buff, "%s\n[%s][Native:  %ld]\n%s", funcName,
                  reinterpret_cast<const char*>(sqlStateBuf), static_cast<long>(NativeError),
                  reinterpret_cast<const char*>(vendorMsg));
    showMessageBox(kErrorCaption, buff);
  }
}

bool CPersistCalendar::openHDBC() {
  if (_henv == nullptr) {
    if (failed(SQLAllocEnv(&_henv))) {
      _henv = nullptr;  // the next query tries again
      doErrors(_henv, nullptr, nullptr, "SQLAllocEnv (openHDBC)");
      return false;
    }
  }
  // A connection handle stands for an open connection, also after a failed
  // connect: no new attempt is made until terminate.
  if (_hdbc != nullptr) return true;
  if (failed(SQLAllocConnect(_henv, &_hdbc))) {
    _hdbc = nullptr;
    doErrors(_henv, nullptr, nullptr, "SQLAllocConnect (openHDBC)");
    return false;
  }
  // A refused site password file has shown its box; like a failed connect, the
  // handle stays and no new attempt is made until terminate.
  const char* password = dataSourcePassword();
  if (password == nullptr) return false;
  SQLRETURN rc = SQLConnect(_hdbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(kDataSource)), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>(kUser)), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>(password)), SQL_NTS);
  if (failed(rc)) {
    doErrors(_henv, _hdbc, nullptr, "SQLConnect (openHDBC)");
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
    doErrors(_henv, _hdbc, nullptr, "SQLAllocStmt (openHSTMT)");
    return false;
  }
  return true;
}

bool CPersistCalendar::prepareHSTMT(const char* sql) {
  if (sql == nullptr) return false;  // no statement, nothing to report
  if (!openHSTMT()) return false;
  if (failed(SQLExecDirect(_hstmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql)), SQL_NTS))) {
    doErrors(_henv, _hdbc, _hstmt, "SQLExecDirect (prepareHSTMT)");
    return false;
  }
  return nextRow();
}

bool CPersistCalendar::nextRow() {
  SQLRETURN rc = SQLFetch(_hstmt);
  if (rc == SQL_NO_DATA_FOUND) return false;
  if (failed(rc)) {
    doErrors(_henv, _hdbc, _hstmt, "SQLFetch (nextRow)");
    return false;
  }
  return true;
}

int32_t CPersistCalendar::getInt(int16_t fieldNo) {
  SQLINTEGER data = 0;
  SQLSMALLINT sdata = 0;
  SQLLEN pcbValue = 0;
  if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_SLONG, &data, 4, &pcbValue))) {
    doErrors(_henv, _hdbc, _hstmt, "SQLGetData (getInt)");
    sdata = -1;
    if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_SSHORT, &sdata, 2, &pcbValue))) {
      doErrors(_henv, _hdbc, _hstmt, "SQLGetData (getInt)");
      return -1;
    }
    data = sdata;
  }
  if (pcbValue == SQL_NULL_DATA) data = 0;
  return data;
}

char* CPersistCalendar::getString(int16_t fieldNo, char* str, int32_t len) {
  // No room for even the terminating zero: nothing can be handed back.
  if (str == nullptr || len < 1) return nullptr;
  str[0] = '\0';
  SQLLEN pcbValue = 0;
  if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_CHAR, str, len, &pcbValue))) {
    doErrors(_henv, _hdbc, _hstmt, "SQLGetData (getString)");
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
  if (!failed(SQLGetData(_hstmt, fieldNo, SQL_C_TIMESTAMP, ts, 16, &pcbValue))) {
    if (pcbValue == SQL_NULL_DATA) std::memset(ts, 0, sizeof *ts);
    return true;
  }
  doErrors(_henv, _hdbc, _hstmt, "SQLGetData (getTimestamp)");
  DATE_STRUCT ds;
  std::memset(&ds, 0, sizeof ds);
  if (failed(SQLGetData(_hstmt, fieldNo, SQL_C_DATE, &ds, 6, &pcbValue))) {
    doErrors(_henv, _hdbc, _hstmt, "SQLGetData (getTimestamp)");
    return false;
  }
  std::memset(ts, 0, sizeof *ts);
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
  if (_henv != nullptr) {
    SQLFreeEnv(_henv);
    _henv = nullptr;
  }
  return true;
}
