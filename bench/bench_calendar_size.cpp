// Warm ZelFYEnd through the export on stored calendars (schema 5,
// OUTDIR/stored.db of bench/make_bench_data.py as "WINZELRW"): book 0 of
// companies 1 to 4 has a calendar of 3, 103, 1,003 and 10,003 cycles, that of
// company 5 a 4-4-5 calendar (the figure pandas is compared with). A separate program from bench_fyend: the
// library reads the schema version once per process.
#include <benchmark/benchmark.h>

#include "bench_support.h"

namespace {

using bench::Exports;
using bench::FyEndCall;
using bench::lookupDate;

void warmExport(benchmark::State& state, int company) {
  if (!Exports::get().ok) {
    state.SkipWithError("the library cannot be loaded or initialised");
    return;
  }
  FyEndCall call(company, 0);
  if (call(lookupDate(0)) <= 0) {
    state.SkipWithError("no fiscal-year end: is stored.db the data source?");
    return;
  }
  int64_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(call(lookupDate(++i)));
}

// The argument is the number of cycles; companies 1..4 hold them in that order.
void BM_ZelFYEnd_Cycles(benchmark::State& state) {
  const int company = state.range(0) == 3 ? 1 : state.range(0) == 103 ? 2 : state.range(0) == 1003 ? 3 : 4;
  warmExport(state, company);
}
BENCHMARK(BM_ZelFYEnd_Cycles)->Arg(3)->Arg(103)->Arg(1003)->Arg(10003);

void BM_ZelFYEnd_FourFourFive(benchmark::State& state) { warmExport(state, 5); }
BENCHMARK(BM_ZelFYEnd_FourFourFive);

}  // namespace

BENCHMARK_MAIN();
