// What the site check needs from the operating system beyond the harness's own
// seam: where COM classes and ODBC data sources are registered, whether a file
// exists, and the library's message boxes captured around a call.
// site_check_posix.cpp and site_check_win32.cpp are the two sides.
#pragma once

#include <cstdint>
#include <string>

#include "comtypes.h"

namespace ufhost {
namespace site {

struct ClassRegistration {
  std::string file;    // the registry file (Windows: the registry key) that answered
  unsigned line = 0;   // its 1-based line; 0 where there are no lines
  std::string server;  // the in-process server's path
};

// S_OK with where clsid is registered, REGDB_E_CLASSNOTREG when nowhere;
// `searched` names the place looked at first (for the advice to the user).
HRESULT findClassRegistration(REFCLSID clsid, ClassRegistration& found, std::string& searched);

// The user's (system false) or the system's odbc.ini as the driver manager reads it.
std::string odbcIniLocation(bool system);
// How a site defines a data source on this system, for the advice.
const char* howToDefineDataSource();

bool fileExists(const std::string& path);

// A class identifier as COM writes it: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::string guidText(REFCLSID clsid);

// Puts the file from in the place of to, replacing it whole; false with the
// system's reason.
bool replaceFile(const std::string& from, const std::string& to, std::string& why);

// The file of an ODBC driver as odbcinst.ini names it: a path as it is, a bare
// name (Debian writes "psqlodbcw.so") where the driver manager would find it.
// Empty when it is nowhere.
std::string locateDriver(const std::string& entry);

// Collects what the library writes as message boxes while it is alive. On Linux
// the boxes go to standard error, so that is redirected into a temporary file;
// on Windows boxes are windows and nothing is collected.
class BoxCapture {
 public:
  BoxCapture();
  ~BoxCapture();
  BoxCapture(const BoxCapture&) = delete;
  BoxCapture& operator=(const BoxCapture&) = delete;
  // Ends the capture (once) and returns the text collected.
  std::string finish();

 private:
  int savedFd_ = -1;
  void* file_ = nullptr;
  bool done_ = false;
};

}  // namespace site
}  // namespace ufhost
