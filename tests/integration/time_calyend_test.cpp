// ZelTime and the year-end functions through the built library, loaded the way
// the report engine loads it: ZelTime by the ufhost command with the clock
// pinned by faketime, ZelCalYEnd and ZelFYEnd through the harness in-process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "function_library.h"
#include "host_dates.h"
#include "test_env.h"
#include "test_paths.h"
#include "uf_records.h"

namespace {

using ufhost::CallResult;
using ufhost::FunctionInfo;
using ufhost::FunctionLibrary;
using ufhost::Value;

std::string quoted(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return r + "'";
}

struct Output {
  int status = -1;
  std::string text;
};

Output run(const std::string& command) {
  Output out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[256];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.text.append(buf, n);
  const int rc = pclose(p);
  out.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

#ifdef UFHOST_PROGRAM
TEST(ZelTimeLoaded, WholeTextAtAPinnedClock) {
  const char* faketime = "/usr/bin/faketime";
  ASSERT_EQ(access(faketime, X_OK), 0) << "faketime is needed (scripts/setup.sh installs it)";
  testenv::TempDir dir;
  struct Case {
    const char* clock;
    const char* profile;  // null: no profile file
    const char* expected;
  } cases[] = {
      {"2024-03-15 14:05:09", nullptr, "02:05 PM"},
      {"2024-03-15 00:30:00", nullptr, "12:30 AM"},
      {"2024-03-15 12:00:59", "[intl]\n", "12:00 PM"},
      {"2024-03-15 09:07:00", "[intl]\niTLzero=0\n", "9:07 AM"},
      {"2024-03-15 14:05:09", "[intl]\niTime=1\n", "14:05"},
      {"2024-03-15 14:05:09", "[intl]\niTime=1\nsTime=.\n", "14.05"},
      {"2024-03-15 12:59:00", "[intl]\ns2359=P.M.\n", "12:59 P.M."},
      {"2024-03-15 14:05:09", "[intl]\nsTime=::\ns2359=afternoon\n", "02:05 afte"},
      {"1999-12-31 23:59:59", "[intl]\niTLzero=0\nsTime=h\ns2359=pm\n", "11h59 pm"},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string profile =
        c.profile ? dir.write("win" + std::to_string(index++) + ".ini", c.profile) : dir.file("none.ini");
    const std::string command = std::string("env TZ=UTC U2LVOST_PROFILE=") + quoted(profile) +
                                " ODBCINI=" + quoted(dir.file("odbc.ini")) +
                                " U2LVOST_COM_REGISTRY=" + quoted(dir.file("classes")) + " " + faketime +
                                " -f " + quoted(c.clock) + " " + quoted(UFHOST_PROGRAM) + " " +
                                quoted(U2LVOST_LIBRARY) + " ZelTime 2>&1";
    const Output out = run(command);
    EXPECT_EQ(out.status, 0) << command << "\n" << out.text;
    EXPECT_EQ(out.text, std::string(c.expected) + "\n") << c.clock << " with " << (c.profile ? c.profile : "no file");
  }
}
#else
TEST(ZelTimeLoaded, WholeTextAtAPinnedClock) { FAIL() << "built without the ufhost command"; }
#endif

class YearEndLoaded : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(lib_.load(U2LVOST_LIBRARY, error)) << error;
    calYEnd_ = lib_.find("ZelCalYEnd");
    fyEnd_ = lib_.find("ZelFYEnd");
    ASSERT_NE(calYEnd_, nullptr);
    ASSERT_NE(fyEnd_, nullptr);
  }
  void TearDown() override { lib_.unload(); }

  int32_t calendarYearEnd(double company, double book, int32_t date) {
    const CallResult r =
        lib_.evaluate(*calYEnd_, {Value::makeNumber(company), Value::makeNumber(book), Value::makeDate(date)});
    EXPECT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.errorCode, UFNoError);
    return r.value.date;
  }

  testenv::TempDir dir_;
  testenv::ScopedEnv profile_{"U2LVOST_PROFILE", dir_.file("win.ini").c_str()};
  testenv::ScopedEnv odbc_{"ODBCINI", dir_.file("odbc.ini").c_str()};
  testenv::ScopedEnv registry_{"U2LVOST_COM_REGISTRY", dir_.file("classes").c_str()};
  FunctionLibrary lib_;
  const FunctionInfo* calYEnd_ = nullptr;
  const FunctionInfo* fyEnd_ = nullptr;
};

TEST_F(YearEndLoaded, CalendarYearEndOfEveryYear) {
  // The harness counts day numbers on its own; every year from -4713 to 9999
  // (across the calendar switch), from a midsummer day and from the leap day
  // where there is one.
  for (int year = ufhost::kFirstYear; year <= 9999; ++year) {
    if (year == 0) continue;
    const int32_t last = ufhost::dayNumberFromCivil(year, 12, 31);
    ASSERT_NE(last, ufhost::kNoDate) << year;
    ASSERT_EQ(calendarYearEnd(2, 1, ufhost::dayNumberFromCivil(year, 6, 15)), last) << year;
    if (ufhost::isLeapYear(year)) {
      ASSERT_EQ(calendarYearEnd(2, 1, ufhost::dayNumberFromCivil(year, 2, 29)), last) << year;
    }
  }
}

TEST_F(YearEndLoaded, NumbersAreTruncatedAndMissingArgumentsRefused) {
  // 2.5 and 1.99 arrive as 250.0 and 199.0 and count as company 2, book 1.
  EXPECT_EQ(calendarYearEnd(2.5, 1.99, 2460384), 2460675);
  for (const FunctionInfo* fn : {calYEnd_, fyEnd_}) {
    const CallResult r = lib_.callUnchecked(*fn, {Value::makeNumber(2), Value::makeNumber(1)});
    EXPECT_EQ(r.errorCode, UFNotEnoughParameters) << fn->signature.name;
    const CallResult none = lib_.callUnchecked(*fn, {});
    EXPECT_EQ(none.errorCode, UFNotEnoughParameters) << fn->signature.name;
  }
}

TEST_F(YearEndLoaded, FiscalYearEndWithoutAResolverIsNoDate) {
  // Taking the library's count back to zero removes the resolver; the harness's
  // own UFInitialize is put back before it unloads.
  auto terminate = reinterpret_cast<UFError(UF_CALL*)()>(lib_.symbol("UFTerminate"));
  auto initialize = reinterpret_cast<UFError(UF_CALL*)()>(lib_.symbol("UFInitialize"));
  ASSERT_NE(terminate, nullptr);
  ASSERT_NE(initialize, nullptr);
  ASSERT_EQ(terminate(), UFNoError);
  const CallResult r =
      lib_.evaluate(*fyEnd_, {Value::makeNumber(2), Value::makeNumber(1), Value::makeDate(2460384)});
  ASSERT_EQ(initialize(), UFNoError);
  EXPECT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.errorCode, UFNoError);
  EXPECT_EQ(r.value.date, -1);
}

}  // namespace
