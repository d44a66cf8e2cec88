// What the export benchmarks share: the built library loaded with dlopen and its
// entry points called with parameter blocks made here (no host harness), the
// engine reached through COM, and plain ODBC statements on "WINZELRW".
// The data layout is the one bench/make_bench_data.py writes.
#pragma once

#include <dlfcn.h>
#include <malloc.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comptr.h"
#include "comtypes.h"
#include "crdates.h"
#include "uf_records.h"
#include "vrzelcal.h"

// unixODBC's own ULONG clashes with COM's: its copy is renamed while it is read.
#define ULONG bench_odbc_ULONG
#include <sql.h>
#include <sqlext.h>
#undef ULONG

namespace bench {

// The exported entry points of the library, looked up by name.
struct Exports {
  UFError(UF_CALL* initialize)() = nullptr;
  UFError(UF_CALL* terminate)() = nullptr;
  void(UF_CALL* startJob)(uint32_t) = nullptr;
  void(UF_CALL* endJob)(uint32_t) = nullptr;
  UFEntryFunc fyEnd = nullptr;
  UFEntryFunc calYEnd = nullptr;
  UFEntryFunc num = nullptr;
  UFMemCalcFuncPtr numSize = nullptr;  // ZelNum's return-size function
  bool ok = false;
  uint32_t job = 1;

  static Exports& get() {
    static Exports e = load();
    return e;
  }

  // A new report job: the one before ends.
  void newJob() {
    endJob(job);
    startJob(++job);
  }

 private:
  template <class F>
  static bool find(void* lib, const char* name, F* out) {
    *out = reinterpret_cast<F>(dlsym(lib, name));
    if (!*out) std::fprintf(stderr, "the library has no export %s\n", name);
    return *out != nullptr;
  }
  static Exports load() {
    Exports e;
    void* lib = dlopen(U2LVOST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
      std::fprintf(stderr, "cannot load %s: %s\n", U2LVOST_LIBRARY, dlerror());
      return e;
    }
    e.ok = find(lib, "UFInitialize", &e.initialize) && find(lib, "UFTerminate", &e.terminate) &&
           find(lib, "UFStartJob", &e.startJob) && find(lib, "UFEndJob", &e.endJob) &&
           find(lib, "ZelFYEnd", &e.fyEnd) && find(lib, "ZelCalYEnd", &e.calYEnd) && find(lib, "ZelNum", &e.num) &&
           find(lib, "ZelNumStringRetSize", &e.numSize);
    if (e.ok) {
      CoInitialize(nullptr);  // the library expects COM ready on the calling thread
      e.ok = e.initialize() == UFNoError;
      e.startJob(e.job);
    }
    return e;
  }
};

// One formula call's parameter block: arguments chained as the host chains them.
struct Call {
  std::vector<UFParamListElement> args;
  std::vector<char> text;
  UFParamBlock block{};

  explicit Call(std::vector<UFParamListElement> a, size_t resultSize = 0) : args(std::move(a)), text(resultSize + 1) {
    for (auto& e : args) e.StructSize = sizeof e;
    for (size_t i = 0; i + 1 < args.size(); ++i) args[i].NextParam = &args[i + 1];
    block.StructSize = sizeof block;
    block.UFParamList = args.data();
    if (resultSize) block.ReturnValue.ReturnString = text.data();
  }
  Call(const Call&) = delete;
};

inline UFParamListElement number(double formulaValue) {
  UFParamListElement e{};
  e.ParamType = UFNumber;
  e.Parameter.ParamNumber = formulaValue * 100.0;
  return e;
}

inline UFParamListElement date(CRDate d) {
  UFParamListElement e{};
  e.ParamType = UFDate;
  e.Parameter.ParamDate = d;
  return e;
}

inline UFParamListElement text(const char* s) {
  UFParamListElement e{};
  e.ParamType = UFStringArg;
  e.Parameter.ParamString = const_cast<char*>(s);
  return e;
}

// ZelFYEnd(company, book, date): its parameter block, the date set per call.
struct FyEndCall : Call {
  FyEndCall(int company, int book) : Call({number(company), number(book), date(0)}) {}
  CRDate operator()(CRDate d) {
    args[2].Parameter.ParamDate = d;
    Exports::get().fyEnd(&block);
    return block.ReturnValue.ReturnDate;
  }
};

inline CRDate crDate(int y, int m, int d) {
  return CRYearMonthDayToDate(static_cast<int16_t>(y), static_cast<uint16_t>(m), static_cast<uint16_t>(d));
}

// Lookup dates: 9,000 consecutive days from 2001 on, visited in a scattered order
// (a table, so that the timed loops do no date arithmetic of their own).
inline CRDate lookupDate(int64_t i) {
  static const std::vector<CRDate> dates = [] {
    std::vector<CRDate> all(9000);
    for (int64_t k = 0; k < 9000; ++k)
      all[static_cast<size_t>(k)] = crDate(2001, 1, 1) + static_cast<CRDate>((k * 7919) % 9000);
    return all;
  }();
  return dates[static_cast<size_t>(i % 9000)];
}

// The OLE DATE of a CRDate (the engine's dates): both count days, from other origins.
inline DATE oleDate(CRDate d) {
  static const CRDate origin = crDate(1899, 12, 30);
  return static_cast<DATE>(d - origin);
}

// The engine's factory, made through COM as the library makes it.
inline CComPtr<IVRZELCalendarFactory> engineFactory() {
  CComPtr<IVRZELCalendarFactory> f;
  CoCreateInstance(CLSID_VRZELCalendarFactory, nullptr, 7, IID_IVRZELCalendarFactory, f.putVoid());
  return f;
}

// A plain ODBC connection to "WINZELRW" with one statement handle.
class Odbc {
 public:
  Odbc() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    SQLCHAR dsn[] = "DSN=WINZELRW;";
    SQLCHAR out[512];
    SQLSMALLINT outLength = 0;
    ok_ = SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, dsn, SQL_NTS, out, sizeof out, &outLength,
                                         SQL_DRIVER_NOPROMPT)) &&
          SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_));
  }
  ~Odbc() {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (dbc_) {
      SQLDisconnect(dbc_);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    }
    if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  Odbc(const Odbc&) = delete;
  bool ok() const { return ok_; }

  // Column 1 of a row: an integer as it is, a timestamp as an OLE DATE and its month.
  struct Value {
    double value;
    int month;
  };
  // Runs the statement and fetches every row, reading column 1 as the library
  // reads it (an integer or a timestamp).
  std::vector<Value> column(const std::string& sql, bool timestamp) {
    std::vector<Value> values;
    SQLFreeStmt(stmt_, SQL_CLOSE);
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt_, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS)))
      return values;
    while (SQL_SUCCEEDED(SQLFetch(stmt_))) {
      SQLLEN indicator = 0;
      if (timestamp) {
        SQL_TIMESTAMP_STRUCT t{};
        SQLGetData(stmt_, 1, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &indicator);
        values.push_back({oleDate(crDate(t.year, t.month, t.day)), t.month});
      } else {
        SQLINTEGER v = 0;
        SQLGetData(stmt_, 1, SQL_C_SLONG, &v, sizeof v, &indicator);
        values.push_back({static_cast<double>(v), 0});
      }
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return values;
  }

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool ok_ = false;
};

// This thread's CPU time in seconds.
// Bytes of the heap in use now (glibc's count): what a load added is the
// difference around it.
inline size_t heapInUse() { return mallinfo2().uordblks; }

inline double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// What a command writes on its standard output; empty when it fails.
inline std::string outputOf(const std::vector<std::string>& command) {
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

}  // namespace bench
