// Fiscal years from the engine against the independent model in
// reference_calendar: every cycle type, both elections, all seven weekdays,
// cycle changes, and the edges (dates before the first cycle, missing dates).
#include <cmath>
#include <random>
#include <sstream>
#include <string>

#include "engine_session.h"
#include "reference_calendar.h"

namespace enginetest {
namespace {

constexpr int kWeekTypes[] = {CYCLETYPE_FOURFOURFIVE, CYCLETYPE_FOURFIVEFOUR, CYCLETYPE_FIVEFOURFOUR,
                              CYCLETYPE_THIRTEENPERIOD};
constexpr int kElections[] = {YEARENDELECTION_LASTWEEKDAY, YEARENDELECTION_CLOSESTWEEKDAY};

class FiscalYearTest : public EngineTest {
 protected:
  // A calendar with the cycles added in the given order through AddCycleEntry.
  CalendarRefs calendarOf(const std::vector<RefCycle>& cycles) {
    CalendarRefs cal = newCalendar(factory_);
    for (const RefCycle& c : cycles) EXPECT_EQ(S_OK, addCycle(cal.manager, c));
    return cal;
  }
  static HRESULT addCycle(IVRCalendarManager* manager, const RefCycle& c) {
    return manager->AddCycleEntry(static_cast<DATE>(c.effective), static_cast<ECALENDARCYCLE_CYCLETYPE>(c.type),
                                  static_cast<SHORT>(c.month), static_cast<ECALENDARCYCLE_DATEOFWEEK>(c.weekday),
                                  static_cast<ECALENDARCYCLE_YEARENDELECTION>(c.election), PDCOUNT_BACKWARD);
  }

  // The engine's fiscal year of d, through GetFiscalYear and its IVRFiscalYear.
  static RefYear engineYear(IVRCalendar* calendar, DATE d) {
    CComPtr<IVRFiscalYear> year;
    if (FAILED(calendar->GetFiscalYear(d, year.put())) || !year) return {false, 0, 0};
    DATE start = 0, end = 0;
    if (FAILED(year->get_YRStartDate(&start)) || FAILED(year->get_YREndDate(&end))) return {false, 0, 0};
    return {true, static_cast<long>(start), static_cast<long>(end)};
  }

  struct Row {
    Civil date, start, end;
  };
  // Each date's fiscal year against the expected first and last day.
  static void expectYears(IVRCalendar* calendar, std::initializer_list<Row> rows) {
    for (const Row& r : rows) {
      const Civil& d = r.date;
      RefYear got = engineYear(calendar, static_cast<DATE>(S(d.year, d.month, d.day)));
      ASSERT_TRUE(got.ok) << d.year << "-" << d.month << "-" << d.day;
      EXPECT_EQ(S(r.start.year, r.start.month, r.start.day), got.start) << d.year << "-" << d.month << "-" << d.day;
      EXPECT_EQ(S(r.end.year, r.end.month, r.end.day), got.end) << d.year << "-" << d.month << "-" << d.day;
    }
  }

  // Compares every stride-th day of [from, to] and the days around each year
  // end; stops at the first few differences so a failure stays readable.
  static void expectSameYears(IVRCalendar* calendar, const ReferenceCalendar& ref, long from, long to, long stride,
                              const std::string& what) {
    int failures = 0;
    auto check = [&](long d) {
      if (failures >= 5) return;
      RefYear want = ref.fiscalYear(d);
      RefYear got = engineYear(calendar, static_cast<DATE>(d));
      if (want.ok != got.ok || (want.ok && (want.start != got.start || want.end != got.end))) {
        ++failures;
        const Civil& c = DayTable::get().civil(d);
        ADD_FAILURE() << what << ": date " << c.year << "-" << c.month << "-" << c.day << " (" << d
                      << "): want ok=" << want.ok << " [" << want.start << ", " << want.end << "], got ok=" << got.ok
                      << " [" << got.start << ", " << got.end << "]";
      }
    };
    for (long d = from; d <= to; d += stride) check(d);
    for (size_t i = 0; i < ref.cycles().size(); ++i)
      for (long e : ref.yearEnds(i))
        if (e >= from && e <= to)
          for (long d = e - 1; d <= e + 1; ++d) check(d);
  }
};

TEST_F(FiscalYearTest, DayTableMatchesKnownDates) {
  // The model's own anchors, from the OLE date convention.
  EXPECT_EQ(1, S(1899, 12, 31));
  EXPECT_EQ(36526, S(2000, 1, 1));
  EXPECT_EQ(60, S(1900, 2, 28));
  EXPECT_EQ(61, S(1900, 3, 1));
  EXPECT_EQ(36585, S(2000, 2, 29));
  EXPECT_EQ(1, DayTable::get().weekday(S(1899, 12, 31)));  // Sunday
  EXPECT_EQ(7, DayTable::get().weekday(S(2000, 1, 1)));    // Saturday
}

TEST_F(FiscalYearTest, MonthlyCyclesEndOnTheLastDayOfTheirMonth) {
  for (int month = 1; month <= 12; ++month) {
    std::vector<RefCycle> cycles = {{S(1950, 1, 1), CYCLETYPE_MONTHLY, month, DATEOFWEEK_SUNDAY,
                                     YEARENDELECTION_LASTWEEKDAY}};
    CalendarRefs cal = calendarOf(cycles);
    ReferenceCalendar ref(cycles);
    expectSameYears(cal.calendar, ref, S(1950, 1, 1), S(2060, 12, 31), 3, "monthly, month " + std::to_string(month));
  }
}

TEST_F(FiscalYearTest, WeekCyclesEveryTypeElectionWeekdayAndMonth) {
  int combination = 0;
  for (int type : kWeekTypes)
    for (int election : kElections)
      for (int weekday = 1; weekday <= 7; ++weekday) {
        const int month = combination++ % 12 + 1;  // every month four or five times
        std::vector<RefCycle> cycles = {{S(1980, 3, 1), type, month, weekday, election}};
        CalendarRefs cal = calendarOf(cycles);
        ReferenceCalendar ref(cycles);
        std::ostringstream what;
        what << "type " << type << " election " << election << " weekday " << weekday << " month " << month;
        expectSameYears(cal.calendar, ref, S(1980, 3, 1), S(2045, 12, 31), 5, what.str());
      }
}

TEST_F(FiscalYearTest, FiftyThreeWeekYearsFallWhereTheRuleSays) {
  for (int election : kElections)
    for (int weekday = 1; weekday <= 7; ++weekday) {
      std::vector<RefCycle> cycles = {{S(1950, 1, 1), CYCLETYPE_FIVEFOURFOUR, 9, weekday, election}};
      CalendarRefs cal = calendarOf(cycles);
      ReferenceCalendar ref(cycles);
      int longYears = 0;
      const std::vector<long>& ends = ref.yearEnds(0);
      for (size_t i = 1; i < ends.size(); ++i) {
        if (ends[i - 1] < S(1960, 1, 1) || ends[i] > S(2100, 1, 1)) continue;
        RefYear got = engineYear(cal.calendar, static_cast<DATE>(ends[i]));
        ASSERT_TRUE(got.ok);
        const long length = got.end - got.start + 1;
        EXPECT_EQ(ends[i] - ends[i - 1], length);
        EXPECT_TRUE(length == 364 || length == 371) << "a fiscal year of " << length << " days";
        if (length == 371) ++longYears;
      }
      // 5 or 6 long years in every 28: about 25 in 140 years.
      EXPECT_GE(longYears, 22);
      EXPECT_LE(longYears, 27);
    }
}

struct KnownYear {
  const char* what;
  int election;
  int month;
  int weekday;
  Civil date;
  Civil start;
  Civil end;
};

TEST_F(FiscalYearTest, KnownRetailAndTechnologyYears) {
  // Published fiscal years of companies on 52/53-week calendars.
  const KnownYear cases[] = {
      // Last Saturday of September; fiscal 2023 had 53 weeks.
      {"last Saturday of September", YEARENDELECTION_LASTWEEKDAY, 9, DATEOFWEEK_SATURDAY, {2023, 3, 1},
       {2022, 9, 25}, {2023, 9, 30}},
      {"last Saturday of September", YEARENDELECTION_LASTWEEKDAY, 9, DATEOFWEEK_SATURDAY, {2022, 9, 24},
       {2021, 9, 26}, {2022, 9, 24}},
      // Saturday nearest the end of January; fiscal 2023 had 53 weeks and ended in February.
      {"Saturday nearest 31 January", YEARENDELECTION_CLOSESTWEEKDAY, 1, DATEOFWEEK_SATURDAY, {2023, 6, 1},
       {2023, 1, 29}, {2024, 2, 3}},
      {"Saturday nearest 31 January", YEARENDELECTION_CLOSESTWEEKDAY, 1, DATEOFWEEK_SATURDAY, {2023, 1, 28},
       {2022, 1, 30}, {2023, 1, 28}},
      {"Saturday nearest 31 January", YEARENDELECTION_CLOSESTWEEKDAY, 1, DATEOFWEEK_SATURDAY, {2024, 2, 4},
       {2024, 2, 4}, {2025, 2, 1}},
  };
  for (const KnownYear& k : cases) {
    CalendarRefs cal = calendarOf({{S(2000, 1, 1), CYCLETYPE_FOURFOURFIVE, k.month, k.weekday, k.election}});
    RefYear got = engineYear(cal.calendar, static_cast<DATE>(S(k.date.year, k.date.month, k.date.day)));
    ASSERT_TRUE(got.ok) << k.what;
    EXPECT_EQ(S(k.start.year, k.start.month, k.start.day), got.start) << k.what;
    EXPECT_EQ(S(k.end.year, k.end.month, k.end.day), got.end) << k.what;
  }
}

TEST_F(FiscalYearTest, ChangeOfYearEndMonthMakesAShortYear) {
  // As the report library records a short year: find the fiscal year of the
  // short year's date, then start a new cycle there ending in the new month.
  CalendarRefs cal = calendarOf({{S(1995, 1, 1), CYCLETYPE_MONTHLY, 12, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY}});
  CComPtr<IVRFiscalYear> year;
  ASSERT_EQ(S_OK, cal.calendar->GetFiscalYear(static_cast<DATE>(S(2003, 6, 30)), year.put()));
  DATE start = 0;
  ASSERT_EQ(S_OK, year->get_YRStartDate(&start));
  EXPECT_EQ(S(2003, 1, 1), static_cast<long>(start));
  ASSERT_EQ(S_OK, cal.manager->AddCycleEntry(start, CYCLETYPE_MONTHLY, 6, DATEOFWEEK_SUNDAY,
                                             YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD));
  expectYears(cal.calendar, {
      {{2002, 5, 5}, {2002, 1, 1}, {2002, 12, 31}},   // before the change: unchanged
      {{2002, 12, 31}, {2002, 1, 1}, {2002, 12, 31}},
      {{2003, 1, 1}, {2003, 1, 1}, {2003, 6, 30}},    // the short year
      {{2003, 6, 30}, {2003, 1, 1}, {2003, 6, 30}},
      {{2003, 7, 1}, {2003, 7, 1}, {2004, 6, 30}},    // full years in the new month
      {{2010, 2, 14}, {2009, 7, 1}, {2010, 6, 30}},
  });
  DATE end = 0;
  EXPECT_EQ(S_OK, cal.manager->FiscalYearEndDate(static_cast<DATE>(S(2003, 2, 1)), &end));
  EXPECT_EQ(S(2003, 6, 30), static_cast<long>(end));
  EXPECT_EQ(S_OK, cal.manager->FiscalYearStartDate(static_cast<DATE>(S(2003, 8, 1)), &start));
  EXPECT_EQ(S(2003, 7, 1), static_cast<long>(start));
}

TEST_F(FiscalYearTest, CycleChangesInsideYearsMatchTheModel) {
  // Random calendars: cycles of every kind taking effect on arbitrary days,
  // added in arbitrary order, some on the same day.
  std::mt19937 random(20240611);
  for (int round = 0; round < 12; ++round) {
    std::vector<RefCycle> cycles;
    const int n = 2 + static_cast<int>(random() % 4);
    for (int i = 0; i < n; ++i) {
      RefCycle c;
      c.effective = (i > 0 && random() % 4 == 0) ? cycles[random() % cycles.size()].effective
                                                  : S(1960, 1, 1) + static_cast<long>(random() % 29000);
      c.type = CYCLETYPE_MONTHLY + static_cast<int>(random() % 5);  // monthly and the week types
      c.month = 1 + static_cast<int>(random() % 12);
      c.weekday = 1 + static_cast<int>(random() % 7);
      c.election = kElections[random() % 2];
      cycles.push_back(c);
    }
    CalendarRefs cal = calendarOf(cycles);
    ReferenceCalendar ref(cycles);
    expectSameYears(cal.calendar, ref, S(1955, 1, 1), S(2045, 12, 31), 2, "round " + std::to_string(round));
  }
}

TEST_F(FiscalYearTest, SameEffectiveDateTheLastAddedIsInForce) {
  CalendarRefs cal = calendarOf({
      {S(2000, 1, 1), CYCLETYPE_MONTHLY, 12, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},
      {S(2005, 4, 1), CYCLETYPE_MONTHLY, 6, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},
      {S(2005, 4, 1), CYCLETYPE_MONTHLY, 9, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},
  });
  RefYear got = engineYear(cal.calendar, static_cast<DATE>(S(2005, 5, 1)));
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(S(2005, 4, 1), got.start);
  EXPECT_EQ(S(2005, 9, 30), got.end);
  // The year before the change is cut short at the change.
  got = engineYear(cal.calendar, static_cast<DATE>(S(2005, 2, 1)));
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(S(2005, 1, 1), got.start);
  EXPECT_EQ(S(2005, 3, 31), got.end);
}

// Far outside the model's centuries, the year ends still come from the rule:
// each date lies in its fiscal year, the years join day to day, and a week
// rule's years are whole weeks ending on its weekday.
TEST_F(FiscalYearTest, YearsFarFromTodayContainTheirDateAndJoin) {
  struct Rule {
    int type, month, weekday, election;
  };
  const Rule rules[] = {{CYCLETYPE_MONTHLY, 1, 1, YEARENDELECTION_LASTWEEKDAY},
                        {CYCLETYPE_MONTHLY, 2, 1, YEARENDELECTION_LASTWEEKDAY},
                        {CYCLETYPE_MONTHLY, 12, 1, YEARENDELECTION_LASTWEEKDAY},
                        {CYCLETYPE_FOURFOURFIVE, 12, 7, YEARENDELECTION_LASTWEEKDAY},
                        {CYCLETYPE_FIVEFOURFOUR, 1, 2, YEARENDELECTION_CLOSESTWEEKDAY},
                        {CYCLETYPE_THIRTEENPERIOD, 2, 4, YEARENDELECTION_CLOSESTWEEKDAY}};
  // Serials: far back, around year 0 and year 1, the model's range, the last
  // OLE date (9999-12-31) and far ahead; each also a day either side.
  const long centres[] = {-800000000L, -693594L, -693229L, -1000L, 0L, 36526L, 2958465L, 800000000L};
  for (const Rule& r : rules) {
    CalendarRefs cal = newCalendar(factory_);
    ASSERT_EQ(S_OK, cal.manager->AddCycleEntry(-900000000.0, static_cast<ECALENDARCYCLE_CYCLETYPE>(r.type),
                                               static_cast<SHORT>(r.month),
                                               static_cast<ECALENDARCYCLE_DATEOFWEEK>(r.weekday),
                                               static_cast<ECALENDARCYCLE_YEARENDELECTION>(r.election),
                                               PDCOUNT_BACKWARD));
    const bool weeks = r.type != CYCLETYPE_MONTHLY;
    for (long centre : centres)
      for (long d = centre - 400; d <= centre + 400; d += 37) {
        SCOPED_TRACE("type " + std::to_string(r.type) + " month " + std::to_string(r.month) + " date " +
                     std::to_string(d));
        const RefYear year = engineYear(cal.calendar, static_cast<DATE>(d));
        ASSERT_TRUE(year.ok);
        EXPECT_LE(year.start, d);
        EXPECT_GE(year.end, d);
        const long length = year.end - year.start + 1;
        if (weeks) {
          EXPECT_TRUE(length == 364 || length == 371) << length;
          const long weekday = ((year.end - 1) % 7 + 7) % 7 + 1;  // serial 1 is a Sunday
          EXPECT_EQ(r.weekday, weekday);
        } else {
          EXPECT_TRUE(length == 365 || length == 366) << length;
        }
        EXPECT_EQ(year.end + 1, engineYear(cal.calendar, static_cast<DATE>(year.end + 1)).start);
        EXPECT_EQ(year.start - 1, engineYear(cal.calendar, static_cast<DATE>(year.start - 1)).end);
      }
  }
}

TEST_F(FiscalYearTest, DatesBeforeTheFirstCycleFollowItsRule) {
  CalendarRefs cal = calendarOf({
      {S(2001, 7, 1), CYCLETYPE_MONTHLY, 6, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},
      {S(2001, 7, 1), CYCLETYPE_MONTHLY, 3, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},
      {S(2004, 4, 1), CYCLETYPE_MONTHLY, 12, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},
  });
  expectYears(cal.calendar, {
      // Before 1 July 2001 the March rule (the last added on the first date) runs
      // backwards; the year before the first cycle ends the day before it begins.
      {{1999, 8, 15}, {1999, 4, 1}, {2000, 3, 31}},
      {{2001, 3, 31}, {2000, 4, 1}, {2001, 3, 31}},
      {{2001, 6, 30}, {2001, 4, 1}, {2001, 6, 30}},
      {{2001, 7, 1}, {2001, 7, 1}, {2002, 3, 31}},
  });
}

TEST_F(FiscalYearTest, MissingAndFractionalDates) {
  CalendarRefs cal = calendarOf({{S(1920, 1, 1), CYCLETYPE_MONTHLY, 12, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY}});
  // -1.0 (a missing date) is 29 December 1899.
  RefYear got = engineYear(cal.calendar, -1.0);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(S(1899, 1, 1), got.start);
  EXPECT_EQ(S(1899, 12, 31), got.end);
  // The time of day does not move the date, before 1899 either.
  got = engineYear(cal.calendar, static_cast<DATE>(S(2000, 12, 31)) + 0.99);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(S(2000, 12, 31), got.end);
  got = engineYear(cal.calendar, -1.75);
  ASSERT_TRUE(got.ok);
  EXPECT_EQ(S(1899, 12, 31), got.end);

  // A week cycle whose year ends near the missing date.
  CalendarRefs week = calendarOf({{S(1920, 1, 1), CYCLETYPE_FOURFOURFIVE, 12, DATEOFWEEK_SATURDAY,
                                   YEARENDELECTION_CLOSESTWEEKDAY}});
  ReferenceCalendar ref({{S(1920, 1, 1), CYCLETYPE_FOURFOURFIVE, 12, DATEOFWEEK_SATURDAY,
                          YEARENDELECTION_CLOSESTWEEKDAY}});
  expectSameYears(week.calendar, ref, -30, 30, 1, "around the missing date");
}

TEST_F(FiscalYearTest, EveryCallerKeepsTheYearItWasGiven) {
  CalendarRefs cal = calendarOf({{S(1990, 1, 1), CYCLETYPE_MONTHLY, 6, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY}});
  struct Row {
    int year, month, day;  // the date asked; the year runs July to June
  } rows[] = {{2001, 3, 5}, {2001, 8, 1}, {2010, 6, 30}, {2010, 7, 1}, {1995, 12, 31}};
  auto startOf = [](const Row& r) { return S(r.month > 6 ? r.year : r.year - 1, 7, 1); };
  auto endOf = [](const Row& r) { return S(r.month > 6 ? r.year + 1 : r.year, 6, 30); };
  auto expectYear = [](IVRFiscalYear* year, long start, long end, const char* what) {
    DATE s = 0, e = 0;
    ASSERT_EQ(S_OK, year->get_YRStartDate(&s)) << what;
    ASSERT_EQ(S_OK, year->get_YREndDate(&e)) << what;
    EXPECT_EQ(start, static_cast<long>(s)) << what;
    EXPECT_EQ(end, static_cast<long>(e)) << what;
  };

  // All held at once: later questions must not change an earlier answer.
  std::vector<CComPtr<IVRFiscalYear>> held;
  for (const Row& r : rows) {
    held.emplace_back();
    ASSERT_EQ(S_OK, cal.calendar->GetFiscalYear(static_cast<DATE>(S(r.year, r.month, r.day)), held.back().put()));
  }
  for (size_t i = 0; i < held.size(); ++i) {
    expectYear(held[i], startOf(rows[i]), endOf(rows[i]), "held");
    for (size_t j = 0; j < i; ++j) EXPECT_NE(held[i].get(), held[j].get()) << i << " and " << j;
  }

  // A caller's own changes stay with its object, and the next caller gets the
  // calendar's dates, not them.
  ASSERT_EQ(S_OK, held[0]->put_YRStartDate(static_cast<DATE>(S(1980, 1, 1))));
  ASSERT_EQ(S_OK, held[0]->put_YREndDate(static_cast<DATE>(S(1980, 2, 2))));
  held.clear();
  for (int round = 0; round < 2; ++round) {
    for (const Row& r : rows) {
      CComPtr<IVRFiscalYear> year;
      ASSERT_EQ(S_OK, cal.calendar->GetFiscalYear(static_cast<DATE>(S(r.year, r.month, r.day)), year.put()));
      expectYear(year, startOf(r), endOf(r), "asked one at a time");
      // Changed and released: the values must not reach the next answer.
      ASSERT_EQ(S_OK, year->put_YRStartDate(static_cast<DATE>(S(1980, 1, 1))));
    }
  }

  // One released before the next question is filled again rather than made anew.
  IVRFiscalYear* first = nullptr;
  {
    CComPtr<IVRFiscalYear> year;
    ASSERT_EQ(S_OK, cal.calendar->GetFiscalYear(static_cast<DATE>(S(2001, 3, 5)), year.put()));
    first = year.get();
  }
  CComPtr<IVRFiscalYear> again;
  ASSERT_EQ(S_OK, cal.calendar->GetFiscalYear(static_cast<DATE>(S(2010, 7, 1)), again.put()));
  EXPECT_EQ(first, again.get());
  // Reused with exactly the one reference of its new holder.
  EXPECT_EQ(2u, again->AddRef());
  EXPECT_EQ(1u, again->Release());
  expectYear(again, S(2010, 7, 1), S(2011, 6, 30), "reused");

  // A year outlives its calendar.
  cal = CalendarRefs{};
  expectYear(again, S(2010, 7, 1), S(2011, 6, 30), "after the calendar went");
}

// A calendar lends a year held inside itself while nobody holds that one, and
// a year of the caller's own while somebody does. In every order of letting go
// of the calendar and both years, each year keeps its dates while held, the
// calendar lets go of its cycles with its own last reference, and nothing is
// left when all three are gone.
TEST_F(FiscalYearTest, CalendarAndItsYearsGoInAnyOrder) {
  enum Holder { kCalendar, kFirstYear, kSecondYear };
  const Holder orders[][3] = {{kCalendar, kFirstYear, kSecondYear}, {kCalendar, kSecondYear, kFirstYear},
                              {kFirstYear, kCalendar, kSecondYear}, {kFirstYear, kSecondYear, kCalendar},
                              {kSecondYear, kCalendar, kFirstYear}, {kSecondYear, kFirstYear, kCalendar}};
  for (const auto& order : orders) {
    const std::string what = "releasing " + std::to_string(order[0]) + std::to_string(order[1]) +
                             std::to_string(order[2]);
    CComPtr<IVRCycleObject> cycle = newCycle(factory_);
    ASSERT_EQ(S_OK, cycle->put_EffectiveDate(static_cast<DATE>(S(1990, 1, 1))));
    ASSERT_EQ(S_OK, cycle->put_FYEndMonth(6));
    CalendarRefs cal = newCalendar(factory_);
    {
      CComPtr<IktEnumDispatch> list = newCollection();
      ASSERT_EQ(S_OK, list->Append(cycle));
      ASSERT_EQ(S_OK, cal.manager->put_CycleList(list));
    }
    // The test's reference and the calendar's.
    auto cycleReferences = [&] {
      const ULONG refs = cycle->AddRef();
      cycle->Release();
      return refs - 1;
    };
    ASSERT_EQ(2u, cycleReferences()) << what;

    CComPtr<IVRFiscalYear> years[2];
    ASSERT_EQ(S_OK, cal.calendar->GetFiscalYear(static_cast<DATE>(S(2001, 3, 5)), years[0].put()));
    ASSERT_EQ(S_OK, cal.calendar->GetFiscalYear(static_cast<DATE>(S(2010, 7, 1)), years[1].put()));
    ASSERT_NE(years[0].get(), years[1].get()) << what;
    const long ends[2] = {S(2001, 6, 30), S(2011, 6, 30)};
    auto expectEnds = [&](const char* when) {
      for (int y = 0; y < 2; ++y) {
        if (!years[y]) continue;
        DATE end = 0;
        ASSERT_EQ(S_OK, years[y]->get_YREndDate(&end)) << what << ", " << when;
        EXPECT_EQ(ends[y], static_cast<long>(end)) << what << ", year " << y << ", " << when;
        EXPECT_EQ(2u, years[y]->AddRef()) << what << ", year " << y << ", " << when;
        EXPECT_EQ(1u, years[y]->Release()) << what << ", year " << y << ", " << when;
      }
    };

    for (int step = 0; step < 3; ++step) {
      if (order[step] == kCalendar) {
        cal = CalendarRefs{};
        EXPECT_EQ(1u, cycleReferences()) << what << ": the calendar let go of its cycle";
      } else {
        years[order[step] == kFirstYear ? 0 : 1].Release();
      }
      expectEnds("after a release");
    }
    cycle.Release();
    factory_.Release();
    EXPECT_EQ(S_OK, Session::get().canUnloadNow()) << what << ": something was left";
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VRZELCalendarFactory, nullptr, 7, IID_IVRZELCalendarFactory,
                                     factory_.putVoid()));
  }
}

// Cycles added between questions go into the rules the calendar has read:
// the first rule lies inside the calendar, the others beyond it once there
// are more. Each addition lands before, between or after those there (the
// one inside moving out), and every answer follows the model.
TEST_F(FiscalYearTest, CyclesAddedBetweenQuestionsKeepTheirOrder) {
  const RefCycle added[] = {
      {S(2000, 1, 1), CYCLETYPE_MONTHLY, 6, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},
      {S(1990, 1, 1), CYCLETYPE_MONTHLY, 3, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},   // before
      {S(2010, 1, 1), CYCLETYPE_FOURFOURFIVE, 12, DATEOFWEEK_SATURDAY, YEARENDELECTION_CLOSESTWEEKDAY},  // after
      {S(1995, 7, 1), CYCLETYPE_MONTHLY, 9, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},   // between
      {S(1990, 1, 1), CYCLETYPE_MONTHLY, 11, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},  // same date: in force
      {S(1980, 1, 1), CYCLETYPE_MONTHLY, 1, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY},   // before all
  };
  CalendarRefs cal = newCalendar(factory_);
  std::vector<RefCycle> sofar;
  for (const RefCycle& c : added) {
    ASSERT_EQ(S_OK, addCycle(cal.manager, c));
    sofar.push_back(c);
    // Asked in full after each addition, so the next one finds its rules read.
    expectSameYears(cal.calendar, ReferenceCalendar(sofar), S(1975, 1, 1), S(2020, 12, 31), 61,
                    "after " + std::to_string(sofar.size()) + " cycles");
  }
}

TEST_F(FiscalYearTest, RefusedQueries) {
  CalendarRefs empty = newCalendar(factory_);
  CComPtr<IVRFiscalYear> year;
  EXPECT_LT(empty.calendar->GetFiscalYear(36526.0, year.put()), 0);
  EXPECT_FALSE(year);
  DATE d = 0;
  EXPECT_LT(empty.manager->FiscalYearEndDate(36526.0, &d), 0);

  CalendarRefs cal = calendarOf({{S(2000, 1, 1), CYCLETYPE_MONTHLY, 12, DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY}});
  for (DATE bad : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300}) {
    EXPECT_EQ(E_INVALIDARG, cal.calendar->GetFiscalYear(bad, year.put()));
    EXPECT_FALSE(year);
  }
  EXPECT_EQ(E_POINTER, cal.calendar->GetFiscalYear(36526.0, nullptr));
}

TEST_F(FiscalYearTest, AddCycleEntryKeepsUnusableRulesUntilTheyAreInForce) {
  // A date that is no date is refused and not kept.
  CalendarRefs cal = newCalendar(factory_);
  EXPECT_EQ(E_INVALIDARG, cal.manager->AddCycleEntry(std::nan(""), CYCLETYPE_MONTHLY, 12, DATEOFWEEK_SUNDAY,
                                                     YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD));
  CComPtr<IktEnumDispatch> list;
  ASSERT_EQ(S_OK, cal.manager->get_CycleList(list.put()));
  LONG count = -1;
  EXPECT_EQ(S_OK, list->get_Count(&count));
  EXPECT_EQ(0, count) << "a refused entry must not be kept";

  // Rules that cannot be used are kept; GetFiscalYear fails only where they rule.
  struct Row {
    int type, month, weekday, election;
  } rows[] = {
      {CYCLETYPE_MONTHLY, 0, 1, 336}, {CYCLETYPE_MONTHLY, 13, 1, 336}, {326, 12, 1, 336},
      {333, 12, 1, 336},              {CYCLETYPE_FOURFOURFIVE, 12, 0, 336}, {CYCLETYPE_FOURFOURFIVE, 12, 8, 336},
      {CYCLETYPE_FOURFOURFIVE, 12, 1, 338},
  };
  for (const Row& r : rows) {
    CalendarRefs c = newCalendar(factory_);
    ASSERT_EQ(S_OK, c.manager->AddCycleEntry(static_cast<DATE>(S(2000, 1, 1)), CYCLETYPE_MONTHLY, 12,
                                             DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD));
    EXPECT_EQ(S_OK, c.manager->AddCycleEntry(static_cast<DATE>(S(2010, 1, 1)),
                                             static_cast<ECALENDARCYCLE_CYCLETYPE>(r.type), static_cast<SHORT>(r.month),
                                             static_cast<ECALENDARCYCLE_DATEOFWEEK>(r.weekday),
                                             static_cast<ECALENDARCYCLE_YEARENDELECTION>(r.election),
                                             PDCOUNT_BACKWARD))
        << r.type << " " << r.month << " " << r.weekday << " " << r.election;
    RefYear before = engineYear(c.calendar, static_cast<DATE>(S(2005, 6, 1)));
    EXPECT_TRUE(before.ok);
    EXPECT_EQ(S(2005, 12, 31), before.end);
    EXPECT_FALSE(engineYear(c.calendar, static_cast<DATE>(S(2012, 6, 1))).ok)
        << r.type << " " << r.month << " " << r.weekday << " " << r.election;
  }
}

TEST_F(FiscalYearTest, CustomCycleIsOneYearFromItsEffectiveDateToItsEnd) {
  CalendarRefs cal = newCalendar(factory_);
  ASSERT_EQ(S_OK, cal.manager->AddCycleEntry(static_cast<DATE>(S(2000, 1, 1)), CYCLETYPE_MONTHLY, 12,
                                             DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD));
  ASSERT_EQ(S_OK, cal.manager->AddCycleEntry(static_cast<DATE>(S(2006, 1, 11)), CYCLETYPE_MONTHLY, 12,
                                             DATEOFWEEK_SUNDAY, YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD));
  // The custom cycle comes as a cycle object: only it carries an end date.
  CComPtr<IktEnumDispatch> list;
  ASSERT_EQ(S_OK, cal.manager->get_CycleList(list.put()));
  CComPtr<IVRCycleObject> custom = newCycle(factory_);
  ASSERT_EQ(S_OK, custom->put_CycleType(CYCLETYPE_CUSTOM));
  ASSERT_EQ(S_OK, custom->put_EffectiveDate(static_cast<DATE>(S(2005, 3, 15))));
  ASSERT_EQ(S_OK, custom->put_EndDate(static_cast<DATE>(S(2006, 1, 10))));
  ASSERT_EQ(S_OK, list->Append(custom));
  ASSERT_EQ(S_OK, cal.manager->put_CycleList(list));

  expectYears(cal.calendar, {
      {{2005, 2, 1}, {2005, 1, 1}, {2005, 3, 14}},   // cut short by the custom cycle
      {{2005, 3, 15}, {2005, 3, 15}, {2006, 1, 10}},
      {{2005, 12, 31}, {2005, 3, 15}, {2006, 1, 10}},
      {{2006, 1, 10}, {2005, 3, 15}, {2006, 1, 10}},
      {{2006, 1, 11}, {2006, 1, 11}, {2006, 12, 31}},
  });

  // A last custom cycle has no year after its end date.
  CalendarRefs alone = newCalendar(factory_);
  CComPtr<IktEnumDispatch> only = newCollection();
  ASSERT_EQ(S_OK, only->Append(custom));
  ASSERT_EQ(S_OK, alone.manager->put_CycleList(only));
  CComPtr<IVRFiscalYear> year;
  EXPECT_LT(alone.calendar->GetFiscalYear(static_cast<DATE>(S(2006, 1, 11)), year.put()), 0);
  EXPECT_FALSE(year);
  EXPECT_TRUE(engineYear(alone.calendar, static_cast<DATE>(S(2006, 1, 10))).ok);
}

}  // namespace
}  // namespace enginetest
