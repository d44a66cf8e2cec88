// Calendars with thousands of cycles against the reference model, filled the
// three ways the report library fills them (AddCycleEntry in any order, the
// short-year walk that asks before each entry, put_CycleList of stored cycles),
// and the rules kept between questions: every change of a cycle reaches the
// answers, for the engine's cycle objects and for cycle objects of other makers.
#include <random>
#include <string>

#include "engine_session.h"
#include "reference_calendar.h"

namespace enginetest {
namespace {

constexpr int kElections[] = {YEARENDELECTION_LASTWEEKDAY, YEARENDELECTION_CLOSESTWEEKDAY};

// An IVRCycleObject that is not the engine's: plain fields, owned by the test.
class OutsideCycle final : public IVRCycleObject {
 public:
  explicit OutsideCycle(const RefCycle& c)
      : effective(static_cast<DATE>(c.effective)), type(c.type), month(static_cast<SHORT>(c.month)),
        weekday(c.weekday), election(c.election) {}
  DATE effective;
  int type;
  SHORT month;
  int weekday;
  int election;
  ULONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IDispatch) &&
        !IsEqualGUID(riid, IID_IVRCycleObject))
      return E_NOINTERFACE;
    *ppv = static_cast<IVRCycleObject*>(this);
    ++refs;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }  // freed by the test
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_CycleType(ECALENDARCYCLE_CYCLETYPE* p) override {
    *p = static_cast<ECALENDARCYCLE_CYCLETYPE>(type);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_CycleType(ECALENDARCYCLE_CYCLETYPE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_DateOfWeek(ECALENDARCYCLE_DATEOFWEEK* p) override {
    *p = static_cast<ECALENDARCYCLE_DATEOFWEEK>(weekday);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_DateOfWeek(ECALENDARCYCLE_DATEOFWEEK) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_PDCounting(ECALENDARCYCLE_PDCOUNTING* p) override {
    *p = PDCOUNT_BACKWARD;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_PDCounting(ECALENDARCYCLE_PDCOUNTING) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_YearEndElect(ECALENDARCYCLE_YEARENDELECTION* p) override {
    *p = static_cast<ECALENDARCYCLE_YEARENDELECTION>(election);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_YearEndElect(ECALENDARCYCLE_YEARENDELECTION) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_FYEndMonth(SHORT* p) override {
    *p = month;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_FYEndMonth(SHORT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_EffectiveDate(DATE* p) override {
    *p = effective;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_EffectiveDate(DATE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_EndDate(DATE* p) override {
    *p = -1.0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_EndDate(DATE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_YearNumberOffset(SHORT* p) override {
    *p = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_YearNumberOffset(SHORT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_NumberOfYears(SHORT* p) override {
    *p = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_NumberOfYears(SHORT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_IsDirty(SHORT* p) override {
    *p = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsDirty(SHORT) override { return E_NOTIMPL; }
};

class LongHistoryTest : public EngineTest {
 protected:
  static RefYear engineYear(IVRCalendar* calendar, long d) {
    CComPtr<IVRFiscalYear> year;
    if (FAILED(calendar->GetFiscalYear(static_cast<DATE>(d), year.put())) || !year) return {false, 0, 0};
    DATE start = 0, end = 0;
    if (FAILED(year->get_YRStartDate(&start)) || FAILED(year->get_YREndDate(&end))) return {false, 0, 0};
    return {true, static_cast<long>(start), static_cast<long>(end)};
  }

  // Random dates over the whole history and the days around every effective
  // date; stops at the first few differences.
  static void expectSameYears(IVRCalendar* calendar, const ReferenceCalendar& ref, std::mt19937& random,
                              const std::string& what) {
    const long from = S(1802, 1, 1), span = S(2198, 12, 31) - from;
    std::vector<long> dates;
    for (int i = 0; i < 3000; ++i) dates.push_back(from + static_cast<long>(random() % static_cast<unsigned>(span)));
    for (const RefCycle& c : ref.cycles())
      for (long d = c.effective - 1; d <= c.effective + 1; ++d) dates.push_back(d);
    int failures = 0;
    for (long d : dates) {
      if (failures >= 5) break;
      const RefYear want = ref.fiscalYear(d);
      const RefYear got = engineYear(calendar, d);
      if (want.ok != got.ok || (want.ok && (want.start != got.start || want.end != got.end))) {
        ++failures;
        ADD_FAILURE() << what << ": date " << d << ": want ok=" << want.ok << " [" << want.start << ", " << want.end
                      << "], got ok=" << got.ok << " [" << got.start << ", " << got.end << "]";
      }
    }
  }

  static RefCycle randomCycle(std::mt19937& random, const std::vector<RefCycle>& earlier, bool monthlyOnly) {
    RefCycle c;
    const long from = S(1810, 1, 1), span = S(2190, 1, 1) - from;
    c.effective = (!earlier.empty() && random() % 8 == 0) ? earlier[random() % earlier.size()].effective
                                                          : from + static_cast<long>(random() % span);
    c.type = monthlyOnly ? CYCLETYPE_MONTHLY : CYCLETYPE_MONTHLY + static_cast<int>(random() % 5);
    c.month = 1 + static_cast<int>(random() % 12);
    c.weekday = 1 + static_cast<int>(random() % 7);
    c.election = kElections[random() % 2];
    return c;
  }

  static void add(IVRCalendarManager* m, const RefCycle& c) {
    ASSERT_EQ(S_OK, m->AddCycleEntry(static_cast<DATE>(c.effective), static_cast<ECALENDARCYCLE_CYCLETYPE>(c.type),
                                     static_cast<SHORT>(c.month), static_cast<ECALENDARCYCLE_DATEOFWEEK>(c.weekday),
                                     static_cast<ECALENDARCYCLE_YEARENDELECTION>(c.election), PDCOUNT_BACKWARD));
  }

  // Engine cycle objects of the given cycles, in the given order.
  CComPtr<IktEnumDispatch> storedCycles(const std::vector<RefCycle>& cycles,
                                        std::vector<CComPtr<IVRCycleObject>>* objects) {
    CComPtr<IktEnumDispatch> list = newCollection();
    for (const RefCycle& c : cycles) {
      CComPtr<IVRCycleObject> o = newCycle(factory_);
      EXPECT_EQ(S_OK, o->put_EffectiveDate(static_cast<DATE>(c.effective)));
      EXPECT_EQ(S_OK, o->put_CycleType(static_cast<ECALENDARCYCLE_CYCLETYPE>(c.type)));
      EXPECT_EQ(S_OK, o->put_FYEndMonth(static_cast<SHORT>(c.month)));
      EXPECT_EQ(S_OK, o->put_DateOfWeek(static_cast<ECALENDARCYCLE_DATEOFWEEK>(c.weekday)));
      EXPECT_EQ(S_OK, o->put_YearEndElect(static_cast<ECALENDARCYCLE_YEARENDELECTION>(c.election)));
      EXPECT_EQ(S_OK, list->Append(o));
      if (objects) objects->push_back(o);
    }
    return list;
  }
};

TEST_F(LongHistoryTest, ThousandsOfCyclesMatchTheModel) {
  struct Case {
    const char* name;
    int cycles;
    bool stored;       // through put_CycleList instead of AddCycleEntry
    bool monthlyOnly;  // as the built calendars have them
    unsigned seed;
  } cases[] = {
      {"added, every type", 2000, false, false, 11},
      {"added, monthly", 5000, false, true, 12},
      {"stored, every type", 3000, true, false, 13},
      {"stored, monthly", 1000, true, true, 14},
  };
  for (const Case& k : cases) {
    std::mt19937 random(k.seed);
    std::vector<RefCycle> cycles;
    for (int i = 0; i < k.cycles; ++i) cycles.push_back(randomCycle(random, cycles, k.monthlyOnly));
    CalendarRefs cal = newCalendar(factory_);
    if (k.stored) {
      ASSERT_EQ(S_OK, cal.manager->put_CycleList(storedCycles(cycles, nullptr)));
    } else {
      for (const RefCycle& c : cycles) add(cal.manager, c);
    }
    expectSameYears(cal.calendar, ReferenceCalendar(cycles), random, k.name);
  }
}

TEST_F(LongHistoryTest, ShortYearWalkSeesEveryEarlierEntry) {
  // As the short-year builder does: ask for the year of each short year's date
  // under the entries so far, then add an entry from that year's start.
  std::mt19937 random(21);
  std::vector<RefCycle> cycles = {{S(1850, 1, 1), CYCLETYPE_MONTHLY, 12, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY}};
  CalendarRefs cal = newCalendar(factory_);
  add(cal.manager, cycles[0]);
  long date = S(1851, 3, 1);
  int failures = 0;
  for (int row = 0; row < 1500 && failures < 5; ++row) {
    // Mostly forward, sometimes back into the history, as ShortYrID order allows.
    date = random() % 10 == 0 ? date - static_cast<long>(random() % 400) : date + 20 + static_cast<long>(random() % 60);
    const RefYear want = ReferenceCalendar(cycles).fiscalYear(date);
    const RefYear got = engineYear(cal.calendar, date);
    if (!want.ok || !got.ok || want.start != got.start || want.end != got.end) {
      ++failures;
      ADD_FAILURE() << "row " << row << " date " << date << ": want [" << want.start << ", " << want.end << "], got ["
                    << got.start << ", " << got.end << "]";
      continue;
    }
    RefCycle next{got.start, CYCLETYPE_MONTHLY, DayTable::get().civil(date).month, DATEOFWEEK_SUNDAY,
                  YEARENDELECTION_LASTWEEKDAY};
    cycles.push_back(next);
    add(cal.manager, next);
  }
  EXPECT_EQ(0, failures);
  expectSameYears(cal.calendar, ReferenceCalendar(cycles), random, "after the walk");
}

TEST_F(LongHistoryTest, ChangedCyclesReachTheAnswersAfterQuestions) {
  // Each step changes the history after a round of questions; the next round must
  // see it. Engine cycle objects report changes; other cycle objects do not, and
  // are read on every question.
  enum Change { kMoveDate, kMonth, kType, kAddEntry, kClearAndAdd };
  const Change steps[] = {kMoveDate, kMonth, kAddEntry, kType, kMoveDate, kAddEntry, kClearAndAdd, kAddEntry};
  for (bool outside : {false, true}) {
    std::mt19937 random(outside ? 31 : 32);
    std::vector<RefCycle> cycles;
    for (int i = 0; i < 200; ++i) cycles.push_back(randomCycle(random, cycles, false));
    CalendarRefs cal = newCalendar(factory_);
    std::vector<CComPtr<IVRCycleObject>> engineObjects;
    std::vector<std::unique_ptr<OutsideCycle>> outsideObjects;
    if (outside) {
      CComPtr<IktEnumDispatch> list = newCollection();
      for (const RefCycle& c : cycles) {
        outsideObjects.emplace_back(new OutsideCycle(c));
        ASSERT_EQ(S_OK, list->Append(outsideObjects.back().get()));
      }
      ASSERT_EQ(S_OK, cal.manager->put_CycleList(list));
    } else {
      ASSERT_EQ(S_OK, cal.manager->put_CycleList(storedCycles(cycles, &engineObjects)));
    }
    // cycles stays in the order the calendar got them, as the model wants.
    int step = 0;
    for (Change change : steps) {
      const std::string what = std::string(outside ? "outside" : "engine") + " cycles, step " + std::to_string(step++);
      expectSameYears(cal.calendar, ReferenceCalendar(cycles), random, what);
      const size_t i = random() % cycles.size();
      switch (change) {
        case kMoveDate:
          cycles[i].effective = S(1810, 1, 1) + static_cast<long>(random() % 100000);
          if (outside) {
            outsideObjects[i]->effective = static_cast<DATE>(cycles[i].effective);
          } else {
            EXPECT_EQ(S_OK, engineObjects[i]->put_EffectiveDate(static_cast<DATE>(cycles[i].effective)));
          }
          break;
        case kMonth:
          cycles[i].month = cycles[i].month % 12 + 1;
          if (outside) {
            outsideObjects[i]->month = static_cast<SHORT>(cycles[i].month);
          } else {
            EXPECT_EQ(S_OK, engineObjects[i]->put_FYEndMonth(static_cast<SHORT>(cycles[i].month)));
          }
          break;
        case kType:
          cycles[i].type = cycles[i].type == CYCLETYPE_MONTHLY ? CYCLETYPE_FOURFIVEFOUR : CYCLETYPE_MONTHLY;
          if (outside) {
            outsideObjects[i]->type = cycles[i].type;
          } else {
            EXPECT_EQ(S_OK, engineObjects[i]->put_CycleType(static_cast<ECALENDARCYCLE_CYCLETYPE>(cycles[i].type)));
          }
          break;
        case kAddEntry: {
          // A date no other cycle has: the model's added order and the engine's
          // placement agree without ties.
          RefCycle c = randomCycle(random, {}, false);
          cycles.push_back(c);
          add(cal.manager, c);
          break;
        }
        case kClearAndAdd:
          EXPECT_EQ(S_OK, cal.manager->ClearCycleEntries());
          cycles.assign(1, randomCycle(random, {}, true));
          engineObjects.clear();
          outsideObjects.clear();  // the calendar holds none of them any more
          add(cal.manager, cycles[0]);
          break;
      }
    }
    expectSameYears(cal.calendar, ReferenceCalendar(cycles), random, "last step");
  }
}

}  // namespace
}  // namespace enginetest
