// The class registry file: reading, looking up and rewriting it, and the text
// form of GUIDs used in it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

// Missing file: no lines, and true. False only when the file exists but cannot be read.
bool readLines(const std::string& path, std::vector<Line>* lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    struct stat st;
    return ::stat(path.c_str(), &st) != 0 && errno == ENOENT;
  }
  std::string raw;
  while (std::getline(in, raw)) lines->push_back(parseLine(raw));
  return !in.bad();
}

// Creates every missing folder of dir.
bool makeFolders(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeFolders(dir.substr(0, slash))) return false;
  return ::mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST;
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
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0644) == 0 && writeAll(fd, text) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(name.data(), path.c_str()) == 0;
  if (!ok) ::unlink(name.data());
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

bool lookupServer(const std::string& path, REFCLSID clsid, std::string* server) {
  std::vector<Line> lines;
  if (path.empty() || !readLines(path, &lines)) return false;
  bool found = false;
  // The last line of a class wins, as a later assignment would.
  for (const Line& l : lines) {
    if (l.isClass && IsEqualGUID(l.clsid, clsid)) {
      *server = l.server;
      found = true;
    }
  }
  return found;
}

}  // namespace comrt

COMRT_API UINT ComGuidToText(REFGUID g, char* buf, UINT size) {
  if (!buf || size < kGuidTextLength + 1) return 0;
  std::snprintf(buf, size, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
                static_cast<unsigned>(g.Data2), static_cast<unsigned>(g.Data3), g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
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

COMRT_API UINT ComRegistryPath(char* buf, UINT size) {
  std::string path = comrt::registryPath();
  if (path.size() >= UINT32_MAX) return 0;
  UINT n = static_cast<UINT>(path.size());
  if (buf && n < size) std::memcpy(buf, path.c_str(), static_cast<size_t>(n) + 1);
  return n;
}

COMRT_API HRESULT ComRegisterClass(REFCLSID clsid, const char* serverPath) {
  if (!serverPath || serverPath[0] != '/' || std::strchr(serverPath, '\n')) return E_INVALIDARG;
  std::string path = comrt::registryPath();
  if (path.empty()) return E_FAIL;
  std::vector<Line> lines;
  if (!readLines(path, &lines)) return E_FAIL;
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
  return writeLines(path, kept) ? S_OK : E_FAIL;
}

COMRT_API HRESULT ComUnregisterClass(REFCLSID clsid) {
  std::string path = comrt::registryPath();
  if (path.empty()) return E_FAIL;
  std::vector<Line> lines;
  if (!readLines(path, &lines)) return E_FAIL;
  std::vector<Line> kept;
  for (Line& l : lines)
    if (!(l.isClass && IsEqualGUID(l.clsid, clsid))) kept.push_back(std::move(l));
  if (kept.size() == lines.size()) return S_FALSE;
  return writeLines(path, kept) ? S_OK : E_FAIL;
}

COMRT_API HRESULT ComLookupClass(REFCLSID clsid, char* buf, UINT size) {
  if (!buf || size == 0) return E_INVALIDARG;
  std::string server;
  if (!comrt::lookupServer(comrt::registryPath(), clsid, &server)) return REGDB_E_CLASSNOTREG;
  if (server.size() >= size) return E_INVALIDARG;
  std::memcpy(buf, server.c_str(), server.size() + 1);
  return S_OK;
}

COMRT_API HRESULT ComFindClassRegistration(REFCLSID clsid, char* file, UINT fileSize, UINT* line, char* server,
                                           UINT serverSize) {
  if (!file || !line || !server || fileSize == 0 || serverSize == 0) return E_INVALIDARG;
  const std::string path = comrt::registryPath();
  std::vector<Line> lines;
  if (path.empty() || !readLines(path, &lines)) return REGDB_E_CLASSNOTREG;
  size_t at = 0;
  // The last line of a class wins, as in lookupServer.
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].isClass && IsEqualGUID(lines[i].clsid, clsid)) at = i + 1;
  if (at == 0) return REGDB_E_CLASSNOTREG;
  const std::string& found = lines[at - 1].server;
  if (path.size() >= fileSize || found.size() >= serverSize) return E_INVALIDARG;
  std::memcpy(file, path.c_str(), path.size() + 1);
  std::memcpy(server, found.c_str(), found.size() + 1);
  *line = static_cast<UINT>(at);
  return S_OK;
}
