#include "cycle_object.h"

#include <atomic>

namespace vrz {

namespace {

std::atomic<uint64_t> ruleEdits{1};

// A rule field changed: calendars holding this object read their rules again.
void ruleEdited() { ruleEdits.fetch_add(1, std::memory_order_relaxed); }

template <class T>
HRESULT getValue(T* out, T value) {
  if (!out) return E_POINTER;
  *out = value;
  return S_OK;
}

}  // namespace

HRESULT CycleObject::QueryInterface(REFIID riid, void** ppv) {
  if (ppv && IsEqualGUID(riid, IID_EngineCycleObject)) {
    AddRef();
    *ppv = static_cast<IVRCycleObject*>(this);
    return S_OK;
  }
  return ComObject::QueryInterface(riid, ppv);
}

HRESULT CycleObject::get_CycleType(ECALENDARCYCLE_CYCLETYPE* pVal) { return getValue(pVal, type_); }
HRESULT CycleObject::put_CycleType(ECALENDARCYCLE_CYCLETYPE newVal) {
  type_ = newVal;
  dirty_ = 1;
  ruleEdited();
  return S_OK;
}

HRESULT CycleObject::get_DateOfWeek(ECALENDARCYCLE_DATEOFWEEK* pVal) { return getValue(pVal, weekday_); }
HRESULT CycleObject::put_DateOfWeek(ECALENDARCYCLE_DATEOFWEEK newVal) {
  weekday_ = newVal;
  dirty_ = 1;
  ruleEdited();
  return S_OK;
}

HRESULT CycleObject::get_PDCounting(ECALENDARCYCLE_PDCOUNTING* pVal) { return getValue(pVal, counting_); }
HRESULT CycleObject::put_PDCounting(ECALENDARCYCLE_PDCOUNTING newVal) {
  counting_ = newVal;
  dirty_ = 1;
  return S_OK;
}

HRESULT CycleObject::get_YearEndElect(ECALENDARCYCLE_YEARENDELECTION* pVal) { return getValue(pVal, election_); }
HRESULT CycleObject::put_YearEndElect(ECALENDARCYCLE_YEARENDELECTION newVal) {
  election_ = newVal;
  dirty_ = 1;
  ruleEdited();
  return S_OK;
}

HRESULT CycleObject::get_FYEndMonth(SHORT* pVal) { return getValue(pVal, month_); }
HRESULT CycleObject::put_FYEndMonth(SHORT newVal) {
  month_ = newVal;
  dirty_ = 1;
  ruleEdited();
  return S_OK;
}

HRESULT CycleObject::get_EffectiveDate(DATE* pVal) { return getValue(pVal, effective_); }
HRESULT CycleObject::put_EffectiveDate(DATE newVal) {
  if (!validDate(newVal)) return E_INVALIDARG;
  effective_ = newVal;
  dirty_ = 1;
  ruleEdited();
  return S_OK;
}

HRESULT CycleObject::get_EndDate(DATE* pVal) { return getValue(pVal, end_); }
HRESULT CycleObject::put_EndDate(DATE newVal) {
  if (!validDate(newVal)) return E_INVALIDARG;
  end_ = newVal;
  dirty_ = 1;
  ruleEdited();
  return S_OK;
}

HRESULT CycleObject::get_YearNumberOffset(SHORT* pVal) { return getValue(pVal, yearOffset_); }
HRESULT CycleObject::put_YearNumberOffset(SHORT newVal) {
  yearOffset_ = newVal;
  dirty_ = 1;
  return S_OK;
}

HRESULT CycleObject::get_NumberOfYears(SHORT* pVal) { return getValue(pVal, years_); }
HRESULT CycleObject::put_NumberOfYears(SHORT newVal) {
  years_ = newVal;
  dirty_ = 1;
  return S_OK;
}

HRESULT CycleObject::get_IsDirty(SHORT* pVal) { return getValue(pVal, dirty_); }
HRESULT CycleObject::put_IsDirty(SHORT newVal) {
  dirty_ = newVal;
  return S_OK;
}

uint64_t cycleRuleEdits() { return ruleEdits.load(std::memory_order_relaxed); }

bool readRule(IVRCycleObject* cycle, CycleRule* rule) {
  ECALENDARCYCLE_CYCLETYPE type;
  ECALENDARCYCLE_DATEOFWEEK weekday;
  ECALENDARCYCLE_YEARENDELECTION election;
  SHORT month;
  DATE effective, end;
  if (FAILED(cycle->get_CycleType(&type)) || FAILED(cycle->get_DateOfWeek(&weekday)) ||
      FAILED(cycle->get_YearEndElect(&election)) || FAILED(cycle->get_FYEndMonth(&month)) ||
      FAILED(cycle->get_EffectiveDate(&effective)) || FAILED(cycle->get_EndDate(&end)))
    return false;
  if (!validDate(effective) || !validDate(end)) return false;
  rule->type = type;
  rule->weekday = weekday;
  rule->election = election;
  rule->month = month;
  rule->effective = dayOf(effective);
  rule->end = dayOf(end);
  return true;
}

}  // namespace vrz
