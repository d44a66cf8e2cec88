// Per-thread COM initialisation. No apartments are modelled: a thread simply
// counts its CoInitialize calls, and CoCreateInstance refuses threads at zero.
#include "cominternal.h"

namespace {
thread_local ULONG t_initCount = 0;
}

namespace comrt {
bool threadInitialised() { return t_initCount > 0; }
}  // namespace comrt

// reserved must be null. S_OK for the thread's first call, S_FALSE for a nested one.
COMRT_API HRESULT CoInitializeEx(LPVOID reserved, DWORD /*coInit*/) {
  if (reserved) return E_INVALIDARG;
  if (t_initCount == UINT32_MAX) return E_UNEXPECTED;
  return t_initCount++ == 0 ? S_OK : S_FALSE;
}

COMRT_API HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, 0); }

// Undoes one successful CoInitialize(Ex) of this thread; extra calls are ignored.
COMRT_API void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}
