#include "jobCompanies.h"

static_assert(JobCompanies::kMaxCompanies <= 127, "slots must fit the index's signed bytes");

JobCompanies::Entry& JobCompanies::add(int16_t company) {
  if (slotOf_.empty()) slotOf_.assign(kCompanyNumbers, -1);
  const size_t index = indexOf(company);
  int8_t slot = slotOf_[index];
  if (slot < 0) {
    if (count_ < kMaxCompanies) {
      slot = static_cast<int8_t>(count_++);
    } else {
      // Only when a new company is read, which costs far more than this scan.
      size_t oldest = 0;
      for (size_t s = 1; s < count_; ++s)
        if (entries_[s].lastUse < entries_[oldest].lastUse) oldest = s;
      slotOf_[indexOf(companyOf_[oldest])] = -1;
      slot = static_cast<int8_t>(oldest);
    }
    companyOf_[static_cast<size_t>(slot)] = company;
    slotOf_[index] = slot;
  }
  Entry& entry = entries_[static_cast<size_t>(slot)];
  entry.calendars.Release();
  for (int32_t& id : entry.bookArr) id = 0;
  entry.lastUse = ++clock_;
  return entry;
}

void JobCompanies::clear() {
  for (size_t s = 0; s < count_; ++s) {
    entries_[s].calendars.Release();
    slotOf_[indexOf(companyOf_[s])] = -1;
  }
  count_ = 0;
}
