#include "csv_reader.h"

#include <algorithm>
#include <istream>
#include <sstream>
#include <unordered_set>

#include "host_value.h"

namespace ufhost {
namespace {

std::string lineLabel(long line) { return "line " + std::to_string(line); }

bool isBlank(int c) { return c == ' ' || c == '\t'; }

// The characters that end a run of ordinary ones.
bool special(char c) { return c == ',' || c == '\n' || c == '\r' || c == '"' || c == '\0'; }

}  // namespace

struct CsvReader::State {
  static constexpr size_t kRead = 1 << 16;
  explicit State(std::istream& stream) : in(stream), buffer(kRead) {}

  std::istream& in;
  std::vector<char> buffer;
  size_t pos = 0, end = 0;
  bool started = false;  // the byte order mark has been looked for
  long line = 1;         // the line being read
  long recordLine = 1;   // where the record being read starts
  bool haveHeader = false;
  bool broken = false;  // the format was broken: nothing more is read
  std::vector<std::string> columns;

  // The record being read: its fields so far and how the current one began.
  struct Record {
    std::vector<std::string>* fields;
    size_t count = 0;
    bool inQuotes = false;     // inside a quoted field
    bool fieldQuoted = false;  // the current field began with a quote
    bool hasText = false;      // anything but blanks, or a comma
    std::string& field() { return (*fields)[count - 1]; }
  };

  bool fill() {
    if (!in) return false;
    in.read(buffer.data(), static_cast<std::streamsize>(kRead));
    pos = 0;
    end = static_cast<size_t>(in.gcount());
    return end > 0;
  }
  int get() {
    if (pos == end && !fill()) return -1;
    return static_cast<unsigned char>(buffer[pos++]);
  }
  int peek() {
    if (pos == end && !fill()) return -1;
    return static_cast<unsigned char>(buffer[pos]);
  }

  bool fail(std::string& error, std::string what) {
    error = std::move(what);
    broken = true;
    return false;
  }

  void lookForByteOrderMark() {
    if (started) return;
    started = true;
    if (peek() == 0xEF && end - pos >= 3 && buffer[pos + 1] == '\xBB' && buffer[pos + 2] == '\xBF') pos += 3;
  }

  static void startField(Record& r) {
    if (r.fields->size() <= r.count) r.fields->emplace_back();
    ++r.count;
    r.field().clear();
    r.fieldQuoted = false;
  }
  // Blanks after an unquoted field's text are dropped, as those before it are.
  static void finishField(Record& r) {
    if (r.fieldQuoted) return;
    std::string& f = r.field();
    size_t e = f.size();
    while (e > 0 && isBlank(f[e - 1])) --e;
    if (e < f.size()) f.resize(e);
  }

  // The ordinary characters that follow in an unquoted field go in at once,
  // leading blanks left out; the character that ends the run is read as usual.
  void appendRun(Record& r) {
    const char* from = buffer.data() + pos;
    const char* const to = std::find_if(from, static_cast<const char*>(buffer.data() + end), special);
    if (r.field().empty())
      while (from < to && isBlank(*from)) ++from;
    if (from < to) {
      r.field().append(from, static_cast<size_t>(to - from));
      r.hasText = true;
    }
    pos = static_cast<size_t>(to - buffer.data());
  }

  // One character inside quotes: "" is a quote, a lone " closes the field.
  void quoted(Record& r, int c) {
    if (c == '"') {
      if (peek() == '"') {
        get();
        r.field() += '"';
      } else {
        r.inQuotes = false;
      }
      return;
    }
    if (c == '\n') ++line;
    r.field() += static_cast<char>(c);
  }

  int afterClosingQuote(std::string& error) {
    fail(error, lineLabel(line) + ": text after a closing quote");
    return -1;
  }

  // One character outside quotes. 1: the record is complete; 0: read on;
  // -1: the format is broken (error set).
  int unquoted(Record& r, int c, std::string& error) {
    switch (c) {
      case '"':
        if (r.fieldQuoted) return afterClosingQuote(error);
        if (r.field().empty())
          r.inQuotes = r.fieldQuoted = r.hasText = true;
        else
          r.field() += '"';  // a quote inside an unquoted field is just a character
        return 0;
      case ',':
        finishField(r);
        startField(r);
        r.hasText = true;
        return 0;
      case '\n':
        finishField(r);
        ++line;
        if (r.hasText) return 1;
        recordLine = line;  // a blank line: the record starts on the next
        r.count = 0;
        startField(r);
        return 0;
      case '\r':
        return 0;  // part of a CRLF line end
      default:
        if (r.fieldQuoted && !isBlank(c)) return afterClosingQuote(error);
        if (isBlank(c) && (r.fieldQuoted || r.field().empty())) return 0;  // leading blanks are dropped
        r.field() += static_cast<char>(c);
        r.hasText = r.hasText || !isBlank(c);
        return 0;
    }
  }

  // The next record that holds any text into fields (their strings reused).
  // False at the end of the input, or with error set when the format is broken.
  bool record(std::vector<std::string>& fields, std::string& error) {
    if (broken) return false;
    lookForByteOrderMark();
    Record r;
    r.fields = &fields;
    startField(r);
    for (;;) {
      if (!r.inQuotes && !r.fieldQuoted) appendRun(r);
      const int c = get();
      if (c < 0) {
        if (r.inQuotes) return fail(error, lineLabel(recordLine) + ": a quoted field is not closed");
        if (in.bad()) return fail(error, lineLabel(line) + ": a read error");
        finishField(r);
        fields.resize(r.count);
        return r.hasText;
      }
      if (c == 0) return fail(error, lineLabel(line) + ": a NUL byte, which no field can carry (is the file UTF-16?)");
      if (r.inQuotes) {
        quoted(r, c);
        continue;
      }
      const int done = unquoted(r, c, error);
      if (done < 0) return false;
      if (done > 0) {
        fields.resize(r.count);
        return true;
      }
    }
  }
};

CsvReader::CsvReader(std::istream& in) : s_(new State(in)) {}
CsvReader::~CsvReader() = default;

bool CsvReader::readHeader(std::string& error) {
  State& s = *s_;
  if (s.haveHeader) return true;
  if (!s.record(s.columns, error)) {
    if (!s.broken) s.fail(error, "no header line naming the columns");
    return false;
  }
  // A set, not pairs: a header of many thousand columns must not take minutes.
  std::unordered_set<std::string> seen;
  for (const std::string& name : s.columns) {
    if (name.empty()) continue;
    std::string key = name;
    for (char& c : key)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!seen.insert(std::move(key)).second)
      return s.fail(error, lineLabel(s.recordLine) + ": the column name " + excerpt(name) + " appears twice");
  }
  s.haveHeader = true;
  s.recordLine = s.line;
  return true;
}

const std::vector<std::string>& CsvReader::columns() const { return s_->columns; }

bool CsvReader::next(std::vector<std::string>& fields, std::string& error) {
  State& s = *s_;
  error.clear();
  if (!s.haveHeader && !readHeader(error)) return false;
  s.recordLine = s.line;
  if (!s.record(fields, error)) return false;
  if (fields.size() == s.columns.size()) return true;
  return s.fail(error, lineLabel(s.recordLine) + ": " + std::to_string(fields.size()) +
                           " fields, but the header names " + std::to_string(s.columns.size()) + " columns");
}

long CsvReader::line() const { return s_->recordLine; }

bool parseCsv(const std::string& input, CsvTable& out, std::string& error) {
  std::istringstream in(input);
  CsvReader reader(in);
  CsvTable table;
  if (!reader.readHeader(error)) return false;
  table.columns = reader.columns();
  std::vector<std::string> fields;
  while (reader.next(fields, error)) {
    table.rows.push_back(fields);
    table.lines.push_back(static_cast<int>(reader.line()));
  }
  if (!error.empty()) return false;
  out = std::move(table);
  return true;
}

}  // namespace ufhost
