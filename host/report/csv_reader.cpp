#include "csv_reader.h"

#include <cstring>
#include <istream>
#include <sstream>
#include <unordered_set>

#include "host_value.h"

namespace ufhost {
namespace {

std::string lineLabel(long line) { return "line " + std::to_string(line); }

bool isBlank(char c) { return c == ' ' || c == '\t'; }
// Outside quotes a carriage return is part of a line end wherever it stands, and is dropped.
bool isBlankOrCr(char c) { return isBlank(c) || c == '\r'; }
// What a run of a plain field's text stops at.
bool endsRun(char c) { return c == ',' || c == '\n' || c == '\r' || c == '\0'; }

}  // namespace

// Fields are found in the read buffer and handed out as views into it. A
// record that runs past the end of the buffer is moved to its start, more is
// read behind it (the buffer doubles when the record fills it) and the record
// is looked at again from its start; only a complete record is rewritten in
// place (doubled quotes, stray carriage returns), so looking again is safe.
struct CsvReader::State {
  static constexpr size_t kRead = 1 << 16;
  explicit State(std::istream& stream) : in(stream), buffer(kRead) {}

  // What looking for a field or a record came to.
  enum class Found { Done, Blank, More, End, Broken };

  // Where a field lies in the buffer, quotes left out.
  struct Span {
    size_t from = 0, to = 0;
    bool quoted = false;
    bool rewrite = false;  // holds doubled quotes, or carriage returns to drop
  };

  std::istream& in;
  std::vector<char> buffer;
  size_t begin = 0, end = 0;  // what is read and not yet handed out
  bool atEnd = false;         // nothing more comes from the stream
  bool started = false;       // the byte order mark has been looked for
  long line = 1;              // where begin lies
  long recordLine = 1;        // where the record being read starts
  bool haveHeader = false;
  bool broken = false;  // the format was broken: nothing more is read
  std::vector<std::string> columns;
  std::vector<Span> spans;  // the fields of the record being read

  // More input behind what is kept; the record read so far moves to the front.
  void readMore() {
    if (begin > 0) {
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
    }
    if (end == buffer.size()) buffer.resize(buffer.size() * 2);
    in.read(buffer.data() + end, static_cast<std::streamsize>(buffer.size() - end));
    const size_t got = static_cast<size_t>(in.gcount());
    end += got;
    if (got == 0 || !in) atEnd = true;
  }

  Found fail(std::string& error, std::string what) {
    error = std::move(what);
    broken = true;
    return Found::Broken;
  }
  Found fail(std::string& error, long at, const std::string& what) { return fail(error, lineLabel(at) + ": " + what); }
  Found nul(std::string& error, long at) {
    return fail(error, at, "a NUL byte, which no field can carry (is the file UTF-16?)");
  }

  void lookForByteOrderMark() {
    if (started) return;
    started = true;
    if (end - begin < 3 && !atEnd) readMore();
    if (end - begin >= 3 && std::memcmp(buffer.data() + begin, "\xEF\xBB\xBF", 3) == 0) begin += 3;
  }

  // A field in quotes from p, "" inside standing for one; p is left at what follows it.
  Found quotedField(size_t& p, long& ln, Span& f, std::string& error) {
    size_t q = p + 1;
    for (;; ++q) {
      if (q == end) return atEnd ? fail(error, recordLine, "a quoted field is not closed") : Found::More;
      const char c = buffer[q];
      if (c == '\0') return nul(error, ln);
      if (c == '\n') ++ln;
      if (c != '"') continue;
      if (q + 1 == end && !atEnd) return Found::More;
      if (q + 1 == end || buffer[q + 1] != '"') break;
      f.rewrite = true;
      ++q;
    }
    f.quoted = true;
    f.from = p + 1;
    f.to = q;
    p = q + 1;
    while (p < end && isBlankOrCr(buffer[p])) ++p;
    if (p == end) return atEnd ? Found::Done : Found::More;
    if (buffer[p] == '\0') return nul(error, ln);
    if (buffer[p] != ',' && buffer[p] != '\n') return fail(error, ln, "text after a closing quote");
    return Found::Done;
  }

  // A field without quotes from p (a quote inside it is just a character) up to its comma or line end.
  Found plainField(size_t& p, long ln, Span& f, std::string& error) {
    f.from = p;
    for (;; ++p) {
      while (p < end && !endsRun(buffer[p])) ++p;
      if (p == end || buffer[p] != '\r') break;
      f.rewrite = true;
    }
    if (p == end && !atEnd) return Found::More;
    if (p < end && buffer[p] == '\0') return nul(error, ln);
    f.to = p;
    return Found::Done;
  }

  // The record from begin into spans; begin and line move past it, or past a
  // blank line (Blank), when it is complete.
  Found scan(std::string& error) {
    spans.clear();
    size_t p = begin;
    long ln = line;
    for (;;) {
      Span f;
      while (p < end && isBlankOrCr(buffer[p])) ++p;  // blanks before a field are dropped
      if (p == end && !atEnd) return Found::More;
      const Found field = p < end && buffer[p] == '"' ? quotedField(p, ln, f, error) : plainField(p, ln, f, error);
      if (field != Found::Done) return field;
      spans.push_back(f);
      if (p < end && buffer[p] == ',') {
        ++p;
        continue;
      }
      const bool lastLine = p == end;  // a last line without its line end
      if (lastLine && in.bad()) return fail(error, ln, "a read error");
      if (!lastLine) ++p, ++ln;
      const bool hasText = spans.size() > 1 || spans[0].quoted || spans[0].from < spans[0].to;
      if (!hasText && lastLine) return Found::End;
      begin = p;
      line = ln;
      return hasText ? Found::Done : Found::Blank;
    }
  }

  // The complete record's fields as they read: blanks after an unquoted
  // field's text dropped, doubled quotes made single, carriage returns outside
  // quotes dropped. The text only ever shrinks, so it is rewritten in place.
  void finish(std::vector<std::string_view>& fields) {
    fields.resize(spans.size());
    char* const b = buffer.data();
    for (size_t i = 0; i < spans.size(); ++i) {
      const Span& f = spans[i];
      size_t to = f.to;
      if (!f.quoted)
        while (to > f.from && isBlankOrCr(b[to - 1])) --to;
      if (f.rewrite) {
        size_t w = f.from;
        for (size_t r = f.from; r < to; ++r) {
          if (f.quoted && b[r] == '"') ++r;  // the first of a doubled quote
          if (!f.quoted && b[r] == '\r') continue;
          b[w++] = b[r];
        }
        to = w;
      }
      fields[i] = std::string_view(b + f.from, to - f.from);
    }
  }

  // The next record that holds any text into fields. False at the end of the
  // input, or with error set when the format is broken.
  bool record(std::vector<std::string_view>& fields, std::string& error) {
    if (broken) return false;
    lookForByteOrderMark();
    for (;;) {
      recordLine = line;
      switch (scan(error)) {
        case Found::Done:
          finish(fields);
          return true;
        case Found::More:
          readMore();
          break;
        case Found::Blank:
          break;
        case Found::End:
        case Found::Broken:
          return false;
      }
    }
  }
};

CsvReader::CsvReader(std::istream& in) : s_(new State(in)) {}
CsvReader::~CsvReader() = default;

bool CsvReader::readHeader(std::string& error) {
  State& s = *s_;
  if (s.haveHeader) return true;
  std::vector<std::string_view> names;
  if (!s.record(names, error)) {
    if (!s.broken) s.fail(error, "no header line naming the columns");
    return false;
  }
  s.columns.assign(names.begin(), names.end());
  // A set, not pairs: a header of many thousand columns must not take minutes.
  std::unordered_set<std::string> seen;
  for (const std::string& name : s.columns) {
    if (name.empty()) continue;
    std::string key = name;
    for (char& c : key)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!seen.insert(std::move(key)).second) {
      s.fail(error, s.recordLine, "the column name " + excerpt(name) + " appears twice");
      return false;
    }
  }
  s.haveHeader = true;
  return true;
}

const std::vector<std::string>& CsvReader::columns() const { return s_->columns; }

bool CsvReader::next(std::vector<std::string_view>& fields, std::string& error) {
  State& s = *s_;
  error.clear();
  if (!s.haveHeader && !readHeader(error)) return false;
  if (!s.record(fields, error)) return false;
  if (fields.size() == s.columns.size()) return true;
  s.fail(error, s.recordLine,
         std::to_string(fields.size()) + " fields, but the header names " + std::to_string(s.columns.size()) +
             " columns");
  return false;
}

long CsvReader::line() const { return s_->recordLine; }

bool parseCsv(const std::string& input, CsvTable& out, std::string& error) {
  std::istringstream in(input);
  CsvReader reader(in);
  CsvTable table;
  if (!reader.readHeader(error)) return false;
  table.columns = reader.columns();
  std::vector<std::string_view> fields;
  while (reader.next(fields, error)) {
    table.rows.emplace_back(fields.begin(), fields.end());
    table.lines.push_back(static_cast<int>(reader.line()));
  }
  if (!error.empty()) return false;
  out = std::move(table);
  return true;
}

}  // namespace ufhost
