// The exit codes of the project's command-line tools (ufhost, regsvr): one
// table, so a script reads every tool's status the same way. When several
// problems occur the highest code is returned.
#pragma once

namespace ufhost {

enum ExitCode {
  kExitOk = 0,
  kExitFunctionError = 1,  // failure: a function answered a host error code, a registration failed
  kExitUsage = 2,          // the command line is wrong
  kExitLoad = 3,           // the library cannot be loaded or lacks its entry points
  kExitBadInput = 4,       // unknown function, wrong arguments, bad literal, file, template or CSV
  kExitGuard = 5,          // the library broke the buffer rules
  kExitInternal = 6,       // the tool itself failed (out of memory, output not written)
  // Partial failure: every row was written, but fiscal functions gave no date
  // for a reason of the site's set-up (a box was shown, the engine or data
  // source is missing).
  kExitSetupFailure = 7,
};

// The table as both tools' --help texts print it.
#define UFHOST_EXIT_CODE_HELP                                                              \
  "Exit codes (the highest applies when several problems occur):\n"                        \
  "  0  success\n"                                                                         \
  "  1  failure: a function answered a host error code (named, e.g.\n"                    \
  "     UFNotEnoughParameters (6)), or a registration failed\n"                            \
  "  2  usage error: the command line is wrong\n"                                          \
  "  3  the library cannot be loaded or lacks its entry points\n"                          \
  "  4  bad input: unknown function, wrong number or types of arguments, bad\n"            \
  "     literal, a missing or unreadable file or a folder, bad template or CSV\n"          \
  "  5  the library broke the buffer rules\n"                                              \
  "  6  the tool itself failed (out of memory, standard output cannot be written)\n"      \
  "  7  partial failure: every row was written, but fiscal functions gave no date\n"      \
  "     for a reason of the site's set-up\n"

}  // namespace ufhost
