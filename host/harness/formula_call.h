// One formula call with literal arguments, as ufhost reads it:
//   ZelNum(10, 2, "1234.567")   ZelTime   ZelFYEnd(2, 1, Date(2024, 3, 15))
// Literals: numbers (123, -4.5, 1e3), double-quoted texts with backslash
// escapes (\" \\ \n \t \r \xHH), dates as Date(y, m, d) or ISO 2024-03-15,
// times as Time(h, m, s), DateTime(y, m, d, h, m, s), True and False. In a
// report, $column stands for that row's field, $"unit price" for a column
// whose name is not one word. A NUL byte is refused inside a text, raw or as \x00.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host_value.h"

namespace ufhost {

struct FormulaArgument {
  bool isColumn = false;
  Value value;         // the literal, when not a column
  std::string column;  // the name after '$', when a column
};

struct FormulaCall {
  std::string name;
  std::vector<FormulaArgument> args;
};

// The whole text must be one call (blanks around it allowed). False, with the
// reason and its position in error, for anything else.
bool parseFormulaCall(const std::string& text, FormulaCall& out, std::string& error, bool allowColumns = false);

// The field read as a value of the wanted type into into (its text storage
// reused): a String takes the field as written, a Number or a Date only a
// field that reads wholly as one. False, into unchanged, when it does not.
bool fieldAs(std::string_view field, ValueType want, Value& into);

// The value a report field stands for: a number when it reads wholly as one,
// a date when it is an ISO date (YYYY-MM-DD), otherwise its text as written.
Value fieldValue(std::string_view field);

}  // namespace ufhost
