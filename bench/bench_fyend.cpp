// Year-end lookups on calendars built from books and short years (schema 4,
// OUTDIR/built.db of bench/make_bench_data.py as "WINZELRW"), each next to its
// floor measured in the same run:
//   warm ZelFYEnd through the export      vs the engine's GetFiscalYear + get_YREndDate
//   cold company load (1,000 / 10,000 short years) vs its own statements through ODBC
//   a report alternating two companies    vs the same rows, each company's together
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

namespace {

using bench::Exports;
using bench::FyEndCall;
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

// The engine calls a lookup makes, alone: the company's seven calendars in a
// collection, each with its CalendarID, walked and asked exactly as the library
// asks them, with no library code around the calls. What the export costs
// beyond this is the library's own work; this beyond the floor is the price of
// the calling sequence itself.
class EngineSequence {
 public:
  EngineSequence(int company, int book) : id_(book + 1) {
    if (FAILED(CoCreateInstance(CLSID_ktEnumDispatch, nullptr, 7, IID_IktEnumDispatch, list_.putVoid())) || !list_)
      return;
    for (int b = 0; b < 7; ++b) {
      CComPtr<IVRCalendar> calendar = engineCalendarOf(company, b);
      CComPtr<IVRPersistXML> xml;
      if (!calendar || FAILED(calendar.QueryInterface(IID_IVRPersistXML, xml))) return;
      const std::u16string text = std::u16string(1, static_cast<char16_t>(u'1' + b));
      BSTR name = SysAllocString(OLESTR("CalendarID"));
      BSTR value = SysAllocString(reinterpret_cast<const OLECHAR*>(text.c_str()));
      const HRESULT hr = xml->put_Attribute(name, value);
      SysFreeString(value);
      SysFreeString(name);
      if (FAILED(hr) || FAILED(list_->Append(calendar.get()))) return;
    }
    name_ = SysAllocString(OLESTR("CalendarID"));
    ok_ = name_ != nullptr;
  }
  ~EngineSequence() { SysFreeString(name_); }
  EngineSequence(const EngineSequence&) = delete;
  bool ok() const { return ok_; }

  DATE operator()(DATE date) {
    LONG count = 0;
    if (FAILED(list_->get_Count(&count))) return 0;
    CComPtr<IVRPersistXML> xml;
    CComPtr<IVRCalendarManager> manager;
    CComPtr<IVRCalendar> calendar;
    for (LONG i = 0; i < count; ++i) {
      CComPtr<IDispatch> element;
      if (FAILED(list_->get_GetAt(i, element.put())) || FAILED(element.QueryInterface(IID_IVRPersistXML, xml)) ||
          FAILED(element.QueryInterface(IID_IVRCalendarManager, manager)) ||
          FAILED(element.QueryInterface(IID_IVRCalendar, calendar)))
        return 0;
      BSTR text = nullptr;
      if (FAILED(xml->get_Attribute(name_, &text))) return 0;
      const bool found = text && text[0] == static_cast<OLECHAR>(u'0' + id_) && text[1] == 0;
      SysFreeString(text);
      if (found) break;
    }
    CComPtr<IktEnumDispatch> cycles;
    LONG cycleCount = 0;
    if (FAILED(manager->get_CycleList(cycles.put())) || FAILED(cycles->get_Count(&cycleCount))) return 0;
    CComPtr<IVRFiscalYear> year;
    DATE end = 0;
    if (FAILED(calendar->GetFiscalYear(date, year.put())) || FAILED(year->get_YREndDate(&end))) return 0;
    return end;
  }

 private:
  CComPtr<IktEnumDispatch> list_;
  BSTR name_ = nullptr;
  int id_;
  bool ok_ = false;
};

void engineSequence(benchmark::State& state, int company, int book) {
  if (!ready(state)) return;
  EngineSequence lookup(company, book);
  if (!lookup.ok()) {
    state.SkipWithError("cannot build the calendars in the engine");
    return;
  }
  timeEngineCalls(state, company, book, [&](int64_t i) { return lookup(bench::oleDate(lookupDate(i))); });
}

void BM_ZelFYEnd_PlainBook(benchmark::State& s) { warmExport(s, kPlainCompany, kPlainBook); }
void BM_EngineFloor_PlainBook(benchmark::State& s) { engineFloor(s, kPlainCompany, kPlainBook); }
void BM_ZelFYEnd_ShortYearBook(benchmark::State& s) { warmExport(s, kPlainCompany, kShortYearBook); }
void BM_EngineFloor_ShortYearBook(benchmark::State& s) { engineFloor(s, kPlainCompany, kShortYearBook); }
void BM_EngineSequence_PlainBook(benchmark::State& s) { engineSequence(s, kPlainCompany, kPlainBook); }
void BM_EngineSequence_ShortYearBook(benchmark::State& s) { engineSequence(s, kPlainCompany, kShortYearBook); }
// Repeated: the machine is shared, the median is steadier than one run.
BENCHMARK(BM_ZelFYEnd_PlainBook)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_EngineFloor_PlainBook)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ZelFYEnd_ShortYearBook)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_EngineFloor_ShortYearBook)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_EngineSequence_PlainBook)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_EngineSequence_ShortYearBook)->Repetitions(5)->ReportAggregatesOnly(true);

// Cold load: a new report job and another company first, so that the timed call
// builds the company's seven calendars, whichever way calendars are kept.
int companyOfShortYears(int64_t count) { return count == 1000 ? kThousandCompany : kTenThousandCompany; }

void BM_ColdLoad(benchmark::State& state) {
  if (!ready(state)) return;
  FyEndCall big(companyOfShortYears(state.range(0)), kShortYearBook), small(kSmallCompany, kPlainBook);
  for (auto _ : state) {
    state.PauseTiming();
    Exports::get().newJob();
    small(lookupDate(0));
    state.ResumeTiming();
    if (big(lookupDate(0)) <= 0) state.SkipWithError("no fiscal-year end for the company");
  }
}
BENCHMARK(BM_ColdLoad)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Its floor: the same statements on a connection of our own, every row fetched.
void BM_ColdLoadSql(benchmark::State& state) {
  bench::Odbc db;
  if (!db.ok()) {
    state.SkipWithError("cannot connect to WINZELRW");
    return;
  }
  const int company = companyOfShortYears(state.range(0));
  size_t rows = 0;
  for (auto _ : state) {
    rows = db.column(busStartSql(company), true).size();
    for (int book = 0; book < 7; ++book) {
      rows += db.column(yearEndSql(company, book), false).size();
      rows += db.column(shortYearSql(company, book), true).size();
    }
  }
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
double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

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

// What a command writes on its standard output; empty when it fails.
std::string outputOf(const std::vector<std::string>& command) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  char buffer[1 << 14];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return text;
}

// Runs the command through child_usage: its CPU seconds and peak memory; false
// when it could not be run or did not exit with 0.
bool childUsage(const std::vector<std::string>& command, double* cpu, long* maxrssKb) {
  std::vector<std::string> launched{CHILD_USAGE_PATH};
  launched.insert(launched.end(), command.begin(), command.end());
  const std::string line = outputOf(launched);
  int exitCode = -1;
  return std::sscanf(line.c_str(), "%lf %ld %d", cpu, maxrssKb, &exitCode) == 3 && exitCode == 0;
}

// ufhost --report on library over OUTDIR/rows-N.csv as a child process: its
// CPU time (user + system, from wait4 in child_usage) as the iteration time,
// its peak resident memory as a counter. Output goes to /dev/null. Each child
// is followed by the same number of rows of the plain loop above, timed by
// this thread's CPU clock, so that the ratio of the two comes from runs side
// by side on the same machine.
void ufhostReport(benchmark::State& state, const char* library) {
  if (!ready(state)) return;
  const char* data = std::getenv("U2LVOST_BENCH_DATA");
  if (!data) {
    state.SkipWithError("U2LVOST_BENCH_DATA is not set (run scripts/bench.sh)");
    return;
  }
  const std::string rows = std::string(data) + "/rows-" + std::to_string(state.range(0)) + ".csv";
  const std::string report = std::string(U2LVOST_SOURCE_DIR) + "/bench/report_rows.txt";
  if (access(rows.c_str(), R_OK) != 0) {
    state.SkipWithError(("missing " + rows).c_str());
    return;
  }
  double maxrssMb = 0, childSeconds = 0, loopSeconds = 0;
  ReportCalls calls;
  if (!calls.ok()) {
    state.SkipWithError("cannot read rows-100000.csv (run scripts/bench.sh)");
    return;
  }
  for (auto _ : state) {
    double cpu = 0;
    long maxrssKb = 0;
    if (!childUsage({UFHOST_PATH, library, "--report", report, "--rows", rows}, &cpu, &maxrssKb)) {
      state.SkipWithError("ufhost failed");
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
  state.counters["ufhost_rows_per_s"] = childSeconds > 0 ? done / childSeconds : 0;
  state.counters["loop_rows_per_s"] = loopSeconds > 0 ? done / loopSeconds : 0;
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

// The least work any harness must add to the loop above on this report,
// written for this one template and done inline: the CSV read from its file
// in 64 KB blocks and split at its commas, company, book and date read from
// their fields, the cost passed as a text in a buffer between 64-byte guards,
// ZelNum's result in another, every guard and the argument text checked after
// the call, each call's error code looked at, and the three results written
// as text into 64 KB blocks that go to /dev/null. No general harness does
// less, so loop / (loop + this) is the most ufhost --report can reach.
class LeastHarness {
 public:
  static constexpr size_t kGuard = 64, kBlock = 1 << 16;

  LeastHarness()
      : fy_({bench::number(1), bench::number(0), bench::date(0)}),
        cal_({bench::number(1), bench::number(0), bench::date(0)}),
        num_({bench::number(12), bench::number(2), bench::text("")}),
        in_(kBlock + 64),
        out_(kBlock + 64) {
    std::memset(argZone_, kFill, sizeof argZone_);
    std::memset(resultZone_, kFill, sizeof resultZone_);
    num_.block.ReturnValue.ReturnString = resultZone_ + kGuard;
    num_.args[2].Parameter.ParamString = argZone_ + kGuard;
    for (Kept& k : kept_) k.day = -1;
    for (int i = 0; i < 3; ++i) {
      UFMemCalcParam& m = sizeArgs_[i];
      m.StructSize = sizeof m;
      m.NextMemCalcParam = i < 2 ? &sizeArgs_[i + 1] : nullptr;
      m.MemCalcLiteralFlag = UFLiteral;
      m.MemCalcParamType = num_.args[static_cast<size_t>(i)].ParamType;
      m.MemCalcParamLength = num_.args[static_cast<size_t>(i)].ParamLength;
    }
    sizing_.StructSize = sizeof sizing_;
    sizing_.MemCalcCommand = UFCalcStringLength;
    sizing_.UFMemCalcParamList = sizeArgs_;
    sizing_.UFParamList = num_.args.data();
  }

  // Rows done over the file, their text written to output; -1 when a call
  // failed or a file cannot be opened.
  long run(const std::string& path, const char* output = "/dev/null") {
    const int fd = open(path.c_str(), O_RDONLY);
    const int sink = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || sink < 0) return -1;
    const Exports& e = Exports::get();
    long rows = 0;
    size_t have = 0, at = 0, used = 0;
    bool header = true, failed = false;
    for (;;) {
      const char* eol = static_cast<const char*>(std::memchr(in_.data() + at, '\n', have - at));
      if (!eol) {  // the rest of a line moves to the front, more is read behind it
        std::memmove(in_.data(), in_.data() + at, have - at);
        have -= at;
        at = 0;
        const ssize_t n = read(fd, in_.data() + have, kBlock - have);
        if (n <= 0) break;
        have += static_cast<size_t>(n);
        continue;
      }
      const char* p = in_.data() + at;
      at = static_cast<size_t>(eol - in_.data()) + 1;
      if (header) {
        header = false;
        continue;
      }
      const char* c1 = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(eol - p)));
      const char* c2 = c1 ? static_cast<const char*>(std::memchr(c1 + 1, ',', static_cast<size_t>(eol - c1 - 1))) : nullptr;
      const char* c3 = c2 ? static_cast<const char*>(std::memchr(c2 + 1, ',', static_cast<size_t>(eol - c2 - 1))) : nullptr;
      if (!c3 || c3 - c2 != 11) {
        failed = true;
        break;
      }
      const double company = integer(p, c1) * 100.0, book = integer(c1 + 1, c2) * 100.0;
      const CRDate date = isoDate(c2 + 1);
      const size_t costLength = static_cast<size_t>(eol - c3 - 1);
      if (costLength >= 48) {
        failed = true;
        break;
      }
      char* cost = argZone_ + kGuard;
      std::memcpy(cost, c3 + 1, costLength);
      cost[costLength] = '\0';
      std::memset(cost + costLength + 1, kFill, kGuard);  // the back guard moves with the text's end
      fy_.args[0].Parameter.ParamNumber = cal_.args[0].Parameter.ParamNumber = company;
      fy_.args[1].Parameter.ParamNumber = cal_.args[1].Parameter.ParamNumber = book;
      fy_.args[2].Parameter.ParamDate = cal_.args[2].Parameter.ParamDate = date;
      // ZelNum's result buffer is as long as its size function asks, each call.
      for (int i = 0; i < 3; ++i) sizeArgs_[i].MemCalcParameter = num_.args[static_cast<size_t>(i)].Parameter;
      sizeArgs_[2].MemCalcParamLength = static_cast<int16_t>(costLength + 1);
      num_.args[2].ParamLength = static_cast<int16_t>(costLength + 1);
      sizing_.UFMemCalcStringLength = 0;
      if (e.numSize(&sizing_) != UFNoError || sizing_.UFMemCalcStringLength < 1 ||
          sizing_.UFMemCalcStringLength > kResultRoom) {
        failed = true;
        break;
      }
      const size_t resultSize = static_cast<size_t>(sizing_.UFMemCalcStringLength);
      std::memset(resultZone_ + kGuard, kFill, resultSize + kGuard);  // the body, and the back guard behind it
      num_.block.ReturnValueLength = static_cast<int16_t>(resultSize);
      if (e.fyEnd(&fy_.block) != UFNoError || e.calYEnd(&cal_.block) != UFNoError || e.num(&num_.block) != UFNoError) {
        failed = true;
        break;
      }
      const char* result = resultZone_ + kGuard;
      const size_t resultLength = strnlen(result, resultSize);
      if (resultLength == resultSize || !guardsHold(argZone_, costLength + 1) || !guardsHold(resultZone_, resultSize) ||
          std::memcmp(cost, c3 + 1, costLength) != 0) {
        failed = true;
        break;
      }
      if (used + 128 > kBlock) {  // room for the longest line: two dates and a result of at most 64
        if (write(sink, out_.data(), used) < 0) failed = true;
        used = 0;
      }
      char* o = out_.data() + used;
      o = putDate(o, fy_.block.ReturnValue.ReturnDate);
      *o++ = ' ';
      o = putDate(o, cal_.block.ReturnValue.ReturnDate);
      *o++ = ' ';
      std::memcpy(o, result, resultLength);
      o += resultLength;
      *o++ = '\n';
      used = static_cast<size_t>(o - out_.data());
      ++rows;
    }
    if (used && write(sink, out_.data(), used) < 0) failed = true;
    close(fd);
    close(sink);
    return failed ? -1 : rows;
  }

 private:
  static constexpr unsigned char kFill = 0xCD;
  static constexpr int kResultRoom = 64;

  static double integer(const char* p, const char* end) {
    int v = 0;
    for (; p < end; ++p) v = v * 10 + (*p - '0');
    return v;
  }
  static CRDate isoDate(const char* p) {
    auto two = [](const char* q) { return (q[0] - '0') * 10 + (q[1] - '0'); };
    int y = two(p) * 100 + two(p + 2);
    const int m = two(p + 5), d = two(p + 8);
    // Days from the civil date, the year starting in March.
    y -= m <= 2;
    const int era = y / 400, yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy + 1721119;
  }
  // The 64 bytes before a buffer and the 64 after its size still hold the fill.
  static bool guardsHold(const char* zone, size_t size) {
    static const std::vector<char> fill(kGuard, static_cast<char>(kFill));
    return std::memcmp(zone, fill.data(), kGuard) == 0 && std::memcmp(zone + kGuard + size, fill.data(), kGuard) == 0;
  }
  char* putDate(char* o, CRDate day) {
    Kept& k = kept_[static_cast<uint32_t>(day) % 1024];
    if (k.day != day) {
      int16_t y;
      uint16_t m, d;
      CRDateToYearMonthDay(day, &y, &m, &d);
      const unsigned digits[] = {static_cast<unsigned>(y) / 1000 % 10, static_cast<unsigned>(y) / 100 % 10,
                                 static_cast<unsigned>(y) / 10 % 10, static_cast<unsigned>(y) % 10, 10u,
                                 m / 10u, m % 10u, 10u, d / 10u, d % 10u};
      for (size_t i = 0; i < 10; ++i) k.text[i] = digits[i] == 10 ? '-' : static_cast<char>('0' + digits[i]);
      k.day = day;
    }
    std::memcpy(o, k.text, 10);
    return o + 10;
  }

  struct Kept {
    CRDate day;
    char text[16];
  };
  bench::Call fy_, cal_, num_;
  std::vector<char> in_, out_;
  char argZone_[kGuard + 48 + kGuard];
  char resultZone_[kGuard + kResultRoom + kGuard];
  UFMemCalcParam sizeArgs_[3]{};
  UFMemCalcBlock sizing_{};
  Kept kept_[1024];
};

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

}  // namespace

BENCHMARK_MAIN();
