// A site's own password for the data source's user, kept in a file that only
// root (or the account the report engine runs as) may change and that no one
// else may read. Without such a file the built-in password is used.
#pragma once

#include <cstddef>
#include <cstdint>

enum class SitePasswordState {
  Absent,   // no file at the default place: use the built-in password
  Read,     // the file passed its checks; the password is in the caller's buffer
  Refused,  // a file is there (or was named) but must not be used; see reason
};

struct SitePasswordFile {
  SitePasswordState state = SitePasswordState::Absent;
  char path[512] = {};    // the file looked at (empty where sites have none)
  char reason[160] = {};  // why it was refused
};

// Where the site's password file is: $U2LVOST_PASSWORD_FILE when set and not
// empty (a named file must exist), else /etc/u2lvost/winzel.password. Windows
// has no site file: the state is always Absent there.
// The first line of the file, without its line end, goes into password (at most
// size - 1 characters and a NUL); the buffer is zeroed first.
SitePasswordFile readSitePassword(char* password, std::size_t size);

// The same for one path. named: the path was given explicitly, so a missing
// file is refused rather than taken as "no site password".
SitePasswordFile readSitePasswordAt(const char* path, bool named, char* password, std::size_t size);

// Why a file of this mode and owner must not hold the password (a text for the
// message), or null when it may. selfUid is the account the process runs as.
// Accepted: a regular file owned by root or by selfUid that no one but its
// owner may write and that others (neither owner nor group) may not read.
const char* sitePasswordFileProblem(uint32_t mode, uint32_t ownerUid, uint32_t selfUid);
