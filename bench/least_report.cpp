// The hand-written report as a program of its own: what bench_fyend times
// inside its process, with what any report program pays on top (its start,
// loading the library and the engine, the first company load, the ending).
// bench_fyend runs it as a child and takes its CPU time.
//   least_report ROWS.csv [OUTPUT]   (OUTPUT: /dev/null when not given)
// Prints the rows done; exits with 1 when the library cannot be loaded, a
// file cannot be opened or a row cannot be done.
#include <cstdio>

#include "bench_support.h"
#include "least_harness.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: least_report ROWS.csv [OUTPUT]\n");
    return 2;
  }
  bench::Exports& e = bench::Exports::get();
  if (!e.ok) return 1;
  bench::LeastHarness least;
  const long rows = least.run(argv[1], argc == 3 ? argv[2] : "/dev/null");
  // Ended as a host ends it: the job closed, the library told to let go.
  e.endJob(e.job);
  e.terminate();
  CoUninitialize();
  if (rows < 0) {
    std::fprintf(stderr, "least_report: a file could not be opened or a row could not be done\n");
    return 1;
  }
  std::printf("%ld\n", rows);
  return 0;
}
