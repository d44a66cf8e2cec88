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

}  // namespace companyDatabase
