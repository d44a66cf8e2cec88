#include "persist_xml.h"

#include <string>

namespace vrz {

namespace {

// key equals the NUL-terminated name (no attribute name holds a NUL).
bool sameName(const WideString& key, const OLECHAR* name) {
  const size_t n = key.size();
  for (size_t i = 0; i < n; ++i)
    if (key[i] != name[i]) return false;  // also stops at the name's terminator
  return name[n] == 0;
}

}  // namespace

WideString wideText(const OLECHAR* text) { return text ? WideString(text) : WideString(); }

HRESULT newBstr(const WideString& text, BSTR* out) {
  *out = nullptr;
  if (text.size() > 0x7FFFFFFF) return E_OUTOFMEMORY;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT PersistXmlImpl::get_XML(BSTR* pVal) {
  if (pVal) *pVal = nullptr;
  return E_NOTIMPL;
}

HRESULT PersistXmlImpl::put_XML(BSTR) { return E_NOTIMPL; }

HRESULT PersistXmlImpl::get_AttributeString(BSTR* pVal) {
  if (pVal) *pVal = nullptr;
  return E_NOTIMPL;
}

HRESULT PersistXmlImpl::put_AttributeString(BSTR) { return E_NOTIMPL; }

HRESULT PersistXmlImpl::AttributeCount(LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = static_cast<LONG>(attributes_.size());
  return S_OK;
}

HRESULT PersistXmlImpl::AttributeName(LONG index, BSTR* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (index < 0 || static_cast<size_t>(index) >= attributes_.size()) return DISP_E_BADINDEX;
  return guarded([&] { return newBstr(attributes_[static_cast<size_t>(index)].first, pVal); });
}

HRESULT PersistXmlImpl::get_Attribute(BSTR name, BSTR* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  // Compared in place, in one pass over the name per attribute: the only
  // allocation of a read is the text handed out.
  if (!name || !*name) return E_INVALIDARG;  // no attribute has an empty name
  // The same attribute is read over and over (the lookup asks every calendar
  // for its CalendarID): the one found last is compared first.
  const size_t n = attributes_.size();
  const size_t last = lastFound_;
  if (last < n && sameName(attributes_[last].first, name)) return newBstr(attributes_[last].second, pVal);
  for (size_t i = 0; i < n; ++i) {
    if (i != last && sameName(attributes_[i].first, name)) {
      lastFound_ = i;
      return newBstr(attributes_[i].second, pVal);
    }
  }
  return E_INVALIDARG;
}

HRESULT PersistXmlImpl::put_Attribute(BSTR name, BSTR newVal) {
  return guarded([&] {
    WideString key = wideText(name);
    if (key.empty()) return E_INVALIDARG;
    WideString value = wideText(newVal);
    for (auto& a : attributes_) {
      if (a.first == key) {
        a.second.swap(value);
        return S_OK;
      }
    }
    attributes_.emplace_back(std::move(key), std::move(value));
    return S_OK;
  });
}

}  // namespace vrz
