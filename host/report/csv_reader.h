// The rows of a report: comma-separated, fields optionally in double quotes
// ("" inside stands for one), the first record names the columns, blank lines
// are skipped, LF or CRLF line ends, blanks around an unquoted field dropped.
// A NUL byte is refused anywhere: no field could carry it to a function.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ufhost {

// Read record by record from a stream, holding one block, or the record in
// hand when it is longer, at a time.
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
  // The next row into fields: views into the reader's own buffer, valid until
  // the next call. False at the end of the file, or with error set when the
  // file breaks the format there.
  bool next(std::vector<std::string_view>& fields, std::string& error);
  // Where the row last read starts in the file, from 1.
  long line() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

struct CsvTable {
  std::vector<std::string> columns;  // from the first line
  std::vector<std::vector<std::string>> rows;
  std::vector<int> lines;  // where each row starts in the file, from 1
};

// A whole text read with CsvReader.
bool parseCsv(const std::string& text, CsvTable& out, std::string& error);

}  // namespace ufhost
