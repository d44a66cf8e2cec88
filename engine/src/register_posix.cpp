// Registration on Linux: the engine's classes go into the class registry file
// with the path this library was loaded from.
#ifndef _WIN32

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

#include "comregistry.h"
#include "engine_com.h"

VRZ_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer(void);
VRZ_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer(void);

namespace {

const CLSID* const kClasses[] = {&CLSID_VRZELCalendarFactory, &CLSID_ktEnumDispatch};

}  // namespace

// Writes one registry line per class. S_OK, or SELFREG_E_CLASS when the
// library's path cannot be found or the file cannot be written.
VRZ_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer(void) {
  Dl_info info;
  if (!::dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) || !info.dli_fname) return SELFREG_E_CLASS;
  char path[PATH_MAX];
  if (!::realpath(info.dli_fname, path)) return SELFREG_E_CLASS;
  for (const CLSID* clsid : kClasses)
    if (FAILED(ComRegisterClass(*clsid, path))) return SELFREG_E_CLASS;
  return S_OK;
}

// Removes the classes' lines. S_OK also when they were not there.
VRZ_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer(void) {
  HRESULT result = S_OK;
  for (const CLSID* clsid : kClasses)
    if (FAILED(ComUnregisterClass(*clsid))) result = SELFREG_E_CLASS;
  return result;
}

#endif  // !_WIN32
