// The ufhost command, apart from main() so that its whole behaviour lives in
// the harness library.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "exit_codes.h"

namespace ufhost {

// args excludes the program name. The terminal flags say whether standard
// error and standard output are terminals (for the report's progress count).
int runUfhost(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
              bool errIsTerminal, bool outIsTerminal);

}  // namespace ufhost
