// The resolver object as a whole: construction, destruction, the single instance,
// and what lives for one report job.
#include "persistCalendar.h"

CPersistCalendar* persistCalendarPtr = nullptr;

CPersistCalendar::CPersistCalendar() = default;

CPersistCalendar::~CPersistCalendar() {
  _companyid = -1;
  terminate();
  // The factory before the list: the order the engine has always seen.
  m_calFactory.Release();
  _currentEntry = nullptr;
  _jobCompanies.clear();
  m_calList.Release();
}

// Two rules, kept together here:
// - What may go stale between reports lives for one job: the calendars of the
//   companies used (someone may have edited a book's year end since), the
//   failures met while reading them, and a connection known to be broken, which
//   is opened again now and not sooner.
// - What cannot go stale stays for the process: the schema version, the
//   engine's factory and a working connection.
void CPersistCalendar::startJob() {
  _jobCompanies.clear();
  _currentEntry = nullptr;
  _currentCompany = -1;
  _companyid = -1;
  for (int32_t& id : _bookArr) id = 0;
  m_calList.Release();
  _versionFailed = false;
  if (_linkLost) terminate();  // the next statement connects again
}

bool CPersistCalendar::switchCompany(int16_t company, HRESULT (CPersistCalendar::*build)(int16_t)) {
  if (company < 0) return false;
  if (company == _companyid) return static_cast<bool>(m_calList);
  JobCompanies::Entry* kept = _jobCompanies.find(company);
  // No statement once the connection is known lost: the current company stays.
  if (!kept && _linkLost) return false;
  // The slots learned for the company being left go with its calendars (its
  // entry is remembered, saving a second look-up on every switch). The current
  // company's reference to its calendars lives in m_calList, not in its entry:
  // a switch hands references over instead of counting them (two calls into
  // the engine on every change of company).
  JobCompanies::Entry* left = _currentCompany == _companyid ? _currentEntry : nullptr;
  if (!left && _companyid >= 0) left = _jobCompanies.find(_companyid);
  if (left) {
    for (int i = 0; i < 8; ++i) left->bookArr[i] = _bookArr[i];
    left->calendars.Attach(m_calList.Detach());
  }
  if (kept) {
    _companyid = company;
    m_calList.Attach(kept->calendars.Detach());
    for (int i = 0; i < 8; ++i) _bookArr[i] = kept->bookArr[i];
    _currentEntry = kept;
    _currentCompany = company;
    return static_cast<bool>(m_calList);
  }

  const uint32_t failuresBefore = _failures;
  const HRESULT hr = (this->*build)(company);
  // A read that failed, an engine call that failed half way, or a company the
  // database does not know: no calendars rather than made-up ones.
  if (FAILED(hr) || _failures != failuresBefore) m_calList.Release();
  _companyid = company;
  JobCompanies::Entry& entry = _jobCompanies.add(company);
  for (int i = 0; i < 8; ++i) entry.bookArr[i] = _bookArr[i];
  _currentEntry = &entry;
  _currentCompany = company;
  return static_cast<bool>(m_calList);
}

void CPersistCalendar::dropCompany() {
  m_calList.Release();
  if (JobCompanies::Entry* entry = _jobCompanies.find(_companyid)) entry->calendars.Release();
}
