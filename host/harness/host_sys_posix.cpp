#include "host_sys.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "fiscal_year_end.h"
#include "host_dates.h"

namespace ufhost {
namespace sys {

void* openLibrary(const std::string& path, std::string& error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = "no such file";
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "it is a folder";
    return nullptr;
  }
  // A bare file name would send dlopen searching the library path; the engine
  // loads exactly the file it is given.
  std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : "the loader refused it";
  }
  return handle;
}

void* findSymbol(void* library, const char* name) {
  if (!library || !name) return nullptr;
  return dlsym(library, name);
}

void closeLibrary(void* library) {
  if (library) dlclose(library);
}

std::string executableFolder() {
  std::string path(4096, '\0');
  const ssize_t n = readlink("/proc/self/exe", &path[0], path.size());
  if (n <= 0 || static_cast<size_t>(n) >= path.size()) return std::string();
  path.resize(static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string systemMessage(unsigned long code) { return std::strerror(static_cast<int>(code)); }

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool stdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace sys

int32_t todayDayNumber() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return dayNumberFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

}  // namespace ufhost
