// The Linux COM runtime: BSTRs, GUID texts, the class registry file,
// initialisation and CoCreateInstance with each of its answers.
#include <dlfcn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "comregistry.h"
#include "engine_session.h"
#include "test_env.h"
#include "test_paths.h"

namespace enginetest {
namespace {

uint32_t prefixOf(BSTR b) {
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(b) - 4, 4);
  return prefix;
}

TEST(Bstr, LayoutIsByteLengthPrefixTextAndTerminator) {
  struct Row {
    const char16_t* text;
    UINT units;
  } rows[] = {{u"", 0}, {u"a", 1}, {u"CalendarID", 10}, {u"\u20ac\u00e9x", 3}};
  for (const Row& r : rows) {
    BSTR b = SysAllocString(r.text);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(2 * r.units, prefixOf(b));
    EXPECT_EQ(r.units, SysStringLen(b));
    EXPECT_EQ(2 * r.units, SysStringByteLen(b));
    EXPECT_EQ(0, std::memcmp(b, r.text, 2 * r.units));
    EXPECT_EQ(u'\0', b[r.units]);
    SysFreeString(b);
  }
}

TEST(Bstr, LengthVariantsAndNulls) {
  // Embedded NULs count: the length comes from the prefix.
  BSTR b = SysAllocStringLen(u"a\0b", 3);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(3u, SysStringLen(b));
  EXPECT_EQ(u'b', b[2]);
  EXPECT_EQ(u'\0', b[3]);
  SysFreeString(b);

  // Null text: room for the units, all NUL.
  b = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(8u, prefixOf(b));
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(u'\0', b[i]);
  SysFreeString(b);

  // A part of a longer text.
  b = SysAllocStringLen(u"abcdef", 2);
  EXPECT_EQ(2u, SysStringLen(b));
  EXPECT_EQ(u'\0', b[2]);
  SysFreeString(b);

  EXPECT_EQ(nullptr, SysAllocString(nullptr));
  EXPECT_EQ(0u, SysStringLen(nullptr));
  EXPECT_EQ(0u, SysStringByteLen(nullptr));
  SysFreeString(nullptr);
  // Lengths whose byte count cannot fit the prefix are refused, not wrapped.
  EXPECT_EQ(nullptr, SysAllocStringLen(nullptr, 0xFFFFFFFFu));
  EXPECT_EQ(nullptr, SysAllocStringLen(nullptr, 0x80000000u));
  EXPECT_EQ(nullptr, SysAllocStringLen(nullptr, 0x7FFFFFFEu));
}

TEST(GuidText, RoundTripAndRejects) {
  char text[64];
  EXPECT_EQ(38u, ComGuidToText(CLSID_VRZELCalendarFactory, text, sizeof text));
  EXPECT_STREQ("{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}", text);
  EXPECT_EQ(38u, ComGuidToText(IID_IVRPersistXML, text, sizeof text));
  EXPECT_STREQ("{9B06EA12-658C-474A-BE8B-D17BF12B008D}", text);
  EXPECT_EQ(0u, ComGuidToText(IID_IVRPersistXML, text, 38));  // no room for the NUL

  struct Row {
    const char* text;
    const GUID* want;
  } rows[] = {
      {"{33C9B846-0D15-11D2-98A2-00104B9B151D}", &CLSID_ktEnumDispatch},
      {"{33c9b845-0d15-11d2-98a2-00104b9b151d}", &IID_IktEnumDispatch},
      {"{00000000-0000-0000-C000-000000000046}", &IID_IUnknown},
      {"33C9B846-0D15-11D2-98A2-00104B9B151D", nullptr},
      {"{33C9B846-0D15-11D2-98A2-00104B9B151D", nullptr},
      {"{33C9B846-0D15-11D2-98A2-00104B9B151D} ", nullptr},
      {"{33C9B846-0D15-11D2-98A2+00104B9B151D}", nullptr},
      {"{33C9B846-0D15-11D2-98AG-00104B9B151D}", nullptr},
      {"{33C9B8460D15-11D2-98A2-00104B9B151D1}", nullptr},
      {"", nullptr},
  };
  for (const Row& r : rows) {
    GUID g = GUID_NULL;
    BOOL ok = ComGuidFromText(r.text, &g);
    if (r.want) {
      EXPECT_TRUE(ok) << r.text;
      EXPECT_TRUE(IsEqualGUID(*r.want, g)) << r.text;
    } else {
      EXPECT_FALSE(ok) << r.text;
      EXPECT_TRUE(IsEqualGUID(GUID_NULL, g)) << r.text;
    }
  }
  EXPECT_FALSE(ComGuidFromText(nullptr, nullptr));
}

TEST(ClassRegistry, PathComesFromTheEnvironment) {
  struct Row {
    const char* registry;
    const char* xdg;
    const char* home;
    const char* want;
  } rows[] = {
      {"/tmp/r/x.reg", "/xdg", "/home/u", "/tmp/r/x.reg"},
      {nullptr, "/xdg", "/home/u", "/xdg/u2lvost/com-classes.reg"},
      {"", "/xdg", "/home/u", "/xdg/u2lvost/com-classes.reg"},
      {nullptr, nullptr, "/home/u", "/home/u/.config/u2lvost/com-classes.reg"},
      {nullptr, "", "/home/u", "/home/u/.config/u2lvost/com-classes.reg"},
      {nullptr, nullptr, nullptr, ""},
  };
  for (const Row& r : rows) {
    testenv::ScopedEnv a("U2LVOST_COM_REGISTRY", r.registry), b("XDG_CONFIG_HOME", r.xdg), c("HOME", r.home);
    char buf[256] = "unchanged";
    UINT n = ComRegistryPath(buf, sizeof buf);
    EXPECT_EQ(std::strlen(r.want), n);
    if (n > 0) {
      EXPECT_STREQ(r.want, buf);
    }
    char small[4] = "abc";
    if (n >= 4) {
      EXPECT_EQ(n, ComRegistryPath(small, sizeof small));
      EXPECT_STREQ("abc", small) << "a short buffer is left alone";
    }
  }
}

TEST(ClassRegistry, RegisterRewritesOnlyTheClassLines) {
  testenv::TempDir dir;
  const std::string file = dir.file("nested/deeper/classes.reg");
  testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", file.c_str());
  char path[512];

  // A missing file and folders are created.
  EXPECT_EQ(REGDB_E_CLASSNOTREG, ComLookupClass(CLSID_ktEnumDispatch, path, sizeof path));
  ASSERT_EQ(S_OK, ComRegisterClass(CLSID_ktEnumDispatch, "/opt/one.so"));
  EXPECT_EQ("{33C9B846-0D15-11D2-98A2-00104B9B151D} = /opt/one.so\n", testenv::readFile(file));

  // Comments, blank lines and other classes stay as they were.
  dir.write("nested/deeper/classes.reg",
            "# engine classes\n"
            "\n"
            "{4ca227f1-b70a-4ea8-bea3-d95c24446a4b} = /old/engine.so\n"
            "not a class line\n"
            "{33C9B846-0D15-11D2-98A2-00104B9B151D}   =   /opt/one.so  \n"
            "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}=/older/engine.so\n");
  ASSERT_EQ(S_OK, ComLookupClass(CLSID_VRZELCalendarFactory, path, sizeof path));
  EXPECT_STREQ("/older/engine.so", path) << "the last line of a class holds";
  ASSERT_EQ(S_OK, ComLookupClass(CLSID_ktEnumDispatch, path, sizeof path));
  EXPECT_STREQ("/opt/one.so", path);
  EXPECT_EQ(E_INVALIDARG, ComLookupClass(CLSID_ktEnumDispatch, path, 5));

  ASSERT_EQ(S_OK, ComRegisterClass(CLSID_VRZELCalendarFactory, "/new/engine.so"));
  EXPECT_EQ(
      "# engine classes\n"
      "\n"
      "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = /new/engine.so\n"
      "not a class line\n"
      "{33C9B846-0D15-11D2-98A2-00104B9B151D}   =   /opt/one.so  \n",
      testenv::readFile(file));

  EXPECT_EQ(S_OK, ComUnregisterClass(CLSID_ktEnumDispatch));
  EXPECT_EQ(S_FALSE, ComUnregisterClass(CLSID_ktEnumDispatch));
  EXPECT_EQ(
      "# engine classes\n"
      "\n"
      "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = /new/engine.so\n"
      "not a class line\n",
      testenv::readFile(file));

  EXPECT_EQ(E_INVALIDARG, ComRegisterClass(CLSID_ktEnumDispatch, "relative/lib.so"));
  EXPECT_EQ(E_INVALIDARG, ComRegisterClass(CLSID_ktEnumDispatch, nullptr));
  EXPECT_EQ(E_INVALIDARG, ComRegisterClass(CLSID_ktEnumDispatch, "/a\nb.so"));
  // No temporary files are left behind.
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.file("nested/deeper"))) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(1, entries);
}

TEST(ComInit, CountsPerThread) {
  HRESULT first = E_FAIL, nested = E_FAIL, before = S_OK, during = E_FAIL, after = S_OK, reserved = S_OK;
  void* objectWhileOff = &objectWhileOff;
  Session::get();  // on the main thread: the registry is set up there
  std::thread t([&] {
    before = CoCreateInstance(CLSID_ktEnumDispatch, nullptr, 7, IID_IktEnumDispatch, &objectWhileOff);
    reserved = CoInitializeEx(&first, 0);
    first = CoInitialize(nullptr);
    nested = CoInitializeEx(nullptr, 0);
    IktEnumDispatch* list = nullptr;
    during = CoCreateInstance(CLSID_ktEnumDispatch, nullptr, 7, IID_IktEnumDispatch, reinterpret_cast<void**>(&list));
    if (list) list->Release();
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many: ignored
    after = CoCreateInstance(CLSID_ktEnumDispatch, nullptr, 7, IID_IktEnumDispatch, reinterpret_cast<void**>(&list));
  });
  t.join();
  EXPECT_EQ(CO_E_NOTINITIALIZED, before);
  EXPECT_EQ(nullptr, objectWhileOff);
  EXPECT_EQ(E_INVALIDARG, reserved);
  EXPECT_EQ(S_OK, first);
  EXPECT_EQ(S_FALSE, nested);
  EXPECT_EQ(S_OK, during);
  EXPECT_EQ(CO_E_NOTINITIALIZED, after);
  EXPECT_EQ(S_OK, Session::get().canUnloadNow());
}

class CoCreateTest : public ::testing::Test {
 protected:
  void SetUp() override { Session::get(); }

  // The answer of CoCreateInstance with *ppv preset to garbage, which must become null.
  static HRESULT create(REFCLSID clsid, REFIID iid, IUnknown* outer = nullptr, DWORD context = 7) {
    void* object = &object;
    HRESULT hr = CoCreateInstance(clsid, outer, context, iid, &object);
    if (FAILED(hr)) {
      EXPECT_EQ(nullptr, object);
    } else if (object) {
      static_cast<IUnknown*>(object)->Release();
    } else {
      ADD_FAILURE() << "success without an object";
    }
    return hr;
  }
};

TEST_F(CoCreateTest, EngineRegisteredItselfWithItsOwnPath) {
  const std::string text = testenv::readFile(Session::get().registryFile());
  const std::string& engine = Session::get().enginePath();
  EXPECT_NE(std::string::npos, text.find("{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = " + engine + "\n")) << text;
  EXPECT_NE(std::string::npos, text.find("{33C9B846-0D15-11D2-98A2-00104B9B151D} = " + engine + "\n")) << text;
}

TEST_F(CoCreateTest, Answers) {
  testenv::TempDir dir;
  // A library without DllGetClassObject: the runtime itself.
  Dl_info info;
  ASSERT_TRUE(::dladdr(reinterpret_cast<void*>(&SysAllocString), &info));
  const GUID kMissingLib = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
  const GUID kNoEntry = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
  const GUID kRelative = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 10}};
  const GUID kUnserved = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 11}};
  const std::string file = dir.write(
      "classes.reg", testenv::readFile(Session::get().registryFile()) +
                         "{11111111-2222-3333-0102-030405060708} = " + dir.file("missing.so") + "\n" +
                         "{11111111-2222-3333-0102-030405060709} = " + info.dli_fname + "\n" +
                         "{11111111-2222-3333-0102-03040506070A} = libvrzelcal.so\n" +
                         "{11111111-2222-3333-0102-03040506070B} = " + Session::get().enginePath() + "\n");
  testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", file.c_str());

  CComPtr<IktEnumDispatch> outerObject = newCollection();
  struct Row {
    const char* what;
    const GUID* clsid;
    const IID* iid;
    IUnknown* outer;
    DWORD context;
    HRESULT want;
  } rows[] = {
      {"factory", &CLSID_VRZELCalendarFactory, &IID_IVRZELCalendarFactory, nullptr, 7, S_OK},
      {"collection", &CLSID_ktEnumDispatch, &IID_IktEnumDispatch, nullptr, 1, S_OK},
      {"as IUnknown", &CLSID_ktEnumDispatch, &IID_IUnknown, nullptr, 7, S_OK},
      {"not registered", &IID_IVRCalendar, &IID_IUnknown, nullptr, 7, REGDB_E_CLASSNOTREG},
      {"local server only", &CLSID_ktEnumDispatch, &IID_IUnknown, nullptr, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},
      {"library missing", &kMissingLib, &IID_IUnknown, nullptr, 7, CO_E_DLLNOTFOUND},
      {"relative path", &kRelative, &IID_IUnknown, nullptr, 7, CO_E_DLLNOTFOUND},
      {"no DllGetClassObject", &kNoEntry, &IID_IUnknown, nullptr, 7, CO_E_ERRORINDLL},
      {"class the server does not serve", &kUnserved, &IID_IUnknown, nullptr, 7, CLASS_E_CLASSNOTAVAILABLE},
      {"wrong interface", &CLSID_VRZELCalendarFactory, &IID_IVRCalendar, nullptr, 7, E_NOINTERFACE},
      {"aggregation", &CLSID_ktEnumDispatch, &IID_IUnknown, outerObject.get(), 7, CLASS_E_NOAGGREGATION},
  };
  for (const Row& r : rows) EXPECT_EQ(r.want, create(*r.clsid, *r.iid, r.outer, r.context)) << r.what;
  EXPECT_EQ(E_POINTER, CoCreateInstance(CLSID_ktEnumDispatch, nullptr, 7, IID_IUnknown, nullptr));
  outerObject.Release();
  EXPECT_EQ(S_OK, Session::get().canUnloadNow());
}

TEST_F(CoCreateTest, UnregisterAndRegisterAgain) {
  testenv::TempDir dir;
  const std::string file = dir.write("classes.reg", "# kept\n{11111111-2222-3333-0102-030405060708} = /x.so\n");
  testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", file.c_str());
  ASSERT_EQ(S_OK, Session::get().registerServer());
  EXPECT_EQ(S_OK, create(CLSID_ktEnumDispatch, IID_IktEnumDispatch));
  ASSERT_EQ(S_OK, Session::get().unregisterServer());
  EXPECT_EQ("# kept\n{11111111-2222-3333-0102-030405060708} = /x.so\n", testenv::readFile(file));
  EXPECT_EQ(REGDB_E_CLASSNOTREG, create(CLSID_ktEnumDispatch, IID_IktEnumDispatch));
  EXPECT_EQ(S_OK, Session::get().unregisterServer()) << "unregistering twice is fine";
}

TEST_F(CoCreateTest, RegsvrCommand) {
  testenv::TempDir dir;
  const std::string file = dir.file("classes.reg");
  const std::string regsvr = std::string(U2LVOST_BINARY_DIR) + "/com/regsvr";
  auto run = [&](const std::string& args) {
    std::string cmd = "U2LVOST_COM_REGISTRY='" + file + "' '" + regsvr + "' " + args + " >/dev/null 2>&1";
    int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(0, run("'" + std::string(VRZELCAL_LIBRARY) + "'"));
  const std::string& engine = Session::get().enginePath();
  EXPECT_EQ("{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = " + engine + "\n{33C9B846-0D15-11D2-98A2-00104B9B151D} = " +
                engine + "\n",
            testenv::readFile(file));
  EXPECT_EQ(0, run("/u /s '" + std::string(VRZELCAL_LIBRARY) + "'"));
  EXPECT_EQ("", testenv::readFile(file));
  EXPECT_EQ(2, run("'" + dir.file("missing.so") + "'"));
  EXPECT_EQ(1, run(""));
}

}  // namespace
}  // namespace enginetest
