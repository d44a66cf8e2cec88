// Year-end lookups on calendars built from books and short years (schema 4,
// OUTDIR/built.db of bench/make_bench_data.py as "WINZELRW"), each next to its
// floor measured in the same run:
//   warm ZelFYEnd through the export      vs the engine's GetFiscalYear + get_YREndDate
//   cold company load (1,000 / 10,000 short years) vs its own statements through ODBC
//   a report alternating two companies    vs the same rows, each company's together
//   100,000 rows cycling 1,000 companies  vs the same rows, each company's together
//   ufhost --report over a CSV (child CPU) vs the same export calls in a plain loop
// scripts/bench.sh sets up the environment and runs this.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "least_harness.h"

namespace {

using bench::Exports;
using bench::FyEndCall;
using bench::LeastHarness;
using bench::outputOf;
using bench::threadSeconds;
using bench::lookupDate;

constexpr int kPlainCompany = 1, kOtherCompany = 2, kThousandCompany = 3, kTenThousandCompany = 4, kSmallCompany = 5;
constexpr int kPlainBook = 0, kShortYearBook = 2;

bool ready(benchmark::State& state) {
  if (!Exports::get().ok) {
    state.SkipWithError("the library cannot be loaded or initialised");
    return false;
  }
  return true;
}

// The statements the library runs to build a company's seven calendars.
std::string busStartSql(int company) {
  return "Select BusnStart from Company where CompanyID=" + std::to_string(company);
}
std::string yearEndSql(int company, int book) {
  return "SELECT OrigYrEnd from Book where BookID = " + std::to_string(book) +
         " AND CompanyID = " + std::to_string(company);
}
std::string shortYearSql(int company, int book) {
  return "SELECT ShortYear FROM BookShYr WHERE CompanyID = " + std::to_string(company) +
         " AND BookID = " + std::to_string(book) + " ORDER BY ShortYrID";
}

// The book's calendar made in the engine the way the library builds it, from
// the same rows.
CComPtr<IVRCalendar> engineCalendarOf(int company, int book) {
  bench::Odbc db;
  CComPtr<IVRZELCalendarFactory> factory = bench::engineFactory();
  if (!db.ok() || !factory) return nullptr;
  const auto start = db.column(busStartSql(company), true);
  const auto month = db.column(yearEndSql(company, book), false);
  if (start.empty() || month.empty()) return nullptr;
  CComPtr<IDispatch> object;
  CComPtr<IVRCalendar> calendar;
  CComPtr<IVRCalendarManager> manager;
  if (FAILED(factory->CalendarFactory(object.put())) || FAILED(object.QueryInterface(IID_IVRCalendar, calendar)) ||
      FAILED(object.QueryInterface(IID_IVRCalendarManager, manager)))
    return nullptr;
  auto add = [&](DATE from, int m) {
    return manager->AddCycleEntry(from, CYCLETYPE_MONTHLY, static_cast<SHORT>(m), DATEOFWEEK_SUNDAY,
                                  YEARENDELECTION_LASTWEEKDAY, PDCOUNT_BACKWARD);
  };
  add(start[0].value, static_cast<int>(month[0].value));
  for (const auto& shortYear : db.column(shortYearSql(company, book), true)) {
    CComPtr<IVRFiscalYear> year;
    DATE yearStart = 0;
    if (FAILED(calendar->GetFiscalYear(shortYear.value, year.put())) || FAILED(year->get_YRStartDate(&yearStart)))
      return nullptr;
    add(yearStart, shortYear.month);
  }
  return calendar;
}

// Warm ZelFYEnd through the export: the company's calendars are loaded by the
// first call; every timed call is the lookup alone.
void warmExport(benchmark::State& state, int company, int book) {
  if (!ready(state)) return;
  FyEndCall call(company, book);
  if (call(lookupDate(0)) <= 0) {
    state.SkipWithError("no fiscal-year end: is built.db the data source?");
    return;
  }
  int64_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(call(lookupDate(++i)));
}

// Times yearEnd(i), the year end of lookup date i asked of the engine directly,
// once it has answered as the export does for the first 500 dates.
template <class YearEnd>
void timeEngineCalls(benchmark::State& state, int company, int book, YearEnd yearEnd) {
  FyEndCall call(company, book);
  for (int64_t i = 0; i < 500; ++i) {
    if (call(lookupDate(i)) != bench::crDate(1899, 12, 30) + static_cast<CRDate>(yearEnd(i))) {
      state.SkipWithError("the engine answers otherwise than the library");
      return;
    }
  }
  int64_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(yearEnd(++i));
}

// The floor: the engine's own two calls on the same calendar, checked first to
// answer as the export does.
void engineFloor(benchmark::State& state, int company, int book) {
  if (!ready(state)) return;
  CComPtr<IVRCalendar> calendar = engineCalendarOf(company, book);
  if (!calendar) {
    state.SkipWithError("cannot build the calendar in the engine");
    return;
  }
  auto yearEnd = [&](int64_t i) {
    CComPtr<IVRFiscalYear> year;
    DATE end = 0;
    if (SUCCEEDED(calendar->GetFiscalYear(bench::oleDate(lookupDate(i)), year.put()))) year->get_YREndDate(&end);
    return end;
  };
  timeEngineCalls(state, company, book, yearEnd);
}

void BM_ZelFYEnd_PlainBook(benchmark::State& s) { warmExport(s, kPlainCompany, kPlainBook); }
void BM_EngineFloor_PlainBook(benchmark::State& s) { engineFloor(s, kPlainCompany, kPlainBook); }
void BM_ZelFYEnd_ShortYearBook(benchmark::State& s) { warmExport(s, kPlainCompany, kShortYearBook); }
void BM_EngineFloor_ShortYearBook(benchmark::State& s) { engineFloor(s, kPlainCompany, kShortYearBook); }
// Repeated: the machine is shared, the median is steadier than one run.
BENCHMARK(BM_ZelFYEnd_PlainBook)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_EngineFloor_PlainBook)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ZelFYEnd_ShortYearBook)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_EngineFloor_ShortYearBook)->Repetitions(5)->ReportAggregatesOnly(true);

// A company's cold-load statements on a connection of our own, every row
// fetched and column 1 read as the library reads it; the rows read.
size_t coldLoadStatements(bench::Odbc& db, int company) {
  size_t rows = db.column(busStartSql(company), true).size();
  for (int book = 0; book < 7; ++book) {
    rows += db.column(yearEndSql(company, book), false).size();
    rows += db.column(shortYearSql(company, book), true).size();
  }
  return rows;
}

// Cold load: a new report job and another company first, so that the timed call
// builds the company's seven calendars, whichever way calendars are kept. Its
// floor, the same statements alone, runs in turn with every load (before it
// every other time), each timed by the thread's CPU clock: this machine's speed
// drifts by as much as two to one within minutes, and a load and its floor
// timed apart can see different machines. The iteration time is the load's;
// the counters give the mean load and the mean of its statements.
int companyOfShortYears(int64_t count) { return count == 1000 ? kThousandCompany : kTenThousandCompany; }

void BM_ColdLoad(benchmark::State& state) {
  if (!ready(state)) return;
  bench::Odbc db;
  if (!db.ok()) {
    state.SkipWithError("cannot connect to WINZELRW");
    return;
  }
  const int company = companyOfShortYears(state.range(0));
  FyEndCall big(company, kShortYearBook), small(kSmallCompany, kPlainBook);
  double loadSeconds = 0, statementSeconds = 0;
  size_t rows = 0;
  bool statementsFirst = false;
  auto statements = [&] {
    const double start = threadSeconds();
    rows = coldLoadStatements(db, company);
    statementSeconds += threadSeconds() - start;
  };
  for (auto _ : state) {
    Exports::get().newJob();
    small(lookupDate(0));
    if (statementsFirst) statements();
    const double start = threadSeconds();
    const bool answered = big(lookupDate(0)) > 0;
    const double took = threadSeconds() - start;
    if (!statementsFirst) statements();
    statementsFirst = !statementsFirst;
    if (!answered) {
      state.SkipWithError("no fiscal-year end for the company");
      return;
    }
    state.SetIterationTime(took);
    loadSeconds += took;
  }
  if (rows < static_cast<size_t>(state.range(0))) {
    state.SkipWithError("the short years are missing");
    return;
  }
  const double loads = static_cast<double>(state.iterations());
  state.counters["load_ns"] = loadSeconds / loads * 1e9;
  state.counters["statements_ns"] = statementSeconds / loads * 1e9;
}
BENCHMARK(BM_ColdLoad)
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// The statements alone, timed apart from the loads: for comparing with runs
// made before the two were timed in turn.
void BM_ColdLoadSql(benchmark::State& state) {
  bench::Odbc db;
  if (!db.ok()) {
    state.SkipWithError("cannot connect to WINZELRW");
    return;
  }
  const int company = companyOfShortYears(state.range(0));
  size_t rows = 0;
  for (auto _ : state) rows = coldLoadStatements(db, company);
  if (rows < static_cast<size_t>(state.range(0))) state.SkipWithError("the short years are missing");
}
BENCHMARK(BM_ColdLoadSql)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// A report of 1,000 rows, every row one direct ZelFYEnd call; rows alternate
// between two companies. Its floor is the same rows with each company's
// together (one switch in all): the same calls and answers, so the two differ
// only by the switching. The report on the first company alone is timed too,
// for the record: the second company's year ends cost a little more to find.
// The three run in turn, each first in turn, each timed by the thread's CPU
// clock: on a shared machine whose speed drifts, all three see the same
// machine. The iteration time is the three's; the counters give each report's
// rows per second.
void BM_Report_Companies(benchmark::State& state) {
  if (!ready(state)) return;
  Exports::get().newJob();
  FyEndCall first(kPlainCompany, kPlainBook), second(kOtherCompany, kPlainBook);
  if (first(lookupDate(0)) <= 0 || second(lookupDate(0)) <= 0) {
    state.SkipWithError("no fiscal-year end for one of the two companies: is built.db the data source?");
    return;
  }
  constexpr int kRows = 1000;
  enum Order { kAlternating, kGrouped, kOneCompany };
  // Rows that answer no date: a report that fails fast must not pass for a fast one.
  int64_t missing = 0;
  auto run = [&](Order order) {
    const double start = threadSeconds();
    for (int r = 0; r < kRows; ++r) {
      // Row r of the alternating report is row `row` here.
      const int row = order == kGrouped ? (r < kRows / 2 ? 2 * r : 2 * (r - kRows / 2) + 1) : r;
      FyEndCall& call = order != kOneCompany && (row & 1) ? second : first;
      missing += call(lookupDate(row)) <= 0;
    }
    return threadSeconds() - start;
  };
  double seconds[3] = {};
  int firstOrder = 0;
  for (auto _ : state) {
    for (int k = 0; k < 3; ++k) {
      const Order order = static_cast<Order>((firstOrder + k) % 3);
      seconds[order] += run(order);
    }
    firstOrder = (firstOrder + 1) % 3;
  }
  if (missing > 0) {
    state.SkipWithError("some rows answered no fiscal-year end");
    return;
  }
  const double rows = static_cast<double>(state.iterations()) * kRows;
  auto rate = [&](Order order) { return seconds[order] > 0 ? rows / seconds[order] : 0; };
  state.counters["alternating_rows_per_s"] = rate(kAlternating);
  state.counters["grouped_rows_per_s"] = rate(kGrouped);
  state.counters["one_company_rows_per_s"] = rate(kOneCompany);
}
BENCHMARK(BM_Report_Companies)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// A consolidated report: 100,000 rows of one book (the tax book, 0) cycling
// the 1,000 companies 1001 to 2000 row by row, against the same rows with each
// company's together.
// Both must give the same answers, and every company is read once in the job:
// the first pass loads them, then the two orders run in turn, each timed by
// the thread's CPU clock. The memory the 1,000 companies took (the heap's bytes
// in use before and after the first pass) gives a company's footprint.
void BM_Report_ThousandCompanies(benchmark::State& state) {
  if (!ready(state)) return;
  constexpr int kCompanies = 1000, kRows = 100000, kPerCompany = kRows / kCompanies;
  // One parameter block for every row, as a host passes them: only the
  // company argument changes. Row r of the cycling report is company r % 1,000's.
  FyEndCall fyEnd(1001, 0);
  auto call = [&](int r) -> FyEndCall& {
    fyEnd.args[0].Parameter.ParamNumber = (1001 + r % kCompanies) * 100.0;
    return fyEnd;
  };
  // Row r of the grouped report is row `row` of the cycling one.
  auto grouped = [&](int r) { return (r % kPerCompany) * kCompanies + r / kPerCompany; };

  Exports::get().newJob();
  const size_t heapBefore = bench::heapInUse();
  std::vector<CRDate> answers(kRows);
  for (int r = 0; r < kRows; ++r) answers[static_cast<size_t>(r)] = call(r)(lookupDate(r));
  const size_t heapAfter = bench::heapInUse();
  for (CRDate a : answers)
    if (a <= 0) {
      state.SkipWithError("some rows answered no fiscal-year end: is built.db the data source?");
      return;
    }
  int64_t differing = 0;
  auto run = [&](bool isGrouped) {
    const double start = threadSeconds();
    for (int r = 0; r < kRows; ++r) {
      const int row = isGrouped ? grouped(r) : r;
      differing += call(row)(lookupDate(row)) != answers[static_cast<size_t>(row)];
    }
    return threadSeconds() - start;
  };
  double seconds[2] = {};
  int firstOrder = 0;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) seconds[(firstOrder + k) % 2] += run((firstOrder + k) % 2 == 1);
    firstOrder ^= 1;
  }
  if (differing > 0) {
    state.SkipWithError("the two orders answered differently");
    return;
  }
  // The same two orders on the engine alone: the book-0 calendars of the 1,000
  // companies built in the engine, each row the floor's two calls. What the
  // engine loses to a new calendar every row, the library cannot win back.
  std::vector<CComPtr<IVRCalendar>> engineCalendars;
  for (int c = 0; c < kCompanies && engineCalendars.size() == static_cast<size_t>(c); ++c)
    if (CComPtr<IVRCalendar> calendar = engineCalendarOf(1001 + c, 0)) engineCalendars.push_back(calendar);
  auto engineRun = [&](bool isGrouped) {
    const double start = threadSeconds();
    for (int r = 0; r < kRows; ++r) {
      const int row = isGrouped ? grouped(r) : r;
      CComPtr<IVRFiscalYear> year;
      DATE end = 0;
      if (SUCCEEDED(engineCalendars[static_cast<size_t>(row % kCompanies)]->GetFiscalYear(
              bench::oleDate(lookupDate(row)), year.put())))
        year->get_YREndDate(&end);
      differing += bench::crDate(1899, 12, 30) + static_cast<CRDate>(end) != answers[static_cast<size_t>(row)];
    }
    return threadSeconds() - start;
  };
  double engineSeconds[2] = {};
  if (engineCalendars.size() == static_cast<size_t>(kCompanies))
    for (int k = 0; k < 6; ++k) engineSeconds[k % 2] += engineRun(k % 2 == 1);
  if (differing > 0) {
    state.SkipWithError("the engine alone answered otherwise than the library");
    return;
  }
  const double rows = static_cast<double>(state.iterations()) * kRows;
  state.counters["cycling_rows_per_s"] = seconds[0] > 0 ? rows / seconds[0] : 0;
  state.counters["grouped_rows_per_s"] = seconds[1] > 0 ? rows / seconds[1] : 0;
  state.counters["engine_cycling_rows_per_s"] = engineSeconds[0] > 0 ? 3.0 * kRows / engineSeconds[0] : 0;
  state.counters["engine_grouped_rows_per_s"] = engineSeconds[1] > 0 ? 3.0 * kRows / engineSeconds[1] : 0;
  state.counters["company_bytes"] =
      heapAfter > heapBefore ? static_cast<double>(heapAfter - heapBefore) / kCompanies : 0;
}
BENCHMARK(BM_Report_ThousandCompanies)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)
    ->ReportAggregatesOnly(true);

// The million-row report's calls in a plain loop: per row ZelFYEnd, ZelCalYEnd
// and ZelNum, as the report template has them, with the arguments of the
// report's own rows (OUTDIR/rows-100000.csv, read once), so that the loop and
// ufhost make the same calls with the same values.
class ReportCalls {
 public:
  ReportCalls()
      : fy_({bench::number(1), bench::number(0), bench::date(0)}),
        cal_({bench::number(1), bench::number(0), bench::date(0)}),
        num_({bench::number(12), bench::number(2), bench::text("")}, 20) {
    const char* data = std::getenv("U2LVOST_BENCH_DATA");
    std::FILE* f = data ? std::fopen((std::string(data) + "/rows-100000.csv").c_str(), "r") : nullptr;
    if (!f) return;
    char line[256];
    bool header = true;
    while (std::fgets(line, sizeof line, f)) {
      int company = 0, book = 0, y = 0, m = 0, d = 0;
      char cost[64];
      if (header) {
        header = false;
        continue;
      }
      if (std::sscanf(line, "%d,%d,%d-%d-%d,%63[^,\r\n]", &company, &book, &y, &m, &d, cost) != 6) continue;
      rows_.push_back(Row{company * 100.0, book * 100.0, bench::crDate(y, m, d), cost});
    }
    std::fclose(f);
    fy_.block.ReturnValue.ReturnDate = 0;
    Exports::get().fyEnd(&fy_.block);  // loads the company
  }
  bool ok() const { return !rows_.empty(); }
  int64_t size() const { return static_cast<int64_t>(rows_.size()); }

  // rows calls of each, going round the rows read.
  void run(int64_t rows) {
    const Exports& e = Exports::get();
    size_t r = 0;
    for (int64_t i = 0; i < rows; ++i) {
      const Row& row = rows_[r];
      if (++r == rows_.size()) r = 0;
      fy_.args[0].Parameter.ParamNumber = cal_.args[0].Parameter.ParamNumber = row.company;
      fy_.args[1].Parameter.ParamNumber = cal_.args[1].Parameter.ParamNumber = row.book;
      fy_.args[2].Parameter.ParamDate = cal_.args[2].Parameter.ParamDate = row.date;
      num_.args[2].Parameter.ParamString = const_cast<char*>(row.cost.c_str());
      e.fyEnd(&fy_.block);
      e.calYEnd(&cal_.block);
      e.num(&num_.block);
      benchmark::DoNotOptimize(fy_.block.ReturnValue.ReturnDate);
      benchmark::DoNotOptimize(cal_.block.ReturnValue.ReturnDate);
      benchmark::DoNotOptimize(num_.text[0]);
    }
  }

 private:
  struct Row {
    double company, book;  // as formula numbers come: a hundred times the value
    CRDate date;
    std::string cost;
  };
  std::vector<Row> rows_;
  bench::Call fy_, cal_, num_;
};

void BM_ReportCallsLoop(benchmark::State& state) {
  if (!ready(state)) return;
  ReportCalls calls;
  if (!calls.ok()) {
    state.SkipWithError("cannot read rows-100000.csv (run scripts/bench.sh)");
    return;
  }
  for (auto _ : state) calls.run(calls.size());
  state.SetItemsProcessed(state.iterations() * calls.size());
}
BENCHMARK(BM_ReportCallsLoop)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

// Runs the command through child_usage: its CPU seconds and peak memory; false
// when it could not be run or did not exit with 0.
bool childUsage(const std::vector<std::string>& command, double* cpu, long* maxrssKb) {
  std::vector<std::string> launched{CHILD_USAGE_PATH};
  launched.insert(launched.end(), command.begin(), command.end());
  const std::string line = outputOf(launched);
  int exitCode = -1;
  return std::sscanf(line.c_str(), "%lf %ld %d", cpu, maxrssKb, &exitCode) == 3 && exitCode == 0;
}

// A report program over OUTDIR/rows-N.csv as a child process: its CPU time
// (user + system, from wait4 in child_usage) as the iteration time, its peak
// resident memory as a counter. Output goes to /dev/null. Each child is
// followed by the same number of rows of the plain loop above, timed by this
// thread's CPU clock, so that the ratio of the two comes from runs side by
// side on the same machine. command gets the CSV's path at its end.
void childReport(benchmark::State& state, std::vector<std::string> command) {
  if (!ready(state)) return;
  const char* data = std::getenv("U2LVOST_BENCH_DATA");
  if (!data) {
    state.SkipWithError("U2LVOST_BENCH_DATA is not set (run scripts/bench.sh)");
    return;
  }
  const std::string rows = std::string(data) + "/rows-" + std::to_string(state.range(0)) + ".csv";
  if (access(rows.c_str(), R_OK) != 0) {
    state.SkipWithError(("missing " + rows).c_str());
    return;
  }
  command.push_back(rows);
  double maxrssMb = 0, childSeconds = 0, loopSeconds = 0;
  ReportCalls calls;
  if (!calls.ok()) {
    state.SkipWithError("cannot read rows-100000.csv (run scripts/bench.sh)");
    return;
  }
  for (auto _ : state) {
    double cpu = 0;
    long maxrssKb = 0;
    if (!childUsage(command, &cpu, &maxrssKb)) {
      state.SkipWithError("the report program failed");
      break;
    }
    state.SetIterationTime(cpu);
    maxrssMb = static_cast<double>(maxrssKb) / 1024.0;
    childSeconds += cpu;
    const double loopStart = threadSeconds();
    calls.run(state.range(0));
    loopSeconds += threadSeconds() - loopStart;
  }
  const double done = static_cast<double>(state.iterations() * state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["maxrss_MB"] = maxrssMb;
  state.counters["child_rows_per_s"] = childSeconds > 0 ? done / childSeconds : 0;
  state.counters["loop_rows_per_s"] = loopSeconds > 0 ? done / loopSeconds : 0;
}

// ufhost --report on library.
void ufhostReport(benchmark::State& state, const char* library) {
  childReport(state, {UFHOST_PATH, library, "--report", std::string(U2LVOST_SOURCE_DIR) + "/bench/report_rows.txt",
                      "--rows"});
}

// One child run per iteration, its CPU time as the iteration's time.
void childRuns(benchmark::internal::Benchmark* b) {
  b->UseManualTime()->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
}

void BM_UfhostReport(benchmark::State& state) { ufhostReport(state, U2LVOST_LIBRARY); }
BENCHMARK(BM_UfhostReport)->Arg(100000)->Arg(1000000)->Apply(childRuns);

// The same report on a library whose three functions only hand an argument
// back: the harness's own cost per row, against the real calls' loop.
void BM_UfhostHarnessAlone(benchmark::State& state) { ufhostReport(state, NULL_LIBRARY_PATH); }
BENCHMARK(BM_UfhostHarnessAlone)->Arg(1000000)->Apply(childRuns);

// The least harness next to the plain loop, in turn, a million rows each;
// first it must write what ufhost writes for the same rows.
void BM_ReportLeastHarness(benchmark::State& state) {
  if (!ready(state)) return;
  const char* data = std::getenv("U2LVOST_BENCH_DATA");
  ReportCalls calls;
  if (!data || !calls.ok()) {
    state.SkipWithError("cannot read the rows (run scripts/bench.sh)");
    return;
  }
  LeastHarness least;
  const std::string sample = std::string(data) + "/rows-100000.csv", written = std::string(data) + "/least.out";
  const std::string expected = outputOf(
      {UFHOST_PATH, U2LVOST_LIBRARY, "--report", std::string(U2LVOST_SOURCE_DIR) + "/bench/report_rows.txt", "--rows",
       sample});
  std::string got;
  if (least.run(sample, written.c_str()) == 100000) {
    std::ifstream in(written, std::ios::binary);
    got.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::remove(written.c_str());
  if (expected.empty() || got != expected) {
    state.SkipWithError("the least harness does not write what ufhost writes");
    return;
  }
  const std::string rows = std::string(data) + "/rows-" + std::to_string(state.range(0)) + ".csv";
  double leastSeconds = 0, loopSeconds = 0;
  for (auto _ : state) {
    const double start = threadSeconds();
    const long done = least.run(rows);
    const double took = threadSeconds() - start;
    if (done != state.range(0)) {
      state.SkipWithError("the least harness failed");
      break;
    }
    state.SetIterationTime(took);
    leastSeconds += took;
    const double loopStart = threadSeconds();
    calls.run(state.range(0));
    loopSeconds += threadSeconds() - loopStart;
  }
  const double done = static_cast<double>(state.iterations() * state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["least_rows_per_s"] = leastSeconds > 0 ? done / leastSeconds : 0;
  state.counters["loop_rows_per_s"] = loopSeconds > 0 ? done / loopSeconds : 0;
}
BENCHMARK(BM_ReportLeastHarness)->Arg(1000000)->Apply(childRuns);

// The same hand-written report as a program of its own, like ufhost: its start,
// the library's loading, the first company load and the ending are in its time
// too. Its ratio is the most any report program with these checks can reach.
void BM_ReportLeastProgram(benchmark::State& state) { childReport(state, {LEAST_REPORT_PATH}); }
BENCHMARK(BM_ReportLeastProgram)->Arg(1000000)->Apply(childRuns);

}  // namespace

BENCHMARK_MAIN();
