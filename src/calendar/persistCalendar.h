// CPersistCalendar: the process-wide fiscal-calendar resolver. It reads the
// company database over ODBC, builds one engine calendar per book and answers
// fiscal-year ends. One instance per process, behind persistCalendarPtr.
//
// Not thread-safe by design: one ODBC statement handle, caches without locks.
// The host's calls must come one at a time, on a thread with COM initialised.
#pragma once

#include <cstdint>

#include "ccombstr.h"
#include "comptr.h"
#include "jobCompanies.h"
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

#include "ktstr.h"

class CPersistCalendar {
 public:
  CPersistCalendar();
  ~CPersistCalendar();
  CPersistCalendar(const CPersistCalendar&) = delete;
  CPersistCalendar& operator=(const CPersistCalendar&) = delete;

  // The last day of the book's fiscal year that contains the date; 0.0 when
  // it cannot be found.
  DATE getFiscalYearEndInMonths(int16_t company, uint32_t bookID, uint32_t year, uint32_t month, uint32_t day);

  // A new report job begins (UFStartJob): drops what may have gone stale since
  // the last one and reopens a connection known to be broken. See persistCalendar.cpp.
  void startJob();

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

  // Book number to its slot in _bookArr; -1 when the book has none. Inline: the
  // lookup asks for it on every call.
  static int32_t bookSlot(int32_t bookid) {
    if (bookid < 0 || bookid > 8) return -1;
    return bookid <= 4 ? bookid : bookid - 1;
  }

  // Makes the company's calendars current: kept from earlier in this job, or
  // read now with build. False when it has none in this job (answer: no date).
  bool useCompany(int16_t company, HRESULT (CPersistCalendar::*build)(int16_t)) {
    // The same company as the call before: nearly every call of a report.
    if (company == _companyid && company >= 0) return static_cast<bool>(m_calList);
    return switchCompany(company, build);
  }
  bool switchCompany(int16_t company, HRESULT (CPersistCalendar::*build)(int16_t));
  // The current company loses its calendars for the rest of the job.
  void dropCompany();
  // A database-layer failure: the boxes, counted, and a lost connection noted.
  void readFailed(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName);
  // A stored value that is no date (month 13, day 45, text the driver gave up
  // on) or no number: one box naming the table, the column, the row's key and
  // what is stored; counted as a failed read. what: "a date", "a number".
  void badStoredValue(const char* table, const char* column, const char* key, const char* stored,
                      const char* what);
  // Whether the date just read from the column (getTimestamp) is a calendar
  // date or a real NULL; when not, what is stored, as text. No boxes.
  bool storedDateOk(int16_t fieldNo, const TIMESTAMP_STRUCT& ts, ktStr& stored);
  // The same for the number just read (getInt).
  bool storedNumberOk(int16_t fieldNo, ktStr& stored);
  // Whether a column read as NULL is NULL as text too; when not, its text.
  bool reallyNull(int16_t fieldNo, ktStr& stored);
  // The current row's column as text, for such a box; read without boxes.
  ktStr storedText(int16_t fieldNo);

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
  // True from a successful SQLConnect until terminate.
  bool _connected = false;

  // What lives for one report job only (dropped by startJob):
  JobCompanies _jobCompanies;  // calendars of every company used in this job
  // The entry of the current company, valid while _currentCompany == _companyid
  // (an entry goes away only when the list is cleared or one is added beyond
  // the bound, and both set this anew).
  JobCompanies::Entry* _currentEntry = nullptr;
  int16_t _currentCompany = -1;
  // The connection failed or was lost (SQLSTATE class 08 and the like): no
  // statement and no box for the rest of the job; reopened at the next job.
  bool _linkLost = false;
  // The version query failed (an error, not an empty result): built calendars
  // for this job, asked again in the next.
  bool _versionFailed = false;

  // Every failed read of the database layer, counted: a builder compares the
  // count before and after to tell an error from an empty result.
  uint32_t _failures = 0;
  // Whether the company being built has any Company or Book row at all.
  bool _companyRowsSeen = false;
  // Whether the last getTimestamp / getInt read a NULL column.
  bool _lastDateNull = false;
  bool _lastIntNull = false;
  // The wide name "CalendarID", made on the first lookup and kept.
  CComBSTR _calendarIdName;
};

// The single resolver, created by the first UFInitialize.
extern CPersistCalendar* persistCalendarPtr;

// Shows every pending diagnostic record of the handles, one "SQL Error" box each.
void doErrors(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName);
// Builds the data-source password in passbuff and returns passbuff.
char* getPassword();
extern char passbuff[10];

// Whether a timestamp's year, month and day make a real calendar date.
bool isCalendarDate(const TIMESTAMP_STRUCT& ts);

// A new BSTR of the narrow text in the ANSI code page; null when out of memory.
BSTR LPCTSTR2BSTR(const char* text);
