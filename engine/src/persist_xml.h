// IVRPersistXML for the calendar and the cycle object: named text attributes in
// the order they were first stored.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "engine_com.h"

namespace vrz {

using WideString = std::basic_string<OLECHAR>;

// The text of a wide argument, read up to its terminator: callers hand over
// plain wide literals as well as BSTRs. Null reads as empty, as a null BSTR does.
WideString wideText(const OLECHAR* text);
// A new BSTR of the text into *out; E_OUTOFMEMORY leaves *out null.
HRESULT newBstr(const WideString& text, BSTR* out);

class PersistXmlImpl : public DispatchImpl<IVRPersistXML> {
 public:
  // The XML and attribute-string forms are not used by the report library and
  // are not offered: these four answer E_NOTIMPL.
  HRESULT STDMETHODCALLTYPE get_XML(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_XML(BSTR newVal) override;
  HRESULT STDMETHODCALLTYPE get_AttributeString(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE put_AttributeString(BSTR newVal) override;

  HRESULT STDMETHODCALLTYPE AttributeCount(LONG* pVal) override;
  // index from 0; DISP_E_BADINDEX outside the attributes.
  HRESULT STDMETHODCALLTYPE AttributeName(LONG index, BSTR* pVal) override;
  // The text last stored under the name; E_INVALIDARG when none was.
  HRESULT STDMETHODCALLTYPE get_Attribute(BSTR name, BSTR* pVal) override;
  // Stores the text under the name (names compare exactly); an empty name is refused.
  HRESULT STDMETHODCALLTYPE put_Attribute(BSTR name, BSTR newVal) override;

 private:
  std::vector<std::pair<WideString, WideString>> attributes_;
  // The index of the attribute the last successful read found (only a hint,
  // always compared again).
  size_t lastFound_ = 0;
};

}  // namespace vrz
