// The ufhost command, apart from main() so that its whole behaviour lives in
// the harness library.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace ufhost {

// Exit codes; when several problems occur the highest one is returned.
enum ExitCode {
  kExitOk = 0,
  kExitFunctionError = 1,  // a function answered a host error code
  kExitUsage = 2,          // the command line is wrong
  kExitLoad = 3,           // the library cannot be loaded or is not a function library
  kExitBadInput = 4,       // unknown function, wrong arguments, bad literal, file, template or CSV
  kExitGuard = 5,          // the library broke the buffer rules
  kExitInternal = 6,       // the harness itself failed (out of memory)
  // Every row was written, but fiscal functions gave no date for a reason of
  // the site's set-up (a box was shown, the engine or data source is missing).
  kExitSetupFailure = 7,
};

const char* ufhostHelp();

// args excludes the program name. The terminal flags say whether standard
// error and standard output are terminals (for the report's progress count).
int runUfhost(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
              bool errIsTerminal, bool outIsTerminal);

}  // namespace ufhost
