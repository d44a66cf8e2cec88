#include "site_check_odbc.h"

#include <algorithm>
#include <cstdlib>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include "companyDatabase.h"
#include "host_value.h"

namespace ufhost {
namespace site {
namespace {

std::string text(const SQLCHAR* s) { return reinterpret_cast<const char*>(s); }

// The handles of one look at the driver manager, freed in reverse.
struct Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  bool connected = false;
  Handles() {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) env = SQL_NULL_HENV;
    if (env) SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  ~Handles() {
    if (stmt) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (connected) SQLDisconnect(dbc);
    if (dbc) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env) SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
};

// "[state] message" of the first diagnostic record; its parts in state and message.
std::string firstDiagnostic(SQLSMALLINT type, SQLHANDLE h, std::string& st, std::string& m) {
  SQLCHAR state[6] = {0}, message[512] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  if (!h || !SQL_SUCCEEDED(SQLGetDiagRec(type, h, 1, state, &native, message, sizeof message, &len)))
    return "no diagnostic";
  st = text(state);
  m = text(message);
  for (char& c : m)
    if (c == '\n' || c == '\r') c = ' ';
  while (!m.empty() && m.back() == ' ') m.pop_back();
  return "[" + st + "] " + m;
}

std::string profileString(const char* section, const char* key, const char* file) {
  char buf[1024] = {0};
  int n = SQLGetPrivateProfileString(section, key, "", buf, sizeof buf, file);
  return n > 0 ? std::string(buf) : std::string();
}

// Walks one list to its end (so the next listing starts afresh); true when name is in it.
bool listed(SQLHENV env, SQLUSMALLINT first, const std::string& name, std::string& description) {
  SQLCHAR dsn[SQL_MAX_DSN_LENGTH + 1], desc[256];
  SQLSMALLINT dsnLen = 0, descLen = 0;
  bool found = false;
  SQLUSMALLINT direction = first;
  while (SQL_SUCCEEDED(SQLDataSources(env, direction, dsn, sizeof dsn, &dsnLen, desc, sizeof desc, &descLen))) {
    direction = SQL_FETCH_NEXT;
    if (!found && equalsNoCase(text(dsn), name)) {
      found = true;
      description = text(desc);
    }
  }
  return found;
}

// Whether the driver list has the driver; its Driver attribute (the library's
// file) in file when the list gives one.
bool driverListed(SQLHENV env, const std::string& name, std::string& file) {
  SQLCHAR desc[256], attrs[4096];
  SQLSMALLINT descLen = 0, attrLen = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  bool found = false;
  while (SQL_SUCCEEDED(SQLDrivers(env, direction, desc, sizeof desc, &descLen, attrs, sizeof attrs, &attrLen))) {
    direction = SQL_FETCH_NEXT;
    if (found || !equalsNoCase(text(desc), name)) continue;
    found = true;
    // Attributes: "key=value" texts, each ended by a NUL, the list by another.
    const size_t end = std::min<size_t>(attrLen > 0 ? size_t(attrLen) : 0, sizeof attrs - 1);
    for (size_t at = 0; at < end && attrs[at];) {
      std::string pair = text(attrs + at);
      at += pair.size() + 1;
      size_t eq = pair.find('=');
      if (eq != std::string::npos && equalsNoCase(pair.substr(0, eq), "driver")) file = pair.substr(eq + 1);
    }
  }
  return found;
}

}  // namespace

DataSourceFacts findDataSource(const char* name) {
  DataSourceFacts f;
  Handles h;
  if (!h.env) {
    f.problem = "the ODBC driver manager cannot allocate an environment";
    return f;
  }
  std::string description;
  if (listed(h.env, SQL_FETCH_FIRST_USER, name, description)) {
    f.defined = true;
  } else if (listed(h.env, SQL_FETCH_FIRST_SYSTEM, name, description)) {
    f.defined = f.system = true;
  } else {
    return f;
  }
  f.driverEntry = profileString(name, "Driver", "odbc.ini");
  f.database = profileString(name, "Database", "odbc.ini");
  if (f.driverEntry.empty()) f.driverEntry = description;
  const bool isPath = f.driverEntry.find('/') != std::string::npos || f.driverEntry.find('\\') != std::string::npos;
  if (isPath) {
    f.driverFile = f.driverEntry;
  } else {
    f.driverRegistered = driverListed(h.env, f.driverEntry, f.driverFile);
    if (f.driverRegistered && f.driverFile.empty())
      f.driverFile = profileString(f.driverEntry.c_str(), "Driver", "odbcinst.ini");
  }
  return f;
}

namespace {

// The rows of a result, each column as text ("" for NULL, and null[i] set).
struct Row {
  std::vector<std::string> text;
  std::vector<bool> null;
};
std::vector<Row> fetchRows(SQLHSTMT stmt, SQLSMALLINT columns) {
  std::vector<Row> rows;
  while (SQL_SUCCEEDED(SQLFetch(stmt))) {
    Row r;
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
      SQLCHAR value[256] = {0};
      SQLLEN len = 0;
      const bool got = SQL_SUCCEEDED(SQLGetData(stmt, c, SQL_C_CHAR, value, sizeof value, &len));
      r.null.push_back(!got || len == SQL_NULL_DATA);
      r.text.push_back(r.null.back() ? std::string() : text(value));
    }
    rows.push_back(r);
  }
  SQLFreeStmt(stmt, SQL_CLOSE);
  return rows;
}

std::vector<Row> queryRows(SQLHSTMT stmt, std::string sql, SQLSMALLINT columns) {
  if (!SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(&sql[0]), SQL_NTS))) return {};
  return fetchRows(stmt, columns);
}

// Connects with the user name only and reads the version row; false with the
// first diagnostic in c otherwise.
bool connectUserOnly(Handles& h, const char* dataSource, const char* user, Connection& c) {
  if (!h.env || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, h.env, &h.dbc))) {
    h.dbc = SQL_NULL_HDBC;
    c.refusal = "the driver manager cannot allocate a connection";
    return false;
  }
  // The library's bounds: a silent listener or a held lock must not hold the check.
  SQLSetConnectAttr(h.dbc, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(companyDatabase::kLoginTimeoutSeconds)), 0);
  std::string connect = std::string("DSN=") + dataSource + ";Timeout=" +
                        std::to_string(companyDatabase::kQueryTimeoutSeconds * 1000u) + ";UID=" + user + ";";
  SQLCHAR outText[1024];
  SQLSMALLINT outLen = 0;
  if (!SQL_SUCCEEDED(SQLDriverConnect(h.dbc, nullptr, reinterpret_cast<SQLCHAR*>(&connect[0]), SQL_NTS, outText,
                                      sizeof outText, &outLen, SQL_DRIVER_NOPROMPT))) {
    c.refusal = firstDiagnostic(SQL_HANDLE_DBC, h.dbc, c.refusalState, c.refusalMessage);
    return false;
  }
  h.connected = c.connected = true;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, h.dbc, &h.stmt))) {
    h.stmt = SQL_NULL_HSTMT;
    return false;
  }
  SQLSetStmtAttr(h.stmt, SQL_ATTR_QUERY_TIMEOUT,
                 reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(companyDatabase::kQueryTimeoutSeconds)), 0);
  const std::vector<Row> version = queryRows(h.stmt, companyDatabase::kVersionQuery, 1);
  if (!version.empty()) c.version = version.front().text[0];
  return true;
}

}  // namespace

SchemaFacts readSchema(const char* dataSource, const char* user) {
  SchemaFacts s;
  Handles h;
  if (!connectUserOnly(h, dataSource, user, s)) return s;
  // The catalogue's third column is the table's name.
  if (SQL_SUCCEEDED(SQLTables(h.stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0)))
    for (const Row& r : fetchRows(h.stmt, 3)) s.tables.push_back(r.text[2]);
  return s;
}

CompanyFacts readCompany(const char* dataSource, const char* user, int company) {
  CompanyFacts f;
  Handles h;
  if (!connectUserOnly(h, dataSource, user, f)) return f;
  const std::string where = " WHERE CompanyID = " + std::to_string(company);
  for (const Row& r : queryRows(h.stmt, "SELECT BookID, CalendarID FROM Book" + where, 2)) {
    BookFacts b;
    b.book = std::atoi(r.text[0].c_str());
    b.calendarNamed = !r.null[1];
    b.calendarId = std::atoi(r.text[1].c_str());
    f.books.push_back(b);
  }
  const std::vector<Row> calendars = queryRows(h.stmt, "SELECT CalendarID, CalendarName FROM Calendar" + where, 2);
  f.calendars = calendars.size();
  const std::vector<Row> cycles =
      queryRows(h.stmt, "SELECT CalendarID, COUNT(*) FROM CycleObject" + where + " GROUP BY CalendarID", 2);
  for (BookFacts& b : f.books) {
    if (!b.calendarNamed) continue;
    for (const Row& c : calendars)
      if (std::atoi(c.text[0].c_str()) == b.calendarId) {
        b.calendarFound = true;
        b.calendarName = c.text[1];
      }
    for (const Row& c : cycles)
      if (std::atoi(c.text[0].c_str()) == b.calendarId) b.cycles = std::atol(c.text[1].c_str());
  }
  return f;
}

}  // namespace site
}  // namespace ufhost
