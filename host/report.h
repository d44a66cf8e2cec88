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
#include <memory>
#include <string>
#include <vector>

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
};

struct ReportSection {
  std::vector<TemplatePiece> pieces;
};

struct ReportTemplate {
  ReportSection header, row, footer;
};

// False, with "line N: ..." in error, for a template that cannot be read.
bool parseReportTemplate(const std::string& text, ReportTemplate& out, std::string& error);

struct CsvTable {
  std::vector<std::string> columns;  // from the first line
  std::vector<std::vector<std::string>> rows;
  std::vector<int> lines;  // where each row starts in the file, from 1
};

// Comma-separated, fields optionally in double quotes ("" inside stands for one),
// the first record names the columns, blank lines are skipped. A NUL byte is
// refused anywhere: no field could carry it to a function.
bool parseCsv(const std::string& text, CsvTable& out, std::string& error);

// A field as it lies in the reader's memory: not NUL-terminated.
struct FieldView {
  const char* data = nullptr;
  size_t size = 0;
};

// The same format read record by record from a stream, holding one record at a time.
class CsvReader {
 public:
  explicit CsvReader(std::istream& in);
  ~CsvReader();
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // Reads up to the header; false, with "line N: ..." in error, when there is
  // none or the file breaks the format before it.
  bool readHeader(std::string& error);
  const std::vector<std::string>& columns() const;
  // The next row into fields. False at the end of the file, or with error set
  // when the file breaks the format there.
  bool next(std::vector<std::string>& fields, std::string& error);
  // The same as views, valid until the next read: no copy of any field.
  bool next(std::vector<FieldView>& fields, std::string& error);
  // Where the row last read starts in the file, from 1.
  long line() const;

 private:
  struct State;
  bool fieldCountFits(size_t count, std::string& error);
  std::unique_ptr<State> s_;
};

// Resolves every call's function and columns, and checks argument counts and
// literal types before anything is evaluated. columns may be null (no CSV given).
// Problems, one per entry, go to errors; false when there are any.
bool bindReport(ReportTemplate& report, const FunctionLibrary& library, const std::vector<std::string>* columns,
                std::vector<std::string>& errors);
bool bindReport(ReportTemplate& report, const FunctionLibrary& library, const CsvTable* rows,
                std::vector<std::string>& errors);

struct ReportOutcome {
  long functionErrors = 0;   // calls the library answered with an error code
  long guardViolations = 0;  // calls that broke the buffer rules
  long badFields = 0;        // fields that do not suit their parameter
  long fiscalCalls = 0;      // fiscal-year calls that answered
  long fiscalNoDate = 0;     // of which gave no date
  std::string rowsError;     // where the CSV broke the format, stopping the rows
};

enum class Progress {
  Off,
  On,             // "row N of M" kept up to date on err
  OnSharedScreen  // the same, stepping aside while rows are written to the same terminal
};

// Runs a bound report in one job: header, the row section per row, footer.
// A failed call prints #ERROR in its place and a message naming the row and
// the call on err. rows (null for none) has its header read already; rowCount
// is how many rows it holds, for the progress count (0: not known, none shown).
// A CSV that breaks the format stops the rows there; the footer still follows.
ReportOutcome runReport(FunctionLibrary& library, const ReportTemplate& report, CsvReader* rows, long rowCount,
                        std::ostream& out, std::ostream& err, Progress progress);

}  // namespace ufhost
