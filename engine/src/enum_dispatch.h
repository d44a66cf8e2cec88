// The ordered collection behind IktEnumDispatch: IDispatch references, each
// held once per place in the list, and a cursor for Next and Skip.
#pragma once

#include <cstdint>
#include <vector>

#include "engine_com.h"

namespace vrz {

class EnumDispatch final : public ComObject<EnumDispatch, DispatchImpl<IktEnumDispatch>> {
 public:
  EnumDispatch() = default;
  ~EnumDispatch() = default;

  // celt items from the cursor on into rgelt, one reference each. S_FALSE when
  // fewer than celt remain. pceltFetched may be null only when celt is 1.
  HRESULT STDMETHODCALLTYPE Next(ULONG celt, IDispatch** rgelt, ULONG* pceltFetched) override;
  // S_FALSE when the end came first; the cursor then stands at the end.
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  // A new collection with the same items and cursor.
  HRESULT STDMETHODCALLTYPE Clone(IktEnumDispatch** ppEnum) override;
  HRESULT STDMETHODCALLTYPE get_CurrentIndex(LONG* pVal) override;
  HRESULT STDMETHODCALLTYPE Append(IDispatch* item) override;
  HRESULT STDMETHODCALLTYPE RemoveAll() override;
  HRESULT STDMETHODCALLTYPE RemoveAt(LONG index) override;
  HRESULT STDMETHODCALLTYPE SetAt(LONG index, IDispatch* item) override;
  HRESULT STDMETHODCALLTYPE get_GetAt(LONG index, IDispatch** pVal) override;
  HRESULT STDMETHODCALLTYPE get_Count(LONG* pVal) override;

  // Counts changes of the items (not of the cursor), so that an owner that
  // hands the same collection out again can tell whether it still holds what it
  // put in.
  uint64_t itemEdits() const { return edits_; }

 private:
  bool validIndex(LONG index) const { return index >= 0 && static_cast<size_t>(index) < items_.size(); }

  std::vector<CComPtr<IDispatch>> items_;
  size_t cursor_ = 0;  // never beyond items_.size()
  uint64_t edits_ = 0;
};

}  // namespace vrz
