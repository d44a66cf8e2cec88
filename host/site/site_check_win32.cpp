// Windows side of the site check's system seam: the system registry for COM
// classes and ODBC data sources. Message boxes are windows there: none is captured.
#include <windows.h>

#include <cstdio>

#include "host_dates.h"
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

// The report engine is 32-bit: a data source made by the 64-bit administrator is not seen.
const char* howToDefineDataSource() {
  return "as a 32-bit data source, with %SystemRoot%\\SysWOW64\\odbcad32.exe on 64-bit Windows "
         "(odbcad32.exe in System32 on 32-bit Windows)";
}

bool fileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool replaceFile(const std::string& from, const std::string& to, std::string& why) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  char text[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.')) text[--n] = '\0';
  why = n ? text : "the file could not be replaced";
  return false;
}

std::string locateDriver(const std::string& entry) {
  if (fileExists(entry)) return entry;
  char path[MAX_PATH];
  DWORD n = SearchPathA(nullptr, entry.c_str(), nullptr, sizeof path, path, nullptr);
  return n > 0 && n < sizeof path ? std::string(path) : std::string();
}

BoxCapture::BoxCapture() {}
BoxCapture::~BoxCapture() {}
std::string BoxCapture::finish() {
  done_ = true;
  return std::string();
}

}  // namespace site
}  // namespace ufhost
