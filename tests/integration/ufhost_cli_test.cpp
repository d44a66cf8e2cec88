// The ufhost command run as a user runs it: arguments, standard input, files,
// what it prints where, and its exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_env.h"
#include "test_paths.h"
#include "uf_records.h"
#include "ufhost_cli.h"

namespace {

#ifndef UFHOST_PROGRAM
#error "UFHOST_PROGRAM names the built ufhost command"
#endif

struct Outcome {
  int code = -1;  // -1: did not exit normally (a crash)
  std::string out, err;
};

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class UfhostCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    // The library reads a profile, a class registry and ODBC settings: all private here.
    profile_ = dir_.write("win.ini", "[intl]\niTime=1\niTLzero=1\nsTime=:\n");
    registry_ = dir_.write("classes.reg", "");
    odbcini_ = dir_.write("odbc.ini", "");
  }

  // stdinFrom: a path standard input is read from instead of input; stdoutTo: a
  // path standard output goes to instead of the outcome's text.
  Outcome run(const std::vector<std::string>& args, const std::string& input = "",
              const std::string& stdinFrom = "", const std::string& stdoutTo = "") {
    testenv::ScopedEnv profile("U2LVOST_PROFILE", profile_.c_str());
    testenv::ScopedEnv registry("U2LVOST_COM_REGISTRY", registry_.c_str());
    testenv::ScopedEnv odbc("ODBCINI", odbcini_.c_str());
    testenv::ScopedEnv odbcsys("ODBCSYSINI", dir_.path().c_str());
    const std::string in = stdinFrom.empty() ? dir_.write("stdin.txt", input) : stdinFrom;
    std::string cmd = quote(UFHOST_PROGRAM);
    for (const std::string& a : args) cmd += " " + quote(a);
    cmd += " <" + quote(in) + " >" + quote(stdoutTo.empty() ? dir_.file("out.txt") : stdoutTo) + " 2>" +
           quote(dir_.file("err.txt"));
    int status = std::system(cmd.c_str());
    Outcome o;
    if (status != -1 && WIFEXITED(status)) o.code = WEXITSTATUS(status);
    o.out = testenv::readFile(dir_.file("out.txt"));
    o.err = testenv::readFile(dir_.file("err.txt"));
    return o;
  }

  std::string write(const std::string& name, const std::string& text) { return dir_.write(name, text); }
  std::string dir_file(const std::string& name) { return dir_.file(name); }

  const std::string fixture_ = UF_FIXTURE_LIBRARY;
  const std::string real_ = U2LVOST_LIBRARY;

 private:
  testenv::TempDir dir_;
  std::string profile_, registry_, odbcini_;
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(UfhostCommand, HelpExplainsModesSyntaxAndExitCodes) {
  Outcome o = run({"--help"});
  EXPECT_EQ(o.code, 0);
  for (const char* part : {"--list", "--file FILE", "--report TEMPLATE", "--rows FILE.csv", "@header", "@row",
                           "@footer", "$column", "row N of M", "Exit codes", "2024-03-15", "255 bytes", "#ERROR",
                           "$\"unit price\"", "section names in any case", "nearest known name"})
    EXPECT_TRUE(contains(o.out, part)) << part;
  EXPECT_EQ(o.err, "");
}

TEST_F(UfhostCommand, CommandLineAndLoadingErrors) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* err;
  } cases[] = {
      {{}, 2, "nothing to do"},
      {{"--bogus"}, 2, "unknown option --bogus"},
      {{fixture_}, 2, "nothing to do"},
      {{fixture_, "--file"}, 2, "--file needs a value"},
      {{fixture_, "--report", "t.txt", "Half(1)"}, 2, "cannot be combined"},
      {{fixture_, "--rows", "r.csv", "Half(1)"}, 2, "--rows needs --report"},
      {{fixture_, "--json", "Half(1)"}, 2, "--json needs --check"},
      {{"/no/such/library.so", "--list"}, 3, "cannot load /no/such/library.so: no such file"},
      {{UF_NO_ENTRY_LIBRARY, "--list"}, 3, "is not a function library"},
      {{fixture_, "--file", "/no/such/calls.txt"}, 4, "cannot read /no/such/calls.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    Outcome o = run(c.args);
    EXPECT_EQ(o.code, c.code);
    EXPECT_TRUE(contains(o.err, c.err)) << o.err;
    EXPECT_EQ(o.out, "");
  }
}

TEST_F(UfhostCommand, ListShowsEachFunctionsTexts) {
  Outcome o = run({fixture_, "--list"});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_TRUE(contains(o.out, "(interface version 1.0)"));
  EXPECT_TRUE(contains(o.out,
                       "\nEcho\n"
                       "  definition: String Echo (Number, String, Date, Boolean)\n"
                       "  template:   Echo(!,,,)\n"
                       "  example:    \\tEcho(number, text, date, boolean)\n"
                       "  result:     String, buffer size from its return-size function\n"))
      << o.out;
  EXPECT_TRUE(contains(o.out, "  definition: String  SizeEcho(Number ,String )\n"));
  EXPECT_TRUE(contains(o.out, "FillDefault\n  definition: String FillDefault (Number)\n"));
  EXPECT_TRUE(contains(o.out, "no return-size function (default buffer of 255 bytes)"));
  EXPECT_TRUE(contains(o.out, "(row 19)\n  definition: Widget Gadget (Number)\n"));
  EXPECT_TRUE(contains(o.out, "cannot be called: unknown type 'Widget'"));
}

TEST_F(UfhostCommand, CallsPrintOneResultPerLine) {
  struct Case {
    std::vector<std::string> calls;
    const char* out;
    int code;
    const char* err;  // part of standard error, "" for none at all
  } cases[] = {
      {{"Half(5)", "half(-0.5)", "HALF(1e3)"}, "2.5\n-0.25\n500\n", 0, ""},
      {{"NextDay(2023-12-31)", "NextDay(Date(1582, 10, 4))", "NextDay(Date(-1, 12, 31))"},
       "2024-01-01\n1582-10-15\n0001-01-01\n",
       0,
       ""},
      {{"IsPositive(1)", "IsPositive(0)"}, "True\nFalse\n", 0, ""},
      {{"ExactFit(4)", "ScribbleArg(\"a\\\"b\")"},
       "xxx\n#ERROR\n",
       5,
       "ScribbleArg(\"a\\\"b\"): ScribbleArg wrote into the text of its argument 1"},
      {{"OverrunByOne(8)", "Half(2)"},
       "#ERROR\n1\n",
       5,
       "OverrunByOne(8): OverrunByOne wrote 1 byte past the end of its 8-byte"},
      {{"Unterminated(3)"}, "#ERROR\n", 5, "without a terminating NUL"},
      {{"Fail(3)"}, "#ERROR\n", 1, "Fail(3): Fail answered UFDivideByZero (3)"},
      {{"Fail(3)", "OverrunByOne(2)", "Nope()"}, "#ERROR\n#ERROR\n#ERROR\n", 5, "unknown function 'Nope'"},
      {{"Nope(1)"}, "#ERROR\n", 4, "Nope(1): unknown function 'Nope'"},
      {{"Half(1, 2)"}, "#ERROR\n", 4, "Half takes 1 argument (Number Half (Number)), 2 given"},
      {{"Half(\"1\")"}, "#ERROR\n", 4, "argument 1 of Half must be a Number, not a String"},
      {{"Half(1"}, "#ERROR\n", 4, "Half(1: at position 7: missing ')'"},
      {{"NextDay(2023-02-29)"}, "#ERROR\n", 4, "no such date"},
      {{"Gadget(1)"}, "#ERROR\n", 4, "unknown function 'Gadget'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.calls[0]);
    std::vector<std::string> args = {fixture_};
    args.insert(args.end(), c.calls.begin(), c.calls.end());
    Outcome o = run(args);
    EXPECT_EQ(o.code, c.code) << o.err;
    EXPECT_EQ(o.out, c.out);
    if (*c.err) {
      EXPECT_TRUE(contains(o.err, c.err)) << o.err;
      EXPECT_EQ(o.err.compare(0, 8, "ufhost: "), 0) << o.err;
    } else {
      EXPECT_EQ(o.err, "");
    }
  }
}

TEST_F(UfhostCommand, NoCheckPassesArgumentsAsWritten) {
  Outcome checked = run({fixture_, "NeedsTwo(1)"});
  EXPECT_EQ(checked.code, 4);
  Outcome raw = run({fixture_, "--no-check", "NeedsTwo(1)", "NeedsTwo(1, 2)"});
  EXPECT_EQ(raw.code, 1);
  EXPECT_EQ(raw.out, "#ERROR\ntwo\n");
  EXPECT_TRUE(contains(raw.err, "NeedsTwo(1): NeedsTwo answered UFNotEnoughParameters (6)")) << raw.err;
}

// A folder, a missing file: exit 4 with the system's own reason, for each
// option that names a file.
TEST_F(UfhostCommand, FilesThatCannotBeReadGiveTheReason) {
  const std::string tpl = write("t.txt", "@row\n{Half($a)}\n");
  const std::string rows = write("r.csv", "a\n1\n");
  const std::string folder = tpl.substr(0, tpl.rfind('/'));
  const std::string missing = folder + "/absent.txt";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{fixture_, "--file", folder}, "cannot read " + folder + ": Is a directory"},
      {{fixture_, "--file", missing}, "cannot read " + missing + ": No such file or directory"},
      {{fixture_, "--report", folder}, "cannot read " + folder + ": Is a directory"},
      {{fixture_, "--report", missing}, "cannot read " + missing + ": No such file or directory"},
      {{fixture_, "--report", tpl, "--rows", folder}, "cannot read " + folder + ": Is a directory"},
      {{fixture_, "--report", tpl, "--rows", missing}, "cannot read " + missing + ": No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    Outcome o = run(c.args);
    EXPECT_EQ(o.code, 4);
    EXPECT_TRUE(contains(o.err, "ufhost: " + c.err)) << o.err;
    EXPECT_EQ(o.out, "");
  }
  // Half is fine once the rows can be read: the template itself was not at fault.
  Outcome good = run({fixture_, "--report", tpl, "--rows", rows});
  EXPECT_EQ(good.code, 0) << good.err;
  EXPECT_EQ(good.out, "0.5\n");
}

// Calls from a source that opens but fails when read (standard input from a
// folder, a file whose reading the system refuses): exit 4 with the reason, not
// a silent success with no calls made.
TEST_F(UfhostCommand, CallsFromASourceThatFailsToReadGiveTheReason) {
  const std::string calls = write("calls.txt", "Half(4)\n");
  const std::string folder = calls.substr(0, calls.rfind('/'));
  struct Case {
    std::vector<std::string> args;
    std::string stdinFrom;
    std::string err;
  } cases[] = {
      {{fixture_, "-"}, folder, "cannot read standard input: Is a directory"},
      {{fixture_, "--file", "-"}, folder, "cannot read standard input: Is a directory"},
      {{fixture_, "Half(8)", "-"}, folder, "cannot read standard input: Is a directory"},
      {{fixture_, "--file", "/proc/self/mem"}, "", "cannot read /proc/self/mem: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    Outcome o = run(c.args, "", c.stdinFrom);
    EXPECT_EQ(o.code, 4) << o.err;
    EXPECT_TRUE(contains(o.err, "ufhost: " + c.err)) << o.err;
    EXPECT_EQ(o.out, c.args[1] == "Half(8)" ? "4\n" : "");  // the calls before still print
  }
}

// Results that cannot be written (a full disk) are no success, in every mode.
TEST_F(UfhostCommand, OutputThatCannotBeWrittenIsAFailure) {
  const std::string calls = write("calls.txt", "Half(4)\n");
  const std::vector<std::vector<std::string>> cases = {
      {fixture_, "Half(4)"},
      {fixture_, "--file", calls},
      {fixture_, "--list"},
      {"--version"},
      {real_, "--calendar", "1", "--books", "0", "--from", "2000", "--to", "2001"},
      {real_, "--check"},
  };
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(args.back());
    Outcome o = run(args, "", "", "/dev/full");
    EXPECT_EQ(o.code, 6) << o.err;
    EXPECT_TRUE(contains(o.err, "ufhost: cannot write standard output")) << o.err;
  }
}

TEST_F(UfhostCommand, MisspeltFunctionsGetASuggestion) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* out;
    const char* err;
  } cases[] = {
      {{fixture_, "Halff(2)", "Half(2)"}, 4, "#ERROR\n1\n", "unknown function 'Halff'; did you mean Half?"},
      {{fixture_, "NxtDay(2024-01-01)"}, 4, "#ERROR\n", "did you mean NextDay?"},
      {{fixture_, "Nope(1)"}, 4, "#ERROR\n", "unknown function 'Nope' (ufhost LIBRARY --list"},
      {{real_, "ZelNm(10, 2, \"1\")"}, 4, "#ERROR\n", "unknown function 'ZelNm'; did you mean ZelNum?"},
      {{real_, "zelfyend2(1, 1, 2024-01-01)"}, 4, "#ERROR\n", "did you mean ZelFYEnd?"},
      {{fixture_, "--report", "", "--rows", ""}, 4, "", "line 2: {Hlf($a)}: unknown function 'Hlf'; did you mean Half?"},
  };
  const std::string tpl = write("t.txt", "@row\n{Hlf($a)}\n");
  const std::string rows = write("r.csv", "a\n1\n");
  for (Case& c : cases) {
    if (c.args[1] == "--report") c.args = {fixture_, "--report", tpl, "--rows", rows};
    SCOPED_TRACE(c.args[1]);
    Outcome o = run(c.args);
    EXPECT_EQ(o.code, c.code) << o.err;
    EXPECT_EQ(o.out, c.out);
    EXPECT_TRUE(contains(o.err, c.err)) << o.err;
  }
  Outcome distant = run({fixture_, "Nope(1)"});
  EXPECT_FALSE(contains(distant.err, "did you mean")) << distant.err;
}

TEST_F(UfhostCommand, CallsFromStandardInputAndFromAFile) {
  const std::string calls = "# sample calls\n\n  Half(4)\r\nHalf(x)\nNextDay(2000-01-01)\n";
  const std::string file = write("calls.txt", calls);
  struct Case {
    std::vector<std::string> args;
    std::string name;
  } cases[] = {
      {{fixture_, "-"}, "standard input"},
      {{fixture_, "--file", "-"}, "standard input"},
      {{fixture_, "--file", file}, file},
      {{fixture_, "Half(8)", "--file", file}, file},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    Outcome o = run(c.args, calls);
    EXPECT_EQ(o.code, 4);
    EXPECT_EQ(o.out, std::string(c.args[1] == "Half(8)" ? "4\n" : "") + "2\n#ERROR\n2000-01-02\n");
    EXPECT_TRUE(contains(o.err, "ufhost: " + c.name + ":4: Half(x): at position 6: unknown word 'x'")) << o.err;
  }
}

TEST_F(UfhostCommand, ReportWithRows) {
  const std::string tpl = write("report.txt",
                                "@# a small report\n"
                                "Report {{v{Half(2)}}}\n"
                                "@row\n"
                                "{NextDay($When)}|{Half($amount)}|{Echo($amount, $name, $when, True)}\n"
                                "@footer\n"
                                "end {NextDay(2024-02-28)}\n");
  const std::string rows = write("rows.csv",
                                 "name,amount,when\n"
                                 "\"Smith, J\",12.5,2024-03-15\n"
                                 "7,-4,1999-12-31\n");
  Outcome o = run({fixture_, "--report", tpl, "--rows", rows});
  ASSERT_EQ(o.code, 0) << o.err;
  const std::string n = std::to_string(sizeof(UFParamListElement));
  EXPECT_EQ(o.err, "");  // no progress count: standard error is not a terminal here
  const std::string expected =
      "Report {v1}\n"
      "2024-03-16|6.25|1:type=1,len=8,size=" +
      n + ",number=1250;2:type=7,len=9,size=" + n + ",string=Smith, J;3:type=6,len=4,size=" + n +
      ",date=2460384;4:type=5,len=2,size=" + n + ",boolean=1\n" + "2000-01-01|-2|1:type=1,len=8,size=" + n +
      ",number=-400;2:type=7,len=2,size=" + n + ",string=7;3:type=6,len=4,size=" + n +
      ",date=2451543;4:type=5,len=2,size=" + n + ",boolean=1\n" + "end 2024-02-29\n";
  EXPECT_EQ(o.out, expected);
}

// Row after row, a call and its return-size function see that row's own number
// and text, the text's length included, as the text grows and shrinks.
TEST_F(UfhostCommand, ReportCallsSeeEachRowsOwnArguments) {
  const std::string tpl = write("sized.txt", "@row\n{SizeEcho($n, $t)}|{Echo($n, $t, 2024-01-01, True)}\n");
  const std::string rows = write("sized.csv", "n,t\n3,abcdef\n12,a\n7,\n40,abcdefghij\n");
  Outcome o = run({fixture_, "--report", tpl, "--rows", rows});
  ASSERT_EQ(o.code, 0) << o.err;
  const struct {
    int n;
    std::string t;
  } expected[] = {{3, "abcdef"}, {12, "a"}, {7, ""}, {40, "abcdefghij"}};
  std::istringstream lines(o.out);
  for (const auto& row : expected) {
    SCOPED_TRACE(row.t);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    const std::string length = std::to_string(row.t.size() + 1);
    EXPECT_EQ(line.substr(0, line.find('|')), "cmd=0;mc=2;run=2;mc1=" + std::to_string(row.n) +
                                                  ";mc2type=7;mc2literal=0;mc2len=" + length + ";mc2same=1");
    EXPECT_TRUE(contains(line, "|1:type=1,len=8,size=" + std::to_string(sizeof(UFParamListElement)) +
                                   ",number=" + std::to_string(row.n * 100) + ";2:type=7,len=" + length + ","))
        << line;
    EXPECT_TRUE(contains(line, ",string=" + row.t + ";3:type=6,")) << line;
  }
  std::string rest;
  EXPECT_FALSE(std::getline(lines, rest)) << rest;
}

TEST_F(UfhostCommand, ReportErrorsNameTheRowAndTheCall) {
  const std::string rows = write("rows.csv", "amount,size\n1,4\nn/a,2\n3,8\n");
  struct Case {
    std::string tpl;
    int code;
    const char* out;
    const char* err;
  } cases[] = {
      {"@row\n[{Half($amount)}]\n", 4, "[0.5]\n[#ERROR]\n[1.5]\n",
       "ufhost: row 2 (CSV line 3), line 2 of the template: {Half($amount)}: $amount holds \"n/a\", not a Number"},
      {"@row\n{ExactFit($size)} {OverrunByOne($size)}\n", 5, "xxx #ERROR\nx #ERROR\nxxxxxxx #ERROR\n",
       "ufhost: row 1 (CSV line 2), line 2 of the template: {OverrunByOne($size)}: OverrunByOne wrote 1 byte past"},
      {"@row\n{Echo(1, \"x\", 2024-01-01, $size)}\n", 4, "#ERROR\n#ERROR\n#ERROR\n",
       "ufhost: row 1 (CSV line 2), line 2 of the template: {Echo(1, \"x\", 2024-01-01, $size)}: $size holds \"4\", "
       "not a Boolean"},
      {"@row\n{Echo($amount, \"x\", 2024-01-01, $size)}\n", 4, "#ERROR\n#ERROR\n#ERROR\n",
       "ufhost: row 2 (CSV line 3), line 2 of the template: {Echo($amount, \"x\", 2024-01-01, $size)}: $amount holds "
       "\"n/a\", not a Number"},
      {"@row\n{Half($size)}|{NextDay($size)}\n", 4, "2|#ERROR\n1|#ERROR\n4|#ERROR\n",
       "ufhost: row 3 (CSV line 4), line 2 of the template: {NextDay($size)}: $size holds \"8\", not a Date"},
      {"@row\n{Fail($size)}\n", 1, "#ERROR\n#ERROR\n#ERROR\n",
       "row 3 (CSV line 4), line 2 of the template: {Fail($size)}: Fail answered unknown error (8)"},
      {"title {Nope(1)}\n", 4, "", "line 1: {Nope(1)}: unknown function 'Nope'"},
      {"{Half($amount)}\n", 4, "", "line 1: {Half($amount)}: $amount: columns can be used only in the @row section"},
      {"@row\n{Half($price)}\n", 4, "", "no column 'price' in the rows (columns: amount, size)"},
      {"@row\n{Half(1, 2)}\n", 4, "", "line 2: {Half(1, 2)}: Half takes 1 argument (Number Half (Number)), 2 given"},
      {"@row\n{Half(\"1\")}\n", 4, "", "argument 1 of Half must be a Number, not a String"},
      {"x {Half(1\n", 4, "", "line 1: '{' without its '}'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tpl);
    Outcome o = run({fixture_, "--report", write("t.txt", c.tpl), "--rows", rows});
    EXPECT_EQ(o.code, c.code) << o.err;
    EXPECT_EQ(o.out, c.out);
    EXPECT_TRUE(contains(o.err, c.err)) << o.err;
  }
  Outcome badCsv = run({fixture_, "--report", write("t.txt", "@row\nx\n"), "--rows", write("bad.csv", "a\n\"x\n")});
  EXPECT_EQ(badCsv.code, 4);
  EXPECT_TRUE(contains(badCsv.err, "bad.csv: line 2: a quoted field is not closed")) << badCsv.err;
  Outcome noRows = run({fixture_, "--report", write("t.txt", "@row\n{Half($a)}\n")});
  EXPECT_EQ(noRows.code, 4);
  EXPECT_TRUE(contains(noRows.err, "no rows were given")) << noRows.err;
}

// Fields that repeat are read once and their reading kept: every row must
// still answer as its own text does, whatever was read before it.
TEST_F(UfhostCommand, ReportFieldsThatRepeatAnswerAsTheirOwnText) {
  struct Field {
    const char* text;
    const char* out;  // Half of it, or #ERROR
  } fields[] = {
      {"4", "2"},          {"n/a", "#ERROR"},  {" 4 ", "2"},           {"8", "4"},
      {"4.0", "2"},        {"1e2", "50"},      {"", "#ERROR"},         {"000000000000000006", "3"},
      {"0000000000000006", "3"}, {"000000000000006", "3"}, {"-3", "-1.5"}, {"2024-01-01", "#ERROR"},
      {"40", "20"},        {"0.4", "0.2"},     {"4x", "#ERROR"},       {"12345678.5", "6172839.25"},
      {"0000000000000008", "4"}, {"000000000000004", "2"}, {"00000000000000x6", "#ERROR"},
  };
  const size_t n = sizeof fields / sizeof fields[0];
  std::string csv = "amount,other\n", want;
  std::mt19937 rng(5);
  std::uniform_int_distribution<size_t> pick(0, n - 1);
  bool anyBad = false;
  for (int row = 0; row < 3000; ++row) {
    const Field& f = fields[row < static_cast<int>(n) ? static_cast<size_t>(row) : pick(rng)];
    csv += std::string(f.text) + "," + std::to_string(row) + "\n";
    want += "[" + std::string(f.out) + "]\n";
    anyBad = anyBad || std::string(f.out) == "#ERROR";
  }
  Outcome o = run({fixture_, "--report", write("t.txt", "@row\n[{Half($amount)}]\n"), "--rows", write("r.csv", csv)});
  EXPECT_EQ(o.code, anyBad ? 4 : 0) << o.err;
  EXPECT_EQ(o.out, want);
}

TEST_F(UfhostCommand, ReportColumnsWithBlanksAndSectionNamesInAnyCase) {
  const std::string tpl = write("t.txt",
                                "@HEADER\n"
                                "top\n"
                                "@Row\n"
                                "{Half($\"unit price\")} {Half($\"Unit Price\")} {Half($qty)}\n"
                                "@Footer\n"
                                "end\n");
  const std::string rows = write("r.csv", "\"unit price\",qty\n3,4\n5,6\n");
  Outcome o = run({fixture_, "--report", tpl, "--rows", rows});
  EXPECT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "top\n1.5 1.5 2\n2.5 2.5 3\nend\n");
  Outcome missing = run({fixture_, "--report", write("m.txt", "@row\n{Half($\"unit cost\")}\n"), "--rows", rows});
  EXPECT_EQ(missing.code, 4);
  EXPECT_TRUE(contains(missing.err, "no column 'unit cost' in the rows (columns: unit price, qty)")) << missing.err;
  Outcome text = run({fixture_, "--report", write("b.txt", "@row\n{Half($\"unit price\")}\n"), "--rows",
                      write("b.csv", "unit price\nn/a\n")});
  EXPECT_EQ(text.code, 4);
  EXPECT_TRUE(contains(text.err, "$\"unit price\" holds \"n/a\", not a Number")) << text.err;
}

// The rows are read as the report goes: a broken line stops them there, the
// rows before it and the footer are still written, and the exit code says so.
TEST_F(UfhostCommand, ReportRowsStopAtABrokenLine) {
  const std::string tpl = write("t.txt", "head\n@row\n{Half($a)}\n@footer\nend\n");
  const std::pair<std::string, std::string> cases[] = {
      {"a\n2\n4\n6,7\n8\n", "r.csv: line 4: 2 fields, but the header names 1 columns (the rows stop there)"},
      {"a\n2\n4\n\"6\n", "r.csv: line 4: a quoted field is not closed (the rows stop there)"},
      {std::string("a\n2\n4\n6\0\n", 9), "r.csv: line 4: a NUL byte"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    Outcome o = run({fixture_, "--report", tpl, "--rows", write("r.csv", c.first)});
    EXPECT_EQ(o.code, 4);
    EXPECT_EQ(o.out, "head\n1\n2\nend\n");
    EXPECT_TRUE(contains(o.err, c.second)) << o.err;
  }
  Outcome noHeader = run({fixture_, "--report", tpl, "--rows", write("e.csv", "\n\n")});
  EXPECT_EQ(noHeader.code, 4);
  EXPECT_EQ(noHeader.out, "");
  EXPECT_TRUE(contains(noHeader.err, "e.csv: no header line naming the columns")) << noHeader.err;
}

// Templates with nothing in some or all of their sections: what there is gets
// written, with and without rows.
TEST_F(UfhostCommand, ReportsWithEmptySections) {
  const struct {
    std::string tpl, out;
  } cases[] = {
      {"", ""},
      {"@# only a comment\n", ""},
      {"@header\n@row\n@footer\n", ""},
      {"head only", "head only"},
      {"@row\n{Half($a)}\n", "1\n2\n"},
      {"@footer\nend\n", "end\n"},
  };
  const std::string rows = write("r.csv", "a\n2\n4\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tpl);
    const std::string tpl = write("t.txt", c.tpl);
    Outcome withRows = run({fixture_, "--report", tpl, "--rows", rows});
    EXPECT_EQ(withRows.code, 0) << withRows.err;
    EXPECT_EQ(withRows.out, c.out);
    if (c.tpl.find('$') != std::string::npos) continue;  // columns need rows
    Outcome without = run({fixture_, "--report", tpl});
    EXPECT_EQ(without.code, 0) << without.err;
    EXPECT_EQ(without.out, c.out);
  }
}

// A date result prints in a report as it prints from a call, for every day
// number a library may answer: valid, "no date", or none at all.
TEST_F(UfhostCommand, ReportDatesPrintAsCallsPrintThem) {
  const char* const days[] = {"-2147483648", "-2", "-1", "0", "2451544", "1024", "2147483647"};
  std::string tpl = "@header\n";
  std::string rows = "d\n";
  for (const char* d : days) {
    tpl += std::string("{DayOf(") + d + ")}\n";
    rows += std::string(d) + "\n";
  }
  tpl += "@row\n{DayOf($d)}\n";
  Outcome report = run({fixture_, "--report", write("dates.txt", tpl), "--rows", write("dates.csv", rows)});
  ASSERT_EQ(report.code, 0) << report.err;
  std::string calls;
  for (const char* d : days) {
    Outcome one = run({fixture_, std::string("DayOf(") + d + ")"});
    ASSERT_EQ(one.code, 0) << one.err;
    EXPECT_EQ(one.out.find("(no date)") == std::string::npos, std::string(d) != "-1") << one.out;
    calls += one.out;
  }
  // Once from the header's literals, once from the rows; in a report a missing
  // date keeps a date's width, so the column after it stays in place.
  const std::string padded = "(no date) \n";
  const size_t at = calls.find("(no date)\n");
  ASSERT_NE(at, std::string::npos);
  calls.replace(at, padded.size() - 1, padded);
  EXPECT_EQ(report.out, calls + calls);
}

// Rows that come through a pipe (a named one, or a shell's <(...)) can be read
// only once: with the progress count on, every row must still reach the report,
// and the command must not wait for a second writer.
TEST_F(UfhostCommand, ReportRowsFromAPipeAreAllReadWithTheProgressCountOn) {
  testenv::TempDir dir;
  const std::string tpl = dir.write("t.txt", "@row\n{Half($a)}\n");
  const std::string fifo = dir.file("rows.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Far more than one read of the reader: the writer is still writing when the report starts.
  const int kRows = 100000;
  std::string csv = "a\n";
  for (int i = 0; i < kRows; ++i) csv += "2\n";
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    size_t done = 0;
    while (done < csv.size()) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, 20000) <= 0) break;  // nobody reads any more: give up rather than hang
      const ssize_t n = ::write(fd, csv.data() + done, csv.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    ::close(fd);
  });
  std::istringstream in;
  std::ostringstream out, err;
  const int code = ufhost::runUfhost({fixture_, "--report", tpl, "--rows", fifo}, in, out, err, true, false);
  writer.join();
  EXPECT_EQ(code, 0) << err.str();
  std::string expected;
  for (int i = 0; i < kRows; ++i) expected += "1\n";
  EXPECT_EQ(out.str().size(), expected.size());
  EXPECT_TRUE(out.str() == expected);
}

// Options in any order, their values as --opt VALUE or --opt=VALUE, the
// library first among the other words or left out.
TEST_F(UfhostCommand, OptionsInAnyOrderAndTheLibraryBesideUfhost) {
  const std::string tpl = write("any.txt", "@row\n{Half($a)} {ZelNum(8, 1, $a)}\n");
  const std::string tplFixture = write("fixture.txt", "@row\n{Half($a)}\n");
  const std::string rows = write("any.csv", "a\n3\n-5\n");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> same;  // the same command written otherwise
  } cases[] = {
      {{fixture_, "--report", tplFixture, "--rows", rows}, {"--rows=" + rows, fixture_, "--report=" + tplFixture}},
      {{fixture_, "--report", tplFixture, "--rows", rows}, {"--report", tplFixture, fixture_, "--rows", rows}},
      {{fixture_, "--file", write("calls.txt", "Half(3)\n"), "Half(1)"},
       {"--file=" + dir_file("calls.txt"), fixture_, "Half(1)"}},
      {{real_, "ZelNum(12, 2, \"1234.567\")", "ZelCalYEnd(1, 0, 2024-03-15)"},
       {"ZelNum(12, 2, \"1234.567\")", "ZelCalYEnd(1, 0, 2024-03-15)"}},
      {{real_, "--no-check", "ZelNum(12, 2)"}, {"ZelNum(12, 2)", "--no-check"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.same.front());
    const Outcome want = run(c.args);
    const Outcome got = run(c.same);
    EXPECT_EQ(got.code, want.code) << got.err;
    EXPECT_EQ(got.out, want.out);
    EXPECT_NE(got.out, "");
  }
  // The library beside ufhost is the report library of this build.
  const Outcome listed = run({"--list"});
  ASSERT_EQ(listed.code, 0) << listed.err;
  EXPECT_TRUE(contains(listed.out, "/src/libu2lvost.so (interface version")) << listed.out;
  EXPECT_TRUE(contains(listed.out, "\nZelFYEnd\n")) << listed.out;
}

// A huge field, template line or column name is quoted in a message only so
// far, with its length and place.
TEST_F(UfhostCommand, MessagesQuoteOnlyAnExcerpt) {
  const std::string huge(200000, '7');
  struct Case {
    std::string templateText, csv;
    const char* says;
  } cases[] = {
      {"@row\n{Half($a)}\n", "a\n" + huge + "x\n", "$a holds \"777"},
      {"@row\n{Half($a)}\n", "a,a" + huge + ",A" + huge + "\n1,2,3\n", "line 1: the column name '" },
      {"@row\n{Half(\"" + huge + "\")}\n", "a\n1\n", "line 2: {Half(\"777"},
      {"@row\n{Half($c" + huge + ")}\n", "a\n1\n", "no column 'c777"},
  };
  // Calls from a file: a long call, and a short one followed by a long tail.
  for (const std::string& line : {"Half(" + huge + ")", "Half(1) " + huge, "Half(\"1\", " + huge + ")", "H" + huge + "(1)", "Half(" + huge + "x)"}) {
    SCOPED_TRACE(line.substr(0, 12));
    const Outcome o = run({fixture_, "--file", write("long.txt", line + "\n")});
    EXPECT_EQ(o.code, 4);
    EXPECT_EQ(o.out, "#ERROR\n");
    EXPECT_TRUE(contains(o.err, " bytes)")) << o.err.substr(0, 400);
    EXPECT_LT(o.err.size(), 1000u) << o.err.substr(0, 400);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    const Outcome o = run({fixture_, "--report", write("big.txt", c.templateText), "--rows", write("big.csv", c.csv)});
    EXPECT_NE(o.code, 0);
    EXPECT_TRUE(contains(o.err, c.says)) << o.err.substr(0, 400);
    EXPECT_TRUE(contains(o.err, "200") && contains(o.err, " bytes)")) << o.err.substr(0, 400);
    EXPECT_LT(o.err.size(), 1000u) << o.err.substr(0, 400);
  }
}

// Rows go out while the report runs: a reader at the end of a pipe sees the
// first ones while the rows are still being written to the report.
TEST_F(UfhostCommand, ReportOutputReachesAPipeBeforeTheEnd) {
  testenv::TempDir dir;
  const std::string tpl = dir.write("t.txt", "@row\n{Half($a)}\n");
  const std::string fifo = dir.file("rows.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string cmd = quote(UFHOST_PROGRAM) + " " + quote(fixture_) + " --report " + quote(tpl) + " --rows " +
                          quote(fifo) + " 2>/dev/null";
  FILE* report = ::popen(cmd.c_str(), "r");
  ASSERT_NE(report, nullptr);
  const int rows = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(rows, 0);
  // More rows than one read of the reader takes, and more output than 64 KB.
  std::string csv = "a\n";
  for (int i = 0; i < 70000; ++i) csv += "2\n";
  for (size_t done = 0; done < csv.size();) {
    const ssize_t n = ::write(rows, csv.data() + done, csv.size() - done);
    ASSERT_GT(n, 0);
    done += static_cast<size_t>(n);
  }
  // The rows are not finished yet: the fifo stays open while the output is awaited.
  pollfd p{fileno(report), POLLIN, 0};
  const int ready = poll(&p, 1, 20000);
  char first[2] = {};
  const bool got = ready == 1 && ::read(fileno(report), first, 2) == 2;
  ::close(rows);
  std::string rest;
  char buffer[65536];
  for (ssize_t n; (n = ::read(fileno(report), buffer, sizeof buffer)) > 0;) rest.append(buffer, static_cast<size_t>(n));
  const int status = ::pclose(report);
  ASSERT_TRUE(got) << "no output before the rows ended";
  EXPECT_EQ(std::string(first, 2), "1\n");
  EXPECT_EQ(rest.size() + 2, 140000u);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// ---- through the real library

TEST_F(UfhostCommand, RealLibraryListsItsSixFunctions) {
  Outcome o = run({real_, "--list"});
  ASSERT_EQ(o.code, 0) << o.err;
  const char* blocks[] = {
      "\nZelNum\n  definition: String ZelNum (Number, Number, String)\n  template:   ZelNum (!,,)\n"
      "  example:    \\tZelNum (width Number, Precision Number, numberin String)\n"
      "  result:     String, buffer size from its return-size function\n",
      "\nZelTime\n  definition: String ZelTime\n  template:   ZelTime!\n  example:    \\tZelTime\n"
      "  result:     String, buffer size from its return-size function\n",
      "\nZelSplitHdr\n  definition: String ZelSplitHdr (Number, Number, String)\n  template:   ZelSplitHdr (!,,)\n"
      "  example:    \\tZelSplitHdr (line length, line number, header string)\n"
      "  result:     String, no return-size function (default buffer of 255 bytes)\n",
      "\nZelToText\n  definition: String ZelToText (Number)\n  template:   ZelToText(!)\n"
      "  example:    \\tZelToText(number)\n  result:     String, buffer size from its return-size function\n",
      "\nZelFYEnd\n  definition: Date ZelFYEnd (Number,Number,Date)\n  template:   ZelFYEnd(!,,)\n"
      "  example:    \\tZelFYEnd(number,number,date)\n  result:     Date\n",
      "\nZelCalYEnd\n  definition: Date ZelCalYEnd (Number,Number,Date)\n  template:   ZelCalYEnd(!,,)\n"
      "  example:    \\tZelCalYEnd(number,number,date)\n  result:     Date\n",
  };
  size_t at = 0;
  for (const char* b : blocks) {
    size_t found = o.out.find(b);
    ASSERT_NE(found, std::string::npos) << b << "\n--- in ---\n" << o.out;
    EXPECT_GT(found, at) << "the functions are listed in the table's order";
    at = found;
  }
  EXPECT_TRUE(contains(o.out, "(interface version 1.0)"));
}

TEST_F(UfhostCommand, RealLibraryEvaluatesCalls) {
  Outcome o =
      run({real_, "ZelNum(10, 2, \"1234.567\")", "zelnum(5, 2, \"1000\")", "ZELTOTEXT(1234.56)", "ZelToText(-0.5)",
           "ZelSplitHdr(8, 1, \"hello world\")", "ZelSplitHdr(8, 2, \"hello world\")", "ZelTime()", "ZelTime"});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.err, "");
  // The profile asks for the 24-hour clock with a leading zero.
  const std::string fixed = "   1234.57\n1000.00\n          1234.56\n            -0.50\n hello  \n world  \n";
  ASSERT_EQ(o.out.compare(0, fixed.size(), fixed), 0) << o.out;
  const std::string times = o.out.substr(fixed.size());
  ASSERT_EQ(times.size(), 12u) << times;
  for (size_t at : {0u, 6u}) {
    SCOPED_TRACE(times);
    const std::string t = times.substr(at, 6);
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    EXPECT_TRUE(digit(t[0]) && digit(t[1]) && t[2] == ':' && digit(t[3]) && digit(t[4]) && t[5] == '\n');
    EXPECT_LT(std::stoi(t.substr(0, 2)), 24);
    EXPECT_LT(std::stoi(t.substr(3, 2)), 60);
  }
}

TEST_F(UfhostCommand, RealLibraryMissingArguments) {
  Outcome checked = run({real_, "ZelNum(10, 2)"});
  EXPECT_EQ(checked.code, 4);
  EXPECT_TRUE(contains(checked.err, "ZelNum takes 3 arguments (String ZelNum (Number, Number, String)), 2 given"))
      << checked.err;
  for (const char* call : {"ZelNum(10, 2)", "ZelToText()", "ZelSplitHdr(8, 1)", "ZelFYEnd(2, 1)", "ZelCalYEnd()"}) {
    SCOPED_TRACE(call);
    Outcome raw = run({real_, "--no-check", call});
    EXPECT_EQ(raw.code, 1);
    EXPECT_EQ(raw.out, "#ERROR\n");
    EXPECT_TRUE(contains(raw.err, "answered UFNotEnoughParameters (6)")) << raw.err;
  }
}

// --no-check lets the count differ but never hands the library a value of
// another type than it reads: a number where it reads a text pointer would
// crash the host.
TEST_F(UfhostCommand, RealLibraryNoCheckRefusesWrongTypes) {
  struct Case {
    const char* call;
    const char* err;
  } cases[] = {
      {"ZelNum(1, 2, 5)", "argument 3 of ZelNum must be a String, not a Number"},
      {"ZelNum(\"1\", 2, \"5\")", "argument 1 of ZelNum must be a Number, not a String"},
      {"ZelSplitHdr(8, 1, 2024-01-01)", "argument 3 of ZelSplitHdr must be a String, not a Date"},
      {"ZelFYEnd(1, 1, \"2024-01-01\")", "argument 3 of ZelFYEnd must be a Date, not a String"},
      {"ZelFYEnd(1, True)", "argument 2 of ZelFYEnd must be a Number, not a Boolean"},
      {"ZelToText(\"12\")", "argument 1 of ZelToText must be a Number, not a String"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call);
    Outcome o = run({real_, "--no-check", c.call, "ZelNum(6, 1, \"2.5\")"});
    EXPECT_EQ(o.code, 4) << o.err;
    EXPECT_EQ(o.out, "#ERROR\n   2.5\n");
    EXPECT_TRUE(contains(o.err, std::string("ufhost: ") + c.call + ": " + c.err)) << o.err;
  }
}

TEST_F(UfhostCommand, RealLibraryReport) {
  const std::string tpl = write("assets.txt",
                                "@header\n"
                                "{ZelSplitHdr(12, 1, \"  Quarterly fixed asset report  \")}\n"
                                "{ZelSplitHdr(12, 2, \"  Quarterly fixed asset report  \")}\n"
                                "@row\n"
                                "{ZelSplitHdr(8, $line, $title)}|{ZelNum(10, 2, $cost)}|{ZelNum(5, 2, $cost)}\n"
                                "@footer\n"
                                "{ZelToText(1234.56)}\n");
  const std::string rows = write("assets.csv",
                                 "title,line,cost\n"
                                 "hello world,1,1234.567\n"
                                 "hello world,2,1000\n"
                                 "abc defghij,2,abc\n");
  Outcome o = run({real_, "--report", tpl, "--rows", rows});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out,
            " Quarterly  \n"
            "fixed asset \n"
            " hello  |   1234.57|*******************\n"
            " world  |   1000.00|1000.00\n"
            "defghij |      0.00| 0.00\n"
            "          1234.56\n");
}

}  // namespace
