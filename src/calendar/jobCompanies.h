// What the resolver keeps for one report job, from UFStartJob to the next:
// the calendars of every company the job used, each book slot's calendar, the
// database connection and the job's failure state. One reset at job start, so
// that a book's year end edited between two reports, a server restarted or a
// company file replaced is seen by the next report.
//
// The companies are bounded by memory, not by count: each entry is charged an
// estimate of what its engine calendars hold, and beyond the budget the
// companies used least recently are dropped (read again if a later row needs them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "companyDatabase.h"
#include "comptr.h"
#include "odbcApi.h"
#include "vrzelcal.h"

// One company's calendars in a report job, on one cache line: of the entries,
// a switch of company reads and writes only this line.
struct alignas(64) JobCompany {
  int16_t company = -1;  // -1: the entry holds no company
  uint64_t lastUse = 0;  // the job's clock at the company's last use
  // Null: the company has no calendars in this job (a read failed, or the
  // database knows nothing of it), and its lookups answer no date.
  CComPtr<IktEnumDispatch> calendars;
  int32_t bookArr[8] = {};  // calendar identifier per book slot; below 1: not known
  size_t bytes = 0;         // estimated memory of its calendars
};

class JobCompanies {
 public:
  // Estimated memory of one engine calendar and of one cycle, from the heap
  // growth measured by bench/bench_fyend (BM_Report_ThousandCompanies) on Linux
  // x86-64, rounded up: see bench/README.md.
  static constexpr size_t kCalendarBytes = 1024;
  static constexpr size_t kCycleBytes = 256;
  // Room for tens of thousands of companies of seven calendars: such a company
  // takes about 7.5 KB of heap and is charged about 9 KB.
  static constexpr size_t kDefaultBudget = size_t{256} << 20;

  // The company's entry, marked as used now; null when it is not kept (or the
  // number is negative: no company).
  JobCompany* find(int16_t company) {
    if (company < 0) return nullptr;
    JobCompany* entry = entryOf(company);
    if (!entry || entry->company != company) return nullptr;
    entry->lastUse = ++clock_;
    return entry;
  }
  // A new, empty entry for a company (one kept already is emptied). Company
  // numbers are 0 to 32767. The entry stays where it is for the job.
  JobCompany& add(int16_t company);
  // The calendar a book slot (0 to 7) of a kept company resolved to; null
  // while not known. Within a job neither the list nor the slot's identifier
  // changes, so the walk is made once per slot. Found by the company's number,
  // not through its entry: the lookup can go on to the calendar while the
  // entry is still being read.
  CComPtr<IVRCalendar>& slotCalendar(int16_t company, int32_t slot) {
    const size_t number = numberOf(company);
    return blocks_[number / kBlockCompanies]->slotCalendars[slot][number % kBlockCompanies];
  }
  // The company keeps no calendars for the rest of the job.
  void dropCalendars(JobCompany& entry);
  // The entry now holds calendars of about bytes; beyond the budget the least
  // recently used other companies are dropped.
  void charge(JobCompany& entry, size_t bytes);
  void clear();
  size_t size() const { return count_; }
  size_t bytes() const { return bytes_; }
  void setBudget(size_t bytes) { budget_ = bytes; }

 private:
  static constexpr size_t kCompanyNumbers = 32768;
  // The entries of 64 neighbouring company numbers lie together, in company
  // order, and so do their calendars of each slot: a report of one book going
  // round its companies in order reads them in turn. A block is made only for
  // the numbers a job uses.
  static constexpr size_t kBlockCompanies = 64;
  struct Block {
    JobCompany entries[kBlockCompanies];
    CComPtr<IVRCalendar> slotCalendars[8][kBlockCompanies];
  };
  static size_t numberOf(int16_t company) { return static_cast<uint16_t>(company) & (kCompanyNumbers - 1); }
  JobCompany* entryOf(int16_t company) const {
    if (blocks_.empty()) return nullptr;
    const size_t number = numberOf(company);
    Block* block = blocks_[number / kBlockCompanies].get();
    return block ? &block->entries[number % kBlockCompanies] : nullptr;
  }
  void remove(JobCompany& entry);

  std::vector<std::unique_ptr<Block>> blocks_;  // per 64 company numbers; null until used
  size_t count_ = 0;
  size_t bytes_ = 0;
  size_t budget_ = kDefaultBudget;
  uint64_t clock_ = 0;
};

// The bounds on every wait for the database, in seconds.
struct DatabaseTimeouts {
  static constexpr unsigned kLoginSeconds = companyDatabase::kLoginTimeoutSeconds;
  static constexpr unsigned kQuerySeconds = companyDatabase::kQueryTimeoutSeconds;
  unsigned login = kLoginSeconds;
  unsigned query = kQuerySeconds;
  // The defaults, or U2LVOST_LOGIN_TIMEOUT / U2LVOST_QUERY_TIMEOUT (whole
  // seconds, 1 to 300) where set: for tests that must see a timeout quickly.
  static DatabaseTimeouts fromEnvironment();
};

struct ReportJob {
  JobCompanies companies;
  // The company whose calendars answer now; null for none.
  JobCompany* current = nullptr;
  int16_t currentCompany() const { return current ? current->company : int16_t{-1}; }

  // The connection, opened on the job's first statement.
  SQLHENV henv = nullptr;
  SQLHDBC hdbc = nullptr;
  SQLHSTMT hstmt = nullptr;
  DatabaseTimeouts timeouts;

  // The connection failed or was lost (SQLSTATE class 08 and the like), or a
  // statement ran out of time: no statement and no box for the rest of the job.
  bool linkLost = false;
  bool timedOut = false;
  // The version query failed (an error, not a missing table): no dates this job.
  bool versionFailed = false;
  // VersionTable does not exist: an old database, built calendars; asked again next job.
  bool versionTableMissing = false;
  bool databaseDone() const { return linkLost || timedOut; }

  // Every failed read of the database layer, counted: a builder compares the
  // count before and after to tell an error from an empty result.
  uint32_t failures = 0;

  // Closes the connection; the next statement opens a new one.
  void closeConnection();
  // A new job: everything above dropped, the timeouts read again.
  void reset();
};
