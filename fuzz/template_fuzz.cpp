// The harness's report template reader: any text gets an answer; the calls of a
// template it accepts were each accepted by the formula parser.
#include <string>

#include "fuzz_blocks.h"
#include "report.h"

using fuzzblocks::fail;

namespace {

void checkSection(const ufhost::ReportSection& section, long lineCount) {
  for (const ufhost::TemplatePiece& p : section.pieces) {
    if (p.line < 1 || p.line > lineCount) fail("parseReportTemplate", "a piece lies outside the text");
    if (p.isCall && p.call.name.empty()) fail("parseReportTemplate", "a call without a name");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ufhost::ReportTemplate report;
  std::string error;
  if (!ufhost::parseReportTemplate(text, report, error)) {
    if (error.empty()) fail("parseReportTemplate", "refused a text without saying why");
    return 0;
  }
  long lineCount = 1;
  for (char c : text) lineCount += c == '\n';
  checkSection(report.header, lineCount);
  checkSection(report.row, lineCount);
  checkSection(report.footer, lineCount);
  return 0;
}
