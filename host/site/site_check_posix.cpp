// Linux side of the site check's system seam: the COM runtime's class registry
// files, unixODBC's odbc.ini locations and the library's boxes read from
// standard error through a pipe.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "comregistry.h"
#include "companyDatabase.h"
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

std::string nowText() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

bool replaceFile(const std::string& from, const std::string& to, std::string& why) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  why = std::strerror(errno);
  return false;
}

FileState fileState(const std::string& path) {
  FileState f;
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return f;
  f.exists = true;
  f.readable = S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK | W_OK) == 0;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  const struct passwd* pw = ::getpwuid(st.st_uid);
  const struct group* gr = ::getgrgid(st.st_gid);
  const struct passwd* me = ::getpwuid(::geteuid());
  f.permission = std::string(S_ISREG(st.st_mode) ? "" : "not a file, ") + "mode " + mode + ", owner " +
                 (pw ? pw->pw_name : std::to_string(st.st_uid)) + ", group " +
                 (gr ? gr->gr_name : std::to_string(st.st_gid)) + "; this account is " +
                 (me ? me->pw_name : std::to_string(::geteuid()));
  return f;
}

// The build tree's paths are known when ufhost is built; an installed ufhost
// finds its prefix from where it runs.
Layout currentLayout() {
  Layout l;
  const std::string folder = sys::executableFolder();
  if (folder.empty() || folder == U2_BUILD_FOLDER) {
    l.kind = Layout::BuildTree;
    l.dbScripts = U2_SOURCE_DIR "/db";
    l.dsnScript = "bash " U2_SOURCE_DIR "/scripts/odbc-dsn.sh";
    l.engineFile = U2_BUILD_ENGINE;
    l.registerEngine = U2_BUILD_REGSVR " " U2_BUILD_ENGINE;
    return l;
  }
  // The folder above bin/.
  const std::string prefix = folder.substr(0, folder.rfind('/', folder.size() - 2));
  l.kind = Layout::Installed;
  l.dbScripts = prefix + "/" U2_INSTALL_DATADIR "/u2lvost/db";
  l.dsnScript = prefix + "/" U2_INSTALL_DATADIR "/u2lvost/scripts/odbc-dsn.sh";
  l.engineFile = prefix + "/" U2_INSTALL_ENGINE;
  // The package registers the engine in its postinst.
  l.registerEngine = prefix == "/usr" ? "dpkg-reconfigure u2lvost (as root)"
                                      : prefix + "/bin/regsvr --system " + l.engineFile + " (as root)";
  return l;
}

std::string locateDriver(const std::string& entry) {
  if (entry.empty()) return entry;
  if (entry[0] == '/') return sys::fileExists(entry) ? entry : std::string();
  static const char* const kFolders[] = {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/i386-linux-gnu/odbc",
                                         "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc", "/usr/lib64",
                                         "/usr/local/lib"};
  for (const char* dir : kFolders) {
    std::string path = std::string(dir) + "/" + entry;
    if (sys::fileExists(path)) return path;
  }
  return std::string();
}

struct BoxTee::State {
  int savedErr = -1;
  int readFd = -1;  // the pipe's end, read without blocking
  bool passThrough = true;
  std::thread reader;
  std::mutex passing;  // one reader of the pipe at a time: the thread or sync()
  std::string line;    // the line being read, as far as it matters
  bool inBox = false;
  std::string kept;
  bool lost = false;  // a write to the real file failed
};

namespace {
// Enough for the first boxes; the rest only passes through.
constexpr size_t kKeptText = 64 * 1024;

// Outside a box only a caption matters, and every caption is shorter than this.
constexpr size_t kCaptionRoom = 32;

// A whole line has passed: it may open a box, be kept as part of one, or end it.
void endLine(BoxTee::State* s) {
  static const char* const kCaptions[] = {companyDatabase::kErrorCaption, companyDatabase::kPasswordCaption};
  if (!s->inBox)
    for (const char* caption : kCaptions) s->inBox = s->inBox || s->line == caption;
  if (s->inBox && s->kept.size() + s->line.size() < kKeptText) s->kept += s->line + "\n";
  if (s->line.empty()) s->inBox = false;
  s->line.clear();
}

// Copies what waits in the pipe to the real file (when passing through) and
// keeps the lines from each box caption to the empty line that ends the box
// (other messages pass by in between). False once the pipe has no writer left.
bool drain(BoxTee::State* s) {
  char buf[4096];
  for (;;) {
    const ssize_t got = ::read(s->readFd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got < 0 && errno == EAGAIN;
    for (ssize_t at = 0; s->passThrough && at < got;) {
      const ssize_t put = ::write(s->savedErr, buf + at, static_cast<size_t>(got - at));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        s->lost = true;
        break;
      }
      at += put;
    }
    const char* p = buf;
    const char* const end = buf + got;
    while (p < end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
      const char* stop = nl ? nl : end;
      const size_t limit = s->inBox ? kKeptText : kCaptionRoom;
      if (s->line.size() < limit) s->line.append(p, std::min(static_cast<size_t>(stop - p), limit - s->line.size()));
      if (!nl) break;
      endLine(s);
      p = nl + 1;
    }
  }
}

void readPipe(BoxTee::State* s) {
  for (;;) {
    pollfd ready{s->readFd, POLLIN, 0};
    if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return;
    std::lock_guard<std::mutex> lock(s->passing);
    if (!drain(s)) return;
  }
}
}  // namespace

BoxTee::BoxTee(bool passThrough) {
  std::fflush(stderr);
  // With standard error closed, the pipe would take its number: nothing to watch.
  if (::fcntl(STDERR_FILENO, F_GETFD) < 0) return;
  int fds[2];
  if (::pipe(fds) != 0) return;
  const int savedErr = ::dup(STDERR_FILENO);
  if (savedErr < 0 || ::fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0 || ::dup2(fds[1], STDERR_FILENO) < 0) {
    if (savedErr >= 0) ::close(savedErr);
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  ::close(fds[1]);
  s_ = new State;
  s_->savedErr = savedErr;
  s_->readFd = fds[0];
  s_->passThrough = passThrough;
  s_->reader = std::thread(readPipe, s_);
}

BoxTee::~BoxTee() { finish(); }

void BoxTee::sync() {
  if (!s_) return;
  std::lock_guard<std::mutex> lock(s_->passing);
  drain(s_);
}

std::string BoxTee::finish() {
  if (!s_) return std::string();
  std::fflush(stderr);
  // Closes the pipe's last writer: the reader ends.
  ::dup2(s_->savedErr, STDERR_FILENO);
  s_->reader.join();
  ::close(s_->readFd);
  ::close(s_->savedErr);
  lost_ = s_->lost;
  std::string text = std::move(s_->kept);
  delete s_;
  s_ = nullptr;
  return text;
}

}  // namespace site
}  // namespace ufhost
