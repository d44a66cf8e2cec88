// The module record that the COM server entry points answer from. In this
// library it stays all zero: no class table, no type library, no hooks, no locks.
#pragma once

#include "comtypes.h"

// One class the module serves; a table of them ends with a null pclsid.
struct _ATL_OBJMAP_ENTRY {
  const CLSID* pclsid;
  const char* lpszProgID;
  const char* lpszFriendlyName;
  // Creates the class factory and hands out its riid interface.
  HRESULT (*pfnGetClassObject)(REFIID riid, LPVOID* ppv);
};

struct _ATL_MODULE {
  _ATL_OBJMAP_ENTRY* m_pObjMap;
  HRESULT (*m_RegisterServer)(void);
  HRESULT (*m_UnregisterServer)(void);
  LONG m_nLockCnt;
};

class CComModule : public _ATL_MODULE {
 public:
  GUID m_libid;  // the type library to register; the null GUID for none

  HRESULT RegisterServer() const;
  HRESULT UnregisterServer() const;
  // CLASS_E_CLASSNOTAVAILABLE, ppv untouched, for a class the table does not list.
  HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) const;
  LONG GetLockCount() const { return m_nLockCnt; }
};

// Process-wide; static storage makes every field zero at load.
extern CComModule _Module;
