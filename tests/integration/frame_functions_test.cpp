// The built library as the report engine sees it: its tables, the worked
// examples of the number and header functions with every string result in a
// guarded buffer, missing arguments, and a seeded sweep of odd arguments that
// must never write outside the buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "function_library.h"
#include "test_env.h"
#include "test_paths.h"
#include "uf_records.h"

using namespace ufhost;

namespace {

const std::string kStars(19, '*');

class RealLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(lib.load(U2LVOST_LIBRARY, error)) << error;
    setRounding = reinterpret_cast<void(UF_CALL*)(int32_t)>(lib.symbol("reportZelRound"));
    ASSERT_NE(setRounding, nullptr);
  }
  void TearDown() override {
    if (setRounding) setRounding(0);
  }

  CallResult call(const char* name, const std::vector<Value>& args) {
    const FunctionInfo* fn = lib.find(name);
    EXPECT_NE(fn, nullptr) << name;
    if (!fn) return CallResult();
    return lib.evaluate(*fn, args);
  }
  // A string call that must succeed inside its buffer.
  std::string text(const char* name, const std::vector<Value>& args) {
    CallResult r = call(name, args);
    EXPECT_EQ(r.status, CallStatus::Ok) << r.message;
    return r.value.text;
  }
  static Value num(double v) { return Value::makeNumber(v); }
  static Value str(const std::string& v) { return Value::makeString(v); }

  // The library reads the profile, the class registry and ODBC settings: private ones.
  testenv::TempDir dir;
  testenv::ScopedEnv profile{"U2LVOST_PROFILE", dir.write("win.ini", "").c_str()};
  testenv::ScopedEnv registry{"U2LVOST_COM_REGISTRY", dir.write("classes.reg", "").c_str()};
  testenv::ScopedEnv odbcIni{"ODBCINI", dir.write("odbc.ini", "").c_str()};
  FunctionLibrary lib;
  void(UF_CALL* setRounding)(int32_t) = nullptr;
};

TEST_F(RealLibrary, TablesAsTheEngineReadsThem) {
  struct Row {
    const char* definition;
    const char* templateText;
    const char* example;
    bool returnSize;
  } rows[] = {
      {"String ZelNum (Number, Number, String)", "ZelNum (!,,)",
       "\tZelNum (width Number, Precision Number, numberin String)", true},
      {"String ZelTime", "ZelTime!", "\tZelTime", true},
      {"String ZelSplitHdr (Number, Number, String)", "ZelSplitHdr (!,,)",
       "\tZelSplitHdr (line length, line number, header string)", false},
      {"String ZelToText (Number)", "ZelToText(!)", "\tZelToText(number)", true},
      {"Date ZelFYEnd (Number,Number,Date)", "ZelFYEnd(!,,)", "\tZelFYEnd(number,number,date)", false},
      {"Date ZelCalYEnd (Number,Number,Date)", "ZelCalYEnd(!,,)", "\tZelCalYEnd(number,number,date)", false},
  };
  EXPECT_EQ(lib.version(), 256);
  ASSERT_EQ(lib.functions().size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    const FunctionInfo& f = lib.functions()[i];
    SCOPED_TRACE(rows[i].definition);
    EXPECT_EQ(f.definition, rows[i].definition);
    EXPECT_EQ(f.templateText, rows[i].templateText);
    EXPECT_EQ(f.example, rows[i].example);
    EXPECT_TRUE(f.understood) << f.parseError;
    EXPECT_NE(f.entry, nullptr);
    EXPECT_EQ(f.returnSize != nullptr, rows[i].returnSize);
  }
  // The three direct exports are there but not in the tables.
  for (const char* name : {"reportZelRound", "_SETSHORTYEAR", "_CLEARSHYRINFO"}) {
    EXPECT_NE(lib.symbol(name), nullptr) << name;
    EXPECT_EQ(lib.find(name), nullptr) << name;
  }
}

TEST_F(RealLibrary, ZelNumWorkedExamples) {
  struct Case {
    int32_t rounding;
    double width, precision;
    const char* number;
    std::string expected;
  } cases[] = {
      {0, 10, 2, "1234.567", "   1234.57"},
      {1, 10, 2, "1234.567", "        1235"},
      {0, 5, 2, "1000.5", kStars},
      {0, 5, 2, "1000", "1000.00"},
      {1, 5, 2, "100001", kStars},
      {1, 5, 2, "100000", " 100000"},
      {0, 5, 2, "-123456789", "-123456789.00"},
      {1, 5, 2, "-0.3", "      0"},
      {0, 5, 2, "-0.3", "-0.30"},
      {0, 8, 2, "abc", "    0.00"},
      {0, -8, 2, "5", kStars},
      {0, -8, 2, "-5", "-5.00   "},
      {0, 5.5, 2, "3162", "3162.00"},  // 10 to the 3.5 is 3162.28: a fractional width tests as a real power
      {0, 5.5, 2, "3163", kStars},
      {65536, 10, 2, "1234.567", "   1234.57"},  // only the low 16 bits count: off
      {-1, 10, 2, "1234.567", "        1235"},
      // Width 300 formats at 254; the padding gives way so the text fits the 20 bytes.
      {0, 300, 2, "5", std::string(15, ' ') + "5.00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rounding) + " " + std::to_string(c.width) + " " + c.number);
    setRounding(c.rounding);
    CallResult r = call("ZelNum", {num(c.width), num(c.precision), str(c.number)});
    ASSERT_EQ(r.status, CallStatus::Ok) << r.message;
    EXPECT_EQ(r.bufferSize, 20);
    EXPECT_EQ(r.value.text, c.expected);
  }
}

TEST_F(RealLibrary, ZelToTextWorkedExamples) {
  EXPECT_EQ(text("ZelToText", {num(1234.56)}), "          1234.56");
  EXPECT_EQ(text("ZelToText", {num(-0.5)}), "            -0.50");
  EXPECT_EQ(text("ZelToText", {num(0)}), "             0.00");
}

TEST_F(RealLibrary, ZelSplitHdrWorkedExamples) {
  struct Case {
    double length;
    const char* header;
    std::vector<std::pair<double, std::string>> lines;
  } cases[] = {
      {8, "hello world", {{1, " hello  "}, {2, " world  "}, {3, "        "}, {9, "        "}, {0, "   h    "}}},
      {4, "abc defgh", {{1, "abc "}, {2, "defg"}, {3, " h  "}}},
      {5, "abcde fg", {{1, "abcde"}, {2, "  fg "}}},
      {8, "abc defghij", {{1, "  abc   "}, {2, "defghij "}}},
      {12, "  Quarterly fixed asset report  ", {{1, " Quarterly  "}, {2, "fixed asset "}, {3, "   report   "}}},
      {10, "Title", {{1, "  Title   "}, {2, "          "}, {0, "          "}, {-1, "          "}}},
      {10, "   ", {{1, "          "}, {2, "          "}}},
      {10.5, "Title", {{1.9, "  Title   "}}},
  };
  for (const Case& c : cases) {
    for (const auto& line : c.lines) {
      SCOPED_TRACE(std::string(c.header) + " line " + std::to_string(line.first));
      CallResult r = call("ZelSplitHdr", {num(c.length), num(line.first), str(c.header)});
      ASSERT_EQ(r.status, CallStatus::Ok) << r.message;
      EXPECT_TRUE(r.defaultSize);
      EXPECT_EQ(r.value.text, line.second);
    }
  }
}

TEST_F(RealLibrary, MissingArgumentsAnswerNotEnoughParameters) {
  struct Case {
    const char* name;
    std::vector<Value> args;
  } cases[] = {
      {"ZelNum", {num(10), num(2)}},  {"ZelNum", {}},     {"ZelToText", {}}, {"ZelSplitHdr", {num(8), num(1)}},
      {"ZelFYEnd", {num(2), num(1)}}, {"ZelCalYEnd", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " with " + std::to_string(c.args.size()));
    CallResult r = lib.callUnchecked(*lib.find(c.name), c.args);
    EXPECT_EQ(r.status, CallStatus::FunctionError) << r.message;
    EXPECT_EQ(r.errorCode, UFNotEnoughParameters);
  }
}

// Characters the sweep builds its texts from: blanks weigh heavily so that
// breaks, runs of blanks and blank-only texts all occur.
std::string randomText(std::mt19937& rng, size_t maxLength) {
  static const char alphabet[] = "     abcdefghijklmnopqrstuvwxyzABC0123456789.-+eE\t";
  std::uniform_int_distribution<size_t> len(0, maxLength);
  std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
  std::string s(len(rng), ' ');
  for (char& ch : s) ch = alphabet[pick(rng)];
  return s;
}

std::string randomNumberText(std::mt19937& rng) {
  static const char* const odd[] = {
      "",   "   ",     "nan", "inf", "-inf", "1e308",   "-1e308", "1e-320", "0x1p4", "99999999999999999999999",
      "-0", "  42abc", ".",   "-",   "1e",   "4.9e-324"};
  std::uniform_int_distribution<int> kind(0, 9);
  if (kind(rng) == 0) return odd[std::uniform_int_distribution<size_t>(0, 15)(rng)];
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-12, 40);
  std::uniform_int_distribution<int> digits(1, 17);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", digits(rng), mantissa(rng) * std::pow(10.0, exponent(rng)));
  return buf;
}

double randomFormulaNumber(std::mt19937& rng, int low, int high) {
  std::uniform_int_distribution<int> whole(low, high);
  std::uniform_int_distribution<int> kind(0, 9);
  double v = whole(rng);
  if (kind(rng) < 3) v += std::uniform_real_distribution<double>(-0.99, 0.99)(rng);
  if (kind(rng) == 0) {
    const double extremes[] = {1e9, -1e9, 2147483648.0, -2147483649.0, 1e300, -1e300};
    v = extremes[std::uniform_int_distribution<int>(0, 5)(rng)];
  }
  return v;
}

TEST_F(RealLibrary, SweepOfNumberArgumentsStaysInsideItsBuffer) {
  std::mt19937 rng(20240315);
  for (int i = 0; i < 4000; ++i) {
    setRounding(static_cast<int32_t>(rng() % 3) - 1);
    const double width = randomFormulaNumber(rng, -40, 300);
    const double precision = randomFormulaNumber(rng, -6, 40);
    const std::string number = randomNumberText(rng);
    SCOPED_TRACE("ZelNum(" + std::to_string(width) + ", " + std::to_string(precision) + ", \"" + number + "\")");
    CallResult r = call("ZelNum", {num(width), num(precision), str(number)});
    ASSERT_EQ(r.status, CallStatus::Ok) << r.message;
    ASSERT_LE(r.value.text.size(), 19u);
  }
  const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             1e300,
                             -1e300,
                             1e16,
                             -1e15,
                             9.999999999999999e15};
  for (double v : specials) {
    SCOPED_TRACE(v);
    CallResult t = call("ZelToText", {num(v)});
    ASSERT_EQ(t.status, CallStatus::Ok) << t.message;
    EXPECT_LE(t.value.text.size(), 19u);
    CallResult n = call("ZelNum", {num(v), num(v), str("1")});
    ASSERT_EQ(n.status, CallStatus::Ok) << n.message;
  }
  for (int i = 0; i < 2000; ++i) {
    const double v = std::uniform_real_distribution<double>(-1.0, 1.0)(rng) *
                     std::pow(10.0, std::uniform_int_distribution<int>(-5, 25)(rng));
    CallResult t = call("ZelToText", {num(v)});
    ASSERT_EQ(t.status, CallStatus::Ok) << v << ": " << t.message;
    ASSERT_LE(t.value.text.size(), 19u);
  }
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

TEST_F(RealLibrary, SweepOfHeaderArgumentsStaysInsideItsBuffer) {
  std::mt19937 rng(19821015);
  for (int i = 0; i < 3000; ++i) {
    const double length = randomFormulaNumber(rng, -5, 400);
    const double line = randomFormulaNumber(rng, -3, 60);
    const std::string header = randomText(rng, i % 10 == 0 ? 600 : 60);
    SCOPED_TRACE("ZelSplitHdr(" + std::to_string(length) + ", " + std::to_string(line) + ", \"" + header + "\")");
    CallResult r = call("ZelSplitHdr", {num(length), num(line), str(header)});
    ASSERT_EQ(r.status, CallStatus::Ok) << r.message;
    const std::string& out = r.value.text;
    ASSERT_LE(out.size(), 254u);
    const double whole = std::trunc(length);
    if (whole >= 1 && whole <= 254) {
      EXPECT_EQ(out.size(), static_cast<size_t>(whole));
    }
    // A line is one stretch of the header placed among blanks.
    EXPECT_NE(header.find(trimmed(out)), std::string::npos) << "[" << out << "]";
  }
}

}  // namespace
