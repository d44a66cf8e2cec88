#include "jobCompanies.h"

JobCompanies::Entry* JobCompanies::find(int16_t company) {
  auto it = entries_.find(company);
  if (it == entries_.end()) return nullptr;
  it->second.lastUse = ++clock_;
  return &it->second;
}

JobCompanies::Entry& JobCompanies::add(int16_t company) {
  auto it = entries_.find(company);
  if (it == entries_.end() && entries_.size() >= kMaxCompanies) {
    // Only when a new company is read, which costs far more than this scan.
    auto oldest = entries_.begin();
    for (auto e = entries_.begin(); e != entries_.end(); ++e)
      if (e->second.lastUse < oldest->second.lastUse) oldest = e;
    entries_.erase(oldest);
  }
  Entry& entry = entries_[company];
  entry.calendars.Release();
  for (int32_t& id : entry.bookArr) id = 0;
  entry.lastUse = ++clock_;
  return entry;
}

void JobCompanies::clear() { entries_.clear(); }
