// Report mode of ufhost: a text template with a header, a row and a footer
// section whose {Call(...)} placeholders are evaluated through a loaded
// library, the row section once per row of a CSV file.
//
// Template lines (section names in any case):
//   @header      starts the header section (output once, before the rows)
//   @row         starts the row section (output once per CSV row)
//   @footer      starts the footer section (output once, after the rows)
//   @# ...       a comment, left out of the output
// Every other line is text. Text before the first section line belongs to the
// header; each section may appear once. In text, {Call(...)} is replaced by the
// call's result and {{ and }} stand for single braces. Inside a call in the row
// section, $name stands for the row's field in the column called name
// (matched without regard to case); $"unit price" for a name that is not one word.
// The rows are read one at a time, so a report's memory does not grow with them.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "csv_reader.h"
#include "fiscal_year_end.h"
#include "formula_call.h"
#include "function_library.h"

namespace ufhost {

struct TemplatePiece {
  bool isCall = false;
  std::string text;  // the text, or the call as written between the braces
  FormulaCall call;
  int line = 0;                            // in the template, from 1
  const FunctionInfo* function = nullptr;  // set by bindReport
  std::vector<int> columns;                // per argument: the column index, or -1
  bool fiscal = false;                     // set by bindReport: its answers go to the FiscalTally
};

struct ReportSection {
  std::vector<TemplatePiece> pieces;
};

struct ReportTemplate {
  ReportSection header, row, footer;
};

// False, with "line N: ..." in error, for a template that cannot be read.
bool parseReportTemplate(const std::string& text, ReportTemplate& out, std::string& error);

// Resolves every call's function and columns, and checks argument counts and
// literal types before anything is evaluated. columns may be null (no CSV given).
// Problems, one per entry, go to errors; false when there are any.
bool bindReport(ReportTemplate& report, const FunctionLibrary& library, const std::vector<std::string>* columns,
                std::vector<std::string>& errors);

// What the report's calls came to: every call's result, a call refused for a
// field that does not fit included, passes through ReportOutcome::add, the one
// place that sees them all.
struct ReportOutcome {
  long functionErrors = 0;   // calls the library answered with an error code
  long guardViolations = 0;  // calls that broke the buffer rules
  long badFields = 0;        // fields that do not suit their parameter
  FiscalTally fiscal;        // fiscal-year calls that answered, and those without a date
  std::string rowsError;     // where the CSV broke the format, stopping the rows
  void add(const TemplatePiece& call, const CallResult& result);
};

enum class Progress {
  Off,
  On,             // "row N of M" kept up to date on err
  OnSharedScreen  // the same, stepping aside while rows are written to the same terminal
};

// Runs a bound report in one job: header, the row section per row, footer.
// A failed call prints #ERROR in its place and a message naming the row and
// the call on err. Output goes to out at least every 64 KB and at the end. rows (null for none) has its header read already; rowCount
// is how many rows it holds, for the progress count (0: not known, none shown).
// A CSV that breaks the format stops the rows there; the footer still follows.
ReportOutcome runReport(FunctionLibrary& library, const ReportTemplate& report, CsvReader* rows, long rowCount,
                        std::ostream& out, std::ostream& err, Progress progress);

}  // namespace ufhost
