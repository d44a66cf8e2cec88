#include "jobCompanies.h"

#include <cstdlib>

void JobCompany::dropCalendars() {
  for (auto& calendar : slotCalendar) calendar.Release();
  calendars.Release();
}

JobCompany& JobCompanies::add(int16_t company) {
  if (byNumber_.empty()) byNumber_.resize(kCompanyNumbers);
  Kept& kept = keptOf(company);
  if (!kept.entry) {
    entries_.push_back(std::make_unique<JobCompany>());
    kept.entry = entries_.back().get();
    kept.entry->position = entries_.size() - 1;
  }
  JobCompany& entry = *kept.entry;
  const size_t position = entry.position;
  entry.dropCalendars();
  bytes_ -= entry.bytes;
  entry = JobCompany();
  entry.company = company;
  entry.position = position;
  kept.lastUse = ++clock_;
  return entry;
}

void JobCompanies::charge(JobCompany& entry, size_t bytes) {
  bytes_ = bytes_ - entry.bytes + bytes;
  entry.bytes = bytes;
  // Only when a company has just been read, which costs far more than this scan.
  while (bytes_ > budget_ && entries_.size() > 1) {
    JobCompany* oldest = nullptr;
    for (const auto& e : entries_)
      if (e.get() != &entry && (!oldest || keptOf(e->company).lastUse < keptOf(oldest->company).lastUse))
        oldest = e.get();
    remove(oldest->position);
  }
}

void JobCompanies::remove(size_t position) {
  JobCompany& gone = *entries_[position];
  bytes_ -= gone.bytes;
  keptOf(gone.company) = Kept();
  if (position + 1 != entries_.size()) {
    entries_[position] = std::move(entries_.back());
    entries_[position]->position = position;
  }
  entries_.pop_back();
}

void JobCompanies::clear() {
  for (auto& entry : entries_) keptOf(entry->company) = Kept();
  entries_.clear();
  bytes_ = 0;
}

namespace {

unsigned secondsFrom(const char* name, unsigned fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 1 || value > 300) return fallback;
  return static_cast<unsigned>(value);
}

}  // namespace

DatabaseTimeouts DatabaseTimeouts::fromEnvironment() {
  DatabaseTimeouts t;
  t.login = secondsFrom("U2LVOST_LOGIN_TIMEOUT", kLoginSeconds);
  t.query = secondsFrom("U2LVOST_QUERY_TIMEOUT", kQuerySeconds);
  return t;
}

void ReportJob::closeConnection() {
  if (hstmt != nullptr) {
    SQLFreeStmt(hstmt, SQL_DROP);
    hstmt = nullptr;
  }
  if (hdbc != nullptr) {
    SQLDisconnect(hdbc);
    SQLFreeConnect(hdbc);
    hdbc = nullptr;
  }
  if (henv != nullptr) {
    SQLFreeEnv(henv);
    henv = nullptr;
  }
  // The next statement connects afresh.
  linkLost = false;
  timedOut = false;
}

void ReportJob::reset() {
  closeConnection();
  current = nullptr;
  companies.clear();
  versionFailed = false;
  versionTableMissing = false;
  timeouts = DatabaseTimeouts::fromEnvironment();
}
