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
// empty (a named file must exist), else /etc/u2lvost/winzel.password on Linux,
// %ProgramData%\u2lvost\winzel.password on Windows.
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

// Windows: who an entry of the file's access list (or its owner) is.
enum class AceTrustee : uint8_t {
  Administrators,  // the local Administrators group
  System,          // the SYSTEM account
  Self,            // the account the process runs as
  Other,
};

// One entry of the file's access list: allow or deny, the rights, and whether it
// only passes on to files made inside (a folder's entry, not this file's).
struct SiteAce {
  bool allow;
  bool inheritOnly;
  uint32_t mask;
  AceTrustee who;
};

// Why a Windows file of this owner and access list must not hold the password (a
// text for the message), or null when it may: it must belong to Administrators,
// SYSTEM or this account, have an access list, and let no one else change it.
// hasDacl false: the file has no access list at all (everyone has every right).
const char* sitePasswordAclProblem(bool hasDacl, const SiteAce* aces, std::size_t count, AceTrustee owner);

// Shared by both platforms' readers.
void setSitePasswordRefused(SitePasswordFile& out, const char* reason);
void wipeSitePassword(char* buffer, std::size_t size);
// Zeroes the caller's buffer and notes the path in out; false when there is
// nothing to read (no path; or no room, and out is refused).
bool startSitePasswordRead(const char* path, SitePasswordFile& out, char* password, std::size_t size);
// Takes the first line of content (got bytes) as the password, or refuses it:
// too big (tooBig), empty, holding a NUL byte, or too long for size.
void takeSitePasswordLine(const char* content, std::size_t got, bool tooBig, SitePasswordFile& out, char* password,
                          std::size_t size);
