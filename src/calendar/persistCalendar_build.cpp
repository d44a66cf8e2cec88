// Filling _job.current->calendars for a company: calendars built from the books' year ends and
// short years, or the calendars stored in the database.
#include <cstdio>

#include "DATE.h"
#include "engineCalls.h"
#include "ktstr.h"
#include "persistCalendar.h"

using engineCalls::putAttribute;
using engineCalls::putAttributeWide;

namespace {

// Names of the built calendars 1 to 7; calendar i belongs to book i - 1.
const OLECHAR* const CalendarNames[7] = {
    OLESTR("Tax"), OLESTR("Internal"), OLESTR("State"), OLESTR("AMT"),
    OLESTR("ACE"), OLESTR("Book 6"),   OLESTR("Book 7"),
};

// Every built cycle is monthly; only the effective date and the month differ.
HRESULT addMonthlyCycle(IVRCalendarManager* manager, DATE effective, int32_t yearEndMonth) {
  return manager->AddCycleEntry(effective, CYCLETYPE_MONTHLY, static_cast<SHORT>(yearEndMonth), DATEOFWEEK_SUNDAY,
                                YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD);
}

}  // namespace

ktStr CPersistCalendar::bookKey(int16_t company, int32_t bookid) {
  return ktStr("CompanyID ") + ktStr(static_cast<int>(company)) + ", BookID " + ktStr(static_cast<int>(bookid));
}

// The key of a book's row-th short year (1-based, ShortYrID order), for a box
// about it. Read after the walk has been given up, so no pending rows are lost.
ktStr CPersistCalendar::shortYearKey(int16_t company, int32_t bookid, int32_t row) {
  ktStr key = bookKey(company, bookid);
  ktStr sql = ktStr("SELECT ShortYrID FROM BookShYr WHERE CompanyID = ") + ktStr(static_cast<int>(company)) +
              " AND BookID = " + ktStr(static_cast<int>(bookid)) + " ORDER BY ShortYrID";
  bool found = prepareHSTMT(sql);
  for (int32_t i = 1; found && i < row; ++i) found = nextRow();
  if (found) return key + ", ShortYrID " + ktStr(static_cast<int>(getInt(1)));
  return key + ", row " + ktStr(static_cast<int>(row)) + " in ShortYrID order";
}

HRESULT CPersistCalendar::_createCalendarList(int16_t company) {
  if (company < 0 || company == _job.currentCompany()) return S_OK;
  HRESULT hr = startCompany(company);
  if (FAILED(hr)) return hr;

  // A failed read stops the build at once: one set of boxes, no calendars.
  const uint32_t failuresBefore = _job.failures;
  _companyRowsSeen = false;
  const DATE busStart = _getBusStartDate(company);
  if (_job.failures != failuresBefore) return E_FAIL;
  for (int32_t i = 1; i <= 7; ++i) {
    ktStr calId(static_cast<int>(i));
    ktStr calComp(static_cast<int>(_job.currentCompany()));

    if (FAILED(hr = CheckFactory())) return hr;
    CComPtr<IDispatch> object;
    if (FAILED(hr = m_calFactory->CalendarFactory(object.put()))) return hr;
    CComPtr<IVRCalendar> calendar;
    CComPtr<IVRCalendarManager> manager;
    CComPtr<IVRPersistXML> xml;
    if (FAILED(hr = object.QueryInterface(IID_IVRCalendar, calendar))) return hr;
    if (FAILED(hr = object.QueryInterface(IID_IVRCalendarManager, manager))) return hr;
    if (FAILED(hr = object.QueryInterface(IID_IVRPersistXML, xml))) return hr;

    if (FAILED(hr = putAttributeWide(xml, OLESTR("Name"), CalendarNames[i - 1]))) return hr;
    if (FAILED(hr = putAttribute(xml, OLESTR("CalendarID"), calId))) return hr;
    if (FAILED(hr = putAttribute(xml, OLESTR("CompanyID"), calComp))) return hr;

    const int32_t origYrEnd = _getOrigYrEnd(i - 1, company);
    if (_job.failures != failuresBefore) return E_FAIL;
    if (FAILED(hr = addMonthlyCycle(manager, busStart, origYrEnd))) return hr;

    // The engine may refuse the short years of a book without a usable rule:
    // that book answers nothing, the others still do. A failed read is another
    // matter: a lost short year would move every later year end.
    IVRCalendar* target = calendar.get();
    _loadCalendarFromShortYears(i - 1, company, &target);
    if (_job.failures != failuresBefore) return E_FAIL;

    if (FAILED(hr = _job.current->calendars->Append(calendar))) return hr;
  }
  // Neither a Company row nor any Book row: the database does not know the
  // company, and December defaults would be a made-up answer.
  if (!_companyRowsSeen) return E_FAIL;
  return S_OK;
}

HRESULT CPersistCalendar::_loadCalendarFromShortYears(int32_t bookid, int16_t compid, IVRCalendar** pVal) {
  if (!pVal || !*pVal) return E_POINTER;
  IVRCalendar* calendar = *pVal;
  CComPtr<IVRCalendarManager> manager;
  HRESULT hr = calendar->QueryInterface(IID_IVRCalendarManager, manager.putVoid());
  if (FAILED(hr)) return hr;

  ktStr sql = ktStr("SELECT ShortYear FROM BookShYr WHERE CompanyID = ") + ktStr(static_cast<int>(compid)) +
              " AND BookID = " + ktStr(static_cast<int>(bookid)) + " ORDER BY ShortYrID";
  if (!prepareHSTMT(sql)) return S_OK;
  // Only the engine is called inside the walk: a new statement would drop the rows.
  int32_t row = 0;
  do {
    ++row;
    TIMESTAMP_STRUCT shortYear = {};
    ktStr stored;
    if (!getTimestamp(1, &shortYear) || !storedDateOk(1, shortYear, stored)) {
      // Named, since a lost short year would move every later year end.
      if (!stored) stored = storedText(1);
      badStoredValue("BookShYr", "ShortYear", shortYearKey(compid, bookid, row), stored, "a date");
      return E_FAIL;
    }
    const DATE date = DATEFromMDY(static_cast<int16_t>(shortYear.month), static_cast<int16_t>(shortYear.day),
                                  static_cast<int16_t>(shortYear.year));
    CComPtr<IVRFiscalYear> fiscalYear;
    if (FAILED(hr = calendar->GetFiscalYear(date, fiscalYear.put()))) return hr;
    if (!fiscalYear) return E_POINTER;
    DATE fyStart = 0.0;
    if (FAILED(hr = fiscalYear->get_YRStartDate(&fyStart))) return hr;
    if (FAILED(hr = addMonthlyCycle(manager, fyStart, shortYear.month))) return hr;
  } while (nextRow());
  return S_OK;
}

HRESULT CPersistCalendar::_getCalendarList(int16_t company) {
  if (company < 0 || company == _job.currentCompany()) return S_OK;
  HRESULT hr = startCompany(company);
  if (FAILED(hr)) return hr;

  const uint32_t failuresBefore = _job.failures;
  char sql[1024];
  std::snprintf(sql, sizeof sql, "SELECT CalendarID, CalendarName, UpdateFlag FROM Calendar WHERE CompanyID = %d",
                static_cast<int>(_job.currentCompany()));
  if (prepareHSTMT(sql)) {
    do {
      const int32_t id = getInt(1);
      ktStr stored;
      if (!storedNumberOk(1, stored)) {
        badStoredValue("Calendar", "CalendarID", (ktStr("CompanyID ") + ktStr(static_cast<int>(_job.currentCompany()))).data(),
                       stored, "a number");
        return E_FAIL;
      }
      char name[100];
      if (!getString(2, name, sizeof name)) name[0] = '\0';  // unreadable: counted, the build stops below
      const int32_t flag = getInt(3);
      if (!storedNumberOk(3, stored)) {
        badStoredValue("Calendar", "UpdateFlag", (ktStr("CompanyID ") + ktStr(static_cast<int>(_job.currentCompany())) +
                                                  ", CalendarID " + ktStr(static_cast<int>(id))).data(),
                       stored, "a number");
        return E_FAIL;
      }
      if (_job.failures != failuresBefore) return E_FAIL;  // a calendar misread is no calendar
      CComPtr<IVRCalendar> calendar;
      if (FAILED(hr = _getCalendar(id, ktStr(name), flag, _job.currentCompany(), calendar.put()))) return hr;
      if (FAILED(hr = _job.current->calendars->Append(calendar))) return hr;
    } while (nextRow());
  }
  if (_job.failures != failuresBefore) return E_FAIL;
  hr = _getCycleObject();
  if (_job.failures != failuresBefore) return E_FAIL;
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CPersistCalendar::_getCalendar(int32_t id, ktStr name, int32_t updateflag, int16_t companyid,
                                       IVRCalendar** pVal) {
  if (!pVal) return E_POINTER;
  ktStr sId(static_cast<int>(id));
  ktStr sCompany(static_cast<int>(companyid));
  ktStr sFlag(static_cast<int>(updateflag));
  *pVal = nullptr;

  HRESULT hr = CheckFactory();
  if (FAILED(hr)) return hr;
  CComPtr<IDispatch> object;
  if (FAILED(hr = m_calFactory->CalendarFactory(object.put()))) return hr;
  if (FAILED(hr = object->QueryInterface(IID_IVRCalendar, reinterpret_cast<void**>(pVal)))) return hr;
  CComPtr<IVRPersistXML> xml;
  if (FAILED(hr = object.QueryInterface(IID_IVRPersistXML, xml))) return hr;

  if (FAILED(hr = putAttribute(xml, OLESTR("Name"), name))) return hr;
  if (FAILED(hr = putAttribute(xml, OLESTR("CalendarID"), sId))) return hr;
  if (FAILED(hr = putAttribute(xml, OLESTR("CompanyID"), sCompany))) return hr;
  if (FAILED(hr = putAttribute(xml, OLESTR("UpdateFlag"), sFlag))) return hr;
  return S_OK;
}

int32_t CPersistCalendar::_getOrigYrEnd(int32_t bookid, int16_t company) {
  ktStr sql = ktStr("SELECT OrigYrEnd from Book where BookID = ") + ktStr(static_cast<int>(bookid)) +
              " AND CompanyID = " + ktStr(static_cast<int>(company));
  if (!prepareHSTMT(sql)) return 12;
  _companyRowsSeen = true;
  const int32_t month = getInt(1);
  ktStr stored;
  if (!storedNumberOk(1, stored))
    badStoredValue("Book", "OrigYrEnd", bookKey(company, bookid), stored, "a number");
  return month;
}

DATE CPersistCalendar::_getBusStartDate(int16_t company) {
  DATE result = 0.0;
  const uint32_t failuresBefore = _job.failures;
  ktStr sql = ktStr("Select BusnStart from Company where CompanyID=") + ktStr(static_cast<int>(company));
  if (prepareHSTMT(sql)) {
    _companyRowsSeen = true;
    TIMESTAMP_STRUCT start = {};
    if (!getTimestamp(1, &start)) return 0.0;
    ktStr stored;
    if (!storedDateOk(1, start, stored)) {
      badStoredValue("Company", "BusnStart", ktStr("CompanyID ") + ktStr(static_cast<int>(company)), stored, "a date");
      return 0.0;
    }
    // A NULL start reads as all zero and gives -1.0, which is not the fallback's 0.0.
    result = DATEFromMDY(static_cast<int16_t>(start.month), static_cast<int16_t>(start.day),
                         static_cast<int16_t>(start.year));
  }
  // The fallback stands in for a missing row, not for a failed read.
  if (result == 0.0 && _job.failures == failuresBefore) {
    // No usable company row: the month after the first open book's year end, in 1920.
    sql = ktStr("SELECT OrigYrEnd from Book where CompanyID = ") + ktStr(static_cast<int>(company)) +
          " AND IsOpen='T'";
    if (prepareHSTMT(sql)) {
      _companyRowsSeen = true;
      const int32_t yearEnd = getInt(1);
      ktStr stored;
      if (!storedNumberOk(1, stored)) {
        badStoredValue("Book", "OrigYrEnd", (ktStr("CompanyID ") + ktStr(static_cast<int>(company)) +
                                             ", the first open book").data(), stored, "a number");
        return 0.0;
      }
      // Wraps like 32-bit arithmetic instead of overflowing on absurd values.
      const int32_t startMonth = yearEnd == 12 ? 1 : static_cast<int32_t>(static_cast<uint32_t>(yearEnd) + 1u);
      result = DATEFromMDY(static_cast<int16_t>(startMonth), 1, 1920);
    }
  }
  return result;
}
