// Facts of the company database that the library and the site tools both use:
// one place, so the check asks exactly what the library asks.
#pragma once

namespace companyDatabase {

inline constexpr char kDataSource[] = "WINZELRW";
inline constexpr char kUser[] = "WINZEL";
// Caption of the box for each ODBC diagnostic record.
inline constexpr char kErrorCaption[] = "SQL Error";
// Caption of the box that refuses the site's password file.
inline constexpr char kPasswordCaption[] = "WINZELRW Password";
// The bounds on a wait for the database, in seconds: connecting, and one statement.
inline constexpr unsigned kLoginTimeoutSeconds = 15;
inline constexpr unsigned kQueryTimeoutSeconds = 30;
inline constexpr char kVersionQuery[] = "SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0";

// The schema's major version is the first character of the version text alone:
// '10.0' reads as 1, an empty text as -48. Schema 5 keeps stored calendars.
inline int majorVersion(const char* info) { return static_cast<signed char>(info[0]) - '0'; }
inline constexpr int kStoredCalendarsVersion = 5;

// A book's slot, the BookID of its row: books 4 and 5 share one; -1 when the
// book has none.
inline int bookSlot(int book) {
  if (book < 0 || book > 8) return -1;
  return book <= 4 ? book : book - 1;
}

}  // namespace companyDatabase
