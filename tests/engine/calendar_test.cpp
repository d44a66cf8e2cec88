// The calendar, cycle and fiscal-year objects apart from the fiscal-year rules:
// attributes, cycle lists, dirty flags, interfaces and reference counts.
#include <cmath>

#include "engine_session.h"
#include "reference_calendar.h"

namespace enginetest {
namespace {

class CalendarTest : public EngineTest {
 protected:
  static void add(IVRCalendarManager* m, long effective, SHORT month) {
    EXPECT_EQ(S_OK, m->AddCycleEntry(static_cast<DATE>(effective), CYCLETYPE_MONTHLY, month, DATEOFWEEK_SUNDAY,
                                     YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD));
  }
  static long yearEnd(IVRCalendarManager* m, long d) {
    DATE end = 0;
    EXPECT_EQ(S_OK, m->FiscalYearEndDate(static_cast<DATE>(d), &end));
    return static_cast<long>(end);
  }
  // Effective dates of the calendar's cycle list, in list order.
  static std::vector<long> effectiveDates(IVRCalendarManager* m) {
    std::vector<long> out;
    CComPtr<IktEnumDispatch> list;
    EXPECT_EQ(S_OK, m->get_CycleList(list.put()));
    if (!list) return out;
    LONG count = 0;
    EXPECT_EQ(S_OK, list->get_Count(&count));
    for (LONG i = 0; i < count; ++i) {
      CComPtr<IDispatch> item;
      CComPtr<IVRCycleObject> cycle;
      EXPECT_EQ(S_OK, list->get_GetAt(i, item.put()));
      EXPECT_EQ(S_OK, item.QueryInterface(IID_IVRCycleObject, cycle));
      DATE d = 0;
      if (cycle) {
        EXPECT_EQ(S_OK, cycle->get_EffectiveDate(&d));
      }
      out.push_back(static_cast<long>(d));
    }
    return out;
  }
};

TEST_F(CalendarTest, AttributesHoldTheTextLastStored) {
  CalendarRefs cal = newCalendar(factory_);
  LONG count = -1;
  EXPECT_EQ(S_OK, cal.xml->AttributeCount(&count));
  EXPECT_EQ(0, count);

  struct Row {
    const char* name;
    const char* value;
  } rows[] = {{"Name", "Tax"}, {"CalendarID", "1"}, {"CompanyID", "12"}, {"CalendarID", "7"}, {"Name", ""}};
  for (const Row& r : rows) {
    BSTR name = bstr(r.name), value = bstr(r.value);
    EXPECT_EQ(S_OK, cal.xml->put_Attribute(name, value));
    SysFreeString(name);
    SysFreeString(value);
  }
  EXPECT_EQ(S_OK, cal.xml->AttributeCount(&count));
  EXPECT_EQ(3, count);
  const char* expected[][2] = {{"Name", ""}, {"CalendarID", "7"}, {"CompanyID", "12"}};
  for (LONG i = 0; i < 3; ++i) {
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, cal.xml->AttributeName(i, &name));
    EXPECT_EQ(expected[i][0], takeText(name));
    BSTR key = bstr(expected[i][0]), value = nullptr;
    ASSERT_EQ(S_OK, cal.xml->get_Attribute(key, &value));
    SysFreeString(key);
    ASSERT_NE(nullptr, value) << "an empty text is still a text";
    EXPECT_EQ(expected[i][1], takeText(value));
  }

  // A plain wide literal works as a name as well as a BSTR does.
  BSTR value = nullptr;
  ASSERT_EQ(S_OK, cal.xml->get_Attribute(const_cast<BSTR>(u"CompanyID"), &value));
  EXPECT_EQ("12", takeText(value));

  // Names compare exactly; an unknown name and a bad index fail with null out.
  for (const char* missing : {"calendarid", "Missing", "", "Calendar", "CalendarIDs", "CalendarI", "N"}) {
    BSTR key = bstr(missing);
    value = bstr("junk");
    BSTR junk = value;
    EXPECT_LT(cal.xml->get_Attribute(key, &value), 0) << missing;
    EXPECT_EQ(nullptr, value);
    SysFreeString(junk);
    SysFreeString(key);
  }
  BSTR name = nullptr;
  EXPECT_EQ(DISP_E_BADINDEX, cal.xml->AttributeName(3, &name));
  EXPECT_EQ(DISP_E_BADINDEX, cal.xml->AttributeName(-1, &name));
  EXPECT_EQ(nullptr, name);
  BSTR empty = bstr("");
  EXPECT_EQ(E_INVALIDARG, cal.xml->put_Attribute(empty, empty));
  SysFreeString(empty);

  // Cycle objects carry attributes of their own.
  CComPtr<IVRCycleObject> cycle = newCycle(factory_);
  CComPtr<IVRPersistXML> cycleXml;
  ASSERT_EQ(S_OK, cycle.QueryInterface(IID_IVRPersistXML, cycleXml));
  EXPECT_EQ(S_OK, cycleXml->AttributeCount(&count));
  EXPECT_EQ(0, count);
}

// Reads in any order, repeated, after misses and after a rewrite each find
// their own text: the attribute found last must never answer for another name.
TEST_F(CalendarTest, RepeatedAttributeReadsFindTheirOwnText) {
  CalendarRefs cal = newCalendar(factory_);
  CComPtr<IVRCycleObject> cycle = newCycle(factory_);
  CComPtr<IVRPersistXML> cycleXml;
  ASSERT_EQ(S_OK, cycle.QueryInterface(IID_IVRPersistXML, cycleXml));
  const char* stored[][2] = {{"Calendar", "a"}, {"CalendarID", "2"}, {"CalendarIDX", "3"}, {"C", "4"}, {"Name", "n"}};
  struct Step {
    const char* name;
    const char* value;  // null: no such attribute
  } steps[] = {{"CalendarID", "2"}, {"CalendarID", "2"}, {"Calendar", "a"},  {"CalendarI", nullptr},
               {"CalendarIDX", "3"}, {"CalendarID", "2"}, {"C", "4"},        {"CalendarIDXY", nullptr},
               {"Name", "n"},        {"Nam", nullptr},    {"CalendarID", "2"}, {"Calendar", "a"}};
  for (IVRPersistXML* xml : {cal.xml.get(), cycleXml.get()}) {
    for (const auto& kv : stored) {
      BSTR name = bstr(kv[0]), value = bstr(kv[1]);
      ASSERT_EQ(S_OK, xml->put_Attribute(name, value));
      SysFreeString(name);
      SysFreeString(value);
    }
    for (int round = 0; round < 2; ++round) {
      for (const Step& st : steps) {
        BSTR key = bstr(st.name), value = nullptr;
        const HRESULT hr = xml->get_Attribute(key, &value);
        SysFreeString(key);
        if (st.value) {
          EXPECT_EQ(S_OK, hr) << st.name;
          EXPECT_EQ(st.value, takeText(value)) << st.name;
        } else {
          EXPECT_EQ(E_INVALIDARG, hr) << st.name;
          EXPECT_EQ(nullptr, value) << st.name;
        }
      }
      // A rewrite of the attribute read most is seen by the next read.
      for (const char* text : {"9", "2"}) {
        BSTR name = bstr("CalendarID"), value = bstr(text);
        ASSERT_EQ(S_OK, xml->put_Attribute(name, value));
        SysFreeString(value);
        value = nullptr;
        ASSERT_EQ(S_OK, xml->get_Attribute(name, &value));
        SysFreeString(name);
        EXPECT_EQ(text, takeText(value));
      }
    }
    // One buffer, its text changed between reads: the text counts, not where it is.
    OLECHAR buffer[] = u"CalendarID";
    BSTR value = nullptr;
    ASSERT_EQ(S_OK, xml->get_Attribute(buffer, &value));
    EXPECT_EQ("2", takeText(value));
    buffer[8] = 0;  // "Calendar"
    ASSERT_EQ(S_OK, xml->get_Attribute(buffer, &value));
    EXPECT_EQ("a", takeText(value));
    buffer[8] = u'X';  // "CalendarXD"
    EXPECT_EQ(E_INVALIDARG, xml->get_Attribute(buffer, &value));
    EXPECT_EQ(nullptr, value);
  }
}

TEST_F(CalendarTest, CycleObjectSettersMarkItDirtyAndRefuseBadDates) {
  CComPtr<IVRCycleObject> c = newCycle(factory_);
  ASSERT_TRUE(c);
  SHORT dirty = -1, month = 0;
  EXPECT_EQ(S_OK, c->get_IsDirty(&dirty));
  EXPECT_EQ(0, dirty);
  EXPECT_EQ(S_OK, c->put_FYEndMonth(8));
  EXPECT_EQ(S_OK, c->get_IsDirty(&dirty));
  EXPECT_NE(0, dirty);
  EXPECT_EQ(S_OK, c->put_IsDirty(0));
  EXPECT_EQ(S_OK, c->get_IsDirty(&dirty));
  EXPECT_EQ(0, dirty);
  EXPECT_EQ(S_OK, c->get_FYEndMonth(&month));
  EXPECT_EQ(8, month);

  // Dates the engine cannot hold are refused and leave the old value.
  DATE effective = 0;
  EXPECT_EQ(S_OK, c->put_EffectiveDate(36526.5));
  EXPECT_EQ(E_INVALIDARG, c->put_EffectiveDate(std::nan("")));
  EXPECT_EQ(E_INVALIDARG, c->put_EndDate(HUGE_VAL));
  EXPECT_EQ(S_OK, c->get_EffectiveDate(&effective));
  EXPECT_EQ(36526.5, effective);
  EXPECT_EQ(E_POINTER, c->get_FYEndMonth(nullptr));
}

TEST_F(CalendarTest, CycleListIsInEffectiveDateOrder) {
  CalendarRefs cal = newCalendar(factory_);
  add(cal.manager, S(2010, 1, 1), 12);
  add(cal.manager, S(2001, 1, 1), 6);
  add(cal.manager, S(2005, 7, 1), 3);
  EXPECT_EQ((std::vector<long>{S(2001, 1, 1), S(2005, 7, 1), S(2010, 1, 1)}), effectiveDates(cal.manager));
  EXPECT_EQ(S_OK, cal.manager->ClearCycleEntries());
  EXPECT_TRUE(effectiveDates(cal.manager).empty());
  DATE d = 0;
  EXPECT_LT(cal.manager->FiscalYearEndDate(36526.0, &d), 0);
}

TEST_F(CalendarTest, PutCycleListReplacesTheCycles) {
  CalendarRefs cal = newCalendar(factory_);
  add(cal.manager, S(1990, 1, 1), 12);
  add(cal.manager, S(1995, 1, 1), 3);
  EXPECT_EQ(S(2000, 3, 31), yearEnd(cal.manager, S(2000, 2, 1)));

  // Two cycle objects, given out of order and with an equal date last.
  CComPtr<IktEnumDispatch> list = newCollection();
  struct Row {
    long effective;
    SHORT month;
  } rows[] = {{S(1999, 7, 1), 9}, {S(1980, 1, 1), 8}, {S(1999, 7, 1), 10}};
  for (const Row& r : rows) {
    CComPtr<IVRCycleObject> c = newCycle(factory_);
    EXPECT_EQ(S_OK, c->put_EffectiveDate(static_cast<DATE>(r.effective)));
    EXPECT_EQ(S_OK, c->put_CycleType(CYCLETYPE_MONTHLY));
    EXPECT_EQ(S_OK, c->put_FYEndMonth(r.month));
    EXPECT_EQ(S_OK, list->Append(c));
  }
  ASSERT_EQ(S_OK, cal.manager->put_CycleList(list));
  EXPECT_EQ((std::vector<long>{S(1980, 1, 1), S(1999, 7, 1), S(1999, 7, 1)}), effectiveDates(cal.manager));
  EXPECT_EQ(S(2000, 10, 31), yearEnd(cal.manager, S(2000, 2, 1)));  // the later of the equal dates
  EXPECT_EQ(S(1999, 6, 30), yearEnd(cal.manager, S(1999, 1, 1)));   // cut short at the change

  // Anything but cycle objects is refused, and the calendar keeps its cycles.
  CComPtr<IktEnumDispatch> bad = newCollection();
  CComPtr<IktEnumDispatch> notACycle = newCollection();
  CComPtr<IVRCycleObject> good = newCycle(factory_);
  EXPECT_EQ(S_OK, bad->Append(good));
  EXPECT_EQ(S_OK, bad->Append(notACycle));
  EXPECT_EQ(E_INVALIDARG, cal.manager->put_CycleList(bad));
  EXPECT_EQ(3u, effectiveDates(cal.manager).size());
  EXPECT_EQ(E_POINTER, cal.manager->put_CycleList(nullptr));

  // An empty collection empties the calendar.
  CComPtr<IktEnumDispatch> none = newCollection();
  EXPECT_EQ(S_OK, cal.manager->put_CycleList(none));
  EXPECT_TRUE(effectiveDates(cal.manager).empty());
}

TEST_F(CalendarTest, CycleListHandedOutAgainLooksNew) {
  // The calendar may hand out the same collection again; whatever the previous
  // holder did with it, each caller sees all cycles with the cursor at the start,
  // and a collection still held elsewhere is never shared.
  CalendarRefs cal = newCalendar(factory_);
  add(cal.manager, S(2000, 1, 1), 12);
  add(cal.manager, S(2004, 7, 1), 6);
  const std::vector<long> both = {S(2000, 1, 1), S(2004, 7, 1)};
  struct Case {
    const char* what;
    void (*use)(IktEnumDispatch*);
  } cases[] = {
      {"read only", [](IktEnumDispatch* l) { LONG n; EXPECT_EQ(S_OK, l->get_Count(&n)); }},
      {"cursor moved", [](IktEnumDispatch* l) { EXPECT_EQ(S_OK, l->Skip(2)); }},
      {"emptied", [](IktEnumDispatch* l) { EXPECT_EQ(S_OK, l->RemoveAll()); }},
      {"item removed", [](IktEnumDispatch* l) { EXPECT_EQ(S_OK, l->RemoveAt(0)); }},
      {"item replaced", [](IktEnumDispatch* l) {
         CComPtr<IDispatch> second;
         EXPECT_EQ(S_OK, l->get_GetAt(1, second.put()));
         EXPECT_EQ(S_OK, l->SetAt(0, second));
       }},
      {"item appended", [](IktEnumDispatch* l) {
         CComPtr<IDispatch> first;
         EXPECT_EQ(S_OK, l->get_GetAt(0, first.put()));
         EXPECT_EQ(S_OK, l->Append(first));
       }},
  };
  for (const Case& c : cases) {
    {
      CComPtr<IktEnumDispatch> used;
      ASSERT_EQ(S_OK, cal.manager->get_CycleList(used.put()));
      c.use(used);
    }
    CComPtr<IktEnumDispatch> next;
    ASSERT_EQ(S_OK, cal.manager->get_CycleList(next.put()));
    LONG at = -1;
    EXPECT_EQ(S_OK, next->get_CurrentIndex(&at));
    EXPECT_EQ(0, at) << c.what;
    EXPECT_EQ(both, effectiveDates(cal.manager)) << c.what;

    // Held by one caller while another asks: two collections, apart.
    CComPtr<IktEnumDispatch> other;
    ASSERT_EQ(S_OK, cal.manager->get_CycleList(other.put()));
    EXPECT_NE(next.get(), other.get()) << c.what;
    c.use(other);
    LONG count = 0;
    EXPECT_EQ(S_OK, next->get_Count(&count));
    EXPECT_EQ(2, count) << c.what;
  }

  // New entries show in the next collection, not in one already handed out.
  CComPtr<IktEnumDispatch> before;
  ASSERT_EQ(S_OK, cal.manager->get_CycleList(before.put()));
  add(cal.manager, S(2009, 1, 1), 3);
  EXPECT_EQ(std::vector<long>({S(2000, 1, 1), S(2004, 7, 1), S(2009, 1, 1)}), effectiveDates(cal.manager));
  LONG count = 0;
  EXPECT_EQ(S_OK, before->get_Count(&count));
  EXPECT_EQ(2, count);
  EXPECT_EQ(S_OK, cal.manager->ClearCycleEntries());
  EXPECT_TRUE(effectiveDates(cal.manager).empty());
}

TEST_F(CalendarTest, ChangesToACycleObjectReachTheCalendar) {
  CalendarRefs cal = newCalendar(factory_);
  CComPtr<IVRCycleObject> c = newCycle(factory_);
  EXPECT_EQ(S_OK, c->put_EffectiveDate(static_cast<DATE>(S(2000, 1, 1))));
  EXPECT_EQ(S_OK, c->put_FYEndMonth(12));
  CComPtr<IktEnumDispatch> list = newCollection();
  EXPECT_EQ(S_OK, list->Append(c));
  ASSERT_EQ(S_OK, cal.manager->put_CycleList(list));
  EXPECT_EQ(S(2004, 12, 31), yearEnd(cal.manager, S(2004, 5, 5)));
  EXPECT_EQ(S_OK, c->put_FYEndMonth(5));
  EXPECT_EQ(S(2004, 5, 31), yearEnd(cal.manager, S(2004, 5, 5)));
  // A cycle with a month no year can end in cannot answer.
  EXPECT_EQ(S_OK, c->put_FYEndMonth(0));
  DATE d = 0;
  EXPECT_LT(cal.manager->FiscalYearEndDate(static_cast<DATE>(S(2004, 5, 5)), &d), 0);
  // Unused fields of a monthly cycle may hold anything, as NULL columns give 0.
  EXPECT_EQ(S_OK, c->put_FYEndMonth(5));
  EXPECT_EQ(S_OK, c->put_DateOfWeek(static_cast<ECALENDARCYCLE_DATEOFWEEK>(0)));
  EXPECT_EQ(S_OK, c->put_YearEndElect(static_cast<ECALENDARCYCLE_YEARENDELECTION>(0)));
  EXPECT_EQ(S(2004, 5, 31), yearEnd(cal.manager, S(2004, 5, 5)));
  // A week cycle needs both.
  EXPECT_EQ(S_OK, c->put_CycleType(CYCLETYPE_THIRTEENPERIOD));
  EXPECT_LT(cal.manager->FiscalYearEndDate(static_cast<DATE>(S(2004, 5, 5)), &d), 0);
}

TEST_F(CalendarTest, DirtyFlagFollowsCycleChanges) {
  CalendarRefs cal = newCalendar(factory_);
  SHORT dirty = -5;
  EXPECT_EQ(S_OK, cal.manager->get_IsDirty(&dirty));
  EXPECT_EQ(0, dirty);
  add(cal.manager, S(2000, 1, 1), 12);
  EXPECT_EQ(S_OK, cal.manager->get_IsDirty(&dirty));
  EXPECT_NE(0, dirty);
  EXPECT_EQ(S_OK, cal.manager->put_IsDirty(0));
  EXPECT_EQ(S_OK, cal.manager->get_IsDirty(&dirty));
  EXPECT_EQ(0, dirty);
  CComPtr<IktEnumDispatch> none = newCollection();
  EXPECT_EQ(S_OK, cal.manager->put_CycleList(none));
  EXPECT_EQ(S_OK, cal.manager->get_IsDirty(&dirty));
  EXPECT_NE(0, dirty);
}

TEST_F(CalendarTest, InterfacesAndOutPointersOfUnofferedMethods) {
  CComPtr<IDispatch> object;
  ASSERT_EQ(S_OK, factory_->CalendarFactory(object.put()));
  CComPtr<IVRCycleObject> notCycle;
  EXPECT_EQ(E_NOINTERFACE, object.QueryInterface(IID_IVRCycleObject, notCycle));
  CalendarRefs cal = newCalendar(factory_);
  // Every interface of one object gives the same IUnknown.
  CComPtr<IUnknown> u1, u2, u3;
  EXPECT_EQ(S_OK, cal.calendar.QueryInterface(IID_IUnknown, u1));
  EXPECT_EQ(S_OK, cal.manager.QueryInterface(IID_IUnknown, u2));
  EXPECT_EQ(S_OK, cal.xml.QueryInterface(IID_IUnknown, u3));
  EXPECT_EQ(u1.get(), u2.get());
  EXPECT_EQ(u1.get(), u3.get());

  CComPtr<IDispatch> cycleObject;
  ASSERT_EQ(S_OK, factory_->CycleObjectFactory(cycleObject.put()));
  CComPtr<IVRCalendar> notCalendar;
  EXPECT_EQ(E_NOINTERFACE, cycleObject.QueryInterface(IID_IVRCalendar, notCalendar));

  IDispatch* period = cal.calendar;
  EXPECT_EQ(E_NOTIMPL, cal.manager->GetPeriod(36526.0, &period));
  EXPECT_EQ(nullptr, period);
  EXPECT_EQ(E_NOTIMPL, cal.manager->GetPeriodByNum(36526.0, 1, &period));
  BSTR text = bstr("junk");
  BSTR junk = text;
  EXPECT_EQ(E_NOTIMPL, cal.xml->get_XML(&text));
  EXPECT_EQ(nullptr, text);
  SysFreeString(junk);
}

TEST_F(CalendarTest, ReferencesAreCountedExactly) {
  CComPtr<IDispatch> object;
  ASSERT_EQ(S_OK, factory_->CalendarFactory(object.put()));
  IDispatch* raw = object.get();
  EXPECT_EQ(2u, raw->AddRef());
  EXPECT_EQ(1u, raw->Release());
  CComPtr<IVRCalendarManager> manager;
  ASSERT_EQ(S_OK, object.QueryInterface(IID_IVRCalendarManager, manager));
  EXPECT_EQ(3u, manager->AddRef());
  EXPECT_EQ(2u, manager->Release());
  EXPECT_EQ(S_OK, manager->AddCycleEntry(36526.0, CYCLETYPE_MONTHLY, 12, DATEOFWEEK_SUNDAY,
                                         YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD));

  // The fiscal year and the cycle list live on their own.
  CComPtr<IVRCalendar> calendar;
  ASSERT_EQ(S_OK, object.QueryInterface(IID_IVRCalendar, calendar));
  CComPtr<IVRFiscalYear> year;
  ASSERT_EQ(S_OK, calendar->GetFiscalYear(36600.0, year.put()));
  CComPtr<IktEnumDispatch> list;
  ASSERT_EQ(S_OK, manager->get_CycleList(list.put()));
  EXPECT_EQ(2u, year->AddRef());
  EXPECT_EQ(1u, year->Release());
  object.Release();
  manager.Release();
  EXPECT_EQ(0u, calendar.Detach()->Release());  // the calendar goes with its last reference
  EXPECT_EQ(S_FALSE, Session::get().canUnloadNow());
  DATE end = 0;
  EXPECT_EQ(S_OK, year->get_YREndDate(&end));
  EXPECT_EQ(static_cast<DATE>(S(2000, 12, 31)), end);
  EXPECT_EQ(S_OK, year->put_YREndDate(40000.0));
  EXPECT_EQ(S_OK, year->get_YREndDate(&end));
  EXPECT_EQ(40000.0, end);
  year.Release();
  list.Release();
  factory_.Release();
  EXPECT_EQ(S_OK, Session::get().canUnloadNow());
}

}  // namespace
}  // namespace enginetest
