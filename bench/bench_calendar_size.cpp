// Warm ZelFYEnd through the export on stored calendars (schema 5,
// OUTDIR/stored.db of bench/make_bench_data.py as "WINZELRW"): book 0 of
// companies 1 to 4 has a calendar of 3, 103, 1,003 and 10,003 cycles, that of
// company 5 a 4-4-5 calendar (the figure pandas is compared with). A separate program from bench_fyend: the
// library reads the schema version once per process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

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
BENCHMARK(BM_ZelFYEnd_Cycles)->Arg(3)->Arg(103)->Arg(1003)->Arg(10003)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ZelFYEnd_FourFourFive(benchmark::State& state) { warmExport(state, 5); }
BENCHMARK(BM_ZelFYEnd_FourFourFive)->Repetitions(5)->ReportAggregatesOnly(true);

// The numbers in a JSON array named key, as pandas_fy5253.py prints them.
std::vector<double> jsonNumbers(const std::string& text, const std::string& key) {
  std::vector<double> numbers;
  size_t at = text.find("\"" + key + "\": [");
  if (at == std::string::npos) return numbers;
  const char* p = text.c_str() + text.find('[', at) + 1;
  for (;;) {
    char* end = nullptr;
    const double v = std::strtod(p, &end);
    if (end == p) break;
    numbers.push_back(v);
    p = end;
    while (*p == ' ' || *p == ',') ++p;
  }
  return numbers;
}

// pandas' FY5253 (bench/pandas_fy5253.py, run by the Python named in
// U2LVOST_PANDAS_PY) in turn with the 4-4-5 book's warm ZelFYEnd, each first
// every other time: this machine's speed drifts by as much as two to one within
// minutes, and the two, timed apart, can see different machines. Counters:
// pandas' time per date (the median of every pass of every run) and
// ZelFYEnd's time per call (all the calls' CPU time over their count).
void BM_PandasInTurn(benchmark::State& state) {
  const char* python = std::getenv("U2LVOST_PANDAS_PY");
  if (!python || !*python) {
    state.SkipWithError("pandas is not available (U2LVOST_PANDAS_PY is not set)");
    return;
  }
  if (!Exports::get().ok) {
    state.SkipWithError("the library cannot be loaded or initialised");
    return;
  }
  FyEndCall call(5, 0);
  if (call(lookupDate(0)) <= 0) {
    state.SkipWithError("no fiscal-year end: is stored.db the data source?");
    return;
  }
  // About as long as one run of the script's passes.
  constexpr int64_t kCalls = 5000000;
  const std::string script = std::string(U2LVOST_SOURCE_DIR) + "/bench/pandas_fy5253.py";
  std::vector<double> passes;
  double callSeconds = 0;
  int64_t calls = 0, i = 0;
  auto lookups = [&] {
    const double start = bench::threadSeconds();
    for (int64_t k = 0; k < kCalls; ++k) benchmark::DoNotOptimize(call(lookupDate(++i)));
    callSeconds += bench::threadSeconds() - start;
    calls += kCalls;
  };
  bool pandasFirst = true;
  for (auto _ : state) {
    if (!pandasFirst) lookups();
    const std::vector<double> run = jsonNumbers(bench::outputOf({python, script}), "pass_ns");
    if (run.empty()) {
      state.SkipWithError("pandas_fy5253.py failed");
      return;
    }
    if (pandasFirst) lookups();
    pandasFirst = !pandasFirst;
    // The iteration's time: pandas' mean time per date over the run's passes.
    double perDate = 0;
    for (double ns : run) perDate += ns;
    state.SetIterationTime(perDate / static_cast<double>(run.size()) * 1e-9);
    passes.insert(passes.end(), run.begin(), run.end());
  }
  std::sort(passes.begin(), passes.end());
  const size_t n = passes.size();
  state.counters["pandas_ns"] = n % 2 ? passes[n / 2] : (passes[n / 2 - 1] + passes[n / 2]) / 2;
  state.counters["zelfyend_ns"] = callSeconds / static_cast<double>(calls) * 1e9;
}
BENCHMARK(BM_PandasInTurn)->UseManualTime()->Iterations(4)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
