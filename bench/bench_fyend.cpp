// Warm fiscal-year ends: once a company's calendars are loaded, a ZelFYEnd call
// is engine calls only (no statement, no new calendar). Needs the environment
// that scripts/bench.sh sets up: the sample company as "WINZELRW" and the engine
// in the class registry.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "function_library.h"
#include "host_dates.h"

namespace {

ufhost::FunctionLibrary& library() {
  static ufhost::FunctionLibrary lib;
  if (!lib.isLoaded()) {
    std::string error;
    if (!lib.load(U2LVOST_LIBRARY, error)) std::fprintf(stderr, "cannot load the library: %s\n", error.c_str());
  }
  return lib;
}

void fiscalYearEnds(benchmark::State& state, int book) {
  ufhost::FunctionLibrary& lib = library();
  const ufhost::FunctionInfo* fn = lib.isLoaded() ? lib.find("ZelFYEnd") : nullptr;
  if (!fn) {
    state.SkipWithError("ZelFYEnd is not available");
    return;
  }
  lib.startJob();
  int32_t day = ufhost::dayNumberFromCivil(2001, 1, 1);
  const std::vector<ufhost::Value> first = {ufhost::Value::makeNumber(1), ufhost::Value::makeNumber(book),
                                            ufhost::Value::makeDate(day)};
  ufhost::CallResult cold = lib.evaluate(*fn, first);  // loads the company
  if (!cold.ok() || cold.value.date == -1) {
    state.SkipWithError("the sample company is not reachable (run scripts/bench.sh)");
    lib.endJob();
    return;
  }
  std::vector<ufhost::Value> args = first;
  for (auto _ : state) {
    args[2].date = day + static_cast<int32_t>(state.iterations() % 9000);
    benchmark::DoNotOptimize(lib.evaluate(*fn, args));
  }
  lib.endJob();
}

void BM_ZelFYEndWarm_OneCycle(benchmark::State& state) { fiscalYearEnds(state, 0); }
void BM_ZelFYEndWarm_ShortYears(benchmark::State& state) { fiscalYearEnds(state, 2); }
BENCHMARK(BM_ZelFYEndWarm_OneCycle);
BENCHMARK(BM_ZelFYEndWarm_ShortYears);

}  // namespace

BENCHMARK_MAIN();
