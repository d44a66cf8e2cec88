// In-process COM server entry points. They answer from _Module, which lists no
// class, so the library registers nothing, serves nothing and may always unload.
#include "comserver.h"

#include "comserver_module.h"

CComModule _Module;

// Registry entries are the hooks' business; without hooks there is nothing to write.
HRESULT CComModule::RegisterServer() const { return m_RegisterServer ? m_RegisterServer() : S_OK; }

HRESULT CComModule::UnregisterServer() const { return m_UnregisterServer ? m_UnregisterServer() : S_OK; }

HRESULT CComModule::GetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) const {
  for (const _ATL_OBJMAP_ENTRY* entry = m_pObjMap; entry && entry->pclsid; ++entry) {
    if (!IsEqualGUID(*entry->pclsid, rclsid) || !entry->pfnGetClassObject) continue;
    if (!ppv) return E_POINTER;
    return entry->pfnGetClassObject(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

// S_OK; the registry is left alone while the module lists nothing.
U2_COMSERVER_API HRESULT U2_COMSERVER_CALL DllRegisterServer(void) { return _Module.RegisterServer(); }

// S_OK; the registry is left alone while the module lists nothing.
U2_COMSERVER_API HRESULT U2_COMSERVER_CALL DllUnregisterServer(void) { return _Module.UnregisterServer(); }

// rclsid: the class asked for; riid: the interface wanted of its factory; ppv: receives
// it. CLASS_E_CLASSNOTAVAILABLE for every class this module does not list.
U2_COMSERVER_API HRESULT U2_COMSERVER_CALL DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  return _Module.GetClassObject(rclsid, riid, ppv);
}

// S_OK while nothing holds a lock on the module, S_FALSE otherwise.
U2_COMSERVER_API HRESULT U2_COMSERVER_CALL DllCanUnloadNow(void) { return _Module.GetLockCount() == 0 ? S_OK : S_FALSE; }
