#include "calendar.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "cycle_object.h"
#include "enum_dispatch.h"

namespace vrz {

void sortByEffectiveDate(std::vector<CComPtr<IVRCycleObject>>* cycles) {
  std::vector<std::pair<double, CComPtr<IVRCycleObject>>> keyed;
  keyed.reserve(cycles->size());
  for (auto& c : *cycles) {
    DATE effective;
    // An object that cannot tell its date goes last; such a calendar cannot
    // answer anyway.
    double key = SUCCEEDED(c->get_EffectiveDate(&effective)) && validDate(effective)
                     ? static_cast<double>(dayOf(effective))
                     : std::numeric_limits<double>::infinity();
    keyed.emplace_back(key, std::move(c));
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < keyed.size(); ++i) (*cycles)[i] = std::move(keyed[i].second);
}

Calendar::Calendar() : rulesReadAt_(cycleRuleEdits()) { year_.owner_ = this; }

Calendar::~Calendar() = default;

void Calendar::lastReleased() {
  if (!yearLent_) {
    delete this;
    return;
  }
  // Gone for its callers: what it holds goes now, its memory with its year.
  released_ = true;
  cycles_.clear();
  cyclesReplaced(false);
}

void Calendar::yearReleased() {
  yearLent_ = false;
  if (released_) delete this;
}

void FiscalYear::lastReleased() {
  if (owner_)
    owner_->yearReleased();
  else
    delete this;
}

bool Calendar::rulesAreCurrent() const { return !foreign_ && rulesReadAt_ == cycleRuleEdits(); }

void Calendar::readRules() {
  const uint64_t edits = cycleRuleEdits();
  rulesReadAt_ = 0;  // until the read is complete
  rules_.resize(cycles_.size());
  unreadable_ = false;
  for (size_t i = 0; i < cycles_.size() && !unreadable_; ++i) unreadable_ = !readRule(cycles_[i], &rules_[i]);
  const auto byDate = [](const CycleRule& a, const CycleRule& b) { return a.effective < b.effective; };
  // A cycle object may have been changed since it was added: order again.
  rulesInOrder_ = unreadable_ || std::is_sorted(rules_.begin(), rules_.end(), byDate);
  ordered_.clear();
  if (!rulesInOrder_) {
    ordered_.assign(rules_.begin(), rules_.end());
    std::stable_sort(ordered_.begin(), ordered_.end(), byDate);
  }
  rulesReadAt_ = edits;
}

HRESULT Calendar::currentRules(const CycleRule** rules, size_t* count) {
  if (!rulesAreCurrent()) {
    HRESULT hr = guarded([&] {
      readRules();
      return S_OK;
    });
    if (FAILED(hr)) return hr;
  }
  if (unreadable_) return E_FAIL;
  *rules = rulesInOrder_ ? rules_.data() : ordered_.data();
  *count = rules_.size();
  return S_OK;
}

void Calendar::cyclesReplaced(bool foreign) {
  rules_.clear();
  ordered_.clear();
  rulesInOrder_ = true;
  unreadable_ = false;
  foreign_ = foreign;
  rulesReadAt_ = foreign || !cycles_.empty() ? 0 : cycleRuleEdits();
  listView_.Release();
}

HRESULT Calendar::fiscalYearSpan(DATE date, FiscalYearSpan* span) {
  if (!validDate(date)) return E_INVALIDARG;
  const CycleRule* rules = nullptr;
  size_t count = 0;  // no cycles, no rules: fiscalYearOf refuses
  HRESULT hr = currentRules(&rules, &count);
  if (FAILED(hr)) return hr;
  return fiscalYearOf(rules, count, dayOf(date), span);
}

HRESULT Calendar::GetFiscalYear(DATE date, IVRFiscalYear** ppFiscalYear) {
  if (!ppFiscalYear) return E_POINTER;
  *ppFiscalYear = nullptr;
  FiscalYearSpan span;
  HRESULT hr = fiscalYearSpan(date, &span);
  if (FAILED(hr)) return hr;
  FiscalYear* year = &year_;
  if (yearLent_) {
    year = createObject<FiscalYear>();
    if (!year) return E_OUTOFMEMORY;
  } else {
    year_.revive();
    yearLent_ = true;
  }
  year->start_ = static_cast<DATE>(span.start);
  year->end_ = static_cast<DATE>(span.end);
  *ppFiscalYear = year;
  return S_OK;
}

HRESULT Calendar::GetPeriod(DATE, IDispatch** ppPeriod) {
  if (ppPeriod) *ppPeriod = nullptr;
  return E_NOTIMPL;
}

HRESULT Calendar::GetPeriodByNum(DATE, SHORT, IDispatch** ppPeriod) {
  if (ppPeriod) *ppPeriod = nullptr;
  return E_NOTIMPL;
}

HRESULT Calendar::FiscalYearEndDate(DATE date, DATE* pVal) {
  if (!pVal) return E_POINTER;
  FiscalYearSpan span;
  HRESULT hr = fiscalYearSpan(date, &span);
  if (SUCCEEDED(hr)) *pVal = static_cast<DATE>(span.end);
  return hr;
}

HRESULT Calendar::FiscalYearStartDate(DATE date, DATE* pVal) {
  if (!pVal) return E_POINTER;
  FiscalYearSpan span;
  HRESULT hr = fiscalYearSpan(date, &span);
  if (SUCCEEDED(hr)) *pVal = static_cast<DATE>(span.start);
  return hr;
}

HRESULT Calendar::AddCycleEntry(DATE effectiveDate, ECALENDARCYCLE_CYCLETYPE cycleType, SHORT fyEndMonth,
                                ECALENDARCYCLE_DATEOFWEEK dayOfWeek, ECALENDARCYCLE_YEARENDELECTION yearEndElect,
                                ECALENDARCYCLE_PDCOUNTING pdCounting) {
  // Only the date is checked here. A rule that cannot be used (a month of 0 from a
  // NULL column, say) is kept like a stored cycle and fails GetFiscalYear only
  // while it is in force, so one bad book does not stop its company's others.
  if (!validDate(effectiveDate)) return E_INVALIDARG;
  CComPtr<IVRCycleObject> cycle;
  cycle.Attach(createObject<CycleObject>(effectiveDate, cycleType, fyEndMonth, dayOfWeek, yearEndElect, pdCounting));
  if (!cycle) return E_OUTOFMEMORY;
  return guarded([&] {
    // After every entry of the same or an earlier date: the newest is in force.
    const Day effective = dayOf(effectiveDate);
    size_t at = cycles_.size();
    const bool keepRules = rulesAreCurrent() && !unreadable_ && rulesInOrder_;
    if (keepRules) {
      // The rules read are the cycles' own, in the same order: search them.
      at = static_cast<size_t>(
          std::upper_bound(rules_.begin(), rules_.end(), effective,
                           [](Day e, const CycleRule& r) { return e < r.effective; }) -
          rules_.begin());
    } else {
      while (at > 0) {
        DATE before;
        if (SUCCEEDED(cycles_[at - 1]->get_EffectiveDate(&before)) && validDate(before) &&
            dayOf(before) <= effective)
          break;
        --at;
      }
    }
    const uint64_t readAt = rulesReadAt_;
    rulesReadAt_ = 0;  // until both lists hold the new entry
    CycleRule rule;
    readRule(cycle, &rule);
    if (keepRules) rules_.insert(rules_.begin() + at, rule);
    cycles_.insert(cycles_.begin() + static_cast<std::ptrdiff_t>(at), std::move(cycle));
    if (keepRules) rulesReadAt_ = readAt;
    listView_.Release();
    dirty_ = 1;
    return S_OK;
  });
}

HRESULT Calendar::ClearCycleEntries() {
  std::vector<CComPtr<IVRCycleObject>> gone;
  gone.swap(cycles_);
  cyclesReplaced(false);
  dirty_ = 1;
  return S_OK;
}

HRESULT Calendar::get_CycleList(IktEnumDispatch** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (!listView_ || listView_->references() != 1 || listView_->itemEdits() != listViewEdits_) {
    // Nothing kept, or the one kept is in someone's hands or was changed: a new one.
    CComPtr<EnumDispatch> list;
    list.Attach(createObject<EnumDispatch>());
    if (!list) return E_OUTOFMEMORY;
    for (auto& c : cycles_) {
      HRESULT hr = list->Append(c.get());
      if (FAILED(hr)) return hr;
    }
    listView_ = std::move(list);
    listViewEdits_ = listView_->itemEdits();
  }
  listView_->Reset();
  listView_->AddRef();
  *pVal = listView_.get();
  return S_OK;
}

HRESULT Calendar::put_CycleList(IktEnumDispatch* newVal) {
  if (!newVal) return E_POINTER;
  LONG count = 0;
  HRESULT hr = newVal->get_Count(&count);
  if (FAILED(hr)) return hr;
  return guarded([&] {
    std::vector<CComPtr<IVRCycleObject>> cycles;
    cycles.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    bool foreign = false;
    for (LONG i = 0; i < count; ++i) {
      CComPtr<IDispatch> item;
      HRESULT step = newVal->get_GetAt(i, item.put());
      if (FAILED(step)) return step;
      CComPtr<IVRCycleObject> cycle;
      if (!item || FAILED(item.QueryInterface(IID_IVRCycleObject, cycle)) || !cycle) return E_INVALIDARG;
      CComPtr<IUnknown> own;
      foreign = foreign || FAILED(cycle->QueryInterface(IID_EngineCycleObject, own.putVoid())) || !own;
      cycles.push_back(std::move(cycle));
    }
    sortByEffectiveDate(&cycles);
    cycles_.swap(cycles);
    cyclesReplaced(foreign);
    dirty_ = 1;
    return S_OK;  // the previous cycles are released with the local list
  });
}

HRESULT Calendar::get_IsDirty(SHORT* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = dirty_;
  return S_OK;
}

HRESULT Calendar::put_IsDirty(SHORT newVal) {
  dirty_ = newVal;
  return S_OK;
}

HRESULT FiscalYear::get_YRStartDate(DATE* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = start_;
  return S_OK;
}

HRESULT FiscalYear::put_YRStartDate(DATE newVal) {
  if (!validDate(newVal)) return E_INVALIDARG;
  start_ = newVal;
  return S_OK;
}

HRESULT FiscalYear::get_YREndDate(DATE* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = end_;
  return S_OK;
}

HRESULT FiscalYear::put_YREndDate(DATE newVal) {
  if (!validDate(newVal)) return E_INVALIDARG;
  end_ = newVal;
  return S_OK;
}

HRESULT EngineFactory::CalendarFactory(IDispatch** ppCalendar) {
  if (!ppCalendar) return E_POINTER;
  Calendar* calendar = createObject<Calendar>();
  *ppCalendar = calendar ? static_cast<IDispatch*>(static_cast<IVRCalendar*>(calendar)) : nullptr;
  return calendar ? S_OK : E_OUTOFMEMORY;
}

HRESULT EngineFactory::CycleObjectFactory(IDispatch** ppCycle) {
  if (!ppCycle) return E_POINTER;
  CycleObject* cycle = createObject<CycleObject>();
  *ppCycle = cycle ? static_cast<IDispatch*>(static_cast<IVRCycleObject*>(cycle)) : nullptr;
  return cycle ? S_OK : E_OUTOFMEMORY;
}

}  // namespace vrz
