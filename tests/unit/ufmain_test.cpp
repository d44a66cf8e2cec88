// The host entry points, the function tables and the argument walk.
#include "ufmain.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "persistCalendar.h"
#include "syrapi.h"
#include "test_env.h"
#include "uflvost.h"
#include "wintime.h"

namespace {

struct Row {
  const char* definition;
  const char* templ;
  const char* example;
  UFEntryFunc entry;
  UFMemCalcFuncPtr size;
};

const Row kRows[] = {
    {"String ZelNum (Number, Number, String)", "ZelNum (!,,)",
     "\tZelNum (width Number, Precision Number, numberin String)", ZelNum, ZelNumStringRetSize},
    {"String ZelTime", "ZelTime!", "\tZelTime", ZelTime, ZelTimeStringRetSize},
    {"String ZelSplitHdr (Number, Number, String)", "ZelSplitHdr (!,,)",
     "\tZelSplitHdr (line length, line number, header string)", ZelSplitHdr, nullptr},
    {"String ZelToText (Number)", "ZelToText(!)", "\tZelToText(number)", ZelToText, ZelToTextStringRetSize},
    {"Date ZelFYEnd (Number,Number,Date)", "ZelFYEnd(!,,)", "\tZelFYEnd(number,number,date)", ZelFYEnd, nullptr},
    {"Date ZelCalYEnd (Number,Number,Date)", "ZelCalYEnd(!,,)", "\tZelCalYEnd(number,number,date)", ZelCalYEnd,
     nullptr},
};
constexpr size_t kRowCount = sizeof kRows / sizeof kRows[0];

TEST(FunctionTables, RowsHoldTheExactTextsInOrder) {
  UFFunctionDefStringList* defs = UFGetFunctionDefStrings();
  UFFunctionTemplateList* templates = UFGetFunctionTemplates();
  UFFunctionExampleList* examples = UFGetFunctionExamples();
  ASSERT_NE(defs, nullptr);
  ASSERT_NE(templates, nullptr);
  ASSERT_NE(examples, nullptr);
  EXPECT_EQ(defs->StructSize, 6);
  EXPECT_EQ(templates->StructSize, 6);
  EXPECT_EQ(examples->StructSize, 6);
  // Asked twice, the same blocks.
  EXPECT_EQ(UFGetFunctionDefStrings(), defs);
  EXPECT_EQ(UFGetFunctionTemplates(), templates);
  EXPECT_EQ(UFGetFunctionExamples(), examples);

  for (size_t i = 0; i < kRowCount; ++i) {
    const UFFunctionDefStrings& d = defs->UFFunctionDefStrPtr[i];
    ASSERT_NE(d.FuncDefString, nullptr) << i;
    EXPECT_STREQ(d.FuncDefString, kRows[i].definition) << i;
    EXPECT_EQ(d.UFEntry, kRows[i].entry) << i;
    EXPECT_EQ(d.UFMemCalcFunc, kRows[i].size) << i;
    ASSERT_NE(templates->UFFuncTemplatePtr[i].FuncTemplate, nullptr) << i;
    EXPECT_STREQ(templates->UFFuncTemplatePtr[i].FuncTemplate, kRows[i].templ) << i;
    ASSERT_NE(examples->FuncExample[i].FuncExample, nullptr) << i;
    EXPECT_STREQ(examples->FuncExample[i].FuncExample, kRows[i].example) << i;
    EXPECT_EQ(examples->FuncExample[i].FuncExample[0], '\t') << i;
  }
  const UFFunctionDefStrings& end = defs->UFFunctionDefStrPtr[kRowCount];
  EXPECT_EQ(end.FuncDefString, nullptr);
  EXPECT_EQ(end.UFEntry, nullptr);
  EXPECT_EQ(end.UFMemCalcFunc, nullptr);
  EXPECT_EQ(templates->UFFuncTemplatePtr[kRowCount].FuncTemplate, nullptr);
  EXPECT_EQ(examples->FuncExample[kRowCount].FuncExample, nullptr);
}

TEST(FunctionTables, VersionIsOnePointZero) { EXPECT_EQ(UFGetVersion(), 256); }

// Argument types read from a definition text such as "String ZelNum (Number, Number, String)".
std::vector<std::string> argumentTypes(const std::string& definition) {
  std::vector<std::string> types;
  size_t open = definition.find('(');
  if (open == std::string::npos) return types;
  std::string inner = definition.substr(open + 1, definition.find(')') - open - 1);
  std::string cur;
  for (char ch : inner + ",") {
    if (ch == ',') {
      types.push_back(cur);
      cur.clear();
    } else if (ch != ' ') {
      cur += ch;
    }
  }
  return types;
}

UFTypeDefs declaredType(const std::string& type) {
  if (type == "Number") return UFNumber;
  if (type == "Date") return UFDate;
  return UFStringArg;
}

// The host's argument chain: one element per type, each holding a plausible value of
// its type (a text, a day number or a hundredfold number).
std::vector<UFParamListElement> argumentChain(const std::vector<UFTypeDefs>& types, char* text) {
  std::vector<UFParamListElement> args(types.size());
  for (size_t i = 0; i < types.size(); ++i) {
    args[i] = UFParamListElement{};
    args[i].StructSize = sizeof args[i];
    args[i].NextParam = i + 1 < types.size() ? &args[i + 1] : nullptr;
    args[i].ParamType = types[i];
    switch (types[i]) {
      case UFStringArg:
        args[i].Parameter.ParamString = text;
        break;
      case UFDate:
        args[i].Parameter.ParamDate = 2451544;
        break;
      case UFInteger:
        args[i].Parameter.ParamInteger = 2;
        break;
      default:
        args[i].Parameter.ParamNumber = 100;
        break;
    }
  }
  return args;
}

// Calls a row's function with the chain; true when it answered 6 and left its result alone.
bool refusedUntouched(const Row& row, std::vector<UFParamListElement>& args) {
  std::vector<char> buffer(64, '#');
  UFParamBlock block{};
  block.ReturnValue.ReturnString = buffer.data();
  block.UFParamList = args.empty() ? nullptr : &args[0];
  const UFReturnUnion before = block.ReturnValue;
  return row.entry(&block) == UFNotEnoughParameters && std::memcmp(&before, &block.ReturnValue, sizeof before) == 0 &&
         std::string(buffer.begin(), buffer.end()) == std::string(64, '#');
}

// Every formula function with one argument too few: code 6 and the result as it was.
TEST(FunctionTables, EveryFunctionRefusesMissingArguments) {
  char text[] = "100";
  for (size_t row = 0; row < kRowCount; ++row) {
    const std::vector<std::string> types = argumentTypes(kRows[row].definition);
    for (size_t given = 0; given < types.size(); ++given) {
      std::vector<UFTypeDefs> declared;
      for (size_t i = 0; i < given; ++i) declared.push_back(declaredType(types[i]));
      std::vector<UFParamListElement> args = argumentChain(declared, text);
      EXPECT_TRUE(refusedUntouched(kRows[row], args)) << kRows[row].definition << " with " << given;
    }
  }
}

// An argument of another type than the definition declares counts as missing: a
// number is never read as a text pointer, a text never as a day number.
TEST(FunctionTables, EveryFunctionRefusesArgumentsOfAnotherType) {
  char text[] = "100";
  // The year-end functions answer without a resolver; none may reach a database here.
  CPersistCalendar* const savedResolver = persistCalendarPtr;
  persistCalendarPtr = nullptr;
  const UFTypeDefs others[] = {UFUndefinedType, UFNumber, UFCurrency, UFInteger, UFBoolean, UFDate,
                               UFStringArg,     UFNumberArray, UFStringArray, UFDateTime, UFTime};
  for (size_t row = 0; row < kRowCount; ++row) {
    const std::vector<std::string> types = argumentTypes(kRows[row].definition);
    if (types.size() == 1 && types[0].empty()) continue;  // ZelTime takes nothing
    std::vector<UFTypeDefs> declared;
    for (const std::string& t : types) declared.push_back(declaredType(t));
    for (size_t wrong = 0; wrong < declared.size(); ++wrong) {
      for (UFTypeDefs other : others) {
        if (other == declared[wrong]) continue;
        std::vector<UFTypeDefs> given = declared;
        given[wrong] = other;
        std::vector<UFParamListElement> args = argumentChain(given, text);
        EXPECT_TRUE(refusedUntouched(kRows[row], args))
            << kRows[row].definition << ": argument " << wrong + 1 << " of type " << other;
      }
    }
    // The declared types themselves are accepted.
    std::vector<UFParamListElement> args = argumentChain(declared, text);
    EXPECT_FALSE(refusedUntouched(kRows[row], args)) << kRows[row].definition;
  }
  persistCalendarPtr = savedResolver;
}

// A chain of n elements linked through NextParam.
struct ParamChain {
  explicit ParamChain(size_t n) : elements(n) {
    for (size_t i = 0; i + 1 < n; ++i) elements[i].NextParam = &elements[i + 1];
    block.UFParamList = n ? &elements[0] : nullptr;
  }
  std::vector<UFParamListElement> elements;
  UFParamBlock block{};
};

TEST(GetParam, WalksToTheNthArgument) {
  ParamChain none(0);
  EXPECT_EQ(GetParam(&none.block, 1), nullptr);
  EXPECT_EQ(GetParam(&none.block, 0), nullptr);

  ParamChain three(3);
  const struct {
    int16_t number;
    const UFParamListElement* expected;
  } cases[] = {
      {1, &three.elements[0]}, {2, &three.elements[1]}, {3, &three.elements[2]}, {4, nullptr},
      {5, nullptr},            {0, nullptr},            {-1, nullptr},           {-32768, nullptr},
      {32767, nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(GetParam(&three.block, c.number), c.expected) << c.number;
  EXPECT_EQ(GetParam(nullptr, 1), nullptr);
}

TEST(GetParam, TypedAccessRefusesAnotherType) {
  ParamChain two(2);
  two.elements[0].ParamType = UFNumber;
  two.elements[1].ParamType = UFStringArg;
  const struct {
    int16_t number;
    UFTypeDefs type;
    const UFParamListElement* expected;
  } cases[] = {
      {1, UFNumber, &two.elements[0]}, {1, UFStringArg, nullptr}, {1, UFCurrency, nullptr},
      {2, UFStringArg, &two.elements[1]}, {2, UFNumber, nullptr}, {2, UFDate, nullptr},
      {3, UFNumber, nullptr},            {0, UFNumber, nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(GetParam(&two.block, c.number, c.type), c.expected) << c.number;
  EXPECT_EQ(GetParam(nullptr, 1, UFNumber), nullptr);
}

TEST(GetParam, CompanionsWalkTheirOwnLists) {
  std::vector<UFMemCalcParam> calc(3);
  for (size_t i = 0; i + 1 < calc.size(); ++i) calc[i].NextMemCalcParam = &calc[i + 1];
  std::vector<UFMemCalcParam> array(2);
  array[0].NextMemCalcParam = &array[1];
  calc[1].MemCalcParameter.ParamArrayPointer = &array[0];
  ParamChain run(2);

  UFMemCalcBlock block{};
  block.UFMemCalcParamList = &calc[0];
  block.UFParamList = run.block.UFParamList;

  const int16_t numbers[] = {-1, 0, 1, 2, 3, 4};
  for (int16_t n : numbers) {
    const bool inCalc = n >= 1 && n <= 3;
    const bool inArray = n >= 1 && n <= 2;
    EXPECT_EQ(GetMemCalcParam(&block, n), inCalc ? &calc[n - 1] : nullptr) << n;
    EXPECT_EQ(GetMemCalcRunParam(&block, n), inArray ? &run.elements[n - 1] : nullptr) << n;
    EXPECT_EQ(GetMemCalcArrayElement(&calc[1], n), inArray ? &array[n - 1] : nullptr) << n;
    EXPECT_EQ(GetMemCalcArrayElement(&calc[0], n), nullptr) << n;  // holds no array
  }
  EXPECT_EQ(GetMemCalcParam(nullptr, 1), nullptr);
  EXPECT_EQ(GetMemCalcRunParam(nullptr, 1), nullptr);
  EXPECT_EQ(GetMemCalcArrayElement(nullptr, 1), nullptr);
}

class Lifecycle : public ::testing::Test {
 protected:
  // Nothing may reach a database or the user's settings.
  testenv::TempDir dir_;
  testenv::ScopedEnv odbcini_{"ODBCINI", dir_.write("odbc.ini", "").c_str()};
  testenv::ScopedEnv odbcsysini_{"ODBCSYSINI", dir_.path().c_str()};
  testenv::ScopedEnv profile_{"U2LVOST_PROFILE", dir_.file("win.ini").c_str()};
};

TEST_F(Lifecycle, InitializeAndTerminateCount) {
  ASSERT_EQ(refCount, 0);
  ASSERT_EQ(persistCalendarPtr, nullptr);

  EXPECT_EQ(UFInitialize(), UFNoError);
  CPersistCalendar* first = persistCalendarPtr;
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(refCount, 1);

  EXPECT_EQ(UFInitialize(), UFNoError);
  EXPECT_EQ(persistCalendarPtr, first);  // kept, not made again
  EXPECT_EQ(refCount, 2);

  EXPECT_EQ(UFTerminate(), UFNoError);
  EXPECT_EQ(persistCalendarPtr, first);
  EXPECT_EQ(refCount, 1);

  EXPECT_EQ(UFTerminate(), UFNoError);
  EXPECT_EQ(persistCalendarPtr, nullptr);
  EXPECT_EQ(refCount, 0);

  // Unmatched: nothing to free, the count stays at 0.
  EXPECT_EQ(UFTerminate(), UFNoError);
  EXPECT_EQ(persistCalendarPtr, nullptr);
  EXPECT_EQ(refCount, 0);

  // A fresh start after all that works as the first did.
  EXPECT_EQ(UFInitialize(), UFNoError);
  EXPECT_NE(persistCalendarPtr, nullptr);
  EXPECT_EQ(refCount, 1);
  EXPECT_EQ(UFTerminate(), UFNoError);
  EXPECT_EQ(persistCalendarPtr, nullptr);
  EXPECT_EQ(refCount, 0);
}

// A count that cannot go up refuses the call instead of wrapping to a negative count
// that no UFTerminate would ever bring back to 0. Set directly: the real way there is
// 2^31 - 1 unmatched calls.
TEST_F(Lifecycle, InitializeRefusesACountThatIsFull) {
  ASSERT_EQ(refCount, 0);
  ASSERT_EQ(UFInitialize(), UFNoError);
  CPersistCalendar* const resolver = persistCalendarPtr;
  ASSERT_NE(resolver, nullptr);

  refCount = INT32_MAX - 1;
  EXPECT_EQ(UFInitialize(), UFNoError);
  EXPECT_EQ(refCount, INT32_MAX);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(UFInitialize(), UFNoMemory) << i;
    EXPECT_EQ(refCount, INT32_MAX) << i;
    EXPECT_EQ(persistCalendarPtr, resolver) << i;
  }
  // Each counted call is still matched by one UFTerminate.
  EXPECT_EQ(UFTerminate(), UFNoError);
  EXPECT_EQ(refCount, INT32_MAX - 1);
  EXPECT_EQ(persistCalendarPtr, resolver);

  refCount = 1;
  EXPECT_EQ(UFTerminate(), UFNoError);
  EXPECT_EQ(refCount, 0);
  EXPECT_EQ(persistCalendarPtr, nullptr);
}

TEST_F(Lifecycle, JobStartRereadsTheTimeSettings) {
  const std::string path = dir_.file("win.ini");
  dir_.write("win.ini", "[intl]\niTime=1\nsTime=.\n");
  UFStartJob(1);
  EXPECT_EQ(iTime, 1);
  EXPECT_STREQ(sTime, ".");

  dir_.write("win.ini", "[intl]\niTime=0\nsTime=-\n");
  UFEndJob(1);  // the end of a job reads nothing
  EXPECT_EQ(iTime, 1);
  EXPECT_STREQ(sTime, ".");
  UFStartJob(2);
  EXPECT_EQ(iTime, 0);
  EXPECT_STREQ(sTime, "-");

  // Unchanged settings are read again too: a value changed behind the library's back returns.
  iTime = 5;
  UFStartJob(3);
  EXPECT_EQ(iTime, 0);
}

// The hook runs once on the way in and once on the way out of every entry point.
TEST(EntryHook, EveryEntryPointCallsItOnEntryAndExit) {
  UFParamBlock block{};
  UFMemCalcBlock calc{};
  char text[] = "Title";
  std::vector<UFParamListElement> args = argumentChain({UFNumber, UFNumber, UFStringArg}, text);
  std::vector<char> buffer(300, '#');
  block.ReturnValue.ReturnString = buffer.data();
  const struct {
    const char* name;
    std::function<void()> call;
  } entries[] = {
      {"UFGetVersion", [] { UFGetVersion(); }},
      {"UFGetFunctionDefStrings", [] { UFGetFunctionDefStrings(); }},
      {"UFGetFunctionTemplates", [] { UFGetFunctionTemplates(); }},
      {"UFGetFunctionExamples", [] { UFGetFunctionExamples(); }},
      {"UFErrorRecovery", [&] { UFErrorRecovery(&block, UFUserError); }},
      {"UFEndJob", [] { UFEndJob(1); }},
      {"ZelNumStringRetSize", [&] { ZelNumStringRetSize(&calc); }},
      {"ZelSplitHdr", [&] {
         block.UFParamList = &args[0];
         ZelSplitHdr(&block);
       }},
      {"reportZelRound", [] { reportZelRound(roundFlag); }},
      {"ZelNum", [&] {
         block.UFParamList = &args[0];
         ZelNum(&block);
       }},
      {"ZelToText", [&] {
         block.UFParamList = &args[0];
         ZelToText(&block);
       }},
  };
  for (const auto& e : entries) {
    const uint32_t before = checkheapCalls;
    e.call();
    EXPECT_EQ(checkheapCalls - before, 2u) << e.name;
  }
}

TEST(ErrorRecovery, EveryNumberGetsTheOnlyText) {
  const int32_t numbers[] = {0, 1, 7, 65536, -1, 0x7FFFFFFF};
  for (int32_t n : numbers) {
    UFParamBlock block{};
    block.ReturnValue.UFReturnUserError = n;
    const char* text = UFErrorRecovery(&block, UFUserError);
    ASSERT_NE(text, nullptr) << n;
    EXPECT_STREQ(text, "no error") << n;
    const int32_t kept = block.ReturnValue.UFReturnUserError;
    EXPECT_EQ(kept, n);
  }
  EXPECT_STREQ(UFErrorRecovery(nullptr, UFNoError), "no error");
}

TEST(DllEntry, ProcessAttachRecordsTheHandle) {
  void* saved = UFInstance;
  int a = 0, b = 0;
  EXPECT_EQ(DllEntryPoint(&a, 1, nullptr), 1);
  EXPECT_EQ(UFInstance, &a);
  for (uint32_t reason : {0u, 2u, 3u, 99u}) {
    EXPECT_EQ(DllEntryPoint(&b, reason, nullptr), 1) << reason;
    EXPECT_EQ(UFInstance, &a) << reason;
  }
  UFInstance = saved;
}

}  // namespace
