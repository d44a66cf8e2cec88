#include "engineCalls.h"

#include "ccombstr.h"
#include "ktstr.h"

#include <cstdint>

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

long wideAtol(const OLECHAR* text) {
  if (!text) return 0;
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > 2147483648LL) value = 2147483648LL;  // saturated; more digits change nothing
  }
  if (negative) value = -value;
  if (value > 2147483647LL) value = 2147483647LL;
  return static_cast<long>(value);
}

HRESULT getAttributeNumber(IVRPersistXML* xml, BSTR name, long& value) {
  if (!xml || !name) return E_POINTER;
  BSTR text = nullptr;
  HRESULT hr = xml->get_Attribute(name, &text);
  if (SUCCEEDED(hr)) value = wideAtol(text);
  SysFreeString(text);
  return hr;
}

HRESULT createCollection(CComPtr<IktEnumDispatch>& collection) {
  return CoCreateInstance(CLSID_ktEnumDispatch, nullptr, kClassContext, IID_IktEnumDispatch,
                          collection.putVoid());
}

}  // namespace engineCalls
