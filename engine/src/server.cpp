// The engine's in-process server entry points and its class factories.
#include <atomic>

#include "calendar.h"
#include "engine_com.h"
#include "enum_dispatch.h"

namespace vrz {

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

typedef HRESULT (*Creator)(IUnknown** object);

HRESULT createEngineFactory(IUnknown** object) {
  EngineFactory* f = createObject<EngineFactory>();
  *object = f;
  return f ? S_OK : E_OUTOFMEMORY;
}

HRESULT createCollection(IUnknown** object) {
  EnumDispatch* c = createObject<EnumDispatch>();
  *object = c;
  return c ? S_OK : E_OUTOFMEMORY;
}

// Makes one class's objects; counts as a live object itself.
class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(Creator creator) : creator_(creator) { moduleAddObject(); }
  ~ClassFactory() { moduleRemoveObject(); }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // No class of the engine can be aggregated.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* object = nullptr;
    HRESULT hr = creator_(&object);
    if (FAILED(hr)) return hr;
    // The object's own reference goes once the caller has (or has not) got one.
    hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    moduleLock(lock != 0);
    return S_OK;
  }

 private:
  Creator creator_;
  std::atomic<ULONG> refs_{1};
};

}  // namespace

void moduleAddObject() { ++g_objects; }
void moduleRemoveObject() { --g_objects; }
void moduleLock(bool lock) {
  if (lock) {
    ++g_locks;
    return;
  }
  // An unlock without a lock is ignored rather than let the count go negative.
  long n = g_locks.load();
  while (n > 0 && !g_locks.compare_exchange_weak(n, n - 1)) {
  }
}
bool moduleInUse() { return g_objects.load() != 0 || g_locks.load() != 0; }

}  // namespace vrz

// rclsid: CLSID_VRZELCalendarFactory or CLSID_ktEnumDispatch; riid: usually
// IID_IClassFactory. Returns the class factory in *ppv, or
// CLASS_E_CLASSNOTAVAILABLE for any other class (and *ppv null).
VRZ_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  vrz::Creator creator = nullptr;
  if (IsEqualGUID(rclsid, CLSID_VRZELCalendarFactory))
    creator = vrz::createEngineFactory;
  else if (IsEqualGUID(rclsid, CLSID_ktEnumDispatch))
    creator = vrz::createCollection;
  else
    return CLASS_E_CLASSNOTAVAILABLE;
  vrz::ClassFactory* factory = vrz::createObject<vrz::ClassFactory>(creator);
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

// S_OK when no object or class factory of the engine is alive and no lock is held.
VRZ_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow(void) { return vrz::moduleInUse() ? S_FALSE : S_OK; }
