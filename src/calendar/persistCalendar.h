// CPersistCalendar: the process-wide fiscal-calendar resolver. It reads the
// company database over ODBC, builds one engine calendar per book and answers
// fiscal-year ends. One instance per process, behind persistCalendarPtr.
//
// Not thread-safe by design: one ODBC statement handle, caches without locks.
// The host's calls must come one at a time, on a thread with COM initialised.
#pragma once

#include <cstdint>

#include "comptr.h"
#include "comtypes.h"
#include "vrzelcal.h"

// unixODBC's sqltypes.h declares its own ULONG (unsigned long), which clashes
// with COM's 32-bit ULONG from comtypes.h: its copy is renamed while it is read.
#ifndef _WIN32
#define ULONG u2lvost_odbc_ULONG
#endif
#include <sql.h>
#include <sqlext.h>
#ifndef _WIN32
#undef ULONG
#endif

class ktStr;

class CPersistCalendar {
 public:
  CPersistCalendar();
  ~CPersistCalendar();
  CPersistCalendar(const CPersistCalendar&) = delete;
  CPersistCalendar& operator=(const CPersistCalendar&) = delete;

  // The last day of the book's fiscal year that contains the date; 0.0 when
  // it cannot be found.
  DATE getFiscalYearEndInMonths(int16_t company, uint32_t bookID, uint32_t year, uint32_t month, uint32_t day);

  // Database layer: one fixed data source, one reusable statement handle.
  bool openHDBC();
  bool openHSTMT();
  bool terminate();
  bool prepareHSTMT(const char* sql);  // executes and fetches the first row
  bool nextRow();
  int32_t getInt(int16_t fieldNo);                          // 0 for NULL, -1 unreadable
  char* getString(int16_t fieldNo, char* str, int32_t len);  // null on failure
  bool getTimestamp(int16_t fieldNo, TIMESTAMP_STRUCT* ts);  // all zero for NULL

  HRESULT CheckFactory();

  int32_t _getSchemaVersion();
  HRESULT _getCalendarList(int16_t company);
  HRESULT _getCalendar(int32_t id, ktStr name, int32_t updateflag, int16_t companyid, IVRCalendar** pVal);
  HRESULT _createCalendarList(int16_t company);
  HRESULT _getCycleObjectList(ktStr calid, ktStr companyid, IktEnumDispatch** pVal);
  HRESULT _getCycleObject();
  int32_t _createCalendarIDFromBookID(int32_t bookid);
  int32_t _getCalendarIDFromBookID(int32_t bookid);
  DATE _getFYEDate(int32_t bookid, int32_t year, int32_t month, int32_t day);
  DATE _getBusStartDate(int16_t company);
  int32_t _getOrigYrEnd(int32_t bookid, int16_t company);
  HRESULT _loadCalendarFromShortYears(int32_t bookid, int16_t compid, IVRCalendar** pVal);

  // Book number to its slot in _bookArr; -1 when the book has none.
  static int32_t bookSlot(int32_t bookid);

  // Fields, in this order. Public so the library's own tests can observe the
  // caches; nothing outside the resolver writes them.
  SQLHENV _henv = nullptr;
  SQLHDBC _hdbc = nullptr;
  SQLHSTMT _hstmt = nullptr;
  int16_t _majorVersion = 0;  // 0 or below: not read yet
  int16_t _companyid = -1;    // company whose calendars m_calList holds; -1 none
  int32_t _bookArr[8] = {};   // calendar identifier per book slot; below 1 unknown
  CComPtr<IktEnumDispatch> m_calList;
  CComPtr<IVRZELCalendarFactory> m_calFactory;
  // True from a successful SQLConnect until terminate. Without a connection
  // there are no calendars to answer from, only defaults.
  bool _connected = false;
};

// The single resolver, created by the first UFInitialize.
extern CPersistCalendar* persistCalendarPtr;

// Shows every pending diagnostic record of the handles, one "SQL Error" box each.
void doErrors(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName);
// Builds the data-source password in passbuff and returns passbuff.
char* getPassword();
extern char passbuff[10];

// A new BSTR of the narrow text in the ANSI code page; null when out of memory.
BSTR LPCTSTR2BSTR(const char* text);
