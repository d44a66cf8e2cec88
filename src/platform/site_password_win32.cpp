// Windows has no site password file: the built-in password is always used.
// The mode and owner checks are those of the Linux file; there is no such file here.
#include <cstring>

#include "site_password.h"

const char* sitePasswordFileProblem(uint32_t, uint32_t, uint32_t) { return "there is no site password file on Windows"; }

SitePasswordFile readSitePasswordAt(const char*, bool, char* password, std::size_t size) {
  if (password != nullptr && size > 0) std::memset(password, 0, size);
  return SitePasswordFile();
}

SitePasswordFile readSitePassword(char* password, std::size_t size) {
  return readSitePasswordAt(nullptr, false, password, size);
}
