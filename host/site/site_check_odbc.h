// The site check's questions to the ODBC driver manager, apart from the COM
// headers (both define the same Windows type names).
#pragma once

#include <string>
#include <vector>

#include "companyDatabase.h"

namespace ufhost {
namespace site {

// Whether a schema version is one of stored calendars, as the library reads it.
inline bool storesCalendars(const std::string& version) {
  return companyDatabase::majorVersion(version.c_str()) == companyDatabase::kStoredCalendarsVersion;
}
// A schema version with what it means for the calendars.
inline std::string describeVersion(const std::string& version) {
  return version + (storesCalendars(version) ? " (stored calendars)" : " (calendars built from the books)");
}

struct DataSourceFacts {
  bool defined = false;
  bool system = false;          // found in the system's list, not the user's
  std::string driverEntry;      // the Driver entry: a driver's name or a library's path
  bool driverRegistered = false;  // a name that the driver list (odbcinst.ini) has
  std::string driverFile;       // the library odbcinst.ini names for it, or the path itself
  std::string database;         // its Database entry
  std::string problem;          // the driver manager itself failed
};

// Looks WINZELRW up through SQLDataSources (the user's list, then the system's),
// SQLDrivers and the installer's profile reads.
DataSourceFacts findDataSource(const char* name);

// What a connection with the user name only found.
struct Connection {
  bool connected = false;
  std::string refusal;         // the driver's first diagnostic when not connected
  std::string refusalState;    // its SQL state
  std::string refusalMessage;  // its text
  std::string version;         // VersionTable's Info of AppID 0, ItemNumber 0; empty when none or not read
};

struct SchemaFacts : Connection {
  std::vector<std::string> tables;  // the catalogue's table names
};

// Connects with the user name only (never the password) and reads the catalogue
// and the version row.
SchemaFacts readSchema(const char* dataSource, const char* user);

struct BookFacts {
  int book = 0;
  bool calendarNamed = false;  // the Book row names a calendar (CalendarID not NULL)
  int calendarId = 0;
  bool calendarFound = false;  // the company has that calendar
  std::string calendarName;
  long cycles = 0;             // the calendar's cycle rows
};

struct CompanyFacts : Connection {
  std::vector<BookFacts> books;  // the company's Book rows
  size_t calendars = 0;          // the company's stored calendars
  const BookFacts* book(int number) const {
    for (const BookFacts& b : books)
      if (b.book == number) return &b;
    return nullptr;
  }
};

// The company's books and their calendars, read as readSchema reads.
CompanyFacts readCompany(const char* dataSource, const char* user, int company);

}  // namespace site
}  // namespace ufhost
