#include "engine_session.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "test_env.h"
#include "test_paths.h"

namespace enginetest {

namespace {

typedef HRESULT (*PlainEntry)();

template <class F>
F entry(void* handle, const char* name) {
  F f = handle ? reinterpret_cast<F>(::dlsym(handle, name)) : nullptr;
  if (!f) ADD_FAILURE() << "the engine has no " << name;
  return f;
}

}  // namespace

Session& Session::get() {
  static Session session;
  return session;
}

Session::Session() {
  // Lives for the whole program, as does the environment pointing at it.
  static testenv::TempDir dir;
  folder_ = dir.path();
  registry_ = dir.file("com-classes.reg");
  setenv("U2LVOST_COM_REGISTRY", registry_.c_str(), 1);
  char full[PATH_MAX];
  enginePath_ = ::realpath(VRZELCAL_LIBRARY, full) ? full : VRZELCAL_LIBRARY;
  engine_ = ::dlopen(enginePath_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!engine_) ADD_FAILURE() << "cannot load " << enginePath_ << ": " << ::dlerror();
  EXPECT_EQ(S_OK, CoInitialize(nullptr));
  EXPECT_EQ(S_OK, registerServer());
}

HRESULT Session::canUnloadNow() const {
  auto f = entry<PlainEntry>(engine_, "DllCanUnloadNow");
  return f ? f() : E_FAIL;
}

HRESULT Session::getClassObject(REFCLSID clsid, REFIID iid, void** ppv) const {
  auto f = entry<LPFNGETCLASSOBJECT>(engine_, "DllGetClassObject");
  return f ? f(clsid, iid, ppv) : E_FAIL;
}

HRESULT Session::registerServer() const {
  auto f = entry<PlainEntry>(engine_, "DllRegisterServer");
  return f ? f() : E_FAIL;
}

HRESULT Session::unregisterServer() const {
  auto f = entry<PlainEntry>(engine_, "DllUnregisterServer");
  return f ? f() : E_FAIL;
}

void EngineTest::SetUp() {
  Session& s = Session::get();
  ASSERT_EQ(S_OK, s.canUnloadNow()) << "engine objects left over from an earlier test";
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VRZELCalendarFactory, nullptr, 7, IID_IVRZELCalendarFactory,
                                   factory_.putVoid()));
  ASSERT_TRUE(factory_);
}

void EngineTest::TearDown() {
  factory_.Release();
  EXPECT_EQ(S_OK, Session::get().canUnloadNow()) << "an engine object outlived its test";
}

CalendarRefs newCalendar(IVRZELCalendarFactory* factory) {
  CalendarRefs refs;
  CComPtr<IDispatch> object;
  EXPECT_EQ(S_OK, factory->CalendarFactory(object.put()));
  if (!object) return refs;
  EXPECT_EQ(S_OK, object.QueryInterface(IID_IVRCalendar, refs.calendar));
  EXPECT_EQ(S_OK, object.QueryInterface(IID_IVRCalendarManager, refs.manager));
  EXPECT_EQ(S_OK, object.QueryInterface(IID_IVRPersistXML, refs.xml));
  return refs;
}

CComPtr<IVRCycleObject> newCycle(IVRZELCalendarFactory* factory) {
  CComPtr<IDispatch> object;
  CComPtr<IVRCycleObject> cycle;
  EXPECT_EQ(S_OK, factory->CycleObjectFactory(object.put()));
  if (object) {
    EXPECT_EQ(S_OK, object.QueryInterface(IID_IVRCycleObject, cycle));
  }
  return cycle;
}

CComPtr<IktEnumDispatch> newCollection() {
  CComPtr<IktEnumDispatch> list;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ktEnumDispatch, nullptr, 7, IID_IktEnumDispatch, list.putVoid()));
  return list;
}

BSTR bstr(const char* text) {
  std::u16string wide(text, text + std::char_traits<char>::length(text));
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string takeText(BSTR text) {
  std::string narrow;
  for (UINT i = 0; i < SysStringLen(text); ++i) narrow += static_cast<char>(text[i]);
  SysFreeString(text);
  return narrow;
}

}  // namespace enginetest
