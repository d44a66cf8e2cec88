// Marks code that runs only when something went wrong or is out of the
// ordinary: kept out of line, away from the code that every report row runs,
// so that the row's code stays few cache lines.
#pragma once

#if defined(__GNUC__)
#define UFHOST_COLD __attribute__((noinline, cold))
#else
#define UFHOST_COLD
#endif
