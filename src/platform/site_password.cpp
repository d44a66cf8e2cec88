// What both platforms do with a site password file once it is open and its
// owner and permissions have passed: take the first line as the password.
#include <cstdio>
#include <cstring>

#include "site_password.h"

void setSitePasswordRefused(SitePasswordFile& out, const char* reason) {
  out.state = SitePasswordState::Refused;
  std::snprintf(out.reason, sizeof out.reason, "%s", reason);
}

void wipeSitePassword(char* buffer, std::size_t size) {
  volatile char* p = buffer;
  for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

bool startSitePasswordRead(const char* path, SitePasswordFile& out, char* password, std::size_t size) {
  if (password != nullptr && size > 0) wipeSitePassword(password, size);
  if (path == nullptr || *path == '\0') return false;
  std::snprintf(out.path, sizeof out.path, "%s", path);
  if (password == nullptr || size < 2) {
    setSitePasswordRefused(out, "there is no room for a password");
    return false;
  }
  return true;
}

void takeSitePasswordLine(const char* content, std::size_t got, bool tooBig, SitePasswordFile& out, char* password,
                          std::size_t size) {
  std::size_t lineEnd = 0;
  while (lineEnd < got && content[lineEnd] != '\n') ++lineEnd;
  std::size_t length = lineEnd;
  if (length > 0 && content[length - 1] == '\r') --length;

  if (tooBig) {
    setSitePasswordRefused(out, "it is too big for a password file");
  } else if (length == 0) {
    setSitePasswordRefused(out, "its first line is empty");
  } else if (std::memchr(content, '\0', length) != nullptr) {
    setSitePasswordRefused(out, "its first line holds a NUL byte");
  } else if (length >= size) {
    char text[sizeof out.reason];
    std::snprintf(text, sizeof text, "the password is longer than %zu characters", size - 1);
    setSitePasswordRefused(out, text);
  } else {
    std::memcpy(password, content, length);
    password[length] = '\0';
    out.state = SitePasswordState::Read;
  }
}

namespace {

// Rights that let an account change the file, replace it or its permissions:
// write and append data, write extended attributes and attributes, delete,
// write the access list, take ownership, generic write and generic all.
const uint32_t kChangeRights = 0x00000002u | 0x00000004u | 0x00000010u | 0x00000100u | 0x00010000u |
                               0x00040000u | 0x00080000u | 0x40000000u | 0x10000000u;

}  // namespace

const char* sitePasswordAclProblem(bool hasDacl, const SiteAce* aces, std::size_t count, AceTrustee owner) {
  // An owner may always rewrite the access list.
  if (owner == AceTrustee::Other)
    return "it is owned by another account (it must belong to Administrators, SYSTEM or this account)";
  if (!hasDacl) return "it has no access list, so everyone can change it";
  // Deny entries are not weighed against allow entries: one allow entry that
  // lets another account change the file is enough to refuse it.
  for (std::size_t i = 0; i < count; ++i) {
    const SiteAce& ace = aces[i];
    if (!ace.allow || ace.inheritOnly || ace.who != AceTrustee::Other) continue;
    if (ace.mask & kChangeRights)
      return "accounts other than Administrators, SYSTEM and this one can change it (run site-folder.cmd, then "
             "icacls FILE /reset)";
  }
  return nullptr;
}
