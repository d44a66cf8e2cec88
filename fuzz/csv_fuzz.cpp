// The harness's CSV reader: any text gets an answer; what it accepts is a table
// whose rows know where they start, in order, within the text.
#include <algorithm>
#include <string>

#include "fuzz_blocks.h"
#include "report.h"

using fuzzblocks::fail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ufhost::CsvTable table;
  std::string error;
  if (!ufhost::parseCsv(text, table, error)) {
    if (error.empty()) fail("parseCsv", "refused a text without saying why");
    return 0;
  }
  if (table.rows.size() != table.lines.size()) fail("parseCsv", "rows and their line numbers differ in count");
  const long lineCount = static_cast<long>(std::count(text.begin(), text.end(), '\n')) + 1;
  for (size_t i = 0; i < table.lines.size(); ++i) {
    if (table.lines[i] < 1 || table.lines[i] > lineCount) fail("parseCsv", "a row starts outside the text");
    if (i > 0 && table.lines[i] <= table.lines[i - 1]) fail("parseCsv", "rows out of order");
  }
  return 0;
}
