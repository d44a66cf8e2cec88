// The fiscal-year-end lookup: schema version, book slots, the book's calendar.
#include <cstdlib>
#include <cstring>

#include "DATE.h"
#include "engineCalls.h"
#include "ktstr.h"
#include "persistCalendar.h"

using engineCalls::getAttribute;

DATE CPersistCalendar::getFiscalYearEndInMonths(int16_t company, uint32_t bookID, uint32_t year, uint32_t month,
                                                uint32_t day) {
  const int32_t book = static_cast<int32_t>(bookID);
  _getSchemaVersion();
  // With the database out of reach every query fails and the calendars would be
  // built from defaults alone (December year ends): a made-up answer. The error
  // boxes have told the user; the formula gets no date.
  if (!_connected) return 0.0;
  // Builders and identifier lookups report through the state they leave; the
  // lookup below answers 0.0 for whatever they could not provide.
  if (_majorVersion == 5) {
    _getCalendarList(company);
    _getCalendarIDFromBookID(book);
  } else {
    _createCalendarList(company);
    _createCalendarIDFromBookID(book);
  }
  return _getFYEDate(book, static_cast<int32_t>(year), static_cast<int32_t>(month), static_cast<int32_t>(day));
}

int32_t CPersistCalendar::_getSchemaVersion() {
  if (_majorVersion > 0) return 0;
  if (prepareHSTMT("SELECT Info FROM VersionTable where AppID = 0 and ItemNumber = 0")) {
    char info[20];
    // Only the first character counts: '10.0' reads as 1, an empty text as -48.
    if (getString(1, info, sizeof info)) _majorVersion = static_cast<int16_t>(static_cast<signed char>(info[0]) - 48);
  }
  return 0;
}

int32_t CPersistCalendar::_getCalendarIDFromBookID(int32_t bookid) {
  const int32_t slot = bookSlot(bookid);
  if (slot < 0 || _bookArr[slot] >= 1) return 0;
  ktStr sql = ktStr("SELECT CalendarID FROM Book WHERE CompanyID = ") + ktStr(static_cast<int>(_companyid)) +
              " AND BookID = " + ktStr(static_cast<int>(slot));
  // NULL (0) and unreadable (-1) are kept below 1, so the next call asks again.
  if (prepareHSTMT(sql)) _bookArr[slot] = getInt(1);
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

  CComPtr<IVRPersistXML> xml;
  CComPtr<IVRCalendarManager> manager;
  CComPtr<IVRCalendar> calendar;
  for (LONG i = 0; i < count; ++i) {
    CComPtr<IDispatch> element;
    if (FAILED(m_calList->get_GetAt(i, element.put()))) return 0.0;
    if (FAILED(element.QueryInterface(IID_IVRPersistXML, xml))) return 0.0;
    if (FAILED(element.QueryInterface(IID_IVRCalendarManager, manager))) return 0.0;
    if (FAILED(element.QueryInterface(IID_IVRCalendar, calendar))) return 0.0;
    ktStr id;
    if (FAILED(getAttribute(xml, OLESTR("CalendarID"), id))) return 0.0;
    if (std::atol(id.data()) == _bookArr[slot]) break;
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
