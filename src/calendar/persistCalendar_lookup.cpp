// The fiscal-year-end lookup: schema version, book slots, the book's calendar.
#include "DATE.h"
#include "companyDatabase.h"
#include "engineCalls.h"
#include "ktstr.h"
#include "persistCalendar.h"

using engineCalls::getAttributeNumber;

DATE CPersistCalendar::getFiscalYearEndInMonths(int16_t company, uint32_t bookID, uint32_t year, uint32_t month,
                                                uint32_t day) {
  const int32_t book = static_cast<int32_t>(bookID);
  // Company numbers run from 0 to 32767; a negative one never borrows the
  // calendars of the company loaded before.
  if (company < 0) return 0.0;
  // Read once a process; the check is made here so a warm call makes no call for it.
  if (!_linkLost && _majorVersion <= 0 && !_versionFailed) _getSchemaVersion();
  // No made-up answers: a company whose calendars could not be read (the boxes
  // have told the user), or that the database does not know, gives no date.
  if (_majorVersion == 5) {
    if (!useCompany(company, &CPersistCalendar::_getCalendarList)) return 0.0;
    const int32_t slot = bookSlot(book);
    // Not known yet and no way to ask: the last calendar must not answer for it.
    if (_linkLost && slot >= 0 && _bookArr[slot] < 1) return 0.0;
    // Asked only while the slot's identifier is unknown.
    if (slot >= 0 && _bookArr[slot] < 1) {
      const uint32_t failuresBefore = _failures;
      _getCalendarIDFromBookID(book);
      if (_failures != failuresBefore) {
        // Without the book's identifier the last calendar would answer for it.
        dropCompany();
        return 0.0;
      }
    }
  } else {
    if (!useCompany(company, &CPersistCalendar::_createCalendarList)) return 0.0;
    _createCalendarIDFromBookID(book);
  }
  return _getFYEDate(book, static_cast<int32_t>(year), static_cast<int32_t>(month), static_cast<int32_t>(day));
}

int32_t CPersistCalendar::_getSchemaVersion() {
  if (_majorVersion > 0 || _versionFailed) return 0;
  const uint32_t failuresBefore = _failures;
  if (prepareHSTMT(companyDatabase::kVersionQuery)) {
    char info[20];
    // Only the first character counts: '10.0' reads as 1, an empty text as -48.
    if (getString(1, info, sizeof info)) _majorVersion = static_cast<int16_t>(static_cast<signed char>(info[0]) - 48);
  }
  // Old databases without a version table rely on the built calendars: a failed
  // query leads there too, once per job (an empty result is asked again).
  if (_failures != failuresBefore) _versionFailed = true;
  return 0;
}

int32_t CPersistCalendar::_getCalendarIDFromBookID(int32_t bookid) {
  const int32_t slot = bookSlot(bookid);
  if (slot < 0 || _bookArr[slot] >= 1) return 0;
  ktStr sql = ktStr("SELECT CalendarID FROM Book WHERE CompanyID = ") + ktStr(static_cast<int>(_companyid)) +
              " AND BookID = " + ktStr(static_cast<int>(slot));
  // NULL (0) and unreadable (-1) are kept below 1, so the next call asks again.
  if (prepareHSTMT(sql)) {
    const int32_t id = getInt(1);
    ktStr stored;
    if (!storedNumberOk(1, stored)) {
      badStoredValue("Book", "CalendarID", (ktStr("CompanyID ") + ktStr(static_cast<int>(_companyid)) + ", BookID " +
                                            ktStr(static_cast<int>(slot))).data(),
                     stored, "a number");
      return 0;
    }
    _bookArr[slot] = id;
  }
  return 0;
}

int32_t CPersistCalendar::_createCalendarIDFromBookID(int32_t bookid) {
  const int32_t slot = bookSlot(bookid);
  if (slot >= 0 && _bookArr[slot] < 1) _bookArr[slot] = slot + 1;
  return 0;
}

DATE CPersistCalendar::_getFYEDate(int32_t bookid, int32_t year, int32_t month, int32_t day) {
  const int32_t slot = bookSlot(bookid);
  // A book without a slot, or no calendars at all, has no calendar to ask.
  if (slot < 0 || !m_calList) return 0.0;
  LONG count = 0;
  if (FAILED(m_calList->get_Count(&count)) || count < 1) return 0.0;
  // The attribute's name is made once, not on every lookup.
  if (!_calendarIdName) _calendarIdName.Attach(SysAllocString(OLESTR("CalendarID")));
  if (!_calendarIdName) return 0.0;

  CComPtr<IVRPersistXML> xml;
  CComPtr<IVRCalendarManager> manager;
  CComPtr<IVRCalendar> calendar;
  // Read once, before the walk: read again after each engine call, a field of
  // this object can wait behind the engine's last writes, which may lie a
  // multiple of 4 KB away (up to a fifth slower, depending on where the heap put both).
  IktEnumDispatch* const list = m_calList;
  const BSTR name = _calendarIdName;
  const long wanted = _bookArr[slot];
  for (LONG i = 0; i < count; ++i) {
    CComPtr<IDispatch> element;
    if (FAILED(list->get_GetAt(i, element.put()))) return 0.0;
    if (FAILED(element.QueryInterface(IID_IVRPersistXML, xml))) return 0.0;
    if (FAILED(element.QueryInterface(IID_IVRCalendarManager, manager))) return 0.0;
    if (FAILED(element.QueryInterface(IID_IVRCalendar, calendar))) return 0.0;
    long id = 0;
    if (FAILED(getAttributeNumber(xml, name, id))) return 0.0;
    if (id == wanted) break;
    // No match at all leaves the last calendar of the collection to answer.
  }

  CComPtr<IktEnumDispatch> cycles;
  LONG cycleCount = 0;
  if (FAILED(manager->get_CycleList(cycles.put())) || !cycles || FAILED(cycles->get_Count(&cycleCount)))
    return 0.0;

  const DATE date = DATEFromMDY(static_cast<int16_t>(month), static_cast<int16_t>(day), static_cast<int16_t>(year));
  CComPtr<IVRFiscalYear> fiscalYear;
  if (FAILED(calendar->GetFiscalYear(date, fiscalYear.put())) || !fiscalYear) return 0.0;
  DATE end = 0.0;
  if (FAILED(fiscalYear->get_YREndDate(&end))) return 0.0;
  return end;
}
