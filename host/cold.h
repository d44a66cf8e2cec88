// Marks code that runs only when something went wrong or is out of the
// ordinary: kept out of line, away from the code that every report row runs,
// so that the row's code stays few cache lines.
#pragma once

#if defined(__GNUC__)
#define UFHOST_COLD __attribute__((noinline, cold))
// Run often, from several places: one copy of its code rather than one per place.
#define UFHOST_SHARED __attribute__((noinline))
#else
#define UFHOST_COLD
#define UFHOST_SHARED
#endif
