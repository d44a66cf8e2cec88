// The Linux COM runtime: BSTRs, GUID texts, the class registry file,
// initialisation and CoCreateInstance with each of its answers.
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "comregistry.h"
#include "engine_session.h"
#include "test_env.h"
#include "test_paths.h"

// Every allocation of the test program comes here, the runtime's and the engine's
// too, so that a test can let memory run out from a chosen allocation on.
namespace {
thread_local long t_allocationsLeft = -1;  // -1: no shortage
}  // namespace

// The replacements below pair malloc with free themselves; gcc cannot see that
// and takes each free for the release of a new.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  if (t_allocationsLeft == 0) throw std::bad_alloc();
  if (t_allocationsLeft > 0) --t_allocationsLeft;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return ::operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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

// Text of n units, different for every seed, so a block handed out twice shows.
std::u16string patterned(size_t n, unsigned seed) {
  std::u16string text(n, u'\0');
  for (size_t i = 0; i < n; ++i) text[i] = static_cast<char16_t>(u'A' + (seed * 7 + i) % 50);
  return text;
}

::testing::AssertionResult holds(BSTR b, const std::u16string& text) {
  if (!b) return ::testing::AssertionFailure() << "null BSTR";
  if (prefixOf(b) != 2 * text.size())
    return ::testing::AssertionFailure() << "prefix " << prefixOf(b) << " for " << text.size() << " units";
  if (std::memcmp(b, text.data(), 2 * text.size()) != 0) return ::testing::AssertionFailure() << "text differs";
  if (b[text.size()] != u'\0') return ::testing::AssertionFailure() << "no terminator";
  return ::testing::AssertionSuccess();
}

TEST(BstrReuse, FreedBlocksServeTextsOfEveryLengthOfTheirSize) {
  // Each length after a longer and after a shorter text was freed: the reused
  // block must carry the new length, text and terminator.
  for (size_t n = 0; n <= 80; ++n) {
    for (size_t before : {n + 7, n / 2}) {
      const std::u16string old = patterned(before, 1), now = patterned(n, 2);
      SysFreeString(SysAllocStringLen(old.data(), static_cast<UINT>(old.size())));
      BSTR b = SysAllocStringLen(now.data(), static_cast<UINT>(now.size()));
      EXPECT_TRUE(holds(b, now)) << n << " units after " << before;
      SysFreeString(b);
      // Null text: all NUL even where the previous text stood.
      SysFreeString(SysAllocStringLen(old.data(), static_cast<UINT>(old.size())));
      b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
      EXPECT_TRUE(holds(b, std::u16string(n, u'\0'))) << n << " NUL units after " << before;
      SysFreeString(b);
    }
  }
}

TEST(BstrReuse, AShortTextFreedIsTheBlockOfTheNextOfItsSize) {
  // Takes one kept block of the size first, so the next free has room to be kept.
  BSTR room = SysAllocString(u"CalendarXY");
  BSTR first = SysAllocString(u"CalendarID");
  ASSERT_NE(nullptr, first);
  SysFreeString(first);
  BSTR second = SysAllocString(u"Calendar12");
  EXPECT_EQ(first, second);  // no trip to malloc for a text of the same size
  EXPECT_TRUE(holds(second, u"Calendar12"));
  EXPECT_TRUE(holds(room, u"CalendarXY"));
  SysFreeString(second);
  SysFreeString(room);
}

TEST(BstrReuse, TextsHeldTogetherNeverShareABlock) {
  // More texts of each size than are ever kept, all alive at once, twice over so
  // the second round is served from kept blocks.
  for (int round = 0; round < 2; ++round) {
    std::vector<std::u16string> texts;
    std::vector<BSTR> held;
    for (unsigned i = 0; i < 600; ++i) {
      texts.push_back(patterned(i % 90, i + 1000u * round));
      held.push_back(SysAllocStringLen(texts.back().data(), static_cast<UINT>(texts.back().size())));
    }
    for (size_t i = 0; i < held.size(); ++i) EXPECT_TRUE(holds(held[i], texts[i])) << "round " << round << " text " << i;
    for (BSTR b : held) SysFreeString(b);
  }
}

TEST(BstrReuse, ThreadsAllocatingAndFreeingAtOnceKeepTheirTexts) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (unsigned i = 0; i < 20000; ++i) {
        const std::u16string a = patterned(i % 40, t * 100000 + i), b = patterned((i + 13) % 70, t * 100000 + i + 1);
        BSTR x = SysAllocStringLen(a.data(), static_cast<UINT>(a.size()));
        BSTR y = SysAllocStringLen(b.data(), static_cast<UINT>(b.size()));
        if (i % 64 == 0) std::this_thread::yield();
        if (!holds(x, a) || !holds(y, b)) failures.fetch_add(1);
        SysFreeString(y);
        SysFreeString(x);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, failures.load());
}

TEST(GuidText, RoundTripAndRejects) {
  char text[64];
  EXPECT_EQ(38u, ComGuidToText(CLSID_VRZELCalendarFactory, text, sizeof text));
  EXPECT_STREQ("{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}", text);
  EXPECT_EQ(38u, ComGuidToText(IID_IVRPersistXML, text, sizeof text));
  EXPECT_STREQ("{9B06EA12-658C-474A-BE8B-D17BF12B008D}", text);
  EXPECT_EQ(0u, ComGuidToText(IID_IVRPersistXML, text, 38));  // no room for the NUL

  // StringFromGUID2 as Windows answers it: the count with the NUL, 0 without room.
  struct Wide {
    const GUID* guid;
    const char* text;
  } wides[] = {{&CLSID_VRZELCalendarFactory, "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}"},
               {&GUID_NULL, "{00000000-0000-0000-0000-000000000000}"},
               {&IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"}};
  for (const Wide& w : wides) {
    OLECHAR wide[40];
    ASSERT_EQ(39, StringFromGUID2(*w.guid, wide, 40)) << w.text;
    EXPECT_EQ(std::u16string(wide), std::u16string(w.text, w.text + 38)) << w.text;
    EXPECT_EQ(0, StringFromGUID2(*w.guid, wide, 38)) << w.text;
  }

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

// An object that counts its references and remembers whether they ever ran out,
// owned by the test so that running out frees nothing.
class CountedObject final : public IUnknown {
 public:
  ULONG refs = 1;
  bool ranOut = false;
  // Another object to look at when this one is asked, and whether it had run out then.
  const CountedObject* watched = nullptr;
  bool watchedGoneWhenAsked = false;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (watched) watchedGoneWhenAsked = watched->ranOut;
    if (ranOut) return E_UNEXPECTED;  // a freed object would answer nothing sound
    if (!IsEqualGUID(riid, IID_IUnknown)) return E_NOINTERFACE;
    *ppv = static_cast<IUnknown*>(this);
    ++refs;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--refs == 0) ranOut = true;
    return refs;
  }
};

TEST(ComPtr, AHolderGivenWhatItHoldsKeepsTheObjectAlive) {
  // Each way of handing a holder the object it already holds; with the holder's
  // reference the only one, the object must never run out of references.
  struct Case {
    const char* what;
    void (*use)(CComPtr<IUnknown>& p, CountedObject& o);
    HRESULT want;
  } cases[] = {
      {"assigned itself", [](CComPtr<IUnknown>& p, CountedObject&) { const CComPtr<IUnknown>& same = p; p = same; },
       S_OK},
      {"assigned its own pointer", [](CComPtr<IUnknown>& p, CountedObject&) { p = p.get(); }, S_OK},
      {"attached to a reference of its own", [](CComPtr<IUnknown>& p, CountedObject& o) {
         o.AddRef();
         p.Attach(&o);
       }, S_OK},
      {"asked into itself", [](CComPtr<IUnknown>& p, CountedObject&) {
         EXPECT_EQ(S_OK, p.QueryInterface(IID_IUnknown, p));
       }, S_OK},
      {"asked into itself for what it lacks", [](CComPtr<IUnknown>& p, CountedObject&) {
         EXPECT_EQ(E_NOINTERFACE, p.QueryInterface(IID_IDispatch, p));
       }, E_NOINTERFACE},
  };
  for (const Case& c : cases) {
    CountedObject object;
    {
      CComPtr<IUnknown> p;
      p.Attach(&object);
      c.use(p, object);
      if (c.want == S_OK) {
        EXPECT_FALSE(object.ranOut) << c.what << ": released while still held";
        EXPECT_EQ(&object, p.get()) << c.what;
        EXPECT_EQ(1u, object.refs) << c.what;
      } else {
        // The object was asked while alive (use checks the answer); a failed
        // query then empties the holder, as it does for any other target.
        EXPECT_EQ(nullptr, p.get()) << c.what;
      }
    }
    EXPECT_EQ(0u, object.refs) << c.what << ": the holder's reference is given back once";
  }
}

TEST(ComPtr, AskingIntoAnotherHolderLetsItsObjectGoFirst) {
  // The target lets go of its object before the ask and takes the answer in
  // place, as the hot lookups expect; only a holder asked into itself differs.
  for (const bool found : {true, false}) {
    CountedObject asked, previous;
    asked.watched = &previous;
    {
      CComPtr<IUnknown> from, into;
      from.Attach(&asked);
      into.Attach(&previous);
      EXPECT_EQ(found ? S_OK : E_NOINTERFACE, from.QueryInterface(found ? IID_IUnknown : IID_IDispatch, into));
      EXPECT_TRUE(asked.watchedGoneWhenAsked) << found;
      EXPECT_EQ(found ? &asked : nullptr, static_cast<IUnknown*>(into.get())) << found;
      EXPECT_EQ(found ? 2u : 1u, asked.refs) << found;
    }
    EXPECT_EQ(0u, asked.refs) << found;
    EXPECT_EQ(0u, previous.refs) << found;
  }
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

// Both files of the registry, each in its own variable, for one test.
struct TwoFiles {
  testenv::TempDir dir;
  std::string user = dir.file("user.reg");
  std::string system = dir.file("system.reg");
  testenv::ScopedEnv userEnv{"U2LVOST_COM_REGISTRY", user.c_str()};
  testenv::ScopedEnv systemEnv{"U2LVOST_COM_SYSTEM_REGISTRY", system.c_str()};
};

constexpr const char* kFactoryText = "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B}";
constexpr const char* kListText = "{33C9B846-0D15-11D2-98A2-00104B9B151D}";

TEST(ClassRegistry, FindSaysWhichFileAndLineAnswers) {
  struct Row {
    const char* what;
    const char* user;    // null: no file
    const char* system;  // null: no file
    const GUID* clsid;
    HRESULT want;
    bool fromUser;
    UINT line;
    const char* server;
  } rows[] = {
      {"user file only", "# c\n{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = /u/e.so\n", nullptr,
       &CLSID_VRZELCalendarFactory, S_OK, true, 2, "/u/e.so"},
      {"system file only", nullptr, "\n\n{4ca227f1-b70a-4ea8-bea3-d95c24446a4b}=/s/e.so\n",
       &CLSID_VRZELCalendarFactory, S_OK, false, 3, "/s/e.so"},
      {"the user's line wins", "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = /u/e.so\n",
       "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = /s/e.so\n", &CLSID_VRZELCalendarFactory, S_OK, true, 1, "/u/e.so"},
      {"other classes of the user leave the system's", "{33C9B846-0D15-11D2-98A2-00104B9B151D} = /u/l.so\n",
       "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = /s/e.so\n", &CLSID_VRZELCalendarFactory, S_OK, false, 1, "/s/e.so"},
      {"last line of a file holds", nullptr,
       "{33C9B846-0D15-11D2-98A2-00104B9B151D} = /s/1.so\n# x\n{33C9B846-0D15-11D2-98A2-00104B9B151D} = /s/2.so\n",
       &CLSID_ktEnumDispatch, S_OK, false, 3, "/s/2.so"},
      {"neither names it", "{33C9B846-0D15-11D2-98A2-00104B9B151D} = /u/l.so\n", "# none\n",
       &CLSID_VRZELCalendarFactory, REGDB_E_CLASSNOTREG, false, 0, ""},
      {"no files at all", nullptr, nullptr, &CLSID_VRZELCalendarFactory, REGDB_E_CLASSNOTREG, false, 0, ""},
  };
  for (const Row& r : rows) {
    TwoFiles f;
    if (r.user) f.dir.write("user.reg", r.user);
    if (r.system) f.dir.write("system.reg", r.system);
    char file[512] = "", server[512] = "";
    UINT line = 77;
    EXPECT_EQ(r.want, ComFindClassRegistration(*r.clsid, file, sizeof file, &line, server, sizeof server)) << r.what;
    if (r.want != S_OK) {
      EXPECT_EQ(77u, line) << r.what;
      continue;
    }
    EXPECT_EQ(r.fromUser ? f.user : f.system, file) << r.what;
    EXPECT_EQ(r.line, line) << r.what;
    EXPECT_STREQ(r.server, server) << r.what;
    // The plain lookup agrees with it.
    char plain[512];
    EXPECT_EQ(S_OK, ComLookupClass(*r.clsid, plain, sizeof plain)) << r.what;
    EXPECT_STREQ(r.server, plain) << r.what;
  }
}

TEST(ClassRegistry, FindRefusesNullAndShortBuffers) {
  TwoFiles f;
  f.dir.write("system.reg", std::string(kFactoryText) + " = /s/e.so\n");
  char file[512], server[512];
  UINT line = 0;
  const UINT fileFits = static_cast<UINT>(f.system.size() + 1);
  struct Row {
    const char* what;
    char* file;
    UINT fileSize;
    UINT* line;
    char* server;
    UINT serverSize;
    HRESULT want;
  } rows[] = {
      {"null file", nullptr, 512, &line, server, 512, E_INVALIDARG},
      {"null line", file, 512, nullptr, server, 512, E_INVALIDARG},
      {"null server", file, 512, &line, nullptr, 512, E_INVALIDARG},
      {"zero sizes", file, 0, &line, server, 0, E_INVALIDARG},
      {"file one short", file, fileFits - 1, &line, server, 512, E_INVALIDARG},
      {"server one short", file, 512, &line, server, 7, E_INVALIDARG},
      {"exactly enough", file, fileFits, &line, server, 8, S_OK},
  };
  for (const Row& r : rows)
    EXPECT_EQ(r.want, ComFindClassRegistration(CLSID_VRZELCalendarFactory, r.file, r.fileSize, r.line, r.server,
                                               r.serverSize))
        << r.what;
  EXPECT_EQ(f.system, file);
  EXPECT_STREQ("/s/e.so", server);
}

TEST(ClassRegistry, SystemPathComesFromItsVariable) {
  struct Row {
    const char* value;
    const char* want;
  } rows[] = {{"/tmp/s/classes.reg", "/tmp/s/classes.reg"}, {"", ""}, {nullptr, "/etc/u2lvost/com-classes.reg"}};
  for (const Row& r : rows) {
    testenv::ScopedEnv env("U2LVOST_COM_SYSTEM_REGISTRY", r.value);
    char buf[256] = "";
    EXPECT_EQ(std::strlen(r.want), ComSystemRegistryPath(buf, sizeof buf));
    if (*r.want) {
      EXPECT_STREQ(r.want, buf);
    }
  }
}

TEST(ClassRegistry, LinesOfAnyLengthAreReadWhole) {
  const std::string longServer = "/" + std::string(5000, 'd') + "/engine.so";
  struct Row {
    const char* what;
    std::string text;
    HRESULT want;
    std::string server;
  } rows[] = {
      // A comment long enough to split a fixed buffer must not turn its tail into a class line.
      {"long comment", "# " + std::string(5000, 'x') + kFactoryText + " = /evil.so\n", REGDB_E_CLASSNOTREG, ""},
      {"long server path", std::string(kFactoryText) + " = " + longServer + "\n", S_OK, longServer},
      {"long line before the class", std::string(70000, ' ') + "\n" + kFactoryText + " = /ok.so\n", S_OK, "/ok.so"},
  };
  for (const Row& r : rows) {
    TwoFiles f;
    f.dir.write("user.reg", r.text);
    std::vector<char> buf(8192);
    EXPECT_EQ(r.want, ComLookupClass(CLSID_VRZELCalendarFactory, buf.data(), static_cast<UINT>(buf.size())))
        << r.what;
    if (r.want == S_OK) {
      EXPECT_EQ(r.server, buf.data()) << r.what;
    }
  }
}

// What the runtime said on standard error while f ran.
template <typename F>
std::string stderrOf(F f) {
  ::testing::internal::CaptureStderr();
  f();
  return ::testing::internal::GetCapturedStderr();
}

TEST(ClassRegistry, RefusesFilesOthersCanChange) {
  struct Row {
    const char* what;
    mode_t mode;
    uid_t owner;  // 0: leave as created
    const char* cause;
  } rows[] = {
      {"group-writable", 0664, 0, "writable by its group"},
      {"world-writable", 0646, 0, "writable by everyone"},
      {"another user's", 0644, 1, "owned by user 1"},
  };
  for (const Row& r : rows) {
    if (r.owner != 0 && ::geteuid() != 0) continue;  // only root can give a file away
    TwoFiles f;
    f.dir.write("user.reg", std::string(kFactoryText) + " = /u/evil.so\n");
    f.dir.write("system.reg", std::string(kFactoryText) + " = /s/good.so\n");
    ASSERT_EQ(0, ::chmod(f.user.c_str(), r.mode)) << r.what;
    if (r.owner != 0) {
      ASSERT_EQ(0, ::chown(f.user.c_str(), r.owner, static_cast<gid_t>(-1))) << r.what;
    }
    char server[256] = "";
    // The refused file is passed over, with a message naming it; the system file answers.
    const std::string said =
        stderrOf([&] { EXPECT_EQ(S_OK, ComLookupClass(CLSID_VRZELCalendarFactory, server, sizeof server)); });
    EXPECT_STREQ("/s/good.so", server) << r.what;
    EXPECT_NE(std::string::npos, said.find(f.user)) << r.what << ": " << said;
    EXPECT_NE(std::string::npos, said.find(r.cause)) << r.what << ": " << said;
    // Nor is it rewritten: its lines would be carried over.
    EXPECT_EQ(E_FAIL, ComRegisterClass(CLSID_ktEnumDispatch, "/u/l.so")) << r.what;
    char message[512] = "";
    ComRegistryMessage(message, sizeof message);
    EXPECT_NE(std::string::npos, std::string(message).find(f.user)) << r.what << ": " << message;
    EXPECT_NE(std::string::npos, std::string(message).find(r.cause)) << r.what << ": " << message;
  }
}

TEST(ClassRegistry, WritesExplicitModesWhateverTheUmask) {
  for (mode_t mask : {mode_t(0), mode_t(077), mode_t(0277)}) {
    TwoFiles f;
    const std::string file = f.dir.file("a/b/classes.reg");
    testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", file.c_str());
    mode_t old = ::umask(mask);
    HRESULT hr = ComRegisterClass(CLSID_ktEnumDispatch, "/opt/one.so");
    ::umask(old);
    ASSERT_EQ(S_OK, hr) << "umask " << mask;
    struct stat st;
    for (const std::string& dir : {f.dir.file("a"), f.dir.file("a/b")}) {
      ASSERT_EQ(0, ::stat(dir.c_str(), &st));
      EXPECT_EQ(0755u, st.st_mode & 07777) << dir << " umask " << mask;
    }
    ASSERT_EQ(0, ::stat(file.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 07777) << "umask " << mask;
  }
}

TEST(ClassRegistry, FailuresNameTheFileAndTheCause) {
  TwoFiles f;
  f.dir.write("blocker", "a file where a folder should be\n");
  struct Row {
    const char* what;
    std::string file;
    HRESULT want;
    std::string mentions;
    std::string cause;
  } rows[] = {
      {"folder in the way", f.dir.file("blocker/classes.reg"), E_FAIL, f.dir.file("blocker"), "in the way"},
      {"unreadable line kept", f.dir.write("odd.reg", "# ok\nnot a class line\n"), S_OK, f.dir.file("odd.reg") + ":2",
       "not a class line"},
      {"clean file", f.dir.write("clean.reg", "# ok\n"), S_OK, "", ""},
  };
  for (const Row& r : rows) {
    testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", r.file.c_str());
    EXPECT_EQ(r.want, ComRegisterClass(CLSID_ktEnumDispatch, "/opt/one.so")) << r.what;
    char message[512] = "unchanged";
    UINT n = ComRegistryMessage(message, sizeof message);
    if (r.mentions.empty()) {
      EXPECT_EQ(0u, n) << r.what << ": " << message;
      continue;
    }
    EXPECT_NE(std::string::npos, std::string(message).find(r.mentions)) << r.what << ": " << message;
    EXPECT_NE(std::string::npos, std::string(message).find(r.cause)) << r.what << ": " << message;
  }
  EXPECT_EQ(E_INVALIDARG, ComRegisterClass(CLSID_ktEnumDispatch, "lib.so"));
  char message[256] = "";
  ComRegistryMessage(message, sizeof message);
  EXPECT_NE(std::string::npos, std::string(message).find("lib.so")) << message;
}

TEST(ComRuntime, RunningOutOfMemoryIsAnAnswerNotAnException) {
  // Each entry point with memory running out at its first allocation, then its
  // second, and so on until it has all it needs: every time it answers with a
  // code (E_OUTOFMEMORY, or the length 0) and throws nothing at its caller.
  const std::string engineClasses = testenv::readFile(Session::get().registryFile());
  TwoFiles f;
  f.dir.write("user.reg", engineClasses);
  const GUID kOther = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 12}};
  char path[512], file[512], server[512];
  UINT line = 0;
  const UINT pathLength = static_cast<UINT>(f.user.size());
  struct Row {
    const char* what;
    std::function<HRESULT()> call;
    std::vector<HRESULT> answers;  // with enough memory
  } rows[] = {
      {"CoCreateInstance",
       [] {
         IUnknown* object = nullptr;
         HRESULT hr = CoCreateInstance(CLSID_ktEnumDispatch, nullptr, 7, IID_IUnknown, reinterpret_cast<void**>(&object));
         if (object) object->Release();
         return hr;
       },
       {S_OK}},
      {"CoCreateInstance of a class nobody serves",
       [] {
         void* object = nullptr;
         return CoCreateInstance(IID_IVRCalendar, nullptr, 7, IID_IUnknown, &object);
       },
       {REGDB_E_CLASSNOTREG}},
      {"ComRegisterClass", [&] { return ComRegisterClass(kOther, "/x/other.so"); }, {S_OK}},
      {"ComUnregisterClass", [&] { return ComUnregisterClass(kOther); }, {S_OK, S_FALSE}},
      {"ComLookupClass", [&] { return ComLookupClass(CLSID_ktEnumDispatch, server, sizeof server); }, {S_OK}},
      {"ComFindClassRegistration",
       [&] { return ComFindClassRegistration(CLSID_ktEnumDispatch, file, sizeof file, &line, server, sizeof server); },
       {S_OK}},
      {"ComRegistryPath",
       [&] {
         const UINT n = ComRegistryPath(path, sizeof path);
         return n == pathLength ? S_OK : n == 0 ? E_OUTOFMEMORY : E_FAIL;
       },
       {S_OK}},
      {"the engine's DllRegisterServer", [] { return Session::get().registerServer(); }, {S_OK, SELFREG_E_CLASS}},
  };
  for (const Row& r : rows) {
    for (long allowed = 0; allowed < 5000; ++allowed) {
      HRESULT hr = E_FAIL;
      bool threw = false;
      t_allocationsLeft = allowed;
      try {
        hr = r.call();
      } catch (...) {
        threw = true;
      }
      const bool ranOut = t_allocationsLeft == 0;
      t_allocationsLeft = -1;
      if (threw) {
        ADD_FAILURE() << r.what << " threw with memory for " << allowed << " allocations";
        break;
      }
      const bool known = hr == E_OUTOFMEMORY || std::find(r.answers.begin(), r.answers.end(), hr) != r.answers.end();
      EXPECT_TRUE(known) << r.what << " with memory for " << allowed << " allocations: 0x" << std::hex << hr;
      if (!known || !ranOut) break;
    }
  }
  // The file survived every attempt.
  EXPECT_EQ(S_OK, ComLookupClass(CLSID_ktEnumDispatch, server, sizeof server));
  EXPECT_EQ(Session::get().enginePath(), server);
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

TEST_F(CoCreateTest, ServersAreCheckedAndProblemsReported) {
  testenv::TempDir dir;
  const std::string copy = dir.file("engine-copy.so");
  std::filesystem::copy_file(Session::get().enginePath(), copy);
  ASSERT_EQ(0, ::chmod(copy.c_str(), 0755));
  const std::string file = dir.file("classes.reg");
  testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", file.c_str());
  testenv::ScopedEnv noSystem("U2LVOST_COM_SYSTEM_REGISTRY", "");
  struct Row {
    const char* what;
    std::string server;
    mode_t mode;  // of the copy
    HRESULT want;
    std::string said;  // in the message; empty: none
  } rows[] = {
      {"trusted copy", copy, 0755, S_OK, ""},
      {"group-writable library", copy, 0775, E_ACCESSDENIED, "writable by its group"},
      {"world-writable library", copy, 0757, E_ACCESSDENIED, "writable by everyone"},
      {"relative path", "engine-copy.so", 0755, CO_E_DLLNOTFOUND, "not absolute"},
      {"missing library", dir.file("gone.so"), 0755, CO_E_DLLNOTFOUND, "missing"},
  };
  for (const Row& r : rows) {
    dir.write("classes.reg", std::string("# line 1\n") + kListText + " = " + r.server + "\n");
    ASSERT_EQ(0, ::chmod(copy.c_str(), r.mode));
    HRESULT hr = S_OK;
    const std::string said = stderrOf([&] { hr = create(CLSID_ktEnumDispatch, IID_IktEnumDispatch); });
    EXPECT_EQ(r.want, hr) << r.what;
    if (r.said.empty()) {
      EXPECT_EQ("", said) << r.what;
    } else {
      EXPECT_NE(std::string::npos, said.find(r.said)) << r.what << ": " << said;
      EXPECT_NE(std::string::npos, said.find(file + ":2")) << r.what << ": " << said;
    }
  }
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
  EXPECT_EQ(3, run("'" + dir.file("missing.so") + "'")) << "library not loadable";
  EXPECT_EQ(2, run("")) << "usage error";
}

// regsvr's choice of file, its messages and its informational options.
TEST_F(CoCreateTest, RegsvrSaysWhichFileAndWhy) {
  testenv::TempDir dir;
  const std::string user = dir.file("user/classes.reg");
  const std::string system = dir.file("etc/classes.reg");
  dir.write("blocked", "a file where a folder should be\n");
  const std::string regsvr = std::string(U2LVOST_BINARY_DIR) + "/com/regsvr";
  const std::string engine = "'" + std::string(VRZELCAL_LIBRARY) + "'";
  struct Row {
    const char* what;
    std::string env;  // assignments before the command
    std::string args;
    int status;
    std::string says;     // in the combined output
    std::string written;  // the file that must name the engine; empty: none
  } rows[] = {
      {"version", "", "--version", 0, "regsvr (u2lvost) " U2LVOST_VERSION "\n", ""},
      {"help", "", "--help", 0, "usage: regsvr [--system | --user] [/u] [/s] LIBRARY", ""},
      {"unknown option", "", "--bogus " + engine, 2, "usage: regsvr", ""},
      {"help names the exit codes", "", "--help", 0, "  2  usage error: the command line is wrong\n", ""},
      {"explicit user file", "U2LVOST_COM_REGISTRY='" + user + "' U2LVOST_COM_SYSTEM_REGISTRY='" + system + "'",
       "--user " + engine, 0, "wrote this user's class registry " + user, user},
      {"explicit system file", "U2LVOST_COM_REGISTRY='" + user + "' U2LVOST_COM_SYSTEM_REGISTRY='" + system + "'",
       "--system " + engine, 0, "wrote system-wide class registry " + system, system},
      {"root without a chosen user file: system",
       "HOME='" + dir.path() + "' U2LVOST_COM_REGISTRY= U2LVOST_COM_SYSTEM_REGISTRY='" + system + "'", engine,
       0, ::geteuid() == 0 ? "system-wide class registry " + system : "this user's class registry",
       ::geteuid() == 0 ? system : dir.file(".config/u2lvost/com-classes.reg")},
      {"no system file to write", "U2LVOST_COM_SYSTEM_REGISTRY=", "--system " + engine, 1,
       "no system class registry", ""},
      {"folder in the way", "U2LVOST_COM_REGISTRY='" + dir.file("blocked/classes.reg") + "'", "--user " + engine, 1,
       "cannot create folder " + dir.file("blocked") + ": a file of that name is in the way", ""},
  };
  for (const Row& r : rows) {
    std::remove(user.c_str());
    std::remove(system.c_str());
    const std::string out = dir.file("out.txt");
    const std::string cmd = "env " + r.env + " '" + regsvr + "' " + r.args + " >'" + out + "' 2>&1";
    int status = std::system(cmd.c_str());
    EXPECT_EQ(r.status, WIFEXITED(status) ? WEXITSTATUS(status) : -1) << r.what;
    const std::string said = testenv::readFile(out);
    EXPECT_NE(std::string::npos, said.find(r.says)) << r.what << ": " << said;
    for (const std::string& file : {user, system}) {
      const bool names = testenv::readFile(file).find(Session::get().enginePath()) != std::string::npos;
      EXPECT_EQ(file == r.written, names) << r.what << ": " << file;
    }
  }
}

}  // namespace
}  // namespace enginetest
