// Windows side of the site check's system seam: the system registry for COM
// classes and ODBC data sources. Message boxes are windows there: none is captured.
#include <windows.h>

#include <cstdio>

#include "host_dates.h"
#include "site_check_sys.h"

namespace ufhost {
namespace site {

HRESULT findClassRegistration(REFCLSID clsid, ClassRegistration& found, std::string& searched) {
  char text[40];
  const GUID& g = clsid;
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  const std::string key = std::string("CLSID\\") + text + "\\InprocServer32";
  searched = "HKEY_CLASSES_ROOT\\" + key;
  HKEY h;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return REGDB_E_CLASSNOTREG;
  char value[MAX_PATH * 2];
  DWORD size = sizeof value - 1, type = 0;
  LONG rc = RegQueryValueExA(h, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(h);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return REGDB_E_CLASSNOTREG;
  value[size] = '\0';
  found.file = searched;
  found.line = 0;
  found.server = value;
  // COM expands a REG_EXPAND_SZ path (%ProgramFiles%\...) before loading it.
  if (type == REG_EXPAND_SZ) {
    char expanded[MAX_PATH * 2];
    DWORD n = ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
    if (n > 0 && n <= sizeof expanded) found.server = expanded;
  }
  return S_OK;
}

std::string odbcIniLocation(bool system) {
  return system ? "HKEY_LOCAL_MACHINE\\Software\\ODBC\\ODBC.INI" : "HKEY_CURRENT_USER\\Software\\ODBC\\ODBC.INI";
}

int32_t todayDayNumber() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return dayNumberFromCivil(st.wYear, st.wMonth, st.wDay);
}

std::string nowText() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
  return buf;
}

bool fileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string locateDriver(const std::string& entry) {
  if (fileExists(entry)) return entry;
  char path[MAX_PATH];
  DWORD n = SearchPathA(nullptr, entry.c_str(), nullptr, sizeof path, path, nullptr);
  return n > 0 && n < sizeof path ? std::string(path) : std::string();
}

FileState fileState(const std::string& path) {
  FileState f;
  DWORD a = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return f;
  f.exists = true;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  f.readable = h != INVALID_HANDLE_VALUE && !(a & FILE_ATTRIBUTE_DIRECTORY);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  f.permission = (a & FILE_ATTRIBUTE_DIRECTORY) ? "a folder"
                 : (a & FILE_ATTRIBUTE_READONLY) ? "read-only"
                 : f.readable ? "readable and writable" : "this account may not open it for reading and writing";
  return f;
}

// One flat folder: the engine beside ufhost.exe, install.cmd registers it.
Layout currentLayout() {
  Layout l;
  l.kind = Layout::Windows;
  char exe[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string dir = n > 0 && n < sizeof exe ? std::string(exe, n) : std::string();
  dir = dir.substr(0, dir.find_last_of("\\/") == std::string::npos ? 0 : dir.find_last_of("\\/"));
  if (dir.empty()) dir = ".";
  l.dbScripts = dir + "\\db";
  l.engineFile = dir + "\\vrzelcal.dll";
  l.registerEngine = "run " + dir + "\\install.cmd as an administrator";
  return l;
}

BoxCapture::BoxCapture() {}
BoxCapture::~BoxCapture() {}
std::string BoxCapture::finish() {
  done_ = true;
  return std::string();
}

BoxTee::BoxTee() {}
BoxTee::~BoxTee() {}
std::string BoxTee::finish() { return std::string(); }

}  // namespace site
}  // namespace ufhost
