// Windows side of the site password file, %ProgramData%\u2lvost\winzel.password:
// opened once, its owner and access list read from the open handle (not the
// name), so the file cannot be swapped between check and read.
#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "site_password.h"

namespace {

const char kSiteFile[] = "\\u2lvost\\winzel.password";
// A password file is one short line; anything bigger is not one.
const DWORD kMaxFileBytes = 4096;

// The well-known accounts and this process's own, to tell access-list entries apart.
class Trustees {
 public:
  Trustees() {
    DWORD size = sizeof admins_;
    haveAdmins_ = CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins_, &size) != 0;
    size = sizeof system_;
    haveSystem_ = CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size) != 0;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      DWORD got = 0;
      haveSelf_ = GetTokenInformation(token, TokenUser, self_, sizeof self_, &got) != 0;
      CloseHandle(token);
    }
  }
  AceTrustee classify(PSID sid) const {
    if (sid == nullptr || !IsValidSid(sid)) return AceTrustee::Other;
    if (haveAdmins_ && EqualSid(sid, const_cast<BYTE*>(admins_))) return AceTrustee::Administrators;
    if (haveSystem_ && EqualSid(sid, const_cast<BYTE*>(system_))) return AceTrustee::System;
    if (haveSelf_ && EqualSid(sid, reinterpret_cast<const TOKEN_USER*>(self_)->User.Sid)) return AceTrustee::Self;
    return AceTrustee::Other;
  }

 private:
  BYTE admins_[SECURITY_MAX_SID_SIZE] = {};
  BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  // TOKEN_USER followed by its SID.
  alignas(TOKEN_USER) BYTE self_[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
  bool haveAdmins_ = false, haveSystem_ = false, haveSelf_ = false;
};

// Why the open file's owner and access list rule it out, or null.
const char* aclProblem(HANDLE file) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return "its owner and permissions cannot be read";
  Trustees trustees;
  // An access list this long is not one a site made; refuse rather than skip entries.
  SiteAce aces[64];
  std::size_t count = 0;
  const char* problem = nullptr;
  if (dacl != nullptr) {
    if (dacl->AceCount > sizeof aces / sizeof aces[0]) problem = "its access list is too long to check";
    for (DWORD i = 0; problem == nullptr && i < dacl->AceCount; ++i) {
      void* entry = nullptr;
      if (!GetAce(dacl, i, &entry)) {
        problem = "its access list cannot be read";
        break;
      }
      const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
      SiteAce& ace = aces[count++];
      ace.allow = header->AceType != ACCESS_DENIED_ACE_TYPE;
      ace.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
      if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
        const ACCESS_ALLOWED_ACE* plain = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        ace.mask = plain->Mask;
        ace.who = trustees.classify(const_cast<DWORD*>(&plain->SidStart));
      } else {
        // Object, callback or audit entries: counted as granting everything to someone else.
        ace.mask = GENERIC_ALL;
        ace.who = AceTrustee::Other;
      }
    }
  }
  if (problem == nullptr) problem = sitePasswordAclProblem(dacl != nullptr, aces, count, trustees.classify(owner));
  LocalFree(descriptor);
  return problem;
}

}  // namespace

const char* sitePasswordFileProblem(uint32_t, uint32_t, uint32_t) {
  return "a Windows file is judged by its access list, not by a mode";
}

SitePasswordFile readSitePasswordAt(const char* path, bool named, char* password, std::size_t size) {
  SitePasswordFile out;
  if (!startSitePasswordRead(path, out, password, size)) return out;

  HANDLE file = CreateFileA(path, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    if ((err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) && !named) return out;
    char text[sizeof out.reason];
    std::snprintf(text, sizeof text, "it cannot be opened (Windows error %lu)", static_cast<unsigned long>(err));
    setSitePasswordRefused(out, text);
    return out;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    setSitePasswordRefused(out, "it is not a regular file");
    CloseHandle(file);
    return out;
  }
  if (const char* problem = aclProblem(file)) {
    setSitePasswordRefused(out, problem);
    CloseHandle(file);
    return out;
  }

  char content[kMaxFileBytes + 1];
  DWORD got = 0;
  while (got < sizeof content) {
    DWORD n = 0;
    if (!ReadFile(file, content + got, static_cast<DWORD>(sizeof content) - got, &n, nullptr)) {
      CloseHandle(file);
      wipeSitePassword(content, sizeof content);
      setSitePasswordRefused(out, "it cannot be read");
      return out;
    }
    if (n == 0) break;
    got += n;
  }
  CloseHandle(file);
  takeSitePasswordLine(content, got, got > kMaxFileBytes, out, password, size);
  wipeSitePassword(content, sizeof content);
  return out;
}

SitePasswordFile readSitePassword(char* password, std::size_t size) {
  const char* named = std::getenv("U2LVOST_PASSWORD_FILE");
  if (named != nullptr && *named != '\0') return readSitePasswordAt(named, true, password, size);
  char path[MAX_PATH];
  DWORD n = GetEnvironmentVariableA("ProgramData", path, MAX_PATH);
  if (n == 0 || n + sizeof kSiteFile > MAX_PATH) {
    if (password != nullptr && size > 0) wipeSitePassword(password, size);
    return SitePasswordFile();
  }
  std::memcpy(path + n, kSiteFile, sizeof kSiteFile);
  return readSitePasswordAt(path, false, password, size);
}
