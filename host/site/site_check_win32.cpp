// Windows side of the site check's system seam: the system registry for COM
// classes and ODBC data sources. Message boxes are windows there: none is captured.
#include <windows.h>

#include <cstdio>

#include "site_check_sys.h"

namespace ufhost {
namespace site {

HRESULT findClassRegistration(REFCLSID clsid, ClassRegistration& found, std::string& searched) {
  const std::string key = "CLSID\\" + guidText(clsid) + "\\InprocServer32";
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

std::string nowText() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute);
  return buf;
}

bool replaceFile(const std::string& from, const std::string& to, std::string& why) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  why = sys::systemMessage(GetLastError());
  if (why.empty()) why = "the file could not be replaced";
  return false;
}

std::string locateDriver(const std::string& entry) {
  if (sys::fileExists(entry)) return entry;
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

// The MSI's folder: the engine and the site scripts beside ufhost.exe; a repair
// of the installation registers the engine again.
Layout currentLayout() {
  Layout l;
  l.kind = Layout::Windows;
  std::string dir = sys::executableFolder();
  if (dir.empty()) dir = ".\\";
  l.dbScripts = dir + "db";
  l.engineFile = dir + "vrzelcal.dll";
  l.dsnScript = dir + "winzelrw.cmd";
  l.passwordFolderScript = dir + "site-folder.cmd";
  l.registerEngine = "repair the installation as an administrator (Repair in Programs and Features, or msiexec /i "
                     "u2lvost-" U2LVOST_VERSION "-win32.msi REINSTALL=ALL REINSTALLMODE=amus /qn)";
  return l;
}

BoxTee::BoxTee(bool) {}
BoxTee::~BoxTee() {}
void BoxTee::sync() {}
std::string BoxTee::finish() { return std::string(); }

}  // namespace site
}  // namespace ufhost
