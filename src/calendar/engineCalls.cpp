#include "engineCalls.h"

#include "ccombstr.h"
#include "ktstr.h"

namespace engineCalls {

HRESULT putAttributeWide(IVRPersistXML* xml, const OLECHAR* name, const OLECHAR* value) {
  if (!xml) return E_POINTER;
  // The engine receives real BSTRs, never bare literals.
  BSTR bName = SysAllocString(name);
  BSTR bValue = SysAllocString(value);
  HRESULT hr = (bName && bValue) ? xml->put_Attribute(bName, bValue) : E_OUTOFMEMORY;
  SysFreeString(bValue);
  SysFreeString(bName);
  return hr;
}

HRESULT putAttribute(IVRPersistXML* xml, const OLECHAR* name, const char* value) {
  CComBSTR wide;
  wide = value;
  if (!wide.m_str) return E_OUTOFMEMORY;
  return putAttributeWide(xml, name, wide.m_str);
}

HRESULT getAttribute(IVRPersistXML* xml, const OLECHAR* name, ktStr& value) {
  if (!xml) return E_POINTER;
  BSTR bName = SysAllocString(name);
  if (!bName) return E_OUTOFMEMORY;
  BSTR text = nullptr;
  HRESULT hr = xml->get_Attribute(bName, &text);
  SysFreeString(bName);
  if (SUCCEEDED(hr)) value = reinterpret_cast<const ktWChar*>(text);
  SysFreeString(text);
  return hr;
}

HRESULT createCollection(CComPtr<IktEnumDispatch>& collection) {
  return CoCreateInstance(CLSID_ktEnumDispatch, nullptr, kClassContext, IID_IktEnumDispatch,
                          collection.putVoid());
}

}  // namespace engineCalls
