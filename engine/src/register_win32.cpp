// Registration on Windows: HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32 names
// this DLL, as regsvr32 expects.
#ifdef _WIN32

#include <windows.h>
#include <olectl.h>

#include "engine_com.h"

namespace {

struct ClassEntry {
  const CLSID* clsid;
  const wchar_t* name;
};
const ClassEntry kClasses[] = {
    {&CLSID_VRZELCalendarFactory, L"VRZELCalendarFactory"},
    {&CLSID_ktEnumDispatch, L"ktEnumDispatch"},
};

bool setString(HKEY key, const wchar_t* name, const wchar_t* value) {
  DWORD bytes = static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes) == ERROR_SUCCESS;
}

// "CLSID\{...}" for the class.
bool classKeyName(const CLSID& clsid, wchar_t* out, int size) {
  wchar_t text[40];
  if (size < 6 + 40 || StringFromGUID2(clsid, text, 40) == 0) return false;
  return wsprintfW(out, L"CLSID\\%s", text) > 0;
}

bool modulePath(wchar_t* path, DWORD size) {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&kClasses), &self))
    return false;
  DWORD n = GetModuleFileNameW(self, path, size);
  return n > 0 && n < size;
}

bool registerClass(const ClassEntry& entry, const wchar_t* path) {
  wchar_t keyName[64];
  if (!classKeyName(*entry.clsid, keyName, 64)) return false;
  HKEY classKey = nullptr, serverKey = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, keyName, 0, nullptr, 0, KEY_WRITE, nullptr, &classKey, nullptr) !=
      ERROR_SUCCESS)
    return false;
  bool ok = setString(classKey, nullptr, entry.name) &&
            RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &serverKey, nullptr) ==
                ERROR_SUCCESS;
  if (ok) ok = setString(serverKey, nullptr, path) && setString(serverKey, L"ThreadingModel", L"Apartment");
  if (serverKey) RegCloseKey(serverKey);
  RegCloseKey(classKey);
  return ok;
}

}  // namespace

STDAPI DllRegisterServer(void) {
  wchar_t path[MAX_PATH];
  if (!modulePath(path, MAX_PATH)) return SELFREG_E_CLASS;
  for (const ClassEntry& entry : kClasses)
    if (!registerClass(entry, path)) return SELFREG_E_CLASS;
  return S_OK;
}

STDAPI DllUnregisterServer(void) {
  HRESULT result = S_OK;
  for (const ClassEntry& entry : kClasses) {
    wchar_t keyName[64];
    if (!classKeyName(*entry.clsid, keyName, 64)) return SELFREG_E_CLASS;
    LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, keyName);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) result = SELFREG_E_CLASS;
  }
  return result;
}

#endif  // _WIN32
