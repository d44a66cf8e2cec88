// The fiscal calendar: an ordered list of cycle entries and its attributes.
#pragma once

#include <cstdint>
#include <vector>

#include "engine_com.h"
#include "enum_dispatch.h"
#include "fiscal_rules.h"
#include "persist_xml.h"

namespace vrz {

class Calendar;

class FiscalYear final : public ComObject<FiscalYear, DispatchImpl<IVRFiscalYear>> {
 public:
  FiscalYear(DATE start, DATE end) : start_(start), end_(end) {}
  ~FiscalYear() = default;

  HRESULT STDMETHODCALLTYPE get_YRStartDate(DATE* pVal) override;
  HRESULT STDMETHODCALLTYPE put_YRStartDate(DATE newVal) override;
  HRESULT STDMETHODCALLTYPE get_YREndDate(DATE* pVal) override;
  HRESULT STDMETHODCALLTYPE put_YREndDate(DATE newVal) override;

 private:
  friend class Calendar;
  friend class ComObject<FiscalYear, DispatchImpl<IVRFiscalYear>>;

  // Goes back to its calendar for reuse while the calendar still wants it.
  void lastReleased();

  DATE start_;
  DATE end_;
  Calendar* owner_ = nullptr;  // set while its calendar may take it back
};

class Calendar final
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
  bool rulesAreCurrent() const;
  // The cycle list was replaced or cleared: forget what was read or handed out.
  void cyclesReplaced(bool foreign);

  // Effective-date order; entries with the same date in the order they were added.
  std::vector<CComPtr<IVRCycleObject>> cycles_;
  SHORT dirty_ = 0;

  // rules_[i] is the rule of cycles_[i], read when cycleRuleEdits() stood at
  // rulesReadAt_ (0: not read).
  std::vector<CycleRule> rules_;
  uint64_t rulesReadAt_ = 0;
  bool rulesInOrder_ = true;  // else ordered_ holds them stably sorted
  bool unreadable_ = false;   // a cycle could not tell its rule: no answers
  // Some cycle object is not this engine's: its changes are invisible, so its
  // rule is read on every question.
  bool foreign_ = false;
  std::vector<CycleRule> ordered_;

  CComPtr<EnumDispatch> listView_;
  uint64_t listViewEdits_ = 0;

  friend class FiscalYear;
  // The last holder of the year handed out last released it.
  void yearReleased(FiscalYear* year);

  // The year handed out last, while someone holds it, and one nobody holds any
  // more (no reference: the calendar owns it) that the next GetFiscalYear fills
  // again instead of allocating. A year held elsewhere keeps its own values.
  FiscalYear* lentYear_ = nullptr;
  FiscalYear* spareYear_ = nullptr;
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
