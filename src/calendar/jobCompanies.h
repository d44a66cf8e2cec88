// The calendars of the companies used in the current report job, so that a
// report whose rows alternate companies switches with a look-up instead of
// rebuilding. Dropped as a whole at the next job start: a book's year end edited
// between two reports is read again.
//
// Bounded: at most kMaxCompanies companies are kept; adding one more drops the
// one used least recently (it is read again if a later row needs it). Each
// company holds its seven (or stored) engine calendars and their cycles. The
// index from company number to entry takes 32 KB, made on first use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "comptr.h"
#include "vrzelcal.h"

class JobCompanies {
 public:
  static constexpr size_t kMaxCompanies = 64;

  struct Entry {
    // Null: the company has no calendars in this job (a read failed, or the
    // database knows nothing of it), and its lookups answer no date; or it is
    // the resolver's current company, whose reference the resolver holds.
    CComPtr<IktEnumDispatch> calendars;
    int32_t bookArr[8] = {};  // calendar identifier per book slot, as in the resolver
    uint64_t lastUse = 0;
  };

  // The company's entry, marked as used now; null when it is not kept (or the
  // number is negative: no company).
  Entry* find(int16_t company) {
    if (company < 0 || slotOf_.empty()) return nullptr;
    const int8_t slot = slotOf_[indexOf(company)];
    if (slot < 0) return nullptr;
    Entry& entry = entries_[static_cast<size_t>(slot)];
    entry.lastUse = ++clock_;
    return &entry;
  }
  // A new, empty entry for a company not kept yet (an existing one is emptied).
  // Company numbers are 0 to 32767.
  Entry& add(int16_t company);
  void clear();
  size_t size() const { return count_; }

 private:
  static constexpr size_t kCompanyNumbers = 32768;
  static size_t indexOf(int16_t company) { return static_cast<uint16_t>(company) & (kCompanyNumbers - 1); }

  // Entry slot per company number, -1 when not kept: a look-up is one load, with
  // no hashing and no division on a report's every change of company.
  std::vector<int8_t> slotOf_;
  std::array<Entry, kMaxCompanies> entries_;
  std::array<int16_t, kMaxCompanies> companyOf_{};
  size_t count_ = 0;
  uint64_t clock_ = 0;
};
