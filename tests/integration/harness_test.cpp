// The host harness itself: its date reckoning, its readers (definition texts,
// calls, CSV, report templates), and the loading and calling of a library,
// proven against a library that misbehaves on purpose.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "comtypes.h"
#include "formula_call.h"
#include "function_definition.h"
#include "function_library.h"
#include "host_dates.h"
#include "report.h"
#include "test_env.h"
#include "test_paths.h"

using namespace ufhost;

namespace {

// ---------------------------------------------------------------- dates

struct DateCase {
  int y, m, d;
  int32_t n;
};

// Fixed points the engine's day numbers are known by.
const DateCase kAnchors[] = {
    {2000, 1, 1, 2451544},  {1899, 12, 30, 2415018}, {-4713, 1, 1, 0},       {1582, 10, 15, 2299160},
    {1582, 10, 4, 2299159}, {1500, 2, 29, 2268991},  {1970, 1, 1, 2440587},  {9999, 12, 31, 5373483},
    {2024, 3, 15, 2460384}, {2024, 12, 31, 2460675}, {2024, 2, 29, 2460369}, {-1, 1, 1, 1721058},
    {1, 1, 1, 1721423},
};

TEST(HostDates, AnchorsBothWays) {
  for (const DateCase& c : kAnchors) {
    SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.m) + "-" + std::to_string(c.d));
    EXPECT_EQ(dayNumberFromCivil(c.y, c.m, c.d), c.n);
    CivilDate back;
    ASSERT_TRUE(civilFromDayNumber(c.n, back));
    EXPECT_EQ(back.year, c.y);
    EXPECT_EQ(back.month, c.m);
    EXPECT_EQ(back.day, c.d);
  }
}

TEST(HostDates, DaysThatDoNotExist) {
  const int invalid[][3] = {{0, 1, 1},     {1582, 10, 5},   {1582, 10, 14}, {1700, 2, 29},
                            {1900, 2, 29}, {-1, 2, 29},     {2023, 13, 1},  {2023, 0, 1},
                            {2023, 4, 31}, {-4714, 12, 31}, {2023, 1, 0},   {32768, 1, 1}};
  for (const auto& d : invalid) {
    SCOPED_TRACE(std::to_string(d[0]) + "-" + std::to_string(d[1]) + "-" + std::to_string(d[2]));
    EXPECT_EQ(dayNumberFromCivil(d[0], d[1], d[2]), kNoDate);
  }
  const int leapDays[][3] = {{1600, 2, 29}, {2000, 2, 29}, {1500, 2, 29}, {-4, 2, 29}, {4, 2, 29}};
  for (const auto& d : leapDays) EXPECT_NE(dayNumberFromCivil(d[0], d[1], d[2]), kNoDate) << d[0];
}

// Julian day numbers by the Fliegel-Van Flandern formulas (integer division
// truncating; valid for the positive years used here). The engine's day is one less.
long gregorianJdn(long y, long m, long d) {
  return (1461 * (y + 4800 + (m - 14) / 12)) / 4 + (367 * (m - 2 - 12 * ((m - 14) / 12))) / 12 -
         (3 * ((y + 4900 + (m - 14) / 12) / 100)) / 4 + d - 32075;
}
long julianJdn(long y, long m, long d) {
  return 367 * y - (7 * (y + 5001 + (m - 9) / 7)) / 4 + (275 * m) / 9 + d + 1729777;
}

TEST(HostDates, AgreesWithTheJulianDayFormulas) {
  for (int y = 1; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d : {1, 28}) {
        bool gregorian = y > 1582 || (y == 1582 && m > 10) || (y == 1582 && m == 10 && d >= 15);
        long expected = (gregorian ? gregorianJdn(y, m, d) : julianJdn(y, m, d)) - 1;
        ASSERT_EQ(dayNumberFromCivil(y, m, d), expected) << y << "-" << m << "-" << d;
      }
    }
  }
}

// Month lengths by the rules, written out here: Julian leap years before 1582
// (every fourth signed year), Gregorian from then on.
int expectedMonthLength(int y, int m) {
  static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = y < 1582 ? (y % 4 == 0) : (y % 4 == 0 && (y % 100 != 0 || y % 400 == 0));
  return len[m - 1] + (m == 2 && leap ? 1 : 0);
}

TEST(HostDates, EveryDayFollowsThePreviousAndReadsBack) {
  CivilDate prev;
  ASSERT_TRUE(civilFromDayNumber(0, prev));
  for (int32_t n = 1; n <= 5373483; ++n) {
    CivilDate c;
    ASSERT_TRUE(civilFromDayNumber(n, c)) << n;
    ASSERT_EQ(dayNumberFromCivil(c.year, c.month, c.day), n) << n;
    bool ok;
    if (prev.year == 1582 && prev.month == 10 && prev.day == 4) {
      ok = c.year == 1582 && c.month == 10 && c.day == 15;  // the reform drops ten days
    } else if (prev.day < expectedMonthLength(prev.year, prev.month)) {
      ok = c.year == prev.year && c.month == prev.month && c.day == prev.day + 1;
    } else if (prev.month < 12) {
      ok = c.year == prev.year && c.month == prev.month + 1 && c.day == 1;
    } else {
      ok = c.year == (prev.year == -1 ? 1 : prev.year + 1) && c.month == 1 && c.day == 1;
    }
    ASSERT_TRUE(ok) << "day " << n << " is " << c.year << "-" << c.month << "-" << c.day << " after " << prev.year
                    << "-" << prev.month << "-" << prev.day;
    prev = c;
  }
}

// The hand-written printing against printf, over every year the engine has.
TEST(HostDates, PrintingAgreesWithPrintf) {
  for (int y = kFirstYear; y <= kLastYear; y += (y > 3000 && y < 9000) ? 37 : 1) {
    if (y == 0) continue;
    for (int m : {1, 2, 9, 10, 12}) {
      for (int d : {1, 9, 10, 28}) {
        const int32_t n = dayNumberFromCivil(y, m, d);
        if (n == kNoDate) continue;
        char want[32];
        std::snprintf(want, sizeof want, "%s%04d-%02d-%02d", y < 0 ? "-" : "", y < 0 ? -y : y, m, d);
        ASSERT_EQ(formatDayNumber(n), want) << n;
      }
    }
  }
  EXPECT_EQ(formatDayNumber(dayNumberFromCivil(32767, 12, 31)), "32767-12-31");
  EXPECT_EQ(formatDayNumber(dayNumberFromCivil(-4713, 1, 1)), "-4713-01-01");
  EXPECT_EQ(formatDayNumber(dayNumberFromCivil(-5, 3, 4)), "-0005-03-04");
  EXPECT_EQ(formatDayNumber(kNoDate - 1), "(invalid date -2)");
}

TEST(HostDates, Printing) {
  EXPECT_EQ(formatDayNumber(-1), "(no date)");
  EXPECT_EQ(formatDayNumber(2451544), "2000-01-01");
  EXPECT_EQ(formatDayNumber(0), "-4713-01-01");
  EXPECT_EQ(formatDayNumber(1721423 + 31), "0001-02-01");
  EXPECT_EQ(formatDayNumber(-7), "(invalid date -7)");
  CivilDate c;
  EXPECT_FALSE(civilFromDayNumber(-2, c));
  // The engine's years are 16-bit: 31 December 32767 is the last day.
  const int32_t last = dayNumberFromCivil(32767, 12, 31);
  ASSERT_NE(last, kNoDate);
  EXPECT_TRUE(civilFromDayNumber(last, c));
  EXPECT_FALSE(civilFromDayNumber(last + 1, c));
}

// ---------------------------------------------------------------- definition texts

TEST(DefinitionText, ReadsTheShapesLibrariesUse) {
  struct Case {
    const char* text;
    ValueType ret;
    const char* name;
    std::vector<ValueType> params;
  };
  const ValueType N = ValueType::Number, S = ValueType::String, D = ValueType::Date;
  const Case cases[] = {
      {"String ZelNum (Number, Number, String)", S, "ZelNum", {N, N, S}},
      {"String ZelTime", S, "ZelTime", {}},
      {"Date ZelFYEnd (Number,Number,Date)", D, "ZelFYEnd", {N, N, D}},
      {"  String\tZelSplitHdr(Number ,  Number,String)  ", S, "ZelSplitHdr", {N, N, S}},
      {"Boolean Flag ()", ValueType::Boolean, "Flag", {}},
      {"number lower (string, DATETIME, time)", N, "lower", {S, ValueType::DateTime, ValueType::Time}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FunctionSignature sig;
    std::string error;
    ASSERT_TRUE(parseDefinition(c.text, sig, error)) << error;
    EXPECT_EQ(sig.returnType, c.ret);
    EXPECT_EQ(sig.name, c.name);
    EXPECT_EQ(sig.params, c.params);
  }
}

TEST(DefinitionText, RefusesWhatItCannotRead) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "return type"},
      {"String", "name"},
      {"String (Number)", "name"},
      {"Widget X", "unknown type 'Widget'"},
      {"String X (Number", "missing ')'"},
      {"String X (Number,)", "parameter type"},
      {"String X (Number) more", "unexpected text"},
      {"String X (Foo)", "unknown type 'Foo'"},
      {"StringX", "unknown type 'StringX'"},
      {"String X (Number; Number)", "unexpected ';'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    FunctionSignature sig;
    std::string error;
    EXPECT_FALSE(parseDefinition(c.first, sig, error));
    EXPECT_NE(error.find(c.second), std::string::npos) << error;
  }
}

// ---------------------------------------------------------------- calls and fields

TEST(FormulaCallText, Literals) {
  struct Case {
    const char* text;
    const char* name;
    std::vector<Value> args;
  };
  const Case cases[] = {
      {"ZelNum(10, 2, \"1234.567\")",
       "ZelNum",
       {Value::makeNumber(10), Value::makeNumber(2), Value::makeString("1234.567")}},
      {"ZelTime", "ZelTime", {}},
      {"  ZelTime ( )  ", "ZelTime", {}},
      {"F(\"a\\\"b\\\\c\\n\\t\\x41\\xe9\")", "F", {Value::makeString("a\"b\\c\n\tA\xe9")}},
      {"F(Date(2024, 3, 15), 2024-03-15, date(-4713,1,1))",
       "F",
       {Value::makeDate(2460384), Value::makeDate(2460384), Value::makeDate(0)}},
      {"F(-4.5e1, +.5, 7.)", "F", {Value::makeNumber(-45), Value::makeNumber(0.5), Value::makeNumber(7)}},
      {"F(True, false)", "F", {Value::makeBoolean(true), Value::makeBoolean(false)}},
      {"F(Time(14, 5, 9), DateTime(2000,1,1,0,0,1))",
       "F",
       {Value::makeTime(14 * 3600 + 5 * 60 + 9), Value::makeDateTime(2451544, 1)}},
      {"F(\"with, comma ) and }\")", "F", {Value::makeString("with, comma ) and }")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FormulaCall call;
    std::string error;
    ASSERT_TRUE(parseFormulaCall(c.text, call, error)) << error;
    EXPECT_EQ(call.name, c.name);
    ASSERT_EQ(call.args.size(), c.args.size());
    for (size_t i = 0; i < c.args.size(); ++i) {
      const Value& got = call.args[i].value;
      const Value& want = c.args[i];
      EXPECT_FALSE(call.args[i].isColumn);
      EXPECT_EQ(got.type, want.type) << i;
      EXPECT_EQ(got.number, want.number) << i;
      EXPECT_EQ(got.boolean, want.boolean) << i;
      EXPECT_EQ(got.date, want.date) << i;
      EXPECT_EQ(got.time, want.time) << i;
      EXPECT_EQ(got.text, want.text) << i;
    }
  }
}

TEST(FormulaCallText, BadCallsAreNamed) {
  const std::pair<std::string, const char*> cases[] = {
      {"F(1,", "missing argument"},
      {"F(\"abc)", "unterminated text"},
      {"F(1 2)", "bad literal"},
      {"F(abc)", "unknown word 'abc'"},
      {"F(Date(2023, 2, 29))", "no such date"},
      {"F(Date(2023, 2))", "takes 3 numbers"},
      {"F(1582-10-10)", "no such date"},
      {"F($amount)", "only in a report"},
      {"F(1e999)", "out of range"},
      {"F(\"\\q\")", "unknown escape"},
      {"F(\"\\x00\")", "\\x00"},
      {"F(1))", "unexpected text"},
      {"(1)", "function name"},
      {"", "found nothing"},
      {"F(,1)", "missing argument"},
      {"F(0x10)", "bad literal"},
      {"F(1", "missing ')'"},
      {"F(Time(24, 0, 0))", "no such time"},
      {std::string("F(\"a\0b\")", 8), "a NUL byte cannot be passed"},
      {std::string("F(\"\0\")", 6), "a NUL byte cannot be passed"},
      {std::string("F(1\0)", 5), "bad literal"},
      {std::string("\0", 1), "expected a function name"},
      {"F($\"unit price\")", "only in a report"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    FormulaCall call;
    std::string error;
    EXPECT_FALSE(parseFormulaCall(c.first, call, error));
    EXPECT_NE(error.find(c.second), std::string::npos) << error;
    EXPECT_EQ(error.compare(0, 12, "at position "), 0) << error;
  }
}

TEST(FormulaCallText, ColumnsInReports) {
  FormulaCall call;
  std::string error;
  ASSERT_TRUE(parseFormulaCall("ZelNum(10, 2, $amount)", call, error, true)) << error;
  ASSERT_EQ(call.args.size(), 3u);
  EXPECT_TRUE(call.args[2].isColumn);
  EXPECT_EQ(call.args[2].column, "amount");
  EXPECT_FALSE(parseFormulaCall("F($)", call, error, true));
}

TEST(FormulaCallText, QuotedColumnNames) {
  const std::pair<const char*, const char*> good[] = {
      {"F($\"unit price\")", "unit price"},
      {"F( $\"a,b)\" )", "a,b)"},
      {"F($\"say \\\"hi\\\"\")", "say \"hi\""},
      {"F($\"x\\ty\")", "x\ty"},
  };
  for (const auto& c : good) {
    SCOPED_TRACE(c.first);
    FormulaCall call;
    std::string error;
    ASSERT_TRUE(parseFormulaCall(c.first, call, error, true)) << error;
    ASSERT_EQ(call.args.size(), 1u);
    EXPECT_TRUE(call.args[0].isColumn);
    EXPECT_EQ(call.args[0].column, c.second);
  }
  const std::pair<const char*, const char*> bad[] = {
      {"F($\"\")", "names no column"},
      {"F($\"open)", "unterminated text"},
      {"F($\"a\"b)", "bad literal"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.first);
    FormulaCall call;
    std::string error;
    EXPECT_FALSE(parseFormulaCall(c.first, call, error, true));
    EXPECT_NE(error.find(c.second), std::string::npos) << error;
  }
}

TEST(FormulaCallText, FieldValues) {
  struct Case {
    const char* field;
    ValueType type;
    double number;
    int32_t date;
  };
  const Case cases[] = {
      {"12.5", ValueType::Number, 12.5, -1},    {" 7 ", ValueType::Number, 7, -1},
      {"-1e3", ValueType::Number, -1000, -1},   {"2024-03-15", ValueType::Date, 0, 2460384},
      {"2023-02-30", ValueType::String, 0, -1}, {"abc", ValueType::String, 0, -1},
      {"", ValueType::String, 0, -1},           {"12abc", ValueType::String, 0, -1},
      {"1,000", ValueType::String, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    Value v = fieldValue(c.field);
    EXPECT_EQ(v.type, c.type);
    if (c.type == ValueType::Number) {
      EXPECT_EQ(v.number, c.number);
    } else if (c.type == ValueType::Date) {
      EXPECT_EQ(v.date, c.date);
    } else {
      EXPECT_EQ(v.text, c.field);
    }
  }
}

// A field read as a number must be the double strtod gives for the same
// text: the short way for plain decimals may not round differently.
TEST(FormulaCallText, FieldNumbersAgreeWithStrtod) {
  std::vector<std::string> texts = {"0",     "-0",         "0.1",      "0.3",   "123456789012345", "1234567890123456",
                                    "9.95",  "-1234.5678", "+.5",      "7.",    "1e-5",            "2.5E3",
                                    " 42 ",  "0.000001",   "99999999", "1.005", "4503599627370497",
                                    "007",   "123456789",  "999999999", "1234567890", "4294967296", "5 ",
                                    "0",     "000000000",  "9\t"};
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> digit(0, 9), length(1, 17), point(0, 18);
  for (int i = 0; i < 20000; ++i) {
    std::string t;
    const int n = length(rng), at = point(rng);
    for (int k = 0; k < n; ++k) {
      if (k == at) t += '.';
      t += static_cast<char>('0' + digit(rng));
    }
    if (i % 3 == 0) t = "-" + t;
    texts.push_back(t);
  }
  for (const std::string& t : texts) {
    Value v;
    ASSERT_TRUE(fieldAs(t, ValueType::Number, v)) << t;
    ASSERT_EQ(v.type, ValueType::Number);
    const double want = std::strtod(t.c_str(), nullptr);
    ASSERT_EQ(std::memcmp(&v.number, &want, sizeof want), 0) << t << ": " << v.number << " against " << want;
  }
}

TEST(FormulaCallText, FieldsAsEachType) {
  struct Case {
    const char* field;
    ValueType want;
    bool fits;
  } cases[] = {
      {"2024-03-15", ValueType::Date, true},  {" 2024-03-15\t", ValueType::Date, true},
      {"2024-02-30", ValueType::Date, false}, {"12", ValueType::Date, false},
      {"0000-01-01", ValueType::Date, false}, {"2024-3-15", ValueType::Date, false},
      {"2024/03/15", ValueType::Date, false}, {"2024-03-1x", ValueType::Date, false},
      {"-2024-03-15", ValueType::Date, true}, {"12024-03-15", ValueType::Date, true},
      // Ten characters with one out of place, in each position.
      {"/024-03-15", ValueType::Date, false}, {"2O24-03-15", ValueType::Date, false},
      {"20\xb0" "4-03-15", ValueType::Date, false}, {"202:-03-15", ValueType::Date, false},
      {"2024:03-15", ValueType::Date, false}, {"2024-0:-15", ValueType::Date, false},
      {"2024-03/15", ValueType::Date, false}, {"2024-03-1:", ValueType::Date, false},
      {"2000-02-29", ValueType::Date, true},  {"1900-02-29", ValueType::Date, false},
      {"9999-12-31", ValueType::Date, true},  {"1582-10-15", ValueType::Date, true},
      {"12", ValueType::Number, true},        {"2024-03-15", ValueType::Number, false},
      {"", ValueType::Number, false},         {"  ", ValueType::Number, false},
      {"1.2.3", ValueType::Number, false},    {"-", ValueType::Number, false},
      {".", ValueType::Number, false},        {"1e400", ValueType::Number, false},
      {"True", ValueType::Boolean, false},    {"12:00:00", ValueType::Time, false},
      {" as is ", ValueType::String, true},   {"", ValueType::String, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    Value v = Value::makeString("untouched");
    EXPECT_EQ(fieldAs(c.field, c.want, v), c.fits);
    if (c.fits) {
      EXPECT_EQ(v.type, c.want);
      if (c.want == ValueType::String) {
        EXPECT_EQ(v.text, c.field);
      } else if (c.want == ValueType::Date) {
        // Printed back as written, without the blanks around it.
        std::string t = c.field;
        t.erase(0, t.find_first_not_of(" \t"));
        t.erase(t.find_last_not_of(" \t") + 1);
        EXPECT_EQ(formatValue(v), t);
      }
    } else {
      EXPECT_EQ(v.type, ValueType::String);
      EXPECT_EQ(v.text, "untouched");
    }
  }
}

// ---------------------------------------------------------------- CSV and templates

TEST(CsvRows, QuotesLineEndsAndBlankLines) {
  CsvTable t;
  std::string error;
  const std::string text =
      "\xEF\xBB\xBF"
      "name, amount ,when\r\n"
      "\"Smith, J\",12.5,2024-03-15\r\n"
      "\r\n"
      "\"say \"\"hi\"\"\",  7 ,\"two\nlines\"\n"
      "plain,,x";
  ASSERT_TRUE(parseCsv(text, t, error)) << error;
  EXPECT_EQ(t.columns, (std::vector<std::string>{"name", "amount", "when"}));
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0], (std::vector<std::string>{"Smith, J", "12.5", "2024-03-15"}));
  EXPECT_EQ(t.rows[1], (std::vector<std::string>{"say \"hi\"", "7", "two\nlines"}));
  EXPECT_EQ(t.rows[2], (std::vector<std::string>{"plain", "", "x"}));
  EXPECT_EQ(t.lines, (std::vector<int>{2, 4, 6}));
}

TEST(CsvRows, Refusals) {
  const std::pair<std::string, const char*> cases[] = {
      {"a,b\n1,2,3\n", "line 2: 3 fields"},
      {"a,b\n\"1,2\n", "not closed"},
      {"a,A\n1,2\n", "appears twice"},
      {"", "no header"},
      {"a,b\n\"1\"x,2\n", "after a closing quote"},
      {std::string("a,b\n\"1\0\",2\n", 11), "line 2: a NUL byte"},
      {std::string("a,b\n1,2\n3\0,4\n", 13), "line 3: a NUL byte"},
      {std::string("\xFF\xFE" "a\0,\0b\0\n\0", 10), "line 1: a NUL byte"},
      {"\n\n  \n", "no header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    CsvTable t;
    std::string error;
    EXPECT_FALSE(parseCsv(c.first, t, error));
    EXPECT_NE(error.find(c.second), std::string::npos) << error;
  }
}

// Records of every shape, many times over, so that fields, quotes, doubled
// quotes and line ends fall on the reader's buffer boundaries.
TEST(CsvRows, StreamedRecordByRecordAcrossBufferBoundaries) {
  std::string text = "\xEF\xBB\xBF" "id,note,amount\r\n";
  std::vector<std::vector<std::string>> want;
  std::vector<long> lines;
  long line = 2;
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> shape(0, 5), width(0, 300);
  while (text.size() < 600000) {
    const std::string id = std::to_string(want.size() + 1);
    std::string note(static_cast<size_t>(width(rng)), 'n');
    std::string written;
    long spans = 1;
    switch (shape(rng)) {
      case 0:
        written = note;
        break;
      case 1:
        written = "\"a, \"\"quoted\"\" " + note + "\"";
        note = "a, \"quoted\" " + note;
        break;
      case 2:
        note = "two\nlines " + note;
        written = "  \"" + note + "\"  ";
        spans = 2;
        break;
      case 3:
        written = "  " + note + "\t";
        break;
      case 4:
        note = "";
        written = "\"\"";
        break;
      default:
        text += "\n";  // a blank line before the record
        ++line;
        written = note;
    }
    text += id + "," + written + ", 1.5\r\n";
    want.push_back({id, note, "1.5"});
    lines.push_back(line);
    line += spans;
  }
  std::istringstream in(text);
  CsvReader reader(in);
  std::string error;
  ASSERT_TRUE(reader.readHeader(error)) << error;
  EXPECT_EQ(reader.columns(), (std::vector<std::string>{"id", "note", "amount"}));
  std::vector<std::string_view> fields;
  size_t n = 0;
  while (reader.next(fields, error)) {
    ASSERT_LT(n, want.size());
    ASSERT_EQ(std::vector<std::string>(fields.begin(), fields.end()), want[n]) << "row " << n + 1;
    ASSERT_EQ(reader.line(), lines[n]) << "row " << n + 1;
    ++n;
  }
  EXPECT_EQ(error, "");
  EXPECT_EQ(n, want.size());
  // The whole-text reader gives the same rows.
  CsvTable table;
  ASSERT_TRUE(parseCsv(text, table, error)) << error;
  EXPECT_EQ(table.rows, want);
  EXPECT_EQ(table.lines, std::vector<int>(lines.begin(), lines.end()));
}

// Every record of text through the reader, with the line each starts on.
struct ViewedRows {
  std::vector<std::vector<std::string>> rows;
  std::vector<long> lines;
  std::string error;
};
ViewedRows readViews(const std::string& text) {
  std::istringstream in(text);
  CsvReader reader(in);
  ViewedRows out;
  std::vector<std::string_view> fields;
  while (reader.next(fields, out.error)) {
    out.rows.emplace_back(fields.begin(), fields.end());
    out.lines.push_back(reader.line());
  }
  return out;
}

// Plain and quoted lines, stray carriage returns, a last line without its end:
// the records and the lines where they start.
TEST(CsvRows, PlainAndQuotedLinesReadAlike) {
  using Rows = std::vector<std::vector<std::string>>;
  struct Case {
    const char* name;
    std::string body;  // after the header "a,b,c\n"
    Rows rows;
    std::vector<long> lines;
  };
  const Case cases[] = {
      {"plain", "1,2,3\n", {{"1", "2", "3"}}, {2}},
      {"empty field, CRLF", "1,,3\r\n", {{"1", "", "3"}}, {2}},
      {"only commas", ",,\n", {{"", "", ""}}, {2}},
      {"blank lines, no last end", "  \n\t\n1,2,3", {{"1", "2", "3"}}, {4}},
      {"blanks around", " 1 ,\t2\t, 3 \r\n", {{"1", "2", "3"}}, {2}},
      {"stray return", "1,2\r,3\n4,5,6\n", {{"1", "2", "3"}, {"4", "5", "6"}}, {2, 3}},
      {"last line ends in a return", "1,2,3\r", {{"1", "2", "3"}}, {2}},
      {"blank CRLF lines", "\r\n1,2,3\r\n\r\n7,8,9\r\n", {{"1", "2", "3"}, {"7", "8", "9"}}, {3, 5}},
      {"quoted comma", "1,\"x,y\",3\n", {{"1", "x,y", "3"}}, {2}},
      {"quote inside a field", "1,a\"b,3\n", {{"1", "a\"b", "3"}}, {2}},
      {"plain after quoted", "\"1\",2,3\n4, 5 ,6\n", {{"1", "2", "3"}, {"4", "5", "6"}}, {2, 3}},
      {"long field", "1," + std::string(5000, 'x') + ",3\n", {{"1", std::string(5000, 'x'), "3"}}, {2}},
      {"returns inside a field", "1,a\rb \r,3\n", {{"1", "ab", "3"}}, {2}},
      // Longer than the reader's buffer, which must grow to hold it whole.
      {"quoted field past a read", "1,\"" + std::string(200000, 'q') + "\"\"x\ny\",3\n4,5,6\n",
       {{"1", std::string(200000, 'q') + "\"x\ny", "3"}, {"4", "5", "6"}}, {2, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = "a,b,c\n" + c.body;
    const ViewedRows viewed = readViews(text);
    EXPECT_EQ(viewed.error, "");
    EXPECT_EQ(viewed.rows, c.rows);
    EXPECT_EQ(viewed.lines, c.lines);
  }
}

// A line end that the reader's first read cuts: the carriage return on one
// side and the line feed on the other, or the line feed as the last byte read.
TEST(CsvRows, LineEndsWhereAReadStops) {
  const size_t kRead = 1 << 16;  // what the reader takes from its stream at a time
  for (int shift = -3; shift <= 3; ++shift) {
    for (const char* end : {"\r\n", "\n"}) {
      SCOPED_TRACE(std::to_string(shift) + (end[0] == '\r' ? " CRLF" : " LF"));
      const std::string header = "a,b\n";
      // The first row's last byte lands at kRead + shift: shift 0 puts a CR last in the first read.
      const size_t padding = kRead + static_cast<size_t>(shift + 3) - 3 - header.size() - 2 - std::strlen(end) + 1;
      const std::string pad(padding, 'p');
      const std::string text = header + "x," + pad + end + "1, 2" + end + "3,4";
      const ViewedRows viewed = readViews(text);
      EXPECT_EQ(viewed.error, "");
      EXPECT_EQ(viewed.rows, (std::vector<std::vector<std::string>>{{"x", pad}, {"1", "2"}, {"3", "4"}}));
      EXPECT_EQ(viewed.lines, (std::vector<long>{2, 3, 4}));
    }
  }
}

// Many columns: every name is checked against all others without comparing
// each pair (50,000 columns would be over a billion comparisons).
TEST(CsvRows, WideHeaders) {
  std::string names;
  for (int i = 0; i < 50000; ++i) names += (i ? ",c" : "c") + std::to_string(i);
  struct Case {
    std::string header;
    const char* error;  // "" when it is read
  } cases[] = {
      {names, ""},
      {names + ",C17", "the column name 'C17' appears twice"},
      {"X," + names + ",,", ""},
      {names + ",c49999", "the column name 'c49999' appears twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    CsvTable t;
    std::string error;
    // One row with a field under every column: "x" and as many commas as the header has.
    const std::string row = "x" + std::string(static_cast<size_t>(std::count(c.header.begin(), c.header.end(), ',')), ',');
    const bool read = parseCsv(c.header + "\n" + row + "\n", t, error);
    if (*c.error) {
      EXPECT_FALSE(read);
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    } else {
      ASSERT_TRUE(read) << error;
      ASSERT_EQ(t.rows.size(), 1u);
      EXPECT_EQ(t.rows[0].size(), t.columns.size());
    }
  }
}

TEST(CsvRows, AStreamStopsAtTheFirstBrokenRecord) {
  const std::pair<std::string, std::string> cases[] = {
      {"a,b\n1,2\n3,4\n5\n7,8\n", "line 4: 1 fields, but the header names 2 columns"},
      {"a,b\n1,2\n3,4\n\"5\"x,6\n", "line 4: text after a closing quote"},
      {std::string("a,b\n1,2\n3,4\n5,\0\n", 16), "line 4: a NUL byte"},
      {"a,b\n1,2\n3,4\n\"5,6\n", "line 4: a quoted field is not closed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    std::istringstream in(c.first);
    CsvReader reader(in);
    std::string error;
    ASSERT_TRUE(reader.readHeader(error)) << error;
    std::vector<std::string_view> fields;
    int rows = 0;
    while (reader.next(fields, error)) ++rows;
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(error.rfind(c.second, 0), 0u) << error;
    EXPECT_FALSE(reader.next(fields, error)) << "nothing is read after a break";
  }
}

std::string piecesText(const ReportSection& s) {
  std::string out;
  for (const TemplatePiece& p : s.pieces) out += p.isCall ? "<" + p.call.name + ">" : p.text;
  return out;
}

TEST(ReportTemplateText, SectionsBracesAndComments) {
  const std::string text =
      "Title {ZelTime}\n"
      "@# a comment\n"
      "@row\n"
      "{{{F($a, \"}\")}}} x\n"
      "@footer\n"
      "end";
  ReportTemplate t;
  std::string error;
  ASSERT_TRUE(parseReportTemplate(text, t, error)) << error;
  EXPECT_EQ(piecesText(t.header), "Title <ZelTime>\n");
  EXPECT_EQ(piecesText(t.row), "{<F>} x\n");
  EXPECT_EQ(piecesText(t.footer), "end");
  ASSERT_EQ(t.row.pieces.size(), 4u);
  EXPECT_EQ(t.row.pieces[1].line, 4);
  EXPECT_TRUE(t.row.pieces[1].call.args[0].isColumn);
  EXPECT_EQ(t.row.pieces[1].call.args[1].value.text, "}");
}

TEST(ReportTemplateText, SectionNamesInAnyCase) {
  const char* spellings[][3] = {{"@HEADER", "@Row", "@footer"}, {" @Header ", "@rOw", "@FOOTER\r"}};
  for (const auto& names : spellings) {
    SCOPED_TRACE(names[1]);
    const std::string text = std::string(names[0]) + "\nh\n" + names[1] + "\nr {F($\"unit price\")}\n" + names[2] + "\nf";
    ReportTemplate t;
    std::string error;
    ASSERT_TRUE(parseReportTemplate(text, t, error)) << error;
    EXPECT_EQ(piecesText(t.header), "h\n");
    EXPECT_EQ(piecesText(t.row), "r <F>\n");
    EXPECT_EQ(piecesText(t.footer), "f");
    EXPECT_EQ(t.row.pieces[1].call.args[0].column, "unit price");
  }
}

TEST(ReportTemplateText, Refusals) {
  const std::pair<std::string, const char*> cases[] = {
      {"a {F(1)\n", "line 1: '{' without its '}'"},
      {"ok\nb }\n", "line 2: a lone '}'"},
      {"@row\nx\n@row\n", "line 3: the section @row appears twice"},
      {"@rows\n", "unknown section line"},
      {"@Row\nx\n@ROW\n", "line 3: the section @ROW appears twice"},
      {std::string("{F(\"a\0\")}\n", 10), "a NUL byte cannot be passed"},
      {"{F(1,)}", "missing argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    ReportTemplate t;
    std::string error;
    EXPECT_FALSE(parseReportTemplate(c.first, t, error));
    EXPECT_NE(error.find(c.second), std::string::npos) << error;
  }
}

// ---------------------------------------------------------------- loading and calling

#ifndef UF_FIXTURE_LIBRARY
#error "the fixture libraries' paths come from tests/fixtures/CMakeLists.txt"
#endif

// COM's state on this thread, read without changing it.
bool comInitialisedHere() {
  HRESULT hr = CoInitialize(nullptr);
  if (SUCCEEDED(hr)) CoUninitialize();
  return hr == S_FALSE;
}

TEST(LibraryLoading, MissingFileFolderAndNonLibraries) {
  testenv::TempDir dir;
  const std::string notALibrary = dir.write("plain.so", "just text\n");
  struct Case {
    std::string path;
    const char* expect;
  } cases[] = {
      {dir.file("absent.so"), "no such file"},
      {dir.path(), "folder"},
      {notALibrary, "cannot load"},
      {UF_NO_ENTRY_LIBRARY, "is not a function library: it has no UFInitialize, UFTerminate, UFGetFunctionDefStrings"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    FunctionLibrary lib;
    std::string error;
    EXPECT_FALSE(lib.load(c.path, error));
    EXPECT_NE(error.find(c.expect), std::string::npos) << error;
    EXPECT_FALSE(lib.isLoaded());
    EXPECT_TRUE(lib.functions().empty());
    EXPECT_FALSE(comInitialisedHere()) << "a failed load must leave COM as it found it";
  }
}

class Fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(lib.load(UF_FIXTURE_LIBRARY, error)) << error;
  }
  const FunctionInfo& fn(const char* name) {
    const FunctionInfo* f = lib.find(name);
    EXPECT_NE(f, nullptr) << name;
    static FunctionInfo none;
    return f ? *f : none;
  }
  CallResult call(const char* name, std::vector<Value> args = {}) { return lib.evaluate(fn(name), args); }
  static Value num(double v) { return Value::makeNumber(v); }
  static Value str(const char* v) { return Value::makeString(v); }

  FunctionLibrary lib;
};

TEST_F(Fixture, ReadsTheThreeTablesInStep) {
  const auto& fns = lib.functions();
  ASSERT_EQ(fns.size(), 22u);
  EXPECT_EQ(lib.version(), 0x0100);
  for (const FunctionInfo& f : fns) {
    SCOPED_TRACE(f.definition);
    if (!f.understood) continue;
    // Each template and example belongs to the function of its row.
    EXPECT_EQ(f.templateText.compare(0, f.signature.name.size(), f.signature.name), 0) << f.templateText;
    EXPECT_EQ(f.example.compare(0, f.signature.name.size() + 1, "\t" + f.signature.name), 0) << f.example;
  }
  EXPECT_EQ(fns[5].definition, "String  SizeEcho(Number ,String )");
  EXPECT_TRUE(fns[5].understood);
  EXPECT_EQ(fns[5].signature.params, (std::vector<ValueType>{ValueType::Number, ValueType::String}));
  EXPECT_NE(fns[5].returnSize, nullptr);
  EXPECT_EQ(fns[4].returnSize, nullptr);
  EXPECT_FALSE(fns[18].understood);
  EXPECT_NE(fns[18].parseError.find("Widget"), std::string::npos);
}

TEST_F(Fixture, NamesMatchWithoutRegardToCase) {
  EXPECT_EQ(lib.find("echo"), lib.find("ECHO"));
  EXPECT_EQ(lib.find("eChO"), &lib.functions()[0]);
  EXPECT_EQ(lib.find("Gadget"), nullptr);  // its definition cannot be read
  EXPECT_EQ(lib.find("Nothing"), nullptr);
  CallResult r = lib.callUnchecked(lib.functions()[18], {num(1)});
  EXPECT_EQ(r.status, CallStatus::NotCallable);
}

TEST_F(Fixture, ArgumentChainInOrderWithTheHundredfoldNumber) {
  const int size = sizeof(UFParamListElement);
  struct Case {
    double number;
    const char* text;
    int32_t date;
    bool flag;
    const char* hundredfold;
  } cases[] = {
      {2.5, "abc", 2451544, true, "250"},
      {-0.01, "", 0, false, "-1"},
      {1234.56, "ZelNum", 5373483, true, "123456"},
  };
  for (const Case& c : cases) {
    CallResult r = call("Echo", {num(c.number), str(c.text), Value::makeDate(c.date), Value::makeBoolean(c.flag)});
    ASSERT_EQ(r.status, CallStatus::Ok) << r.message;
    const std::string s = std::to_string(size);
    const std::string expected = "1:type=1,len=8,size=" + s + ",number=" + c.hundredfold +
                                 ";2:type=7,len=" + std::to_string(std::strlen(c.text) + 1) + ",size=" + s +
                                 ",string=" + c.text + ";3:type=6,len=4,size=" + s + ",date=" + std::to_string(c.date) +
                                 ";4:type=5,len=2,size=" + s + ",boolean=" + (c.flag ? "1" : "0");
    EXPECT_EQ(r.value.text, expected);
  }
}

TEST_F(Fixture, TypedResults) {
  CallResult half = call("Half", {num(5)});
  ASSERT_TRUE(half.ok()) << half.message;
  EXPECT_EQ(half.value.type, ValueType::Number);
  EXPECT_EQ(half.value.number, 2.5);
  CallResult next = call("NextDay", {Value::makeDate(dayNumberFromCivil(1582, 10, 4))});
  ASSERT_TRUE(next.ok()) << next.message;
  EXPECT_EQ(formatValue(next.value), "1582-10-15");
  CallResult neg = call("IsPositive", {num(-3)});
  ASSERT_TRUE(neg.ok()) << neg.message;
  EXPECT_EQ(neg.value.type, ValueType::Boolean);
  EXPECT_FALSE(neg.value.boolean);
}

TEST_F(Fixture, OneBytePastTheReportedSizeIsCaught) {
  for (int size = 1; size <= 64; ++size) {
    SCOPED_TRACE(size);
    CallResult over = call("OverrunByOne", {num(size)});
    EXPECT_EQ(over.status, CallStatus::BufferOverrun);
    EXPECT_EQ(over.bufferSize, size);
    EXPECT_NE(over.message.find("1 byte past the end of its " + std::to_string(size) + "-byte"), std::string::npos)
        << over.message;
    CallResult fit = call("ExactFit", {num(size)});
    ASSERT_EQ(fit.status, CallStatus::Ok) << fit.message;
    EXPECT_EQ(fit.value.text, std::string(size - 1, 'x'));
    CallResult open = call("Unterminated", {num(size)});
    EXPECT_EQ(open.status, CallStatus::NotTerminated);
    EXPECT_NE(open.message.find("terminating NUL"), std::string::npos) << open.message;
  }
}

TEST_F(Fixture, DefaultSizeIs255Bytes) {
  CallResult fits = call("FillDefault", {num(254)});
  ASSERT_EQ(fits.status, CallStatus::Ok) << fits.message;
  EXPECT_TRUE(fits.defaultSize);
  EXPECT_EQ(fits.bufferSize, 255);
  EXPECT_EQ(fits.value.text, std::string(254, 'd'));
  CallResult over = call("FillDefault", {num(255)});
  EXPECT_EQ(over.status, CallStatus::BufferOverrun);
  EXPECT_NE(over.message.find("default size"), std::string::npos) << over.message;
  // A runaway write far past the end is still measured, not a crash of the host:
  // 5000 characters and the NUL reach 4746 bytes beyond the 255.
  CallResult far = call("FillDefault", {num(5000)});
  EXPECT_EQ(far.status, CallStatus::BufferOverrun);
  EXPECT_NE(far.message.find("4746"), std::string::npos) << far.message;
}

TEST_F(Fixture, ReturnSizeFunctionSeesTheArgumentsAndSizesTheBuffer) {
  for (const char* text : {"", "hello", "a much longer text than the others"}) {
    SCOPED_TRACE(text);
    CallResult r = call("SizeEcho", {num(3), str(text)});
    ASSERT_EQ(r.status, CallStatus::Ok) << r.message;
    // Command 0 (string length), both lists of two arguments, the first the number,
    // the second a literal text of its length with its NUL, pointing at the same
    // characters as the call's own argument.
    const std::string seen = "cmd=0;mc=2;run=2;mc1=3;mc2type=7;mc2literal=0;mc2len=" +
                             std::to_string(std::strlen(text) + 1) + ";mc2same=1";
    EXPECT_EQ(r.value.text, seen);
    EXPECT_FALSE(r.defaultSize);
    EXPECT_EQ(r.bufferSize, static_cast<int>(seen.size() + 1 + std::strlen(text)));
  }
}

TEST_F(Fixture, FailingReturnSizeFunctions) {
  for (const char* name : {"FailingSize", "ZeroSize"}) {
    SCOPED_TRACE(name);
    CallResult r = call(name);
    EXPECT_EQ(r.status, CallStatus::FunctionError);
    EXPECT_EQ(r.errorCode, UFMemCalcFail);
    EXPECT_NE(r.message.find("return-size function"), std::string::npos) << r.message;
    EXPECT_TRUE(r.value.text.empty());  // the function itself was not called
  }
}

TEST_F(Fixture, ErrorCodesComeBackByName) {
  const char* names[] = {"UFNoMemory",          "UFStringTooBig",        "UFDivideByZero", "UFArrayIndexTooBig",
                         "UFStringIndexTooBig", "UFNotEnoughParameters", "UFMemCalcFail"};
  for (int code = 1; code <= 7; ++code) {
    CallResult r = call("Fail", {num(code)});
    EXPECT_EQ(r.status, CallStatus::FunctionError);
    EXPECT_EQ(r.errorCode, code);
    EXPECT_NE(r.message.find(std::string(names[code - 1]) + " (" + std::to_string(code) + ")"), std::string::npos)
        << r.message;
  }
  CallResult user = call("UserError");
  EXPECT_EQ(user.errorCode, UFUserError);
  EXPECT_NE(user.message.find("the fixture's own user error"), std::string::npos) << user.message;
}

TEST_F(Fixture, ArgumentChecksAndUncheckedCalls) {
  CallResult few = call("NeedsTwo", {num(1)});
  EXPECT_EQ(few.status, CallStatus::NotCallable);
  EXPECT_NE(few.message.find("NeedsTwo takes 2 arguments"), std::string::npos) << few.message;
  CallResult raw = lib.callUnchecked(fn("NeedsTwo"), {num(1)});
  EXPECT_EQ(raw.status, CallStatus::FunctionError);
  EXPECT_EQ(raw.errorCode, UFNotEnoughParameters);
  CallResult type = call("Half", {str("1")});
  EXPECT_EQ(type.status, CallStatus::NotCallable);
  EXPECT_NE(type.message.find("argument 1 of Half must be a Number, not a String"), std::string::npos);
}

// The buffers live from call to call: each call must find its guards armed
// again, whatever the calls before it left behind.
TEST_F(Fixture, ReusedBuffersAreArmedAgainForEveryCall) {
  struct Step {
    const char* name;
    std::vector<Value> args;
    CallStatus status;
    const char* message;  // part of the message, "" when the call succeeds
  };
  const std::vector<std::vector<Step>> sequences = {
      // A smaller buffer after a larger one: the old body is landing zone again,
      // so a one-byte overrun is measured as one byte.
      {{"ExactFit", {num(200)}, CallStatus::Ok, ""},
       {"OverrunByOne", {num(8)}, CallStatus::BufferOverrun, "wrote 1 byte past the end of its 8-byte"},
       {"ExactFit", {num(8)}, CallStatus::Ok, ""}},
      // After a runaway write the whole landing zone is armed again.
      {{"FillDefault", {num(5000)}, CallStatus::BufferOverrun, "wrote 4746 bytes past"},
       {"FillDefault", {num(300)}, CallStatus::BufferOverrun, "wrote 46 bytes past"},
       {"FillDefault", {num(254)}, CallStatus::Ok, ""},
       {"FillDefault", {num(255)}, CallStatus::BufferOverrun, "wrote 1 byte past"}},
      // A write before the buffer does not stay charged to the next call.
      {{"Underrun", {}, CallStatus::BufferUnderrun, "wrote before the start"},
       {"ExactFit", {num(4)}, CallStatus::Ok, ""},
       {"Underrun", {}, CallStatus::BufferUnderrun, "wrote before the start"}},
      // A larger buffer after a smaller one, then a result left open.
      {{"ExactFit", {num(3)}, CallStatus::Ok, ""},
       {"ExactFit", {num(3000)}, CallStatus::Ok, ""},
       {"Unterminated", {num(5)}, CallStatus::NotTerminated, "terminating NUL"},
       {"OverrunByOne", {num(3000)}, CallStatus::BufferOverrun, "wrote 1 byte past the end of its 3000-byte"}},
      // Argument texts: a scribbled one, then clean ones of other lengths in the same slot.
      {{"ScribbleArg", {str("a long argument text")}, CallStatus::ArgumentModified, "argument 1"},
       {"ScribbleArg", {str("")}, CallStatus::Ok, ""},
       {"SizeEcho", {num(1), str("abc")}, CallStatus::Ok, ""},
       {"ScribbleArg", {str("x")}, CallStatus::ArgumentModified, "argument 1"}},
  };
  for (size_t q = 0; q < sequences.size(); ++q) {
    for (size_t i = 0; i < sequences[q].size(); ++i) {
      const Step& step = sequences[q][i];
      SCOPED_TRACE("sequence " + std::to_string(q + 1) + ", step " + std::to_string(i + 1) + ": " + step.name);
      CallResult r = call(step.name, step.args);
      EXPECT_EQ(r.status, step.status) << r.message;
      if (*step.message)
        EXPECT_NE(r.message.find(step.message), std::string::npos) << r.message;
      else
        EXPECT_EQ(r.message, "");
    }
  }
}

// A single byte written anywhere in the guard zone next to either side is
// caught, not only the bytes right at the edge.
TEST_F(Fixture, StrayBytesNearEitherSideAreCaught) {
  const struct {
    int offset;
    CallStatus status;
  } rows[] = {
      {0, CallStatus::BufferOverrun},   {15, CallStatus::BufferOverrun},  {16, CallStatus::BufferOverrun},
      {40, CallStatus::BufferOverrun},  {63, CallStatus::BufferOverrun},  {-1, CallStatus::BufferUnderrun},
      {-16, CallStatus::BufferUnderrun}, {-17, CallStatus::BufferUnderrun}, {-64, CallStatus::BufferUnderrun},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.offset);
    CallResult result = call("StrayByte", {num(r.offset)});
    EXPECT_EQ(r.status, result.status) << result.message;
    // The zone is whole again for the next call.
    EXPECT_EQ(CallStatus::Ok, call("ExactFit", {num(255)}).status);
  }
}

// Lists of every length arrive whole and in order, however they are copied
// for the call: an extra argument beyond the definition included.
TEST_F(Fixture, ArgumentListsOfEveryLengthArriveWhole) {
  const std::string s = std::to_string(sizeof(UFParamListElement));
  const std::vector<Value> args = {num(1), str("t"), Value::makeDate(7), Value::makeBoolean(true), num(2)};
  const std::vector<std::string> entries = {"1:type=1,len=8,size=" + s + ",number=100",
                                            "2:type=7,len=2,size=" + s + ",string=t",
                                            "3:type=6,len=4,size=" + s + ",date=7",
                                            "4:type=5,len=2,size=" + s + ",boolean=1",
                                            "5:type=1,len=8,size=" + s + ",number=200"};
  for (size_t n = 1; n <= args.size(); ++n) {  // Echo prints nothing defined for no arguments
    SCOPED_TRACE(n);
    const std::vector<Value> some(args.begin(), args.begin() + static_cast<long>(n));
    std::string want;
    for (size_t i = 0; i < n; ++i) want += (i ? ";" : "") + entries[i];
    const CallResult r = lib.evaluateAnyCount(fn("Echo"), some);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.value.text, want);
    // Twice more: the second call gets the list afresh.
    for (int repeat = 0; repeat < 2; ++repeat) {
      const CallResult b = lib.callUnchecked(fn("Echo"), some);
      ASSERT_TRUE(b.ok()) << b.message;
      EXPECT_EQ(b.value.text, want);
    }
  }
}

// A call site bound once and patched call by call answers as a call laid out
// afresh each time, and keeps every guard.
TEST_F(Fixture, CallSitesAnswerAsCallsLaidOutAfresh) {
  struct Step {
    size_t arg;  // the argument patched before the call
    Value value;
  };
  const std::vector<Step> steps = {
      {1, str("second text")}, {0, num(-2.5)},         {2, Value::makeDate(2460000)},
      {1, str("")},            {1, str("a text that is longer than any before it")},
      {1, str("short")},       {3, Value::makeBoolean(false)},
  };
  std::vector<Value> args = {num(1), str("first"), Value::makeDate(2451545), Value::makeBoolean(true)};
  CallSite site;
  site.bind(fn("Echo"), args);
  CallResult r;
  lib.call(site, r);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.value.text, call("Echo", args).value.text);
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i + 1));
    args[steps[i].arg] = steps[i].value;
    site.setArgument(steps[i].arg, args[steps[i].arg]);
    lib.call(site, r);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_EQ(r.value.text, call("Echo", args).value.text);
  }
  // A number where a text was bound, and a text where a number was, are not taken.
  site.setArgument(1, num(7));
  site.setArgument(0, str("not a number"));
  lib.call(site, r);
  ASSERT_TRUE(r.ok()) << r.message;
  EXPECT_EQ(r.value.text, call("Echo", args).value.text);
  // Every guard holds for a bound site as for a fresh call, call after call.
  struct Case {
    const char* name;
    std::vector<Value> args;
  } cases[] = {
      {"OverrunByOne", {num(8)}}, {"Underrun", {}},          {"Unterminated", {num(5)}},
      {"ScribbleArg", {str("abc")}}, {"SwapPointer", {}},   {"SmearBoth", {str("xyz")}},
      {"ExactFit", {num(200)}},   {"FailingSize", {}},     {"UserError", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CallSite bound;
    bound.bind(fn(c.name), c.args);
    const CallResult fresh = call(c.name, c.args);
    for (int repeat = 0; repeat < 2; ++repeat) {
      lib.call(bound, r);
      EXPECT_EQ(r.status, fresh.status) << r.message;
      EXPECT_EQ(r.message, fresh.message);
      EXPECT_EQ(r.value.text, fresh.value.text);
    }
  }
  // A call site never bound is refused, not called.
  CallSite unbound;
  lib.call(unbound, r);
  EXPECT_EQ(r.status, CallStatus::NotCallable);
  EXPECT_NE(r.message.find("no function is bound"), std::string::npos) << r.message;
}

// A text argument stays the caller's: a write into it is caught, and the next
// call gets a clean copy of its own text.
TEST_F(Fixture, ArgumentTextsStayTheCallers) {
  struct Scribble {
    std::string text;
    CallStatus status;
  } scribbles[] = {{"abc", CallStatus::ArgumentModified},
                   {"", CallStatus::Ok},
                   {"x", CallStatus::ArgumentModified},
                   {std::string("y\0z", 3), CallStatus::ArgumentModified}};
  CallResult r;
  for (const Scribble& c : scribbles) {
    SCOPED_TRACE(c.text);
    const std::vector<Value> args = {Value::makeString(c.text)};
    r = lib.callUnchecked(fn("ScribbleArg"), args);
    EXPECT_EQ(r.status, c.status) << r.message;
    EXPECT_EQ(args[0].text, c.text) << "the caller's own text was written to";
  }
}

// A call that breaks its result's guard and an argument's guard is reported
// for the result; the argument's buffer is still armed afresh, so the next
// call that passes a text is not blamed for it.
TEST_F(Fixture, AnArgumentGuardBrokenBesideAResultOverrunIsRepaired) {
  const CallResult smeared = call("SmearBoth", {str("abc")});
  EXPECT_EQ(smeared.status, CallStatus::BufferOverrun) << smeared.message;
  for (const char* text : {"", "abc", "a longer text than before"}) {
    SCOPED_TRACE(text);
    const CallResult next = call("ScribbleArg", {str(text)});
    EXPECT_EQ(next.status, *text ? CallStatus::ArgumentModified : CallStatus::Ok) << next.message;
  }
  lib.startJob();
  CallResult r;
  for (int repeat = 0; repeat < 2; ++repeat) {
    r = lib.callUnchecked(fn("SmearBoth"), {str("xyz")});
    EXPECT_EQ(r.status, CallStatus::BufferOverrun) << r.message << " (not the argument of the call before)";
  }
  lib.endJob();
}

TEST_F(Fixture, AnyCountStillRefusesTheWrongType) {
  struct Case {
    const char* name;
    std::vector<Value> args;
    CallStatus status;
    const char* message;
  } cases[] = {
      // Fewer or more than the definition names: the library's own answer.
      {"NeedsTwo", {num(1)}, CallStatus::FunctionError, "UFNotEnoughParameters (6)"},
      {"Half", {num(4), num(1)}, CallStatus::Ok, ""},
      {"ScribbleArg", {}, CallStatus::Ok, ""},
      // A value of another type than its position declares is never passed.
      {"ScribbleArg", {num(5)}, CallStatus::NotCallable, "argument 1 of ScribbleArg must be a String, not a Number"},
      {"NeedsTwo", {num(1), str("2")}, CallStatus::NotCallable, "argument 2 of NeedsTwo must be a Number, not a String"},
      {"NextDay", {num(1)}, CallStatus::NotCallable, "must be a Date, not a Number"},
      {"Gadget", {num(1)}, CallStatus::NotCallable, "not understood"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FunctionInfo* f = lib.find(c.name);
    const FunctionInfo& target = f ? *f : lib.functions()[18];  // Gadget cannot be found by name
    CallResult r = lib.evaluateAnyCount(target, c.args);
    EXPECT_EQ(r.status, c.status) << r.message;
    if (*c.message) {
      EXPECT_NE(r.message.find(c.message), std::string::npos) << r.message;
    }
  }
}

TEST_F(Fixture, MisspeltNamesGetTheNearestKnownOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"Halff", "Half"},      {"hlf", "Half"},        {"ExactFitt", "ExactFit"}, {"SizeEko", "SizeEcho"},
      {"NextDy", "NextDay"},  {"Nope", nullptr},      {"Half", nullptr},         {"Q", nullptr},
      {"Gadgett", nullptr},   {"", nullptr},          {"ScribleArg", "ScribbleArg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const FunctionInfo* suggested = lib.nearest(c.first);
    if (c.second) {
      ASSERT_NE(suggested, nullptr);
      EXPECT_EQ(suggested->signature.name, c.second);
      EXPECT_EQ(unknownFunction(lib, c.first),
                std::string("unknown function '") + c.first + "'; did you mean " + c.second + "?");
    } else {
      EXPECT_EQ(suggested, nullptr) << suggested->signature.name;
    }
  }
}

TEST_F(Fixture, OtherBreachesOfTheBufferRules) {
  struct Case {
    const char* name;
    std::vector<Value> args;
    CallStatus status;
  } cases[] = {
      {"Underrun", {}, CallStatus::BufferUnderrun},
      {"SwapPointer", {}, CallStatus::ReturnPointerChanged},
      {"ScribbleArg", {str("abc")}, CallStatus::ArgumentModified},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CallResult r = call(c.name, c.args);
    EXPECT_EQ(r.status, c.status) << r.message;
    EXPECT_TRUE(isGuardViolation(r.status));
    EXPECT_NE(r.message.find(c.name), std::string::npos);
  }
}

TEST_F(Fixture, JobsAroundCalls) {
  // A call outside a job runs in a job of its own.
  CallResult a = call("JobInfo");
  CallResult b = call("JobInfo");
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_NE(a.value.text, b.value.text);
  EXPECT_FALSE(lib.inJob());
  lib.startJob();
  const std::string id = std::to_string(lib.jobId());
  CallResult c = call("JobInfo");
  CallResult d = call("JobInfo");
  EXPECT_EQ(c.value.text.rfind("job=" + id + ";param=" + id + ";", 0), 0u) << c.value.text;
  EXPECT_EQ(c.value.text, d.value.text);  // the same job, started once
  lib.endJob();
}

TEST(FixtureLifecycle, CallingOrderAndCom) {
  testenv::TempDir dir;
  const std::string log = dir.file("calls.log");
  testenv::ScopedEnv env("UF_FIXTURE_LOG", log.c_str());
  EXPECT_FALSE(comInitialisedHere());
  {
    FunctionLibrary lib;
    std::string error;
    ASSERT_TRUE(lib.load(UF_FIXTURE_LIBRARY, error)) << error;
    EXPECT_TRUE(comInitialisedHere());
    ASSERT_TRUE(lib.evaluate(*lib.find("Half"), {Value::makeNumber(1)}).ok());
    lib.startJob();
    ASSERT_TRUE(lib.evaluate(*lib.find("Half"), {Value::makeNumber(1)}).ok());
    lib.unload();
    lib.unload();
    EXPECT_FALSE(lib.isLoaded());
    EXPECT_EQ(lib.evaluate(FunctionInfo(), {}).status, CallStatus::NotCallable);
  }
  EXPECT_FALSE(comInitialisedHere());
  EXPECT_EQ(testenv::readFile(log),
            "UFInitialize com=initialised\n"
            "UFStartJob 1\nUFEndJob 1\n"
            "UFStartJob 2\nUFEndJob 2\n"
            "UFTerminate\n");
}

}  // namespace
