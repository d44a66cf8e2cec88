#include "report.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <unordered_set>

#if defined(__SSE2__) && defined(__GNUC__)
#include <emmintrin.h>
#endif

#include "cold.h"
#include "host_dates.h"
#include "report_outcome.h"

namespace ufhost {
namespace {

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

std::string lineLabel(int line) { return "line " + std::to_string(line); }

// Splits one text line of a section into text and calls.
bool splitLine(const std::string& line, int lineNo, ReportSection& section, std::string& error) {
  std::string text;
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == '{' && i + 1 < line.size() && line[i + 1] == '{') {
      text += '{';
      i += 2;
    } else if (c == '}' && i + 1 < line.size() && line[i + 1] == '}') {
      text += '}';
      i += 2;
    } else if (c == '}') {
      error = lineLabel(lineNo) + ": a lone '}' (write }} for a brace)";
      return false;
    } else if (c == '{') {
      // The call runs to the first '}' outside a quoted text.
      size_t j = i + 1;
      bool quoted = false;
      for (; j < line.size(); ++j) {
        if (quoted) {
          if (line[j] == '\\')
            ++j;
          else if (line[j] == '"')
            quoted = false;
        } else if (line[j] == '"') {
          quoted = true;
        } else if (line[j] == '}') {
          break;
        }
      }
      if (j >= line.size()) {
        error = lineLabel(lineNo) + ": '{' without its '}' (write {{ for a brace)";
        return false;
      }
      if (!text.empty()) {
        TemplatePiece t;
        t.text = text;
        t.line = lineNo;
        section.pieces.push_back(std::move(t));
        text.clear();
      }
      TemplatePiece p;
      p.isCall = true;
      p.text = line.substr(i + 1, j - i - 1);
      p.line = lineNo;
      std::string why;
      if (!parseFormulaCall(p.text, p.call, why, true)) {
        error = lineLabel(lineNo) + ": {" + p.text + "}: " + why;
        return false;
      }
      section.pieces.push_back(std::move(p));
      i = j + 1;
    } else {
      text += c;
      ++i;
    }
  }
  if (!text.empty()) {
    TemplatePiece t;
    t.text = text;
    t.line = lineNo;
    section.pieces.push_back(std::move(t));
  }
  return true;
}

// As a template names the column: $amount, or $"unit price" when not one word.
std::string columnReference(const std::string& name) {
  bool word = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) word = false;
  return "$" + (word ? name : formatLiteral(Value::makeString(name)));
}

// A number's hundredfold or a day number into an argument's value slot, as
// one store of the whole slot with zeros behind the value: the call copies the
// list with reads as wide as the slot, and a read wider than the store before
// it waits for that store to reach the cache.
inline void putSlotValue(void* at, double hundredfold) {
#if defined(__SSE2__) && defined(__GNUC__)
  static_assert(BoundCall::kValueSize == 16, "one 16-byte store");
  _mm_storeu_si128(static_cast<__m128i*>(at), _mm_castpd_si128(_mm_set_sd(hundredfold)));
#else
  unsigned char whole[BoundCall::kValueSize] = {};
  std::memcpy(whole, &hundredfold, sizeof hundredfold);
  std::memcpy(at, whole, sizeof whole);
#endif
}
inline void putSlotValue(void* at, int32_t day) {
#if defined(__SSE2__) && defined(__GNUC__)
  _mm_storeu_si128(static_cast<__m128i*>(at), _mm_cvtsi32_si128(day));
#else
  unsigned char whole[BoundCall::kValueSize] = {};
  std::memcpy(whole, &day, sizeof day);
  std::memcpy(at, whole, sizeof whole);
#endif
}

// Output gathered for large writes: a few bytes added cost one copy.
class OutputBuffer {
 public:
  // A short text whose source can be read kPadded bytes far goes in as one
  // fixed-size copy, whatever its length.
  static constexpr size_t kPadded = 32;

  explicit OutputBuffer(std::ostream& out) : out_(out), data_(new char[kSize + kPadded]) {}
  void put(const char* p, size_t n) {
    if (n > kSize - size_) {
      flush();
      if (n > kSize) {
        out_.write(p, static_cast<std::streamsize>(n));
        return;
      }
    }
    std::memcpy(data_.get() + size_, p, n);
    size_ += n;
  }
  void put(const std::string& s) { put(s.data(), s.size()); }
  // p readable for kPadded bytes: the bytes past n land beyond the text and are overwritten later.
  void putPadded(const char* p, size_t n) {
    if (n <= kPadded && n <= kSize - size_) {
      std::memcpy(data_.get() + size_, p, kPadded);  // size_ <= kSize: within the room behind
      size_ += n;
      return;
    }
    put(p, n);
  }
  void flush() {
    if (size_) out_.write(data_.get(), static_cast<std::streamsize>(size_));
    size_ = 0;
  }

 private:
  static constexpr size_t kSize = 1 << 16;
  std::ostream& out_;
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
};

class ProgressCount {
 public:
  // Redrawn every step rows: often enough to see it move, seldom enough to cost
  // nothing; on a screen shared with the rows, after every row that pushed it aside.
  ProgressCount(std::ostream& err, Progress mode, size_t total)
      : err_(err),
        on_(mode != Progress::Off && total > 0),
        total_(total),
        step_(mode == Progress::OnSharedScreen ? 1 : total / 500 + 1) {}
  ~ProgressCount() { clear(); }
  void show(size_t n) {
    if (!on_ || (n % step_ != 0 && n != total_)) return;
    std::string t = "row " + std::to_string(n) + " of " + std::to_string(total_);
    err_ << '\r' << t;
    err_.flush();
    width_ = t.size();
  }
  bool shown() const { return width_ != 0; }
  void clear() {
    if (!on_ || width_ == 0) return;
    err_ << '\r' << std::string(width_, ' ') << '\r';
    err_.flush();
    width_ = 0;
  }

 private:
  std::ostream& err_;
  bool on_;
  size_t total_;
  size_t step_;
  size_t width_ = 0;
};

}  // namespace

bool parseReportTemplate(const std::string& text, ReportTemplate& out, std::string& error) {
  ReportTemplate result;
  ReportSection* current = &result.header;
  bool seen[3] = {false, false, false};
  size_t start = 0;
  int lineNo = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    const bool lastLine = end == std::string::npos;
    std::string line = text.substr(start, lastLine ? std::string::npos : end - start);
    start = lastLine ? text.size() : end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string marker = trim(line);
    if (marker.compare(0, 2, "@#") == 0) continue;
    int which = equalsNoCase(marker, "@header") ? 0 : equalsNoCase(marker, "@row") ? 1 : equalsNoCase(marker, "@footer") ? 2 : -1;
    if (which >= 0) {
      if (seen[which]) {
        error = lineLabel(lineNo) + ": the section " + marker + " appears twice";
        return false;
      }
      seen[which] = true;
      current = which == 0 ? &result.header : which == 1 ? &result.row : &result.footer;
      continue;
    }
    if (!marker.empty() && marker[0] == '@') {
      error = lineLabel(lineNo) + ": unknown section line '" + marker + "' (use @header, @row, @footer or @# comment)";
      return false;
    }
    if (!splitLine(line, lineNo, *current, error)) return false;
    if (!lastLine) {
      TemplatePiece nl;
      nl.text = "\n";
      nl.line = lineNo;
      current->pieces.push_back(std::move(nl));
    }
  }
  out = std::move(result);
  return true;
}

// How the fast path sees each byte of a CSV line: a run of ordinary bytes
// stops at the next byte that is not, at the latest the line's own end.
constexpr unsigned char kOrdinary = 0, kComma = 1, kLineEnd = 2, kReturn = 3, kNotPlain = 4;
struct PlainClass {
  unsigned char of[256];
  bool blank[256] = {};
  PlainClass() {
    std::memset(of, kOrdinary, sizeof of);
    of[static_cast<unsigned char>(',')] = kComma;
    of[static_cast<unsigned char>('\n')] = kLineEnd;
    of[static_cast<unsigned char>('\r')] = kReturn;
    for (char c : {'"', '\0'}) of[static_cast<unsigned char>(c)] = kNotPlain;
    blank[static_cast<unsigned char>(' ')] = blank[static_cast<unsigned char>('\t')] = true;
  }
};
const PlainClass kPlainClass;

// Finds, in order, the bytes of a line that are not ordinary. The text must be
// readable kOverread bytes past the byte that ends the search.
#if defined(__SSE2__) && defined(__GNUC__)
class SpecialBytes {
 public:
  static constexpr size_t kOverread = 16;
  explicit SpecialBytes(const char* from) : base_(from), bits_(mask(from)) {}
  const char* next() {
    while (!bits_) bits_ = mask(base_ += 16);
    const char* p = base_ + __builtin_ctz(bits_);
    bits_ &= bits_ - 1;
    return p;
  }

 private:
  // Sixteen bytes at a time: one bit for each comma, line end, quote or NUL.
  static unsigned mask(const char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i m = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
                     _mm_cmpeq_epi8(v, _mm_setzero_si128())));
    return static_cast<unsigned>(_mm_movemask_epi8(m));
  }
  const char* base_;
  unsigned bits_;
};
#else
class SpecialBytes {
 public:
  static constexpr size_t kOverread = 1;
  explicit SpecialBytes(const char* from) : p_(from) {}
  const char* next() {
    while (kPlainClass.of[static_cast<unsigned char>(*p_)] == kOrdinary) ++p_;
    return p_++;
  }

 private:
  const char* p_;
};
#endif

struct CsvReader::State {
  static constexpr size_t kRead = 1 << 16;
  // Room for the stop byte after what was read, and for what a scan reads past it.
  explicit State(std::istream& stream) : in(stream), buffer(kRead + SpecialBytes::kOverread + 1, '\n') {}

  std::istream& in;
  std::vector<char> buffer;
  size_t pos = 0, end = 0;
  bool started = false;  // the byte order mark has been looked for
  long line = 1;         // the line being read
  long recordLine = 1;   // where the record being read starts
  bool haveHeader = false;
  bool broken = false;  // the format was broken: nothing more is read
  std::vector<std::string> columns;
  std::vector<std::string> header;
  std::vector<FieldView> plain;          // a plain line's fields, for the string reader
  std::vector<std::string> slowFields;  // a line read the long way, for the view reader

  bool fill() {
    if (!in) return false;
    in.read(buffer.data(), static_cast<std::streamsize>(kRead));
    pos = 0;
    end = static_cast<size_t>(in.gcount());
    buffer[end] = '\n';  // stops a scan for the line's end at the end of what was read
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

  // The characters that end a run of ordinary ones in an unquoted field.
  static bool special(char c) { return c == ',' || c == '\n' || c == '\r' || c == '"' || c == '\0'; }

  bool fail(std::string& error, std::string what) {
    error = std::move(what);
    broken = true;
    return false;
  }

  // The common line, whole in the buffer with no quote, NUL or stray carriage
  // return, split in one pass into views on the buffer. False, nothing
  // consumed, for any other line.
  bool plainLine(std::vector<FieldView>& fields, bool& hasText) {
    const char* const from = buffer.data() + pos;
    const char* const last = buffer.data() + end;  // the stop after what was read
    const unsigned char* const of = kPlainClass.of;
    const bool* const blank = kPlainClass.blank;
    size_t count = 0;
    FieldView* out = fields.data();
    size_t room = fields.size();
    bool text = false;
    const char* f = from;
    const char* p;
    SpecialBytes specials(from);
    for (;;) {
      p = specials.next();  // at last at the latest
      const unsigned char k = of[static_cast<unsigned char>(*p)];
      // A comma or the end of the line (LF or CRLF) ends a field; the line must lie whole in the buffer.
      if (k != kComma && !(k == kLineEnd && p != last) && !(k == kReturn && p[1] == '\n' && p + 1 != last))
        return false;
      const char* a = f;
      const char* z = p;
      while (a < z && blank[static_cast<unsigned char>(*a)]) ++a;
      while (z > a && blank[static_cast<unsigned char>(z[-1])]) --z;
      if (count == room) {
        fields.emplace_back();
        out = fields.data();
        room = fields.size();
      }
      out[count++] = FieldView{a, static_cast<size_t>(z - a)};
      text |= a < z;
      if (k != kComma) {
        if (k == kReturn) ++p;
        break;
      }
      text = true;  // a comma makes a record
      f = p + 1;
    }
    fields.resize(count);
    hasText = text;
    pos = static_cast<size_t>(p - buffer.data()) + 1;
    ++line;
    return true;
  }

  void lookForByteOrderMark() {
    if (started) return;
    started = true;
    if (peek() == 0xEF && end - pos >= 3 && buffer[pos + 1] == '\xBB' && buffer[pos + 2] == '\xBF') pos += 3;
  }

  // The next record as views: on the read buffer for a plain line, else on
  // the strings of the long way. Valid until the next read.
  bool recordViews(std::vector<FieldView>& fields, std::string& error) {
    if (broken) return false;
    lookForByteOrderMark();
    bool hasPlainText;
    while (pos < end && plainLine(fields, hasPlainText)) {
      if (hasPlainText) return true;
      recordLine = line;  // a blank line: the record starts on the next
    }
    if (!record(slowFields, error)) return false;
    fields.resize(slowFields.size());
    for (size_t i = 0; i < slowFields.size(); ++i) fields[i] = FieldView{slowFields[i].data(), slowFields[i].size()};
    return true;
  }

  // The next record that holds any text into fields (their strings reused).
  // False at the end of the input, or with error set when the format is broken.
  UFHOST_COLD bool record(std::vector<std::string>& fields, std::string& error) {
    if (broken) return false;
    lookForByteOrderMark();
    bool hasPlainText;
    while (pos < end && plainLine(plain, hasPlainText)) {
      if (!hasPlainText) {
        recordLine = line;  // a blank line: the record starts on the next
        continue;
      }
      fields.resize(plain.size());
      for (size_t i = 0; i < plain.size(); ++i) fields[i].assign(plain[i].data, plain[i].size);
      return true;
    }
    size_t count = 0;
    bool inQuotes = false;     // inside a quoted field
    bool fieldQuoted = false;  // the current field began with a quote
    bool hasText = false;
    std::string* field = nullptr;
    auto startField = [&]() {
      if (fields.size() <= count) fields.emplace_back();
      field = &fields[count++];
      field->clear();
      fieldQuoted = false;
    };
    auto finishField = [&]() {
      if (!fieldQuoted) {
        size_t e = field->size();
        while (e > 0 && ((*field)[e - 1] == ' ' || (*field)[e - 1] == '\t')) --e;
        field->resize(e);
      }
    };
    startField();
    for (;;) {
      // A run of ordinary characters in an unquoted field goes in at once.
      if (!inQuotes && !fieldQuoted && pos < end) {
        size_t q = pos;
        while (q < end && !special(buffer[q])) ++q;
        if (q > pos) {
          const char* from = &buffer[pos];
          const char* to = &buffer[0] + q;
          if (field->empty())
            while (from < to && (*from == ' ' || *from == '\t')) ++from;  // leading blanks are dropped
          if (from < to) {
            field->append(from, static_cast<size_t>(to - from));
            hasText = true;
          }
          pos = q;
          continue;
        }
      }
      const int c = get();
      if (c < 0) {
        if (inQuotes) return fail(error, lineLabel(recordLine) + ": a quoted field is not closed");
        finishField();
        fields.resize(count);
        return hasText;
      }
      if (c == 0) {
        return fail(error, lineLabel(line) + ": a NUL byte, which no field can carry (is the file UTF-16?)");
      }
      if (inQuotes) {
        if (c == '"') {
          if (peek() == '"') {
            get();
            *field += '"';
          } else {
            inQuotes = false;
          }
        } else {
          if (c == '\n') ++line;
          *field += static_cast<char>(c);
        }
        continue;
      }
      switch (c) {
        case '"':
          if (fieldQuoted) return fail(error, lineLabel(line) + ": text after a closing quote");
          if (field->empty()) {
            inQuotes = fieldQuoted = hasText = true;
          } else {
            *field += '"';  // a quote inside an unquoted field is just a character
          }
          break;
        case ',':
          finishField();
          startField();
          hasText = true;
          break;
        case '\n':
          finishField();
          fields.resize(count);
          ++line;
          if (hasText) return true;
          recordLine = line;  // a blank line: the record starts on the next
          count = 0;
          startField();
          break;
        case '\r':
          break;  // part of a CRLF line end
        case ' ':
        case '\t':
          if (!fieldQuoted && !field->empty()) *field += static_cast<char>(c);  // leading blanks are dropped
          break;
        default:
          if (fieldQuoted) return fail(error, lineLabel(line) + ": text after a closing quote");
          *field += static_cast<char>(c);
          hasText = true;
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
      return s.fail(error, lineLabel(s.recordLine) + ": the column name '" + name + "' appears twice");
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
  return s.record(fields, error) && fieldCountFits(fields.size(), error);
}

bool CsvReader::next(std::vector<FieldView>& fields, std::string& error) {
  State& s = *s_;
  error.clear();
  if (!s.haveHeader && !readHeader(error)) return false;
  s.recordLine = s.line;
  if (!s.recordViews(fields, error)) return false;
  return fields.size() == s.columns.size() || fieldCountFits(fields.size(), error);
}

bool CsvReader::fieldCountFits(size_t count, std::string& error) {
  State& s = *s_;
  if (count == s.columns.size()) return true;
  return s.fail(error, lineLabel(s.recordLine) + ": " + std::to_string(count) + " fields, but the header names " +
                           std::to_string(s.columns.size()) + " columns");
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

bool bindReport(ReportTemplate& report, const FunctionLibrary& library, const std::vector<std::string>* columns,
                std::vector<std::string>& errors) {
  struct Named {
    ReportSection* section;
    bool isRow;
  } sections[] = {{&report.header, false}, {&report.row, true}, {&report.footer, false}};
  for (Named& s : sections) {
    for (TemplatePiece& p : s.section->pieces) {
      if (!p.isCall) continue;
      const std::string where = lineLabel(p.line) + ": {" + p.text + "}: ";
      p.function = library.find(p.call.name);
      if (!p.function) {
        errors.push_back(where + unknownFunction(library, p.call.name));
        continue;
      }
      const std::vector<ValueType>& params = p.function->signature.params;
      if (p.call.args.size() != params.size()) {
        errors.push_back(where + p.function->signature.name + " takes " + std::to_string(params.size()) +
                         (params.size() == 1 ? " argument (" : " arguments (") +
                         describeSignature(p.function->signature) + "), " + std::to_string(p.call.args.size()) +
                         " given");
        continue;
      }
      p.columns.assign(p.call.args.size(), -1);
      for (size_t i = 0; i < p.call.args.size(); ++i) {
        const FormulaArgument& a = p.call.args[i];
        if (!a.isColumn) {
          if (a.value.type != params[i])
            errors.push_back(where + "argument " + std::to_string(i + 1) + " of " + p.function->signature.name +
                             " must be a " + typeName(params[i]) + ", not a " + typeName(a.value.type));
          continue;
        }
        const std::string ref = columnReference(a.column);
        if (!s.isRow) {
          errors.push_back(where + ref + ": columns can be used only in the @row section");
          continue;
        }
        if (!columns) {
          errors.push_back(where + ref + ": no rows were given (--rows FILE.csv)");
          continue;
        }
        for (size_t c = 0; c < columns->size(); ++c)
          if (equalsNoCase((*columns)[c], a.column)) p.columns[i] = static_cast<int>(c);
        if (p.columns[i] < 0) {
          std::string names;
          for (const std::string& c : *columns) names += (names.empty() ? "" : ", ") + c;
          errors.push_back(where + "no column '" + a.column + "' in the rows (columns: " + names + ")");
        }
      }
    }
  }
  return errors.empty();
}

bool bindReport(ReportTemplate& report, const FunctionLibrary& library, const CsvTable* rows,
                std::vector<std::string>& errors) {
  return bindReport(report, library, rows ? &rows->columns : nullptr, errors);
}

ReportOutcome runReport(FunctionLibrary& library, const ReportTemplate& report, CsvReader* rows, long rowCount,
                        std::ostream& out, std::ostream& err, Progress progress) {
  ReportOutcome outcome;
  ProgressCount bar(err, progress, rows ? static_cast<size_t>(rowCount > 0 ? rowCount : 0) : 0);
  const bool sharedScreen = progress == Progress::OnSharedScreen;

  // Output collects here and goes out in large writes; before any message on
  // err, so that both read in order where they share a file or a screen.
  OutputBuffer text(out);
  auto flush = [&] { text.flush(); };
  CallResult result;
  long rowNumber = 0;
  // A call that could not be made or failed: #ERROR in its place, why on err.
  auto failed = [&](const TemplatePiece& p, const FieldView* badField, size_t badArg,
                    const char* sectionName) UFHOST_COLD {
    std::string problem;
    if (badField) {
      problem = columnReference(p.call.args[badArg].column) + " holds " +
                formatLiteral(Value::makeString(std::string(badField->data, badField->size))) + ", not a " +
                typeName(p.function->signature.params[badArg]);
      ++outcome.badFields;
    } else {
      const CallResult& r = result;
      problem = r.message;
      if (isGuardViolation(r.status))
        ++outcome.guardViolations;
      else if (r.status == CallStatus::FunctionError)
        ++outcome.functionErrors;
      else
        ++outcome.badFields;
    }
    text.put("#ERROR", 6);
    bar.clear();
    flush();
    out.flush();
    const std::string where = sectionName ? std::string(sectionName)
                                          : "row " + std::to_string(rowNumber) + " (CSV line " +
                                                std::to_string(rows->line()) + ")";
    err << "ufhost: " << where << ", " << lineLabel(p.line) << " of the template: {" << p.text << "}: " << problem
        << "\n";
  };
  // The fields the row section reads as numbers or dates, each once per row
  // however many calls take it: a column and a type.
  struct FieldRead {
    size_t column;
    bool isDate;
    bool fits;
    int32_t date;
    double number;       // the formula value
    double hundredfold;  // as the engine takes it
  };
  std::vector<FieldRead> reads;
  // Each call site bound once, literals in place, and where its column
  // arguments come from; they change per row.
  enum class Source : unsigned char { Text, Number, Date, Never };
  struct ColumnArgument {
    size_t arg, column;
    Source source;
    size_t read;                // its entry in reads, for a number or a date
    BoundCall::ValueSlot slot;  // where the value goes, for a number or a date
  };
  // How a call's result goes to the output, known when bound.
  enum class Output : unsigned char { Date, Text, Other };
  struct CallArguments {
    BoundCall bound;
    std::vector<ColumnArgument> columns;
    size_t text = 0;  // a text piece's place in the padded copies
    Output output = Output::Other;
    bool fiscal = false;  // its "no date" may be the site's set-up failing
  };
  // The template's texts, each followed by room that putPadded may read.
  std::vector<char> texts;
  std::vector<CallArguments> argLists;
  for (const ReportSection* section : {&report.header, &report.row, &report.footer})
    for (const TemplatePiece& p : section->pieces) {
      argLists.emplace_back();
      CallArguments& site = argLists.back();
      if (!p.isCall) {
        site.text = texts.size();
        texts.insert(texts.end(), p.text.begin(), p.text.end());
        texts.resize(texts.size() + OutputBuffer::kPadded);
        continue;
      }
      std::vector<Value> values;
      for (size_t i = 0; i < p.call.args.size(); ++i) {
        values.push_back(p.call.args[i].value);
        if (p.columns[i] < 0) continue;
        const ValueType want = p.function->signature.params[i];
        values.back().type = want;  // a placeholder of the right kind until the first row
        ColumnArgument c{i, static_cast<size_t>(p.columns[i]), Source::Never, 0, {}};
        if (want == ValueType::String) {
          c.source = Source::Text;
        } else if (want == ValueType::Number || want == ValueType::Date) {  // no field reads as a boolean or a time
          const bool isDate = want == ValueType::Date;
          c.source = isDate ? Source::Date : Source::Number;
          c.read = 0;
          while (c.read < reads.size() && !(reads[c.read].column == c.column && reads[c.read].isDate == isDate))
            ++c.read;
          if (c.read == reads.size()) reads.push_back(FieldRead{c.column, isDate, false, 0, 0, 0});
        }
        site.columns.push_back(c);
      }
      site.bound.bind(*p.function, values);
      site.bound.leaveTextInPlace(true);  // copied once, into the output
      const ValueType returns = p.function->signature.returnType;
      site.output = returns == ValueType::Date     ? Output::Date
                    : returns == ValueType::String ? Output::Text
                                                   : Output::Other;
      site.fiscal = isFiscalFunction(p.function->signature.name);
      for (ColumnArgument& c : site.columns) c.slot = site.bound.slot(c.arg);
    }

  // Year ends repeat from row to row: the text of recent dates is kept.
  struct KeptDate {
    char text[kDayTextSize];
    int32_t day = INT32_MIN;
    uint32_t length = 0;
  };
  static_assert(kDayTextSize >= OutputBuffer::kPadded, "a kept date is read as padded text");
  constexpr size_t kKeptDates = 1024;
  std::vector<KeptDate> kept(kKeptDates);
  auto putDate = [&](int32_t day) {
    // As wide as a date, so that the columns after it stay in place.
    static const char kNoDateCell[] = "(no date) ";
    if (day == kNoDate) {
      text.put(kNoDateCell, sizeof kNoDateCell - 1);
      return;
    }
    KeptDate& k = kept[static_cast<uint32_t>(day) % kKeptDates];
    // An unused entry has no text yet, whatever day it names: no date text is empty.
    if (k.day != day || k.length == 0) {
      k.day = day;
      k.length = static_cast<uint32_t>(formatDayNumberInto(day, k.text));
    }
    text.putPadded(k.text, k.length);
  };
  // A call's result, after it succeeded.
  auto putResult = [&](const CallArguments& call) {
    if (call.fiscal) {
      ++outcome.fiscalCalls;
      outcome.fiscalNoDate += call.bound.resultDate() == kNoDate;
    }
    if (call.output == Output::Date)
      putDate(call.bound.resultDate());
    else if (call.output == Output::Text)
      text.putPadded(call.bound.resultText(), call.bound.resultLength());
    else
      text.put(formatValue(call.bound.resultValue()));
  };

  std::vector<FieldView> fields;
  size_t firstList = 0;
  auto emit = [&](const ReportSection& section, const char* sectionName) {
    // Not argLists[firstList]: a section without pieces may start at the end of the list.
    CallArguments* args = argLists.data() + firstList;
    firstList += section.pieces.size();
    for (const TemplatePiece& p : section.pieces) {
      CallArguments& call = *args++;
      if (!p.isCall) {
        text.putPadded(&texts[call.text], p.text.size());
        continue;
      }
      const ColumnArgument* bad = nullptr;  // a field that does not suit its parameter
      for (const ColumnArgument& c : call.columns) {
        if (c.source == Source::Text) {
          const FieldView& field = fields[c.column];
          call.bound.setFieldText(c.arg, field.data, field.size);  // fields stay put until the call is done
          continue;
        }
        if (c.source == Source::Never || !reads[c.read].fits) {
          bad = &c;
          break;
        }
        const FieldRead& read = reads[c.read];
        // Straight into the argument list: the type and length were set when bound.
        if (c.source == Source::Date) {
          if (c.slot.list) {
            putSlotValue(c.slot.list, read.date);
            if (c.slot.twin) putSlotValue(c.slot.twin, read.date);
          } else {
            call.bound.setDate(c.arg, read.date);
          }
        } else if (c.slot.list) {
          putSlotValue(c.slot.list, read.hundredfold);
          if (c.slot.twin) putSlotValue(c.slot.twin, read.hundredfold);
        } else {
          call.bound.setNumber(c.arg, read.number);
        }
      }
      if (!bad) {
        if (library.run(call.bound, result)) {  // bound: count and types fit
          putResult(call);
          continue;
        }
        failed(p, nullptr, 0, sectionName);
      } else {
        failed(p, &fields[bad->column], bad->arg, sectionName);
      }
    }
  };
  // The row section laid out flat for rows whose fields all suit their calls:
  // each number and date goes straight from its field into the argument
  // lists that take it, and a call site only patches in its texts.
  struct Destination {
    size_t read;
    void* at;
  };
  std::vector<Destination> destinations;
  struct TextArgument {
    size_t arg, column;
  };
  // A call and the text piece that follows it, or a text piece alone.
  struct RowStep {
    const TemplatePiece* piece;  // the call's, null for a text alone
    CallArguments* call;
    std::vector<TextArgument> texts;
    const char* after = nullptr;  // the text that follows, padded
    size_t afterLength = 0;
  };
  std::vector<RowStep> rowSteps;
  bool flatRows = true;  // every number or date argument has its place in the list
  {
    CallArguments* site = argLists.data() + report.header.pieces.size();
    for (const TemplatePiece& p : report.row.pieces) {
      CallArguments& call = *site++;
      if (!p.isCall) {
        if (rowSteps.empty() || rowSteps.back().after) rowSteps.push_back(RowStep{nullptr, &call, {}});
        rowSteps.back().after = &texts[call.text];
        rowSteps.back().afterLength = p.text.size();
        continue;
      }
      rowSteps.push_back(RowStep{&p, &call, {}});
      for (const ColumnArgument& c : call.columns) {
        if (c.source == Source::Text) {
          rowSteps.back().texts.push_back(TextArgument{c.arg, c.column});
        } else if (c.source == Source::Never || !c.slot.list) {
          flatRows = false;
        } else {
          destinations.push_back(Destination{c.read, c.slot.list});
          if (c.slot.twin) destinations.push_back(Destination{c.read, c.slot.twin});
        }
      }
    }
  }
  // Each field that calls take as a number or a date, read once at the start
  // of its row; false when one does not read as what its calls take.
  auto readFields = [&] {
    bool allFit = true;
    for (FieldRead& r : reads) {
      const FieldView& field = fields[r.column];
      if (r.isDate) {
        r.fits = fieldAsDate(field.data, field.size, r.date);
      } else {
        r.fits = fieldAsNumber(field.data, field.size, r.number);
        r.hundredfold = r.number * 100.0;
      }
      allFit &= r.fits;
    }
    return allFit;
  };
  auto emitRow = [&] {
    for (const Destination& d : destinations) {
      const FieldRead& read = reads[d.read];
      if (read.isDate)
        putSlotValue(d.at, read.date);
      else
        putSlotValue(d.at, read.hundredfold);
    }
    for (RowStep& step : rowSteps) {
      if (step.piece) {
        CallArguments& call = *step.call;
        for (const TextArgument& t : step.texts) {
          const FieldView& field = fields[t.column];
          call.bound.setFieldText(t.arg, field.data, field.size);  // fields stay put until the call is done
        }
        if (library.run(call.bound, result)) {
          putResult(call);
        } else {
          failed(*step.piece, nullptr, 0, nullptr);
        }
      }
      if (step.after) text.putPadded(step.after, step.afterLength);
    }
  };

  library.startJob();
  emit(report.header, "header");
  const size_t rowLists = firstList;
  if (rows) {
    std::string error;
    while (rows->next(fields, error)) {
      ++rowNumber;
      firstList = rowLists;
      if (readFields() && flatRows)
        emitRow();
      else
        emit(report.row, nullptr);
      if (sharedScreen && bar.shown()) {
        // The count steps aside while the row's text goes out to the same screen.
        bar.clear();
        flush();
        out.flush();
      }
      bar.show(static_cast<size_t>(rowNumber));
    }
    outcome.rowsError = error;
  }
  firstList = rowLists + report.row.pieces.size();
  bar.clear();
  emit(report.footer, "footer");
  library.endJob();
  flush();
  out.flush();
  return outcome;
}

}  // namespace ufhost
