// The class registry file: reading, looking up and rewriting it, and the text
// form of GUIDs used in it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cominternal.h"

namespace {

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text; false on any other character.
bool readHex(const char* text, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int h = hexValue(text[i]);
    if (h < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(h);
  }
  *value = v;
  return true;
}

// One line of the file: a class line carries its CLSID and server path; every
// other line (comment, blank, unreadable) is kept verbatim on rewrite.
struct Line {
  std::string text;
  bool isClass = false;
  GUID clsid{};
  std::string server;
};

Line parseLine(const std::string& raw) {
  Line line;
  line.text = raw;
  std::string s = trim(raw);
  if (s.empty() || s[0] == '#') return line;
  size_t eq = s.find('=');
  if (eq == std::string::npos) return line;
  std::string key = trim(s.substr(0, eq));
  std::string value = trim(s.substr(eq + 1));
  GUID g;
  if (value.empty() || !ComGuidFromText(key.c_str(), &g)) return line;
  line.isClass = true;
  line.clsid = g;
  line.server = value;
  return line;
}

thread_local std::string t_message;

void setMessage(const std::string& text) { t_message = text; }

std::string reason(int error) { return std::strerror(error); }

// Missing file: no lines, and true. False only when the file exists but cannot be read.
bool readLines(const std::string& path, std::vector<Line>* lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    int error = errno;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return true;
    setMessage("cannot read " + path + ": " + reason(error));
    return false;
  }
  // getline grows the string as far as the line goes: no line is cut in two.
  std::string raw;
  while (std::getline(in, raw)) lines->push_back(parseLine(raw));
  if (in.bad()) {
    setMessage("cannot read " + path + ": read error");
    return false;
  }
  return true;
}

// Creates every missing folder of dir, each with mode 0755 whatever the umask.
bool makeFolders(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    setMessage("cannot create folder " + dir + ": a file of that name is in the way");
    return false;
  }
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeFolders(dir.substr(0, slash))) return false;
  if (::mkdir(dir.c_str(), 0755) == 0) {
    if (::chmod(dir.c_str(), 0755) == 0) return true;
  } else if (errno == EEXIST) {
    return true;
  }
  setMessage("cannot create folder " + dir + ": " + reason(errno));
  return false;
}

bool writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Replaces the file in one step: a reader sees either the old or the new file.
bool writeLines(const std::string& path, const std::vector<Line>& lines) {
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
  if (!makeFolders(dir)) return false;
  std::string text;
  for (const Line& l : lines) {
    text += l.text;
    text += '\n';
  }
  std::string tmpl = path + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    setMessage("cannot write " + path + ": " + reason(errno));
    return false;
  }
  // fchmod is not subject to the umask: the file is always 0644.
  bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(name.data(), path.c_str()) == 0;
  if (!ok) {
    setMessage("cannot write " + path + ": " + reason(errno));
    ::unlink(name.data());
  }
  return ok;
}

Line classLine(REFCLSID clsid, const std::string& server) {
  char text[kGuidTextLength + 1];
  ComGuidToText(clsid, text, sizeof text);
  Line line;
  line.text = std::string(text) + " = " + server;
  line.isClass = true;
  line.clsid = clsid;
  line.server = server;
  return line;
}

// Whether the file at path may be trusted to name code to load: owned by us or
// root, and writable by nobody else. "" when it may, else why not.
std::string distrust(const struct stat& st) {
  if (st.st_uid != 0 && st.st_uid != ::geteuid())
    return "owned by user " + std::to_string(st.st_uid) + ", neither root nor this user";
  if (st.st_mode & S_IWOTH) return "writable by everyone";
  if (st.st_mode & S_IWGRP) return "writable by its group";
  return std::string();
}

// Each refusal is said once per process: lookups repeat at every report job.
void sayOnce(const std::string& text) {
  static std::mutex lock;
  static std::set<std::string> said;
  std::lock_guard<std::mutex> guard(lock);
  if (said.insert(text).second) std::fprintf(stderr, "u2lvost: %s\n", text.c_str());
}

// The lines of a registry file that may be used; false (and a message) when it
// exists but cannot be read or is not to be trusted.
bool readTrusted(const std::string& path, std::vector<Line>* lines) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    std::string why = distrust(st);
    if (!why.empty()) {
      setMessage("refusing class registry " + path + ": " + why);
      return false;
    }
  }
  return readLines(path, lines);
}

// The target of a rewrite: read as a lookup would, so that a file we refuse to
// read is not silently carried over into a fresh one.
bool readForRewrite(const std::string& path, std::vector<Line>* lines) {
  if (path.empty()) {
    setMessage("no class registry file: set U2LVOST_COM_REGISTRY or HOME");
    return false;
  }
  return readTrusted(path, lines);
}

// Says which lines of a rewritten file were neither classes nor comments.
void noteUnreadable(const std::string& path, const std::vector<Line>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string s = trim(lines[i].text);
    if (!lines[i].isClass && !s.empty() && s[0] != '#') {
      setMessage(path + ":" + std::to_string(i + 1) + ": not a class line; kept as it is");
      return;
    }
  }
}

}  // namespace

namespace comrt {

std::string registryPath() {
  const char* env = std::getenv("U2LVOST_COM_REGISTRY");
  if (env && *env) return env;
  env = std::getenv("XDG_CONFIG_HOME");
  if (env && *env) return std::string(env) + "/u2lvost/com-classes.reg";
  env = std::getenv("HOME");
  if (env && *env) return std::string(env) + "/.config/u2lvost/com-classes.reg";
  return std::string();
}

std::string systemRegistryPath() {
  const char* env = std::getenv("U2LVOST_COM_SYSTEM_REGISTRY");
  if (env) return env;  // set but empty: no system file
  return kSystemRegistryFile;
}

bool findRegistration(REFCLSID clsid, Registration* found) {
  const std::string files[] = {registryPath(), systemRegistryPath()};
  for (const std::string& path : files) {
    std::vector<Line> lines;
    if (path.empty()) continue;
    if (!readTrusted(path, &lines)) {
      sayOnce(t_message);
      continue;
    }
    // The last line of a class wins, as a later assignment would.
    bool hit = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].isClass && IsEqualGUID(lines[i].clsid, clsid)) {
        found->file = path;
        found->line = static_cast<UINT>(i + 1);
        found->server = lines[i].server;
        hit = true;
      }
    }
    if (hit) return true;
  }
  return false;
}

std::string distrustedServer(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::string();
  return distrust(st);
}

void report(const std::string& text) { sayOnce(text); }

}  // namespace comrt

COMRT_API int StringFromGUID2(REFGUID g, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < static_cast<int>(kGuidTextLength) + 1) return 0;
  char text[kGuidTextLength + 1];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2), static_cast<unsigned>(g.Data3),
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  for (size_t i = 0; i <= kGuidTextLength; ++i) lpsz[i] = static_cast<OLECHAR>(text[i]);
  return static_cast<int>(kGuidTextLength) + 1;
}

// The same text in 8-bit characters, for the registry file.
COMRT_API UINT ComGuidToText(REFGUID g, char* buf, UINT size) {
  OLECHAR wide[kGuidTextLength + 1];
  if (!buf || size < kGuidTextLength + 1 || !StringFromGUID2(g, wide, kGuidTextLength + 1)) return 0;
  for (size_t i = 0; i <= kGuidTextLength; ++i) buf[i] = static_cast<char>(wide[i]);
  return kGuidTextLength;
}

COMRT_API BOOL ComGuidFromText(const char* text, GUID* out) {
  if (!text || !out) return 0;
  // Compare the length without reading past a short text.
  if (std::strlen(text) != kGuidTextLength) return 0;
  if (text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' || text[19] != '-' ||
      text[24] != '-')
    return 0;
  GUID g;
  uint32_t v;
  if (!readHex(text + 1, 8, &v)) return 0;
  g.Data1 = v;
  if (!readHex(text + 10, 4, &v)) return 0;
  g.Data2 = static_cast<uint16_t>(v);
  if (!readHex(text + 15, 4, &v)) return 0;
  g.Data3 = static_cast<uint16_t>(v);
  // Data4: two bytes before the last hyphen, six after it.
  static const int kOffsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!readHex(text + kOffsets[i], 2, &v)) return 0;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  *out = g;
  return 1;
}

namespace {

// Copies text and a NUL into buf when it fits; returns the text's length.
UINT copyText(const std::string& text, char* buf, UINT size) {
  if (text.size() >= UINT32_MAX) return 0;
  UINT n = static_cast<UINT>(text.size());
  if (buf && n < size) std::memcpy(buf, text.c_str(), static_cast<size_t>(n) + 1);
  return n;
}

HRESULT registerClass(REFCLSID clsid, const char* serverPath) {
  setMessage(std::string());
  if (!serverPath || serverPath[0] != '/' || std::strchr(serverPath, '\n')) {
    setMessage(std::string("server path must be absolute and on one line: ") + (serverPath ? serverPath : "(none)"));
    return E_INVALIDARG;
  }
  std::string path = comrt::registryPath();
  std::vector<Line> lines;
  if (!readForRewrite(path, &lines)) return E_FAIL;
  std::vector<Line> kept;
  bool placed = false;
  // The new line takes the place of the class's first line, so hand-written
  // files keep their order.
  for (Line& l : lines) {
    if (l.isClass && IsEqualGUID(l.clsid, clsid)) {
      if (!placed) kept.push_back(classLine(clsid, serverPath));
      placed = true;
    } else {
      kept.push_back(std::move(l));
    }
  }
  if (!placed) kept.push_back(classLine(clsid, serverPath));
  if (!writeLines(path, kept)) return E_FAIL;
  noteUnreadable(path, kept);
  return S_OK;
}

HRESULT unregisterClass(REFCLSID clsid) {
  setMessage(std::string());
  std::string path = comrt::registryPath();
  std::vector<Line> lines;
  if (!readForRewrite(path, &lines)) return E_FAIL;
  std::vector<Line> kept;
  for (Line& l : lines)
    if (!(l.isClass && IsEqualGUID(l.clsid, clsid))) kept.push_back(std::move(l));
  if (kept.size() == lines.size()) return S_FALSE;
  if (!writeLines(path, kept)) return E_FAIL;
  noteUnreadable(path, kept);
  return S_OK;
}

HRESULT lookupClass(REFCLSID clsid, char* buf, UINT size) {
  if (!buf || size == 0) return E_INVALIDARG;
  comrt::Registration found;
  if (!comrt::findRegistration(clsid, &found)) return REGDB_E_CLASSNOTREG;
  if (found.server.size() >= size) return E_INVALIDARG;
  std::memcpy(buf, found.server.c_str(), found.server.size() + 1);
  return S_OK;
}

HRESULT findClassRegistration(REFCLSID clsid, char* file, UINT fileSize, UINT* line, char* server, UINT serverSize) {
  if (!file || fileSize == 0 || !line || !server || serverSize == 0) return E_INVALIDARG;
  comrt::Registration found;
  if (!comrt::findRegistration(clsid, &found)) return REGDB_E_CLASSNOTREG;
  if (found.file.size() >= fileSize || found.server.size() >= serverSize) return E_INVALIDARG;
  std::memcpy(file, found.file.c_str(), found.file.size() + 1);
  std::memcpy(server, found.server.c_str(), found.server.size() + 1);
  *line = found.line;
  return S_OK;
}

// The register calls' bodies: out of memory, they say so in the message.
template <class F>
HRESULT registryCall(F&& body) noexcept {
  const HRESULT hr = comrt::answerOf(body);
  // A text this short fits the string's own room: assigning it allocates nothing.
  if (hr == E_OUTOFMEMORY) t_message.assign("out of memory");
  return hr;
}

}  // namespace

COMRT_API UINT ComRegistryPath(char* buf, UINT size) {
  return comrt::lengthOf([&] { return copyText(comrt::registryPath(), buf, size); });
}

COMRT_API UINT ComSystemRegistryPath(char* buf, UINT size) {
  return comrt::lengthOf([&] { return copyText(comrt::systemRegistryPath(), buf, size); });
}

COMRT_API HRESULT ComRegisterClass(REFCLSID clsid, const char* serverPath) {
  return registryCall([&] { return registerClass(clsid, serverPath); });
}

COMRT_API HRESULT ComUnregisterClass(REFCLSID clsid) {
  return registryCall([&] { return unregisterClass(clsid); });
}

COMRT_API HRESULT ComLookupClass(REFCLSID clsid, char* buf, UINT size) {
  return comrt::answerOf([&] { return lookupClass(clsid, buf, size); });
}

COMRT_API HRESULT ComFindClassRegistration(REFCLSID clsid, char* file, UINT fileSize, UINT* line, char* server,
                                           UINT serverSize) {
  return comrt::answerOf([&] { return findClassRegistration(clsid, file, fileSize, line, server, serverSize); });
}

COMRT_API UINT ComRegistryMessage(char* buf, UINT size) { return copyText(t_message, buf, size); }
