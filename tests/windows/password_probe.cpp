// Reads the site password file as the Windows library does and prints what it
// found: "STATE|PATH|REASON|PASSWORD" (STATE absent, read or refused).
#include <cstdio>

#include "site_password.h"

int main() {
  char password[128];
  SitePasswordFile file = readSitePassword(password, sizeof password);
  const char* state = file.state == SitePasswordState::Read      ? "read"
                      : file.state == SitePasswordState::Refused ? "refused"
                                                                 : "absent";
  std::printf("%s|%s|%s|%s\n", state, file.path, file.reason, file.state == SitePasswordState::Read ? password : "");
  return 0;
}
