// The fiscal-year-end lookup: schema version, book slots, the book's calendar.
#include "DATE.h"
#include "companyDatabase.h"
#include "engineCalls.h"
#include "ktstr.h"
#include "persistCalendar.h"

using engineCalls::getAttributeNumber;

DATE CPersistCalendar::getFiscalYearEndInMonths(int16_t company, uint32_t bookID, uint32_t year, uint32_t month,
                                                uint32_t day) {
  return getFiscalYearEnd(company, bookID,
                          DATEFromMDY(static_cast<int16_t>(month), static_cast<int16_t>(day), static_cast<int16_t>(year)));
}

DATE CPersistCalendar::getFiscalYearEnd(int16_t company, uint32_t bookID, DATE date) {
  const int32_t book = static_cast<int32_t>(bookID);
  // Company numbers run from 0 to 32767; a negative one never borrows the
  // calendars of the company loaded before.
  if (company < 0) return 0.0;
  // Read once a process; the check is made here so a warm call makes no call for it.
  if (_majorVersion <= 0) {
    if (!_job.databaseDone() && !_job.versionFailed && !_job.versionTableMissing) _getSchemaVersion();
    // A version that could not be asked is no version: whichever calendars we
    // chose, they could be the wrong kind. No dates in this job.
    if (_job.versionFailed) return 0.0;
  }
  const int32_t slot = bookSlot(book);
  if (_majorVersion == companyDatabase::kStoredCalendarsVersion) {
    if (!useCompany(company, &CPersistCalendar::_getCalendarList)) return 0.0;
    // Asked only while the slot's identifier is unknown (a slot with its
    // calendar kept has one).
    if (slot >= 0 && !_job.companies.slotCalendar(company, slot) && _job.current->bookArr[slot] < 1) {
      // Not known and no way to ask: the last calendar must not answer for it.
      if (_job.databaseDone()) return 0.0;
      const uint32_t failuresBefore = _job.failures;
      _getCalendarIDFromBookID(book);
      if (_job.failures != failuresBefore) {
        // Without the book's identifier the last calendar would answer for it.
        dropCompany();
        return 0.0;
      }
    }
  } else {
    if (!useCompany(company, &CPersistCalendar::_createCalendarList)) return 0.0;
    // A slot resolved earlier in the job has its identifier already.
    if (slot < 0 || !_job.companies.slotCalendar(company, slot)) _createCalendarIDFromBookID(book);
  }
  return _getFYEDate(company, book, date);
}

int32_t CPersistCalendar::_getSchemaVersion() {
  if (_majorVersion > 0 || _job.versionFailed || _job.versionTableMissing || _job.databaseDone()) return 0;
  const uint32_t failuresBefore = _job.failures;
  _missingTableState = false;
  if (prepareHSTMT(companyDatabase::kVersionQuery)) {
    char info[20];
    if (getString(1, info, sizeof info)) _majorVersion = static_cast<int16_t>(companyDatabase::majorVersion(info));
  }
  // Old databases without a version table rely on the built calendars. Any
  // other failure (no right to read it, a lock, a timeout, a lost link) says
  // nothing about the version: the job gives no dates and asks again next job.
  if (_job.failures != failuresBefore) {
    if (versionTableMissing(_missingTableState))
      _job.versionTableMissing = true;
    else
      _job.versionFailed = true;
  }
  return 0;
}

int32_t CPersistCalendar::_getCalendarIDFromBookID(int32_t bookid) {
  const int32_t slot = bookSlot(bookid);
  if (slot < 0 || !_job.current || _job.current->bookArr[slot] >= 1) return 0;
  const int16_t company = _job.current->company;
  ktStr sql = ktStr("SELECT CalendarID FROM Book WHERE CompanyID = ") + ktStr(static_cast<int>(company)) +
              " AND BookID = " + ktStr(static_cast<int>(slot));
  // NULL (0) and unreadable (-1) are kept below 1, so the next call asks again.
  if (prepareHSTMT(sql)) {
    const int32_t id = getInt(1);
    ktStr stored;
    if (!storedNumberOk(1, stored)) {
      badStoredValue("Book", "CalendarID", bookKey(company, slot), stored, "a number");
      return 0;
    }
    _job.current->bookArr[slot] = id;
  }
  return 0;
}

int32_t CPersistCalendar::_createCalendarIDFromBookID(int32_t bookid) {
  const int32_t slot = bookSlot(bookid);
  if (slot >= 0 && _job.current && _job.current->bookArr[slot] < 1) _job.current->bookArr[slot] = slot + 1;
  return 0;
}

DATE CPersistCalendar::_getFYEDate(int16_t company, int32_t bookid, DATE date) {
  const int32_t slot = bookSlot(bookid);
  // A book without a slot, or no calendars at all, has no calendar to ask.
  if (slot < 0 || !_job.current || _job.current->company != company || !_job.current->calendars) return 0.0;
  CComPtr<IVRCalendar> walked;
  IVRCalendar* resolved = _job.companies.slotCalendar(company, slot);
  if (!resolved) {
    if (FAILED(resolveSlot(*_job.current, slot, walked))) return 0.0;
    resolved = walked;
  }
  CComPtr<IVRFiscalYear> fiscalYear;
  if (FAILED(resolved->GetFiscalYear(date, fiscalYear.put())) || !fiscalYear) return 0.0;
  DATE end = 0.0;
  if (FAILED(fiscalYear->get_YREndDate(&end))) return 0.0;
  return end;
}

// The walk over the company's calendars for the slot's identifier. Its outcome
// (the matching calendar, or the last one when none matches) is kept for the
// job once the identifier is known: the list and the identifier cannot change
// within a job, so later lookups go straight to the calendar. An identifier
// still unknown (a NULL CalendarID, asked again next call) is not kept.
HRESULT CPersistCalendar::resolveSlot(JobCompany& company, int32_t slot, CComPtr<IVRCalendar>& chosen) {
  IktEnumDispatch* const list = company.calendars;
  LONG count = 0;
  if (FAILED(list->get_Count(&count)) || count < 1) return E_FAIL;
  // The attribute's name is made once, not on every walk.
  if (!_calendarIdName) _calendarIdName.Attach(SysAllocString(OLESTR("CalendarID")));
  if (!_calendarIdName) return E_OUTOFMEMORY;

  CComPtr<IVRPersistXML> xml;
  CComPtr<IVRCalendarManager> manager;
  CComPtr<IVRCalendar> calendar;
  const long wanted = company.bookArr[slot];
  for (LONG i = 0; i < count; ++i) {
    CComPtr<IDispatch> element;
    HRESULT hr;
    if (FAILED(hr = list->get_GetAt(i, element.put()))) return hr;
    if (FAILED(hr = element.QueryInterface(IID_IVRPersistXML, xml))) return hr;
    if (FAILED(hr = element.QueryInterface(IID_IVRCalendarManager, manager))) return hr;
    if (FAILED(hr = element.QueryInterface(IID_IVRCalendar, calendar))) return hr;
    long id = 0;
    if (FAILED(hr = getAttributeNumber(xml, _calendarIdName, id))) return hr;
    if (id == wanted) break;
    // No match at all leaves the last calendar of the collection to answer.
  }
  // The chosen calendar must have a readable cycle list to answer at all.
  CComPtr<IktEnumDispatch> cycles;
  LONG cycleCount = 0;
  if (FAILED(manager->get_CycleList(cycles.put())) || !cycles || FAILED(cycles->get_Count(&cycleCount)))
    return E_FAIL;
  chosen = calendar;
  if (wanted >= 1) _job.companies.slotCalendar(company.company, slot) = calendar;
  return S_OK;
}
