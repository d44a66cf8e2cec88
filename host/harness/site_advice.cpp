#include "site_advice.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "companyDatabase.h"
#include "host_value.h"

namespace ufhost {
namespace site {
namespace {

using companyDatabase::kDataSource;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The text between the first pair of quotes after `after` ("database \"x\"" gives x).
std::string quotedAfter(const std::string& text, const char* after) {
  size_t at = lower(text).find(after);
  if (at == std::string::npos) return std::string();
  size_t open = text.find_first_of("\"'", at + std::char_traits<char>::length(after));
  if (open == std::string::npos) return std::string();
  size_t close = text.find(text[open], open + 1);
  return close == std::string::npos ? std::string() : text.substr(open + 1, close - open - 1);
}

bool windows(const Layout& l) { return l.kind == Layout::Windows; }

std::string script(const Layout& l, const char* name) {
  return l.dbScripts + (windows(l) ? "\\" : "/") + name;
}

std::string defineSource(const Layout& l) {
  // The report engine is 32-bit: a data source made by the 64-bit administrator is not seen.
  if (windows(l))
    return "define WINZELRW as a 32-bit system data source: run " + l.dsnScript +
           " as an administrator with the 32-bit driver's name and its attributes (e.g. \"SQLite3 ODBC Driver\" "
           "\"Database=C:\\data\\company.db\"), or use %SystemRoot%\\SysWOW64\\odbcad32.exe";
  return "define WINZELRW with " + l.dsnScript + " install sqlite FILE (or postgres HOST PORT DBNAME)";
}

bool isSqliteDriver(const std::string& driver) { return mentions(driver, "sqlite"); }
bool isPostgresDriver(const std::string& driver) { return mentions(driver, {"psql", "postgres"}); }

// The package (Linux) or installer (Windows) that brings a driver.
std::string driverPackage(const std::string& driver, const Layout& l) {
  if (windows(l)) {
    if (isSqliteDriver(driver)) return "the 32-bit SQLite3 ODBC driver (its sqliteodbc.exe installer)";
    if (isPostgresDriver(driver)) return "the 32-bit psqlODBC driver (its x86 installer; driver \"PostgreSQL Unicode\")";
    return "the 32-bit ODBC driver \"" + driver + "\"";
  }
  if (isSqliteDriver(driver)) return "the Debian package libsqliteodbc (apt-get install libsqliteodbc)";
  if (isPostgresDriver(driver)) return "the Debian package odbc-postgresql (apt-get install odbc-postgresql)";
  return "the package of the driver \"" + driver + "\"";
}

std::string registeredDrivers(const Layout& l) {
  return windows(l) ? "the Drivers tab of the 32-bit ODBC administrator lists" : "`odbcinst -q -d` lists";
}

Diagnosis sqliteFile(const SourceSetting& s, const Layout& l) {
  const std::string where = windows(l) ? "the data source's Database" : "Database in WINZELRW's entry";
  if (!s.file.exists)
    return {"the SQLite file " + s.database + " does not exist",
            "the SQLite file " + s.database + " does not exist: correct " + where +
                " to the company database's file, or put the file back there"};
  return {"the SQLite file " + s.database + " exists but this account cannot read and write it (" +
              s.file.permission + ")",
          "the SQLite file " + s.database + " exists but cannot be opened (" + s.file.permission +
              "): let the report engine's account read and write it and its folder (for example chgrp to that "
              "account's group and chmod 0660)"};
}

// The lines of each box with this caption that has any.
std::vector<std::vector<std::string>> boxesOf(const std::string& text, const char* caption) {
  std::vector<std::vector<std::string>> boxes;
  std::istringstream in(text);
  bool inBox = false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (inBox && !line.empty()) {
      boxes.back().push_back(line);
    } else {
      inBox = !inBox && line == caption;
      if (inBox) boxes.emplace_back();
    }
  }
  boxes.erase(std::remove_if(boxes.begin(), boxes.end(), [](const auto& b) { return b.empty(); }), boxes.end());
  return boxes;
}

std::string joined(std::vector<std::string>::const_iterator from, std::vector<std::string>::const_iterator to) {
  std::string text;
  for (; from != to; ++from) text += (text.empty() ? "" : " ") + *from;
  return text;
}

}  // namespace

std::vector<std::string> boxTexts(const std::string& text, const char* caption) {
  std::vector<std::string> texts;
  for (const auto& lines : boxesOf(text, caption)) texts.push_back(joined(lines.begin(), lines.end()));
  return texts;
}

bool mentions(const std::string& text, const char* phrase) { return lower(text).find(phrase) != std::string::npos; }

bool mentions(const std::string& text, std::initializer_list<const char*> phrases) {
  return std::any_of(phrases.begin(), phrases.end(), [&text](const char* p) { return mentions(text, p); });
}

bool isLoginRefusal(const std::string& state, const std::string& message) {
  return state.compare(0, 2, "28") == 0 || mentions(message, {"authentication", "scram", "no password supplied"});
}

Diagnosis driverNotRegistered(const std::string& driver, const Layout& l) {
  return {"WINZELRW names the driver \"" + driver + "\", which is not registered",
          "install " + driverPackage(driver, l) + ", or name a driver that " + registeredDrivers(l)};
}

Diagnosis driverFileMissing(const std::string& driver, const std::string& file, const Layout& l) {
  return {"the driver \"" + driver + "\" is registered to " + (file.empty() ? "no file" : file) +
              (file.empty() ? "" : ", which does not exist"),
          "reinstall " + driverPackage(driver + " " + file, l) + " so that " +
              (file.empty() ? "its file" : file) + " is there again, or correct the driver's Driver entry"};
}

Diagnosis dataSourceUndefined(const Layout& l) {
  return {std::string(kDataSource) + " is not defined",
          defineSource(l) + ", pointing at the company database"};
}

Diagnosis passwordFileRefused(const Layout& l) {
  if (windows(l))
    return {"the library refused the site password file",
            "mend the site password file as the box says: the password on its first line, in the folder "
            "%ProgramData%\\u2lvost that only Administrators and SYSTEM may change (run " + l.passwordFolderScript +
                " as an administrator)"};
  return {"the library refused the site password file",
          "mend the site password file as the box says: the password on its first line, owned by root or the "
          "report engine's account, mode 0640 or 0600"};
}

Diagnosis engineNotRegistered(const std::string& searched, const Layout& l) {
  return {"the calendar engine is not registered" + (searched.empty() ? "" : " (looked in " + searched + ")"),
          "register the calendar engine " + l.engineFile + ": " + l.registerEngine};
}

Diagnosis engineFileMissing(const std::string& file, const Layout& l) {
  return {"the calendar engine is registered to " + file + ", which does not exist",
          "register the engine's real file " + l.engineFile + " again: " + l.registerEngine};
}

Diagnosis sourceRefused(const std::string& state, const std::string& message, const SourceSetting& s,
                        const Layout& l) {
  return diagnoseBoxes({SqlErrorBox{"SQLDriverConnect", state, message}}, s, l);
}

Diagnosis diagnoseBoxes(const std::vector<SqlErrorBox>& boxes, const SourceSetting& s, const Layout& l) {
  const std::string odbcIni = windows(l) ? "the data source" : "odbc.ini";
  for (const SqlErrorBox& b : boxes) {
    const std::string& st = b.sqlState;
    const std::string& m = b.message;
    const std::string said = " ([" + st + "] " + m + ")";
    // unixODBC: "Can't open lib 'X' : file not found"; X is a registered name or a path.
    if (mentions(m, "can't open lib") || st == "IM003") {
      const std::string lib = quotedAfter(m, "can't open lib");
      const bool path = lib.find('/') != std::string::npos || lib.find('\\') != std::string::npos;
      if (!lib.empty() && !path && equalsNoCase(lib, s.driverEntry)) return driverNotRegistered(lib, l);
      return driverFileMissing(s.driverEntry.empty() ? lib : s.driverEntry, path ? lib : std::string(), l);
    }
    if (st == "IM002") {
      if (mentions(m, "data source name not found") && !s.driverEntry.empty()) return driverNotRegistered(s.driverEntry, l);
      return dataSourceUndefined(l);
    }
    if (st == "53300" || mentions(m, {"too many clients", "too many connections", "remaining connection slots"}))
      return {"the database server is full: it refused a connection at max_connections" + said,
              "let the report hosts share connections through a pooler (pgbouncer, see docs/many-users.md), or "
              "raise max_connections on the server and restart it"};
    // pg_hba.conf lines name databases: a misspelt name is refused as a login.
    if (mentions(m, "no pg_hba.conf entry")) {
      const std::string db = quotedAfter(m, "database");
      return {"the server has no pg_hba.conf line for WINZEL and database \"" + db + "\"" + said,
              "check the database name first: Database in " + odbcIni + " says \"" + db +
                  "\"; when it is right, add the pg_hba.conf line that " + script(l, "pg_role.sh") + " " + db +
                  " prints and reload the server"};
    }
    if (st == "3D000" || (mentions(m, "database \"") && mentions(m, "does not exist"))) {
      const std::string db = quotedAfter(m, "database");
      return {"the database \"" + db + "\" does not exist on the server" + said,
              "correct Database in " + odbcIni + " (\"" + db + "\") to the company database's name"};
    }
    // A pg_hba.conf line for the company database only sends any other name to
    // the scram-sha-256 lines, which refuse WINZEL as if the password were wrong.
    if (st == "28P01" || st == "28000" || mentions(m, {"password authentication failed", "scram"})) {
      const std::string db = s.database.empty() ? std::string("DBNAME") : s.database;
      return {"the server refused WINZEL's password" + said,
              "check the database name first: Database in " + odbcIni + " says \"" + db +
                  "\", and a misspelt name is refused as a wrong password; when it is right, give WINZEL the "
                  "library's password again: " + script(l, "pg_role.sh") + " " + db +
                  " --reset-password (as postgres or root), or, with a site password file, ALTER ROLE \"WINZEL\" "
                  "to that file's password; the pg_hba.conf line it prints goes above the scram-sha-256 lines"};
    }
    if (st == "42S02" || st == "42P01" || mentions(m, "no such table") ||
        (mentions(m, "relation") && mentions(m, "does not exist")))
      return {"a table of the company database is missing" + said,
              "create the six tables from " + script(l, "schema.sql") + " in the company database (db/README.md)"};
    // The SQLite driver says the same for a missing and an unreadable file.
    if (s.sqlite && !s.database.empty() && (!s.file.exists || !s.file.readable) &&
        (b.call.find("Connect") != std::string::npos || mentions(m, "unable to open")))
      return sqliteFile(s, l);
    if (st == "HYT00" || mentions(m, {"timeout expired", "timed out"}))
      return {"the database server did not answer within the login timeout" + said,
              "check Servername and Port in " + odbcIni + ", that the server runs and that no firewall drops "
              "the connection"};
    if (st == "08001" || st == "08S01" || st == "08004" || mentions(m, {"connection refused", "could not connect"}))
      return {"the database server cannot be reached" + said,
              "check Servername and Port in " + odbcIni + " and that the server runs"};
  }
  if (boxes.empty()) return {};
  const SqlErrorBox& b = boxes.front();
  return {b.call + " failed: [" + b.sqlState + "] " + b.message,
          "the driver's message is all that is known: see the boxes listed here", true};
}

}  // namespace site

std::vector<SqlErrorBox> parseSqlErrorBoxes(const std::string& text) {
  std::vector<SqlErrorBox> boxes;
  // Lines: the failed call, "[state][Native: n]", the driver's message.
  for (const auto& lines : site::boxesOf(text, companyDatabase::kErrorCaption)) {
    if (lines.size() < 2) continue;
    const std::string& state = lines[1];
    const bool stated = state.size() >= 7 && state[0] == '[' && state[6] == ']';
    boxes.push_back({lines[0], stated ? state.substr(1, 5) : "", site::joined(lines.begin() + 2, lines.end())});
  }
  return boxes;
}

}  // namespace ufhost
