// Linux side of the platform seam.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"

namespace {

MessageBoxSink g_sink = nullptr;
void* g_sinkContext = nullptr;

// Windows-1252 bytes 0x80..0x9F; the rest map to the same code point.
const uint16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// One setting of the profile: "section\nkey" in lower case, and the value with
// surrounding blanks and one pair of quotes removed. A type of our own keeps the
// container's code out of the library's exports.
struct ProfileValue {
  std::string key, value;
};

// The profile as read at the last reload, in file order; the first of a key counts.
struct ProfileCopy {
  bool loaded = false;
  std::vector<ProfileValue> values;
};
ProfileCopy g_profile;

std::string lowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A profile holds a few settings; more than this is not read, so that a path
// naming a device or a huge file cannot hold up the job start or fill memory.
constexpr size_t kProfileMostRead = 1 << 20;

// The first kProfileMostRead bytes of a regular file. Opened without waiting, so
// that a FIFO is refused instead of blocking until a writer comes.
bool readProfileFile(const char* path, std::string& text) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok && text.size() < kProfileMostRead) {
    char chunk[8192];
    const size_t want = std::min(sizeof chunk, kProfileMostRead - text.size());
    const ssize_t got = read(fd, chunk, want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(chunk, static_cast<size_t>(got));
  }
  close(fd);
  return ok;
}

// Reads the whole file once. Lines of any length are read whole, so a long comment
// can never spill a setting of its own.
void loadProfile() {
  g_profile.values.clear();
  g_profile.loaded = true;
  const char* path = profilePath();
  if (!path || !*path) return;
  std::string text;
  if (!readProfileFile(path, text)) return;
  std::istringstream in(text);
  std::string line, section;
  bool inSection = false;
  bool firstLine = true;
  while (std::getline(in, line)) {
    // A UTF-8 byte order mark, as editors on Windows write it, is not part of the first line.
    if (firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    firstLine = false;
    const std::string s = trim(line);
    if (s.empty() || s[0] == ';' || s[0] == '#') continue;
    if (s[0] == '[') {
      const size_t close = s.find(']');
      inSection = close != std::string::npos;
      if (inSection) section = lowerCase(trim(s.substr(1, close - 1)));
      continue;
    }
    if (!inSection) continue;
    const size_t eq = s.find('=');
    if (eq == std::string::npos) continue;
    std::string v = trim(s.substr(eq + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    g_profile.values.push_back({section + '\n' + lowerCase(trim(s.substr(0, eq))), std::move(v)});
  }
}

// Looks the key up the way the Windows profile does: sections and keys without
// regard to case.
bool lookup(const char* section, const char* key, std::string* value) {
  if (!g_profile.loaded) loadProfile();
  if (!section || !key) return false;
  const std::string wanted = lowerCase(section) + '\n' + lowerCase(key);
  for (const ProfileValue& p : g_profile.values) {
    if (p.key == wanted) {
      *value = p.value;
      return true;
    }
  }
  return false;
}

}  // namespace

void showMessageBox(const char* caption, const char* text) {
  if (!caption) caption = "";
  if (!text) text = "";
  if (g_sink) {
    g_sink(caption, text, g_sinkContext);
    return;
  }
  std::fprintf(stderr, "%s\n%s\n\n", caption, text);
  std::fflush(stderr);
}

void setMessageBoxSink(MessageBoxSink sink, void* context) {
  g_sink = sink;
  g_sinkContext = context;
}

const char* profilePath() {
  static std::string path;
  const char* env = std::getenv("U2LVOST_PROFILE");
  if (env && *env) {
    path = env;
  } else if ((env = std::getenv("XDG_CONFIG_HOME")) && *env) {
    path = std::string(env) + "/u2lvost/win.ini";
  } else if ((env = std::getenv("HOME")) && *env) {
    path = std::string(env) + "/.config/u2lvost/win.ini";
  } else {
    path.clear();
  }
  return path.c_str();
}

void reloadProfile() { loadProfile(); }

int32_t profileInt(const char* section, const char* key, int32_t defaultValue) {
  std::string v;
  if (!lookup(section, key, &v)) return defaultValue;
  // As GetProfileInt: leading digits of the value, 0 when there are none.
  return static_cast<int32_t>(std::strtol(v.c_str(), nullptr, 10));
}

uint32_t profileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                       uint32_t size) {
  if (!buffer || size == 0) return 0;
  std::string v;
  if (!lookup(section, key, &v)) v = defaultValue ? defaultValue : "";
  size_t n = v.size() < size - 1 ? v.size() : size - 1;
  std::memcpy(buffer, v.data(), n);
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

int ansiToWide(const char* src, int srcLen, uint16_t* dst, int dstLen) {
  if (!src || !dst || dstLen <= 0) return 0;
  if (srcLen < 0) srcLen = static_cast<int>(std::strlen(src)) + 1;
  if (srcLen > dstLen) return 0;
  for (int i = 0; i < srcLen; ++i) {
    unsigned char c = static_cast<unsigned char>(src[i]);
    dst[i] = (c >= 0x80 && c <= 0x9F) ? kCp1252High[c - 0x80] : c;
  }
  return srcLen;
}

// The SSE unit always rounds to a double; the rounding mode and the traps may differ.
ArithmeticState enterDoubleArithmetic() {
  ArithmeticState saved{};
  const int round = std::fegetround();
  saved.control = static_cast<unsigned>(round);
  if (round != FE_TONEAREST) std::fesetround(FE_TONEAREST);
#if defined(__GLIBC__)
  saved.traps = fegetexcept();
  if (saved.traps > 0) {
    std::fegetexceptflag(&saved.flags, FE_ALL_EXCEPT);
    fedisableexcept(FE_ALL_EXCEPT);
  }
#endif
  return saved;
}

void leaveDoubleArithmetic(const ArithmeticState& saved) {
#if defined(__GLIBC__)
  if (saved.traps > 0) {
    // The flags as the host left them, before its traps are on again.
    std::fesetexceptflag(&saved.flags, FE_ALL_EXCEPT);
    feenableexcept(saved.traps);
  }
#endif
  const int round = static_cast<int>(saved.control);
  if (round != FE_TONEAREST && round >= 0) std::fesetround(round);
}

bool localTimeOf(std::time_t t, std::tm* out) { return out && localtime_r(&t, out) != nullptr; }

uint64_t monotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void sleepMilliseconds(uint32_t milliseconds) {
  timespec wait{static_cast<time_t>(milliseconds / 1000u), static_cast<long>(milliseconds % 1000u) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}
