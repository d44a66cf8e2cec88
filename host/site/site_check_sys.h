// What the site check needs from the operating system beyond the harness's own
// seam: where COM classes and ODBC data sources are registered, a database
// file's state, and the library's message boxes captured around a call.
// site_check_posix.cpp and site_check_win32.cpp are the two sides.
#pragma once

#include <cstdint>
#include <string>

#include "comtypes.h"
#include "host_sys.h"
#include "site_advice.h"

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

// Whether a database file is there and this account may read and write it.
FileState fileState(const std::string& path);

// The layout this ufhost runs from: the build tree, an installed prefix or Windows.
Layout currentLayout();

// A class identifier as COM writes it: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
std::string guidText(REFCLSID clsid);

// Puts the file from in the place of to, replacing it whole; false with the
// system's reason.
bool replaceFile(const std::string& from, const std::string& to, std::string& why);

// The local date and time now, "2026-12-08 07:55".
std::string nowText();

// The file of an ODBC driver as odbcinst.ini names it: a path as it is, a bare
// name (Debian writes "psqlodbcw.so") where the driver manager would find it.
// Empty when it is nowhere.
std::string locateDriver(const std::string& entry);

// Reads standard error while it is alive and keeps the library's boxes from it,
// each from its caption line to the empty line that ends it. A tee passes all
// of it through as it comes (a report's progress and messages go on showing).
// Windows: boxes are windows; nothing is read or kept.
class BoxTee {
 public:
  explicit BoxTee(bool passThrough = true);
  ~BoxTee();
  BoxTee(const BoxTee&) = delete;
  BoxTee& operator=(const BoxTee&) = delete;
  // Passes on at once what standard error holds so far: called before each
  // write to standard output, it keeps the two in order where they share a file.
  void sync();
  // Ends the tee (once) and returns the boxes' text.
  std::string finish();
  // After finish: some of standard error could not be written to its file.
  bool lostOutput() const { return lost_; }

  struct State;

 private:
  State* s_ = nullptr;
  bool lost_ = false;
};

// The same kept from the screen: the site check reports the boxes itself.
class BoxCapture : public BoxTee {
 public:
  BoxCapture() : BoxTee(false) {}
};

}  // namespace site
}  // namespace ufhost
