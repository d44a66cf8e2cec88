// The library's own tests look inside the resolver through this door only.
#pragma once

#include "persistCalendar.h"

struct ResolverTestAccess {
  static ReportJob& job(CPersistCalendar& r) { return r._job; }
  static int16_t& majorVersion(CPersistCalendar& r) { return r._majorVersion; }
  static CComPtr<IVRZELCalendarFactory>& factory(CPersistCalendar& r) { return r.m_calFactory; }
  static BSTR calendarIdName(CPersistCalendar& r) { return r._calendarIdName.m_str; }
  static bool switchTo(CPersistCalendar& r, int16_t company) {
    return r.useCompany(company, &CPersistCalendar::_createCalendarList);
  }
};
