#include "jobCompanies.h"

#include <cstdlib>

void JobCompany::dropCalendars() {
  for (auto& calendar : slotCalendar) calendar.Release();
  calendars.Release();
}

JobCompany& JobCompanies::add(int16_t company) {
  if (position_.empty()) position_.assign(kCompanyNumbers, -1);
  const size_t index = static_cast<uint16_t>(company) & (kCompanyNumbers - 1);
  int32_t at = position_[index];
  if (at < 0) {
    at = static_cast<int32_t>(entries_.size());
    entries_.push_back(std::make_unique<JobCompany>());
    position_[index] = at;
  }
  JobCompany& entry = *entries_[static_cast<size_t>(at)];
  entry.dropCalendars();
  bytes_ -= entry.bytes;
  entry = JobCompany();
  entry.company = company;
  entry.lastUse = ++clock_;
  return entry;
}

void JobCompanies::charge(JobCompany& entry, size_t bytes) {
  bytes_ = bytes_ - entry.bytes + bytes;
  entry.bytes = bytes;
  // Only when a company has just been read, which costs far more than this scan.
  while (bytes_ > budget_ && entries_.size() > 1) {
    size_t oldest = entries_.size();
    for (size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].get() != &entry && (oldest == entries_.size() || entries_[i]->lastUse < entries_[oldest]->lastUse))
        oldest = i;
    remove(oldest);
  }
}

void JobCompanies::remove(size_t at) {
  JobCompany& gone = *entries_[at];
  bytes_ -= gone.bytes;
  position_[static_cast<uint16_t>(gone.company)] = -1;
  if (at + 1 != entries_.size()) {
    entries_[at] = std::move(entries_.back());
    position_[static_cast<uint16_t>(entries_[at]->company)] = static_cast<int32_t>(at);
  }
  entries_.pop_back();
}

void JobCompanies::clear() {
  for (auto& entry : entries_) position_[static_cast<uint16_t>(entry->company)] = -1;
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
