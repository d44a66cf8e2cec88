// Linux side of the site password file: opened once, every check made on the
// open file (not the name), so the file cannot be swapped between check and read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "site_password.h"

namespace {

const char kDefaultPath[] = "/etc/u2lvost/winzel.password";
// A password file is one short line; anything bigger is not one.
const std::size_t kMaxFileBytes = 4096;

void setReason(SitePasswordFile& out, const char* text) { setSitePasswordRefused(out, text); }

}  // namespace

const char* sitePasswordFileProblem(uint32_t mode, uint32_t ownerUid, uint32_t selfUid) {
  if (!S_ISREG(mode)) return "it is not a regular file";
  if (ownerUid != 0 && ownerUid != selfUid) return "it is owned by another user (it must belong to root or to this account)";
  if (mode & S_IROTH) return "others can read it (use mode 0640 or 0600)";
  if (mode & (S_IWOTH | S_IWGRP)) return "others can write it (use mode 0640 or 0600)";
  return nullptr;
}

SitePasswordFile readSitePasswordAt(const char* path, bool named, char* password, std::size_t size) {
  SitePasswordFile out;
  if (!startSitePasswordRead(path, out, password, size)) return out;

  // O_NONBLOCK: a FIFO put in its place must not hold the report up.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT && !named) return out;  // the usual case: no site password
    char text[sizeof out.reason];
    std::snprintf(text, sizeof text, "it cannot be opened (%s)", std::strerror(err));
    setReason(out, text);
    return out;
  }

  struct stat st;
  if (fstat(fd, &st) != 0) {
    setReason(out, "its owner and mode cannot be read");
    close(fd);
    return out;
  }
  if (const char* problem = sitePasswordFileProblem(st.st_mode, st.st_uid, geteuid())) {
    setReason(out, problem);
    close(fd);
    return out;
  }

  char content[kMaxFileBytes + 1];
  std::size_t got = 0;
  while (got < sizeof content) {
    ssize_t n = read(fd, content + got, sizeof content - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      wipeSitePassword(content, sizeof content);
      setReason(out, "it cannot be read");
      return out;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);

  takeSitePasswordLine(content, got, got > kMaxFileBytes, out, password, size);
  wipeSitePassword(content, sizeof content);
  return out;
}

SitePasswordFile readSitePassword(char* password, std::size_t size) {
  const char* named = std::getenv("U2LVOST_PASSWORD_FILE");
  if (named != nullptr && *named != '\0') return readSitePasswordAt(named, true, password, size);
  return readSitePasswordAt(kDefaultPath, false, password, size);
}
