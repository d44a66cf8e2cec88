// The site check's findings as one JSON document, for a monitoring system.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace ufhost {

struct CheckResult {
  std::string name;
  std::string status;  // "ok", "warn", "fail" or "skipped"
  std::string detail;  // what the check found
  std::vector<std::string> boxes;  // the library's boxes it captured, one text each
  std::string advice;  // what to do; empty when there is nothing to do
};

// {"product", "version", "library", "status", "exit_code", "checks": [...]}; status
// is "fail" when any check failed, else "warn" when any warned, else "ok".
void writeCheckJson(std::ostream& out, const std::string& library, const std::vector<CheckResult>& checks,
                    int exitCode);

}  // namespace ufhost
