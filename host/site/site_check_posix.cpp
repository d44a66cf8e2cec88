// Linux side of the site check's system seam: the COM runtime's class registry
// files, unixODBC's odbc.ini locations and standard error captured through a
// temporary file.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "comregistry.h"
#include "site_check_sys.h"

namespace ufhost {
namespace site {

HRESULT findClassRegistration(REFCLSID clsid, ClassRegistration& found, std::string& searched) {
  char path[4096];
  UINT n = ComRegistryPath(path, sizeof path);
  searched = n > 0 && n < sizeof path ? path : "(no user's class registry: HOME is not set)";
  n = ComSystemRegistryPath(path, sizeof path);
  if (n > 0 && n < sizeof path) searched += std::string(" and ") + path;
  char file[4096], server[4096];
  UINT line = 0;
  HRESULT hr = ComFindClassRegistration(clsid, file, sizeof file, &line, server, sizeof server);
  if (hr == S_OK) {
    found.file = file;
    found.line = line;
    found.server = server;
  }
  return hr;
}

std::string odbcIniLocation(bool system) {
  if (system) {
    const char* dir = std::getenv("ODBCSYSINI");
    return dir && *dir ? std::string(dir) + "/odbc.ini" : "/etc/odbc.ini";
  }
  const char* ini = std::getenv("ODBCINI");
  if (ini && *ini) return ini;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.odbc.ini";
}

const char* howToDefineDataSource() { return "scripts/odbc-dsn.sh install, or odbcinst -i -s"; }

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool replaceFile(const std::string& from, const std::string& to, std::string& why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  why = std::strerror(errno);
  return false;
}

std::string locateDriver(const std::string& entry) {
  if (entry.empty()) return entry;
  if (entry[0] == '/') return fileExists(entry) ? entry : std::string();
  static const char* const kFolders[] = {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/i386-linux-gnu/odbc",
                                         "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc", "/usr/lib64",
                                         "/usr/local/lib"};
  for (const char* dir : kFolders) {
    std::string path = std::string(dir) + "/" + entry;
    if (fileExists(path)) return path;
  }
  return std::string();
}

BoxCapture::BoxCapture() {
  std::fflush(stderr);
  FILE* f = std::tmpfile();
  if (!f) return;
  savedFd_ = ::dup(STDERR_FILENO);
  if (savedFd_ < 0 || ::dup2(::fileno(f), STDERR_FILENO) < 0) {
    if (savedFd_ >= 0) ::close(savedFd_);
    savedFd_ = -1;
    std::fclose(f);
    return;
  }
  file_ = f;
}

BoxCapture::~BoxCapture() { finish(); }

std::string BoxCapture::finish() {
  std::string text;
  if (done_) return text;
  done_ = true;
  if (!file_) return text;
  std::fflush(stderr);
  ::dup2(savedFd_, STDERR_FILENO);
  ::close(savedFd_);
  FILE* f = static_cast<FILE*>(file_);
  std::rewind(f);
  char buf[4096];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
  std::fclose(f);
  file_ = nullptr;
  return text;
}

}  // namespace site
}  // namespace ufhost
