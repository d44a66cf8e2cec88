#include "host_sys.h"

#include <io.h>
#include <windows.h>

#include <string>

#include "fiscal_year_end.h"
#include "host_dates.h"

namespace ufhost {
namespace sys {

void* openLibrary(const std::string& path, std::string& error) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = "no such file";
    return nullptr;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = "it is a folder";
    return nullptr;
  }
  // No error boxes from the loader: the harness reports in text.
  UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // The full path: a bare name would be looked for in the system folders first.
  char full[MAX_PATH * 4];
  DWORD fullLength = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  std::string loadPath = fullLength > 0 && fullLength < sizeof full ? std::string(full) : path;
  // A file name without an extension would get ".dll" appended by the loader, which
  // then loads another file or none; a trailing point keeps the name as it is.
  const size_t namePart = loadPath.find_last_of("\\/:");
  if (loadPath.find('.', namePart == std::string::npos ? 0 : namePart + 1) == std::string::npos) loadPath += '.';
  HMODULE module = LoadLibraryA(loadPath.c_str());
  DWORD code = module ? 0 : GetLastError();
  SetErrorMode(oldMode);
  if (!module) {
    const std::string text = systemMessage(code);
    error = "error " + std::to_string(code) + (text.empty() ? "" : ": " + text);
  }
  return reinterpret_cast<void*>(module);
}

void* findSymbol(void* library, const char* name) {
  if (!library || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void closeLibrary(void* library) {
  if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string executableFolder() {
  char path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return std::string();
  const std::string full(path, n);
  const size_t cut = full.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : full.substr(0, cut + 1);
}

bool fileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string systemMessage(unsigned long code) {
  char text[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  // Without the line end and the full stop, so the text can stand inside a message.
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
  return std::string(text, n);
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

bool stdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

}  // namespace sys

int32_t todayDayNumber() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return dayNumberFromCivil(st.wYear, st.wMonth, st.wDay);
}

}  // namespace ufhost
