// The shipped library shows the host exactly its entry points: every name of the
// export table and nothing else (the rest of the library is hidden).
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "test_paths.h"

namespace {

std::set<std::string> definedDynamicSymbols(const std::string& library) {
  std::set<std::string> names;
  FILE* p = popen(("nm -D --defined-only '" + library + "' 2>/dev/null").c_str(), "r");
  if (!p) return names;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::istringstream in(line);
    std::string address, kind, name;
    if (in >> address >> kind >> name) names.insert(name);
  }
  pclose(p);
  return names;
}

TEST(Exports, AreExactlyTheEntryPointsOfTheExportTable) {
  // The names of src/u2lvost.def, ordinals 1 to 21 and 23 to 26.
  const std::set<std::string> expected = {
      "reportZelRound", "ZelTime", "ZelTimeStringRetSize", "ZelNum", "ZelNumStringRetSize",
      "ZelToText", "ZelToTextStringRetSize", "ZelSplitHdr", "ZelFYEnd", "ZelCalYEnd",
      "_SETSHORTYEAR", "_CLEARSHYRINFO", "UFInitialize", "UFGetVersion", "UFTerminate",
      "UFGetFunctionTemplates", "UFGetFunctionExamples", "UFGetFunctionDefStrings", "UFErrorRecovery",
      "UFStartJob", "UFEndJob", "DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer",
      "DllUnregisterServer"};
  const std::set<std::string> actual = definedDynamicSymbols(U2LVOST_LIBRARY);
  ASSERT_FALSE(actual.empty()) << "nm could not read " << U2LVOST_LIBRARY;
  EXPECT_EQ(actual, expected);
}

}  // namespace
