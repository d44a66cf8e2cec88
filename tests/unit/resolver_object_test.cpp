// The resolver object's COM pieces: the engine factory made once and retried
// after a failure, destruction, CComBSTR and the narrow-to-wide conversion.
#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "ccombstr.h"
#include "engineCalls.h"
#include "jobCompanies.h"
#include "persistCalendar.h"
#include "resolver_access.h"
#include "test_env.h"
#include "test_paths.h"

namespace {

std::u16string textOf(BSTR b) { return b ? std::u16string(b, SysStringLen(b)) : std::u16string(); }

// COM initialised on this thread and a class registry of the test's own.
class ResolverComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    char full[PATH_MAX];
    ASSERT_NE(nullptr, ::realpath(VRZELCAL_LIBRARY, full));
    engine_ = full;
    empty_ = dir_.write("empty.reg", "# no classes\n");
    registered_ = dir_.write("engine.reg", "{4CA227F1-B70A-4EA8-BEA3-D95C24446A4B} = " + engine_ +
                                               "\n{33C9B846-0D15-11D2-98A2-00104B9B151D} = " + engine_ + "\n");
  }
  void TearDown() override { CoUninitialize(); }

  // The engine's own count of live objects, through its DllCanUnloadNow.
  HRESULT engineCanUnload() const {
    void* h = ::dlopen(engine_.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h) return E_FAIL;  // not loaded: nothing of it can be alive
    auto f = reinterpret_cast<HRESULT (*)()>(::dlsym(h, "DllCanUnloadNow"));
    HRESULT hr = f ? f() : E_FAIL;
    ::dlclose(h);
    return hr;
  }

  testenv::TempDir dir_;
  std::string engine_, empty_, registered_;
};

TEST_F(ResolverComTest, CheckFactoryCreatesOnceAndRetriesAfterAFailure) {
  CPersistCalendar resolver;
  {
    testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", empty_.c_str());
    EXPECT_EQ(REGDB_E_CLASSNOTREG, resolver.CheckFactory());
    EXPECT_FALSE(ResolverTestAccess::factory(resolver));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, resolver.CheckFactory()) << "a failure is not remembered";
  }
  {
    testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", registered_.c_str());
    EXPECT_EQ(S_OK, resolver.CheckFactory());
    ASSERT_TRUE(ResolverTestAccess::factory(resolver));
    // The factory really is the engine's: it makes calendars.
    CComPtr<IDispatch> calendar;
    EXPECT_EQ(S_OK, ResolverTestAccess::factory(resolver)->CalendarFactory(calendar.put()));
    EXPECT_TRUE(calendar);
  }
  IVRZELCalendarFactory* made = ResolverTestAccess::factory(resolver).get();
  {
    // With the class gone from the registry a new creation would fail: the
    // existing factory is answered without one.
    testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", empty_.c_str());
    EXPECT_EQ(S_OK, resolver.CheckFactory());
    EXPECT_EQ(made, ResolverTestAccess::factory(resolver).get());
  }
}

TEST_F(ResolverComTest, DestructionReleasesTheFactory) {
  testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", registered_.c_str());
  {
    CPersistCalendar resolver;
    ASSERT_EQ(S_OK, resolver.CheckFactory());
    EXPECT_EQ(S_FALSE, engineCanUnload());
  }
  EXPECT_EQ(S_OK, engineCanUnload());
}

TEST_F(ResolverComTest, DestructionWithNothingCreated) {
  auto* resolver = new CPersistCalendar;
  ReportJob& job = ResolverTestAccess::job(*resolver);
  EXPECT_EQ(nullptr, job.henv);
  EXPECT_EQ(nullptr, job.hdbc);
  EXPECT_EQ(nullptr, job.hstmt);
  EXPECT_FALSE(ResolverTestAccess::factory(*resolver));
  EXPECT_EQ(nullptr, job.current);
  delete resolver;  // must neither connect nor touch COM objects it never made
}

TEST(Lpctstr2Bstr, ConvertsWithTheAnsiCodePage) {
  struct Row {
    const char* text;
    std::u16string want;
  } rows[] = {
      {"", u""},
      {"CalendarID", u"CalendarID"},
      {"12", u"12"},
      // Windows-1252: the euro sign and the other letters of 0x80..0x9F, then Latin-1.
      {"\x80", u"\u20ac"},
      {"a\x8a\x9f z", u"a\u0160\u0178 z"},
      {"\x85\x99", u"\u2026\u2122"},
      {"\xa0\xe9\xff", u"\u00a0\u00e9\u00ff"},
  };
  for (const Row& r : rows) {
    BSTR b = LPCTSTR2BSTR(r.text);
    ASSERT_NE(nullptr, b) << r.text;
    EXPECT_EQ(r.want, textOf(b)) << r.text;
    EXPECT_EQ(2 * r.want.size(), SysStringByteLen(b));
    EXPECT_EQ(u'\0', b[r.want.size()]);
    SysFreeString(b);
  }
  EXPECT_EQ(nullptr, LPCTSTR2BSTR(nullptr));
}

TEST(CComBstr, HoldsConvertsAndFrees) {
  CComBSTR s;
  EXPECT_EQ(nullptr, s.m_str);
  EXPECT_TRUE(!s);
  s = "Tax";
  ASSERT_NE(nullptr, s.m_str);
  EXPECT_EQ(u"Tax", textOf(s.m_str));
  s = "\x80 5";  // the earlier text is freed (the sanitizer build checks)
  EXPECT_EQ(u"\u20ac 5", textOf(s));
  EXPECT_EQ(3u, s.Length());

  // Passed as a BSTR it stays owned by the holder.
  BSTR passed = s;
  EXPECT_EQ(s.m_str, passed);
  EXPECT_EQ(3u, SysStringLen(passed));

  CComBSTR copy(s);
  EXPECT_NE(copy.m_str, s.m_str);
  EXPECT_EQ(textOf(s), textOf(copy));
  const CComBSTR& itself = copy;
  copy = itself;  // self-assignment keeps the text
  EXPECT_EQ(u"\u20ac 5", textOf(copy));
  const char* none = nullptr;
  copy = none;
  EXPECT_EQ(nullptr, copy.m_str);

  CComBSTR moved(std::move(s));
  EXPECT_EQ(nullptr, s.m_str);
  EXPECT_EQ(u"\u20ac 5", textOf(moved));
  BSTR taken = moved.Detach();
  EXPECT_EQ(nullptr, moved.m_str);
  CComBSTR adopted;
  adopted.Attach(taken);
  EXPECT_EQ(taken, adopted.m_str);
  *adopted.put() = SysAllocString(u"out");
  EXPECT_EQ(u"out", textOf(adopted));
  CComBSTR fromText("CompanyID");
  EXPECT_EQ(u"CompanyID", textOf(fromText));
}

// A report job drops what may go stale and keeps what cannot.
TEST_F(ResolverComTest, JobStartDropsCalendarsConnectionAndFailuresButKeepsTheRest) {
  testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", registered_.c_str());
  CPersistCalendar resolver;
  ASSERT_EQ(S_OK, resolver.CheckFactory());
  IVRZELCalendarFactory* factory = ResolverTestAccess::factory(resolver).get();
  ResolverTestAccess::majorVersion(resolver) = 4;
  ReportJob& job = ResolverTestAccess::job(resolver);

  struct Case {
    const char* what;
    bool linkLost, timedOut, versionFailed;
  } cases[] = {{"working connection", false, false, false},
               {"connection known lost", true, false, false},
               {"statement out of time", false, true, false},
               {"version query failed", false, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobCompany& three = job.companies.add(3);
    ASSERT_EQ(S_OK, engineCalls::createCollection(three.calendars));
    three.bookArr[2] = 3;
    job.companies.add(7);
    job.current = &three;
    job.linkLost = c.linkLost;
    job.timedOut = c.timedOut;
    job.versionFailed = c.versionFailed;
    resolver.startJob();
    EXPECT_EQ(0u, job.companies.size());
    EXPECT_EQ(0u, job.companies.bytes());
    EXPECT_EQ(nullptr, job.current);
    EXPECT_EQ(nullptr, job.companies.find(3));
    EXPECT_FALSE(job.versionFailed);
    EXPECT_FALSE(job.databaseDone());
    // Kept for the process.
    EXPECT_EQ(4, ResolverTestAccess::majorVersion(resolver));
    EXPECT_EQ(factory, ResolverTestAccess::factory(resolver).get());
  }
}

// The timeouts are read at every job start; nonsense keeps the defaults.
TEST(DatabaseTimeouts, DefaultsAndTheirOverride) {
  const struct {
    const char *login, *query;
    unsigned wantLogin, wantQuery;
  } rows[] = {
      {nullptr, nullptr, 15, 30}, {"2", "1", 2, 1},        {"300", "300", 300, 300}, {"0", "301", 15, 30},
      {"-5", "abc", 15, 30},      {"3s", "", 15, 30},      {" 4", "5 ", 4, 30},
  };
  for (const auto& r : rows) {
    testenv::ScopedEnv login("U2LVOST_LOGIN_TIMEOUT", r.login);
    testenv::ScopedEnv query("U2LVOST_QUERY_TIMEOUT", r.query);
    CPersistCalendar resolver;
    resolver.startJob();
    EXPECT_EQ(r.wantLogin, ResolverTestAccess::job(resolver).timeouts.login) << (r.login ? r.login : "unset");
    EXPECT_EQ(r.wantQuery, ResolverTestAccess::job(resolver).timeouts.query) << (r.query ? r.query : "unset");
  }
}

// The resolver's switch between companies of one job, without a database: the
// calendars and slots of each company come back as they were left, and each
// company exists once, in the job.
TEST_F(ResolverComTest, SwitchingCompaniesKeepsEachCompanysCalendarsAndSlots) {
  testenv::ScopedEnv env("U2LVOST_COM_REGISTRY", registered_.c_str());
  CPersistCalendar resolver;
  ReportJob& job = ResolverTestAccess::job(resolver);
  CComPtr<IktEnumDispatch> lists[2];
  for (auto& l : lists) ASSERT_EQ(S_OK, engineCalls::createCollection(l));
  JobCompany& ten = job.companies.add(10);
  ten.calendars = lists[0];
  ten.bookArr[0] = 1;
  job.current = &ten;
  JobCompany& twenty = job.companies.add(20);
  twenty.calendars = lists[1];
  twenty.bookArr[3] = 4;
  job.companies.add(30);  // read in this job and found to have no calendars

  const struct {
    int16_t company;
    bool usable;
    IktEnumDispatch* list;
    int slot, id;
  } steps[] = {
      {20, true, lists[1].get(), 3, 4}, {10, true, lists[0].get(), 0, 1}, {30, false, nullptr, 0, 0},
      {20, true, lists[1].get(), 3, 4}, {10, true, lists[0].get(), 0, 1}, {-1, false, lists[0].get(), 0, 1},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.company);
    EXPECT_EQ(step.usable, ResolverTestAccess::switchTo(resolver, step.company));
    ASSERT_NE(nullptr, job.current);
    EXPECT_EQ(step.list, job.current->calendars.get());
    EXPECT_EQ(step.id, job.current->bookArr[step.slot]);
  }
  // Nothing was read for any of it: no connection, no failure.
  EXPECT_EQ(nullptr, job.hdbc);
  EXPECT_EQ(0u, job.failures);
  // A company not kept cannot be read once the job's database work has ended;
  // the current company keeps its calendars.
  for (bool timedOut : {false, true}) {
    job.linkLost = !timedOut;
    job.timedOut = timedOut;
    EXPECT_FALSE(ResolverTestAccess::switchTo(resolver, 40));
    EXPECT_TRUE(ResolverTestAccess::switchTo(resolver, 10));
    EXPECT_EQ(lists[0].get(), job.current->calendars.get());
  }
  // Each list is held once by the job besides this test, and not at all once
  // the job is over: no reference leaks or goes twice.
  auto holders = [](IktEnumDispatch* list) {
    const ULONG count = list->AddRef();
    list->Release();
    return count - 1;
  };
  for (const auto& list : lists) EXPECT_EQ(2u, holders(list.get()));
  resolver.startJob();
  for (const auto& list : lists) EXPECT_EQ(1u, holders(list.get()));
}

// Companies are bounded by the memory their calendars hold, not by a count:
// beyond the budget the least recently used go, never the one just charged.
TEST(JobCompanies, KeepsWithinTheBudgetDroppingTheLeastRecentlyUsed) {
  JobCompanies companies;
  companies.setBudget(10000);
  for (int16_t c = 0; c < 10; ++c) {
    JobCompany& entry = companies.add(c);
    entry.bookArr[0] = c + 1;
    companies.charge(entry, 1000);
  }
  ASSERT_EQ(10u, companies.size());
  ASSERT_EQ(10000u, companies.bytes());
  ASSERT_NE(nullptr, companies.find(0));  // company 0 used again: company 1 is now the oldest
  companies.charge(companies.add(10), 1500);  // 1,500 over: companies 1 and 2 go
  EXPECT_EQ(9u, companies.size());
  EXPECT_EQ(9500u, companies.bytes());
  EXPECT_EQ(nullptr, companies.find(1));
  EXPECT_EQ(nullptr, companies.find(2));
  ASSERT_NE(nullptr, companies.find(0));
  EXPECT_EQ(1, companies.find(0)->bookArr[0]);
  ASSERT_NE(nullptr, companies.find(10));
  EXPECT_EQ(0, companies.find(10)->bookArr[0]);
  for (int16_t c = 3; c < 10; ++c) EXPECT_EQ(c + 1, companies.find(c)->bookArr[0]) << c;
  // Adding a company that is kept empties its entry and gives back its bytes.
  companies.add(0);
  EXPECT_EQ(9u, companies.size());
  EXPECT_EQ(8500u, companies.bytes());
  EXPECT_EQ(0, companies.find(0)->bookArr[0]);
  // One company larger than the whole budget stays: it is the one in use.
  JobCompany& huge = companies.add(500);
  companies.charge(huge, 20000);
  EXPECT_EQ(1u, companies.size());
  EXPECT_EQ(&huge, companies.find(500));
  companies.clear();
  EXPECT_EQ(0u, companies.size());
  EXPECT_EQ(0u, companies.bytes());
  EXPECT_EQ(nullptr, companies.find(500));
}

// Thousands of companies fit the default budget at the measured footprint.
TEST(JobCompanies, TheDefaultBudgetHoldsThousandsOfCompanies) {
  JobCompanies companies;
  const size_t sevenCalendars = 7 * JobCompanies::kCalendarBytes + 20 * JobCompanies::kCycleBytes;
  for (int16_t c = 0; c < 5000; ++c) companies.charge(companies.add(c), sevenCalendars);
  EXPECT_EQ(5000u, companies.size());
  for (int16_t c = 0; c < 5000; c += 499) EXPECT_NE(nullptr, companies.find(c)) << c;
}

// The resolver holds its current company by address: an entry stays where it
// is while thousands of others come and go, over the budget too.
TEST(JobCompanies, AnEntryStaysWhereItIsWhileOthersComeAndGo) {
  JobCompanies companies;
  companies.setBudget(3000 * 100);
  JobCompany& kept = companies.add(1000);
  kept.bookArr[4] = 77;
  companies.charge(kept, 100);
  for (int16_t c = 0; c < 6000; ++c) {
    if (c == 1000) continue;
    companies.charge(companies.add(c), 100);
    if (c % 500 == 0) {
      ASSERT_EQ(&kept, companies.find(1000)) << c;  // used now and then: never the oldest
    }
  }
  EXPECT_EQ(3000u, companies.size());
  EXPECT_EQ(3000u * 100, companies.bytes());
  EXPECT_EQ(&kept, companies.find(1000));
  EXPECT_EQ(77, kept.bookArr[4]);
  EXPECT_EQ(nullptr, companies.find(0));     // the oldest went
  EXPECT_NE(nullptr, companies.find(5999));  // the newest stayed
}

TEST(JobCompanies, EveryCompanyNumberHasItsOwnEntryAndNegativesNone) {
  JobCompanies companies;
  EXPECT_EQ(nullptr, companies.find(0));  // nothing kept yet
  const int16_t numbers[] = {0, 1, 127, 128, 255, 256, 16384, 32767};
  for (int16_t c : numbers) companies.add(c).bookArr[1] = c + 10;
  for (int16_t c : numbers) {
    ASSERT_NE(nullptr, companies.find(c)) << c;
    EXPECT_EQ(c + 10, companies.find(c)->bookArr[1]) << c;
    EXPECT_EQ(c, companies.find(c)->company) << c;
  }
  for (int16_t c : {int16_t{-1}, int16_t{-32768}, int16_t{2}, int16_t{32766}}) EXPECT_EQ(nullptr, companies.find(c)) << c;
  // After a clear nothing answers, and entries come back empty.
  companies.clear();
  for (int16_t c : numbers) EXPECT_EQ(nullptr, companies.find(c)) << c;
  EXPECT_EQ(0, companies.add(32767).bookArr[1]);
  EXPECT_EQ(1u, companies.size());
}

TEST(WideAtol, ReadsAsAtolDoes) {
  const struct {
    const char16_t* text;
    long want;
  } rows[] = {
      {u"", 0},         {u"17", 17},           {u"  17", 17},         {u"\t\n\v\f\r-17", -17}, {u"+8", 8},
      {u"12abc", 12},   {u"abc", 0},           {u"- 5", 0},           {u"007", 7},             {u"2147483647", 2147483647},
      {u"-2147483648", -2147483647L - 1},      {u"99999999999999999999", 2147483647},
      {u"-99999999999999999999", -2147483647L - 1},                   {u"\u00a012", 0},        {u"\uff11", 0},
  };
  for (const auto& r : rows) EXPECT_EQ(r.want, engineCalls::wideAtol(reinterpret_cast<const OLECHAR*>(r.text)));
  EXPECT_EQ(0, engineCalls::wideAtol(nullptr));
}

}  // namespace
