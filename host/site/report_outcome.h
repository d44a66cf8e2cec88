// Whether a report (or a run of calls) failed for a reason of the site's set-up:
// the library showed a box, or fiscal-year calls gave no date while the engine
// or the data source is missing. A company without a calendar is a plain "no
// date" and no failure.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "fiscal_year_end.h"
#include "site_advice.h"

namespace ufhost {

struct SetupVerdict {
  bool failed = false;
  std::string summary;  // one line for standard error when failed
};

// boxText: what the library wrote as boxes, told apart with the data source's
// setting. setupFault is asked only when calls gave no date and no box was
// shown; it answers the first set-up fault found, an empty cause when none.
SetupVerdict judgeSetup(const FiscalTally& tally, const std::string& boxText, const site::SourceSetting& setting,
                        const std::function<site::Diagnosis()>& setupFault);

// The set-up facts that show no box: the engine registered, its file there and
// loadable; the data source defined, its driver registered and present.
site::Diagnosis findSetupFault();

// Watches a report from before its job to after it: the library's boxes on
// standard error pass through and are read. Meanwhile out is gathered, and what
// standard error holds is passed on before each gathering goes out, so that
// where both share a file they keep their order. finish() prints the summary
// line on err and returns kExitSetupFailure, or kExitOk.
class SetupWatch {
 public:
  explicit SetupWatch(std::ostream& out);
  ~SetupWatch();
  SetupWatch(const SetupWatch&) = delete;
  SetupWatch& operator=(const SetupWatch&) = delete;
  int finish(const FiscalTally& tally, std::ostream& err);

 private:
  struct State;
  State* s_;
};

}  // namespace ufhost
