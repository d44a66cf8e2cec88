// Stored calendar cycles: CycleObject rows become the engine's cycle objects.
#include "DATE.h"
#include "ccombstr.h"
#include "engineCalls.h"
#include "ktstr.h"
#include "persistCalendar.h"

using engineCalls::getAttribute;
using engineCalls::putAttribute;
using engineCalls::putAttributeWide;

HRESULT CPersistCalendar::_getCycleObject() {
  if (!_job.current->calendars) return S_OK;
  LONG count = 0;
  HRESULT hr = _job.current->calendars->get_Count(&count);
  if (FAILED(hr)) return hr;

  for (LONG i = 0; i < count; ++i) {
    CComPtr<IDispatch> element;
    CComPtr<IVRPersistXML> xml;
    CComPtr<IVRCalendarManager> manager;
    if (FAILED(hr = _job.current->calendars->get_GetAt(i, element.put()))) return hr;
    if (FAILED(hr = element.QueryInterface(IID_IVRPersistXML, xml))) return hr;
    if (FAILED(hr = element.QueryInterface(IID_IVRCalendarManager, manager))) return hr;

    // The calendar's own key, as _getCalendar wrote it.
    ktStr id, company;
    if (FAILED(hr = getAttribute(xml, OLESTR("CalendarID"), id))) return hr;
    if (FAILED(hr = getAttribute(xml, OLESTR("CompanyID"), company))) return hr;

    CComPtr<IktEnumDispatch> cycles;
    if (FAILED(hr = _getCycleObjectList(id, company, cycles.put()))) return hr;
    if (FAILED(hr = manager->put_CycleList(cycles))) return hr;
    if (FAILED(hr = manager->put_IsDirty(0))) return hr;

    CComPtr<IktEnumDispatch> readBack;
    LONG cycleCount = 0;
    if (FAILED(hr = manager->get_CycleList(readBack.put()))) return hr;
    if (!readBack) return E_POINTER;
    if (FAILED(hr = readBack->get_Count(&cycleCount))) return hr;
  }
  return S_OK;
}

namespace {

DATE dateOf(const TIMESTAMP_STRUCT& ts) {
  return DATEFromMDY(static_cast<int16_t>(ts.month), static_cast<int16_t>(ts.day), static_cast<int16_t>(ts.year));
}

}  // namespace

HRESULT CPersistCalendar::_getCycleObjectList(ktStr calid, ktStr companyid, IktEnumDispatch** pVal) {
  if (!pVal) return E_POINTER;
  CComPtr<IktEnumDispatch> collection;
  HRESULT hr = engineCalls::createCollection(collection);
  if (FAILED(hr)) return hr;

  ktStr sql = ktStr(
                  "SELECT CycleID, EffectiveDate, EndDate, CycleType, DayOfWeek, PDCounting, YearEndElection, "
                  "FYEndMonth, YearOffset, UpdateFlag FROM CycleObject WHERE CalendarID = ") +
              calid + " AND CompanyID = " + companyid + " ORDER BY EffectiveDate";
  const uint32_t walkFailures = _job.failures;
  if (prepareHSTMT(sql)) {
    // Only the engine is called inside the walk: a new statement would drop the rows.
    do {
      CComBSTR wideCompany, wideCalendar;
      wideCompany = companyid.data();
      wideCalendar = calid.data();

      // A date or number that cannot be read is an error, not a shorter list:
      // the company gets no calendars in this job (the boxes have been shown).
      static const char* const kColumns[11] = {"",           "CycleID",         "EffectiveDate", "EndDate",
                                               "CycleType",  "DayOfWeek",       "PDCounting",    "YearEndElection",
                                               "FYEndMonth", "YearOffset",      "UpdateFlag"};
      const uint32_t failuresBefore = _job.failures;
      int32_t number[11] = {};
      TIMESTAMP_STRUCT effective = {}, end = {};
      int16_t badColumn = 0;
      ktStr stored;
      for (int16_t column = 1; column <= 10 && badColumn == 0; ++column) {
        bool ok = true;
        if (column == 2 || column == 3) {
          TIMESTAMP_STRUCT& ts = column == 2 ? effective : end;
          if (!getTimestamp(column, &ts)) return E_FAIL;
          ok = storedDateOk(column, ts, stored);
        } else {
          number[column] = getInt(column);
          ok = storedNumberOk(column, stored);
        }
        if (!ok) badColumn = column;
      }
      if (_job.failures != failuresBefore) return E_FAIL;
      if (badColumn != 0) {
        ktStr key = ktStr("CompanyID ") + companyid + ", CalendarID " + calid;
        if (badColumn != 1) key += ktStr(", CycleID ") + ktStr(static_cast<int>(number[1]));
        badStoredValue("CycleObject", kColumns[badColumn], key, stored,
                       badColumn == 2 || badColumn == 3 ? "a date" : "a number");
        return E_FAIL;
      }
      const int32_t cycleId = number[1], cycleType = number[4], dayOfWeek = number[5], pdCounting = number[6],
                    yearEndElection = number[7], fyEndMonth = number[8], yearOffset = number[9],
                    updateFlag = number[10];

      ktStr sCycleId(static_cast<int>(cycleId));
      ktStr sUpdateFlag(static_cast<int>(updateFlag));
      const DATE effectiveDate = dateOf(effective);
      const DATE endDate = dateOf(end);

      if (!m_calFactory) return E_POINTER;  // stored calendars were made through it
      CComPtr<IDispatch> object;
      CComPtr<IVRCycleObject> cycle;
      CComPtr<IVRPersistXML> xml;
      if (FAILED(hr = m_calFactory->CycleObjectFactory(object.put()))) return hr;
      if (FAILED(hr = object.QueryInterface(IID_IVRCycleObject, cycle))) return hr;
      if (FAILED(hr = object.QueryInterface(IID_IVRPersistXML, xml))) return hr;

      // The cycle's values through its setters, in order; the first that fails stops them.
      auto set = [&](auto setter, auto value) {
        if (SUCCEEDED(hr)) hr = (cycle.get()->*setter)(value);
      };
      set(&IVRCycleObject::put_EffectiveDate, effectiveDate);
      set(&IVRCycleObject::put_EndDate, endDate);
      set(&IVRCycleObject::put_CycleType, static_cast<ECALENDARCYCLE_CYCLETYPE>(cycleType));
      set(&IVRCycleObject::put_DateOfWeek, static_cast<ECALENDARCYCLE_DATEOFWEEK>(dayOfWeek));
      set(&IVRCycleObject::put_PDCounting, static_cast<ECALENDARCYCLE_PDCOUNTING>(pdCounting));
      set(&IVRCycleObject::put_YearEndElect, static_cast<ECALENDARCYCLE_YEARENDELECTION>(yearEndElection));
      set(&IVRCycleObject::put_FYEndMonth, static_cast<SHORT>(fyEndMonth));
      set(&IVRCycleObject::put_YearNumberOffset, static_cast<SHORT>(yearOffset));
      set(&IVRCycleObject::put_IsDirty, SHORT{0});
      if (FAILED(hr)) return hr;

      if (!wideCompany.m_str || !wideCalendar.m_str) return E_OUTOFMEMORY;
      if (FAILED(hr = putAttributeWide(xml, OLESTR("CompanyID"), wideCompany.m_str))) return hr;
      if (FAILED(hr = putAttributeWide(xml, OLESTR("CalendarID"), wideCalendar.m_str))) return hr;
      if (FAILED(hr = putAttribute(xml, OLESTR("CycleID"), sCycleId))) return hr;
      if (FAILED(hr = putAttribute(xml, OLESTR("UpdateFlag"), sUpdateFlag))) return hr;

      if (FAILED(hr = collection->Append(cycle))) return hr;
    } while (nextRow());
  }
  if (_job.failures != walkFailures) return E_FAIL;  // a fetch failed part way
  return collection->QueryInterface(IID_IktEnumDispatch, reinterpret_cast<void**>(pVal));
}
