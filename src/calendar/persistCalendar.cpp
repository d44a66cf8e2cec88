// The resolver object as a whole: construction, destruction, the single instance,
// and what lives for one report job.
#include "persistCalendar.h"
#include "engineCalls.h"

CPersistCalendar* persistCalendarPtr = nullptr;

CPersistCalendar::CPersistCalendar() { _job.timeouts = DatabaseTimeouts::fromEnvironment(); }

CPersistCalendar::~CPersistCalendar() {
  terminate();
  // The factory before the calendars: the order the engine has always seen.
  m_calFactory.Release();
  _job.reset();
}

// What may go stale between reports lives for one job and goes here: the
// calendars of the companies used (someone may have edited a book's year end
// since), the failures met while reading them, and the connection (a server
// restarted or a company file replaced since is met afresh). What cannot go
// stale stays for the process: the schema version once read and the factory.
void CPersistCalendar::startJob() { _job.reset(); }

void CPersistCalendar::endJob() { _job.closeConnection(); }

HRESULT CPersistCalendar::startCompany(int16_t company) {
  _job.current = &_job.companies.add(company);
  return engineCalls::createCollection(_job.current->calendars);
}

bool CPersistCalendar::loadCompany(int16_t company, HRESULT (CPersistCalendar::*build)(int16_t)) {
  if (company < 0) return false;
  // No statement once the job's database work has ended: the current company stays.
  if (_job.databaseDone()) return false;

  const uint32_t failuresBefore = _job.failures;
  const HRESULT hr = (this->*build)(company);
  JobCompany* entry = _job.current;
  if (!entry || entry->company != company) return false;  // the build could not even start
  // A read that failed, an engine call that failed half way, or a company the
  // database does not know: no calendars rather than made-up ones.
  if (FAILED(hr) || _job.failures != failuresBefore) _job.companies.dropCalendars(*entry);
  _job.companies.charge(*entry, footprintOf(entry->calendars));
  return static_cast<bool>(entry->calendars);
}

void CPersistCalendar::dropCompany() {
  if (_job.current) _job.companies.dropCalendars(*_job.current);
}

size_t CPersistCalendar::footprintOf(IktEnumDispatch* calendars) {
  if (!calendars) return 0;
  LONG count = 0;
  if (FAILED(calendars->get_Count(&count)) || count < 0) return 0;
  size_t bytes = static_cast<size_t>(count) * JobCompanies::kCalendarBytes;
  for (LONG i = 0; i < count; ++i) {
    CComPtr<IDispatch> element;
    CComPtr<IVRCalendarManager> manager;
    CComPtr<IktEnumDispatch> cycles;
    LONG cycleCount = 0;
    if (FAILED(calendars->get_GetAt(i, element.put())) || FAILED(element.QueryInterface(IID_IVRCalendarManager, manager)) ||
        FAILED(manager->get_CycleList(cycles.put())) || !cycles || FAILED(cycles->get_Count(&cycleCount)))
      continue;
    bytes += static_cast<size_t>(cycleCount > 0 ? cycleCount : 0) * JobCompanies::kCycleBytes;
  }
  return bytes;
}
