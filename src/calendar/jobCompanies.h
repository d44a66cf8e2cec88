// The calendars of the companies used in the current report job, so that a
// report whose rows alternate companies switches with a hash look-up instead of
// rebuilding. Dropped as a whole at the next job start: a book's year end edited
// between two reports is read again.
//
// Bounded: at most kMaxCompanies companies are kept; adding one more drops the
// one used least recently (it is read again if a later row needs it). Each
// company holds its seven (or stored) engine calendars and their cycles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "comptr.h"
#include "vrzelcal.h"

class JobCompanies {
 public:
  static constexpr size_t kMaxCompanies = 64;

  struct Entry {
    // Null: the company has no calendars in this job (a read failed, or the
    // database knows nothing of it). Its lookups answer no date.
    CComPtr<IktEnumDispatch> calendars;
    int32_t bookArr[8] = {};  // calendar identifier per book slot, as in the resolver
    uint64_t lastUse = 0;
  };

  // The company's entry, marked as used now; null when it is not kept.
  Entry* find(int16_t company);
  // A new, empty entry for a company not kept yet (an existing one is emptied).
  Entry& add(int16_t company);
  void clear();
  size_t size() const { return entries_.size(); }

 private:
  std::unordered_map<int16_t, Entry> entries_;
  uint64_t clock_ = 0;
};
