#include "jobCompanies.h"

#include <cstdlib>

static_assert(sizeof(JobCompany) == 64, "a company's entry is one cache line");

void JobCompanies::dropCalendars(JobCompany& entry) {
  if (entry.company == -1) return;  // holds nothing
  for (int32_t slot = 0; slot < 8; ++slot) slotCalendar(entry.company, slot).Release();
  entry.calendars.Release();
}

JobCompany& JobCompanies::add(int16_t company) {
  if (blocks_.empty()) blocks_.resize(kCompanyNumbers / kBlockCompanies);
  std::unique_ptr<Block>& block = blocks_[numberOf(company) / kBlockCompanies];
  if (!block) block = std::make_unique<Block>();
  JobCompany& entry = block->entries[numberOf(company) % kBlockCompanies];
  if (entry.company >= 0) {
    bytes_ -= entry.bytes;
  } else {
    ++count_;
  }
  dropCalendars(entry);
  entry = JobCompany();
  entry.company = company;
  entry.lastUse = ++clock_;
  return entry;
}

void JobCompanies::charge(JobCompany& entry, size_t bytes) {
  bytes_ = bytes_ - entry.bytes + bytes;
  entry.bytes = bytes;
  // Only when a company has just been read, which costs far more than this scan.
  while (bytes_ > budget_ && count_ > 1) {
    JobCompany* oldest = nullptr;
    for (const auto& block : blocks_) {
      if (!block) continue;
      for (JobCompany& e : block->entries)
        if (e.company >= 0 && &e != &entry && (!oldest || e.lastUse < oldest->lastUse)) oldest = &e;
    }
    remove(*oldest);
  }
}

void JobCompanies::remove(JobCompany& entry) {
  bytes_ -= entry.bytes;
  --count_;
  dropCalendars(entry);
  entry = JobCompany();
}

void JobCompanies::clear() {
  blocks_.clear();
  count_ = 0;
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
