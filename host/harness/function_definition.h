// The definition texts of a library's function table: "String ZelNum (Number,
// Number, String)", "String ZelTime", "Date ZelFYEnd (Number,Number,Date)".
#pragma once

#include <string>
#include <vector>

#include "host_value.h"

namespace ufhost {

struct FunctionSignature {
  ValueType returnType = ValueType::Number;
  std::string name;
  std::vector<ValueType> params;
};

// Return type, name and, optionally, a parenthesised list of parameter types.
// Blanks and tabs may stand anywhere between the parts, or be missing beside
// the punctuation. False, with the reason in error, for anything else.
bool parseDefinition(const std::string& text, FunctionSignature& out, std::string& error);

// "String ZelNum (Number, Number, String)", spaced the harness's own way.
std::string describeSignature(const FunctionSignature& sig);

}  // namespace ufhost
