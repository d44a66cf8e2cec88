// The engine's COM plumbing: reference-counted objects with several interfaces,
// the live-object count behind DllCanUnloadNow, and the boundary guard.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

#include "comptr.h"
#include "comtypes.h"
#include "vrzelcal.h"

#ifdef _WIN32
#define VRZ_EXPORT extern "C"
#else
#define VRZ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace vrz {

// Every live object and class factory, and every LockServer(TRUE) not yet undone.
void moduleAddObject();
void moduleRemoveObject();
void moduleLock(bool lock);
bool moduleInUse();

// Runs f and turns an exception (only allocations can throw here) into an HRESULT,
// so nothing escapes a method of an interface.
template <class F>
HRESULT guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// IIDs as two 64-bit halves: the known one folds to constants, and a mismatch
// (nearly always in the first half) costs a single compare.
static_assert(sizeof(IID) == 16, "an IID is 16 bytes");
inline bool sameIid(REFIID asked, const IID& known) {
  uint64_t a[2], k[2];
  std::memcpy(a, &asked, sizeof a);
  std::memcpy(k, &known, sizeof k);
  return a[0] == k[0] && a[1] == k[1];
}

template <class I>
struct InterfaceId;
#define VRZ_INTERFACE_ID(I) \
  template <>               \
  struct InterfaceId<I> {   \
    static constexpr const IID& value = IID_##I; \
  }
VRZ_INTERFACE_ID(IVRZELCalendarFactory);
VRZ_INTERFACE_ID(IktEnumDispatch);
VRZ_INTERFACE_ID(IVRPersistXML);
VRZ_INTERFACE_ID(IVRCalendarManager);
VRZ_INTERFACE_ID(IVRCalendar);
VRZ_INTERFACE_ID(IVRFiscalYear);
VRZ_INTERFACE_ID(IVRCycleObject);
#undef VRZ_INTERFACE_ID

// One interface with IDispatch's automation methods. The engine is called
// through its vtables only and publishes no type information.
template <class I>
class DispatchImpl : public I {
 public:
  using Interface = I;

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
    if (ppTInfo) *ppTInfo = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

// An object answering the interfaces of its implementation bases (each a
// DispatchImpl or derived from one). It starts with one reference, owned by its
// creator, and deletes itself when the last reference goes.
template <class Derived, class First, class... Rest>
class ComObject : public First, public Rest... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    // The object's own interfaces first: those are what callers ask for on
    // every lookup; IUnknown and IDispatch come up far less often.
    if (!find<First, Rest...>(riid, ppv)) {
      if (!sameIid(riid, IID_IUnknown) && !sameIid(riid, IID_IDispatch)) {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      // Always the same pointer for IUnknown: COM's test of object identity.
      *ppv = static_cast<IDispatch*>(static_cast<typename First::Interface*>(this));
    }
    ++refs_;
    return S_OK;
  }
  // The server is registered apartment-threaded: an object is only ever called
  // from the thread of its apartment, one call at a time, so its count needs no
  // locked instruction (a dozen of them per fiscal-year lookup otherwise).
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) static_cast<Derived*>(this)->lastReleased();
    return left;
  }
  // The references held now; 1 means the asker's own is the only one.
  ULONG references() const { return refs_; }

 protected:
  ComObject() { moduleAddObject(); }
  ~ComObject() { moduleRemoveObject(); }

  // The last reference went. A class that recycles its objects hides this with
  // its own, which may keep the object and later revive() it.
  void lastReleased() { delete static_cast<Derived*>(this); }
  // One reference again, for the new holder of a kept object.
  void revive() { refs_ = 1; }

 private:
  template <class Impl, class... More>
  bool find(REFIID riid, void** ppv) {
    using I = typename Impl::Interface;
    if (sameIid(riid, InterfaceId<I>::value)) {
      *ppv = static_cast<I*>(this);
      return true;
    }
    if constexpr (sizeof...(More) > 0) return find<More...>(riid, ppv);
    return false;
  }

  ULONG refs_ = 1;
};

// A new object of class T holding one reference for the caller; null when
// memory runs out.
template <class T, class... Args>
T* createObject(Args&&... args) noexcept {
  return new (std::nothrow) T(static_cast<Args&&>(args)...);
}

// Whole-day serials of DATE values the engine accepts: finite and within a
// range its integer arithmetic covers with room to spare.
constexpr double kDateLimit = 1.0e9;
inline bool validDate(DATE d) { return d == d && d > -kDateLimit && d < kDateLimit; }

}  // namespace vrz
