// ufhost LIBRARY --check [--json] [COMPANY [BOOK]]: checks, in order, each link a
// fiscal-year end needs and prints one line per check with what it found and,
// when it fails, what to do. Uses only what any host has: the library's exports,
// the COM runtime's public calls and the ODBC driver manager's calls; it never
// needs the data source's password.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "site_advice.h"

namespace ufhost {

namespace site {
struct DataSourceFacts;
}
// What the advice needs to know of a defined data source.
site::SourceSetting sourceSetting(const site::DataSourceFacts& facts);

// A number of the site tools' command lines: decimal digits only, from lo to
// hi. False for anything else.
bool readNumber(const std::string& text, int lo, int hi, int& value);

// args are COMPANY [BOOK] as given; json gives one JSON document instead of the
// lines. Returns 0 only when every check passed, 1 when one failed, 2 for a
// wrong command line.
int runSiteCheck(const std::string& library, bool json, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err);

}  // namespace ufhost
