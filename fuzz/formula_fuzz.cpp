// The harness's formula-call parser: any text gets an answer, never a crash or
// a hang. A call it accepts has a name, and no text argument holds a NUL (the
// library would see only the part before it): a raw NUL inside quotes must be
// refused like \x00.
#include <string>

#include "formula_call.h"
#include "fuzz_blocks.h"

using fuzzblocks::fail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool allowColumns = (data[0] & 1) != 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  ufhost::FormulaCall call;
  std::string error;
  if (!ufhost::parseFormulaCall(text, call, error, allowColumns)) {
    if (error.empty()) fail("parseFormulaCall", "refused a text without saying why");
    return 0;
  }
  if (call.name.empty()) fail("parseFormulaCall", "accepted a call without a name");
  for (const ufhost::FormulaArgument& a : call.args) {
    if (a.isColumn) {
      if (!allowColumns) fail("parseFormulaCall", "accepted a column outside a report");
      if (a.column.empty()) fail("parseFormulaCall", "accepted a column without a name");
    } else if (a.value.type == ufhost::ValueType::String && a.value.text.find('\0') != std::string::npos) {
      fail("parseFormulaCall", "accepted a text holding a NUL");
    }
  }
  // A report field becomes a value whatever it holds.
  ufhost::fieldValue(text);
  return 0;
}
