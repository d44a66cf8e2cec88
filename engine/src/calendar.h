// The fiscal calendar: an ordered list of cycle entries and its attributes.
#pragma once

#include <cstdint>
#include <vector>

#include "engine_com.h"
#include "enum_dispatch.h"
#include "fiscal_rules.h"
#include "inline_vector.h"
#include "persist_xml.h"

namespace vrz {

class Calendar;

class FiscalYear final : public ComObject<FiscalYear, DispatchImpl<IVRFiscalYear>> {
 public:
  FiscalYear() = default;
  ~FiscalYear() = default;

  HRESULT STDMETHODCALLTYPE get_YRStartDate(DATE* pVal) override;
  HRESULT STDMETHODCALLTYPE put_YRStartDate(DATE newVal) override;
  HRESULT STDMETHODCALLTYPE get_YREndDate(DATE* pVal) override;
  HRESULT STDMETHODCALLTYPE put_YREndDate(DATE newVal) override;

 private:
  friend class Calendar;
  friend class ComObject<FiscalYear, DispatchImpl<IVRFiscalYear>>;

  // A calendar's own year goes back to its calendar; any other is deleted.
  void lastReleased();

  DATE start_ = 0;
  DATE end_ = 0;
  Calendar* owner_ = nullptr;  // set for the year a calendar holds inside itself
};

// Aligned to a cache line so that what a warm GetFiscalYear reads and writes
// (the members from rulesReadAt_ to year_) lies on the two lines after the
// interfaces' line, none of it behind a pointer: a report that asks another
// calendar on every call then waits for the fewest lines.
class alignas(64) Calendar final
    : public ComObject<Calendar, DispatchImpl<IVRCalendar>, DispatchImpl<IVRCalendarManager>, PersistXmlImpl> {
 public:
  Calendar();
  ~Calendar();

  // The fiscal year containing the date, an object of the caller's own (its
  // dates stay as they are when the calendar is asked again): a failure without cycles, for a date
  // that is not finite or beyond the engine's range (E_INVALIDARG), or when the
  // cycle in force cannot place the year (E_FAIL).
  HRESULT STDMETHODCALLTYPE GetFiscalYear(DATE date, IVRFiscalYear** ppFiscalYear) override;

  // Periods within a fiscal year are not used by the report library and are not
  // offered: both answer E_NOTIMPL.
  HRESULT STDMETHODCALLTYPE GetPeriod(DATE date, IDispatch** ppPeriod) override;
  HRESULT STDMETHODCALLTYPE GetPeriodByNum(DATE fiscalYearDate, SHORT periodNum, IDispatch** ppPeriod) override;
  HRESULT STDMETHODCALLTYPE FiscalYearEndDate(DATE date, DATE* pVal) override;
  HRESULT STDMETHODCALLTYPE FiscalYearStartDate(DATE date, DATE* pVal) override;
  // E_INVALIDARG for a month outside 1..12, an unknown enumeration value or a
  // date the engine cannot hold.
  HRESULT STDMETHODCALLTYPE AddCycleEntry(DATE effectiveDate, ECALENDARCYCLE_CYCLETYPE cycleType, SHORT fyEndMonth,
                                          ECALENDARCYCLE_DATEOFWEEK dayOfWeek,
                                          ECALENDARCYCLE_YEARENDELECTION yearEndElect,
                                          ECALENDARCYCLE_PDCOUNTING pdCounting) override;
  HRESULT STDMETHODCALLTYPE ClearCycleEntries() override;
  // A collection of the calendar's own cycle objects, in effective-date order,
  // with its cursor at the start. The calendar keeps it and hands the same one
  // out again while nobody else holds it and nobody changed its items.
  HRESULT STDMETHODCALLTYPE get_CycleList(IktEnumDispatch** pVal) override;
  // Every item must answer IVRCycleObject (else E_INVALIDARG, and nothing changes).
  HRESULT STDMETHODCALLTYPE put_CycleList(IktEnumDispatch* newVal) override;
  HRESULT STDMETHODCALLTYPE get_IsDirty(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_IsDirty(SHORT newVal) override;

 private:
  HRESULT fiscalYearSpan(DATE date, FiscalYearSpan* span);
  // The rules in effective-date order, read from the cycle objects again only
  // when one of them may have changed since the last read.
  HRESULT currentRules(const CycleRule** rules, size_t* count);
  // Reads them now; throws std::bad_alloc, leaving them to be read again.
  void readRules();
  bool rulesAreCurrent() const;
  // The cycle list was replaced or cleared: forget what was read or handed out.
  void cyclesReplaced(bool foreign);

  friend class ComObject<Calendar, DispatchImpl<IVRCalendar>, DispatchImpl<IVRCalendarManager>, PersistXmlImpl>;
  friend class FiscalYear;
  // The last reference went: deleted now, or when its year comes back.
  void lastReleased();
  // The last holder of the calendar's own year released it.
  void yearReleased();

  // What a warm GetFiscalYear touches, together.
  uint64_t rulesReadAt_ = 0;
  bool rulesInOrder_ = true;  // else ordered_ holds them stably sorted
  bool unreadable_ = false;   // a cycle could not tell its rule: no answers
  // Some cycle object is not this engine's: its changes are invisible, so its
  // rule is read on every question.
  bool foreign_ = false;
  // year_ is in someone's hands; the calendar's memory stays until it comes
  // back, even when the calendar's own last reference went before (released_).
  bool yearLent_ = false;
  bool released_ = false;
  // rules_[i] is the rule of cycles_[i], read when cycleRuleEdits() stood at
  // rulesReadAt_ (0: not read). Most calendars have one cycle: its rule lies
  // inside the calendar.
  InlineVector<CycleRule, 1> rules_;
  // The year GetFiscalYear hands out while nobody holds it; while somebody
  // does, each caller gets a year of its own, so a year held keeps its values.
  FiscalYear year_;

  // Effective-date order; entries with the same date in the order they were added.
  std::vector<CComPtr<IVRCycleObject>> cycles_;
  SHORT dirty_ = 0;
  std::vector<CycleRule> ordered_;

  CComPtr<EnumDispatch> listView_;
  uint64_t listViewEdits_ = 0;
};

// The object behind CLSID_VRZELCalendarFactory.
class EngineFactory final : public ComObject<EngineFactory, DispatchImpl<IVRZELCalendarFactory>> {
 public:
  EngineFactory() = default;
  ~EngineFactory() = default;

  HRESULT STDMETHODCALLTYPE CalendarFactory(IDispatch** ppCalendar) override;
  HRESULT STDMETHODCALLTYPE CycleObjectFactory(IDispatch** ppCycle) override;
};

// Keeps cycles in effective-date order; a stable sort, so equal dates keep
// the order they were added in.
void sortByEffectiveDate(std::vector<CComPtr<IVRCycleObject>>* cycles);

}  // namespace vrz
