#include "enum_dispatch.h"

#include <utility>

namespace vrz {

namespace {
// Counts and indexes travel as LONG.
constexpr size_t kMaxItems = 0x7FFFFFFF;
}  // namespace

HRESULT EnumDispatch::Next(ULONG celt, IDispatch** rgelt, ULONG* pceltFetched) {
  if (pceltFetched) *pceltFetched = 0;
  if (!pceltFetched && celt != 1) return E_INVALIDARG;
  if (celt > 0 && !rgelt) return E_POINTER;
  ULONG fetched = 0;
  while (fetched < celt && cursor_ < items_.size()) {
    IDispatch* item = items_[cursor_++].get();
    item->AddRef();
    rgelt[fetched++] = item;
  }
  if (pceltFetched) *pceltFetched = fetched;
  return fetched == celt ? S_OK : S_FALSE;
}

HRESULT EnumDispatch::Skip(ULONG celt) {
  const size_t left = items_.size() - cursor_;
  if (celt > left) {
    cursor_ = items_.size();
    return S_FALSE;
  }
  cursor_ += celt;
  return S_OK;
}

HRESULT EnumDispatch::Reset() {
  cursor_ = 0;
  return S_OK;
}

HRESULT EnumDispatch::Clone(IktEnumDispatch** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  EnumDispatch* copy = createObject<EnumDispatch>();
  if (!copy) return E_OUTOFMEMORY;
  HRESULT hr = guarded([&] {
    copy->items_ = items_;
    return S_OK;
  });
  if (FAILED(hr)) {
    copy->Release();
    return hr;
  }
  copy->cursor_ = cursor_;
  *ppEnum = copy;
  return S_OK;
}

HRESULT EnumDispatch::get_CurrentIndex(LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = static_cast<LONG>(cursor_);
  return S_OK;
}

HRESULT EnumDispatch::Append(IDispatch* item) {
  if (!item) return E_INVALIDARG;
  if (items_.size() >= kMaxItems) return E_OUTOFMEMORY;
  return guarded([&] {
    items_.emplace_back(item);
    ++edits_;
    return S_OK;
  });
}

HRESULT EnumDispatch::RemoveAll() {
  // Released only after the list is consistent: an item's destructor may call back.
  std::vector<CComPtr<IDispatch>> gone;
  gone.swap(items_);
  cursor_ = 0;
  ++edits_;
  return S_OK;
}

HRESULT EnumDispatch::RemoveAt(LONG index) {
  if (!validIndex(index)) return DISP_E_BADINDEX;
  const size_t at = static_cast<size_t>(index);
  CComPtr<IDispatch> gone = std::move(items_[at]);
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
  // The cursor keeps pointing at the same next item.
  if (at < cursor_) --cursor_;
  ++edits_;
  return S_OK;
}

HRESULT EnumDispatch::SetAt(LONG index, IDispatch* item) {
  if (!item) return E_INVALIDARG;
  if (!validIndex(index)) return DISP_E_BADINDEX;
  items_[static_cast<size_t>(index)] = item;
  ++edits_;
  return S_OK;
}

HRESULT EnumDispatch::get_GetAt(LONG index, IDispatch** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (!validIndex(index)) return DISP_E_BADINDEX;
  IDispatch* item = items_[static_cast<size_t>(index)].get();
  item->AddRef();
  *pVal = item;
  return S_OK;
}

HRESULT EnumDispatch::get_Count(LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = static_cast<LONG>(items_.size());
  return S_OK;
}

}  // namespace vrz
