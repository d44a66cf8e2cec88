// The resolver object as a whole: construction, destruction, the single instance.
#include "persistCalendar.h"

CPersistCalendar* persistCalendarPtr = nullptr;

CPersistCalendar::CPersistCalendar() = default;

CPersistCalendar::~CPersistCalendar() {
  _companyid = -1;
  terminate();
  // The factory before the list: the order the engine has always seen.
  m_calFactory.Release();
  m_calList.Release();
}

int32_t CPersistCalendar::bookSlot(int32_t bookid) {
  if (bookid < 0 || bookid > 8) return -1;
  return bookid <= 4 ? bookid : bookid - 1;
}
