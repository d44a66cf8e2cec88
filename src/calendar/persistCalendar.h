// CPersistCalendar: the process-wide fiscal-calendar resolver. It reads the
// company database over ODBC, builds one engine calendar per book and answers
// fiscal-year ends. One instance per process, behind persistCalendarPtr.
//
// Not thread-safe by design: one ODBC statement handle, caches without locks.
// The host's calls must come one at a time, on a thread with COM initialised.
#pragma once

#include <cstdint>

#include "ccombstr.h"
#include "companyDatabase.h"
#include "comptr.h"
#include "comtypes.h"
#include "jobCompanies.h"
#include "ktstr.h"
#include "odbcApi.h"
#include "vrzelcal.h"

class CPersistCalendar {
 public:
  CPersistCalendar();
  ~CPersistCalendar();
  CPersistCalendar(const CPersistCalendar&) = delete;
  CPersistCalendar& operator=(const CPersistCalendar&) = delete;

  // The last day of the book's fiscal year that contains the date; 0.0 when
  // it cannot be found.
  DATE getFiscalYearEnd(int16_t company, uint32_t bookID, DATE date);
  // The same for a year, month and day, made into a DATE by DATEFromMDY.
  DATE getFiscalYearEndInMonths(int16_t company, uint32_t bookID, uint32_t year, uint32_t month, uint32_t day);

  // A new report job begins (UFStartJob): everything that may have gone stale
  // since the last one is dropped. See persistCalendar.cpp.
  void startJob();
  // The job ends (UFEndJob): its connection is closed; its calendars stay until
  // the next job starts.
  void endJob();

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
  DATE _getFYEDate(int16_t company, int32_t bookid, DATE date);
  DATE _getBusStartDate(int16_t company);
  int32_t _getOrigYrEnd(int32_t bookid, int16_t company);
  HRESULT _loadCalendarFromShortYears(int32_t bookid, int16_t compid, IVRCalendar** pVal);

  // Book number to its slot in a company's bookArr; -1 when the book has none.
  static int32_t bookSlot(int32_t bookid) { return companyDatabase::bookSlot(bookid); }

  // Makes the company's calendars current: kept from earlier in this job, or
  // read now with build. False when it has none in this job (answer: no date).
  bool useCompany(int16_t company, HRESULT (CPersistCalendar::*build)(int16_t)) {
    // The same company as the call before: nearly every call of a report.
    if (_job.current && _job.current->company == company) return static_cast<bool>(_job.current->calendars);
    // Kept from earlier in the job: a report going round its companies.
    if (JobCompany* kept = _job.companies.find(company)) {
      _job.current = kept;
      return static_cast<bool>(kept->calendars);
    }
    return loadCompany(company, build);
  }

 private:
  friend struct ResolverTestAccess;  // the library's own tests observe the job

  // A company not kept in this job: read now with build.
  bool loadCompany(int16_t company, HRESULT (CPersistCalendar::*build)(int16_t));
  // A new, empty calendar list for company, which becomes the current one.
  HRESULT startCompany(int16_t company);
  // The current company loses its calendars for the rest of the job.
  void dropCompany();
  // Connects with the job's timeouts; a refusal for lack of server slots is
  // tried again within the login timeout. False with the failure's boxes shown.
  bool connect(const char* password);
  // Decides a failed version query: true only when VersionTable does not exist.
  bool versionTableMissing(bool missingTableState);
  // A database-layer failure: the boxes, counted, and a lost connection or a
  // statement out of time noted. Returns whether a record named a missing table.
  bool readFailed(SQLHENV henv, SQLHDBC hdbc, SQLHSTMT hstmt, const char* funcName);
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
  // A book row's key, "CompanyID c, BookID b", for a box about the row.
  static ktStr bookKey(int16_t company, int32_t bookid);
  // The key of a book's row-th short year, for a box about it.
  ktStr shortYearKey(int16_t company, int32_t bookid, int32_t row);
  // The walk for a book slot's calendar; see the lookup.
  HRESULT resolveSlot(JobCompany& company, int32_t slot, CComPtr<IVRCalendar>& chosen);
  // Estimated memory of a calendar list, for the job's budget.
  static size_t footprintOf(IktEnumDispatch* calendars);

  // What lives for the process: the schema version once read, the factory.
  int16_t _majorVersion = 0;  // 0 or below: not read yet
  CComPtr<IVRZELCalendarFactory> m_calFactory;
  // The wide name "CalendarID", made on the first lookup and kept.
  CComBSTR _calendarIdName;

  // What lives for one report job: companies, slots, connection, failures.
  ReportJob _job;

  // Working state of the read in progress.
  bool _companyRowsSeen = false;  // the company being built has a Company or Book row
  bool _lastDateNull = false;     // the last getTimestamp / getInt read a NULL column
  bool _lastIntNull = false;
  bool _missingTableState = false;  // a failure since it was cleared named a missing table
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
