#include "report.h"

#include <cstring>
#include <ostream>

#include "host_dates.h"

namespace ufhost {
namespace {

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

std::string lineLabel(int line) { return "line " + std::to_string(line); }

// A call as messages show it: {ZelNum(...)}, cut when it is long.
std::string shownCall(const std::string& text) {
  if (text.size() <= kExcerpt) return "{" + text + "}";
  return "{" + text.substr(0, kExcerpt) + "...} (" + std::to_string(text.size()) + " bytes)";
}

// Text to be written as it stands; nothing for an empty one.
void addText(ReportSection& section, std::string& text, int lineNo) {
  if (text.empty()) return;
  TemplatePiece t;
  t.text = std::move(text);
  t.line = lineNo;
  section.pieces.push_back(std::move(t));
  text.clear();
}

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
      addText(section, text, lineNo);
      TemplatePiece p;
      p.isCall = true;
      p.text = line.substr(i + 1, j - i - 1);
      p.line = lineNo;
      std::string why;
      if (!parseFormulaCall(p.text, p.call, why, true)) {
        error = lineLabel(lineNo) + ": " + shownCall(p.text) + ": " + why;
        return false;
      }
      section.pieces.push_back(std::move(p));
      i = j + 1;
    } else {
      text += c;
      ++i;
    }
  }
  addText(section, text, lineNo);
  return true;
}

// As a template names the column: $amount, or $"unit price" when not one word.
std::string columnReference(const std::string& name) {
  bool word = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) word = false;
  return "$" + (word ? name : formatLiteral(Value::makeString(name)));
}

// Output gathered for large writes, and sent on at least every kSize bytes so
// that a reader at the other end of a pipe sees rows as they are made.
class OutputBuffer {
 public:
  static constexpr size_t kSize = 1 << 16;
  explicit OutputBuffer(std::ostream& out) : out_(out), data_(kSize) {}
  void put(const std::string& s) { put(s.data(), s.size()); }
  void put(const char* s, size_t n) {
    if (used_ + n > kSize) flush();
    if (n > kSize) {
      out_.write(s, static_cast<std::streamsize>(n));
      out_.flush();
      return;
    }
    std::memcpy(data_.data() + used_, s, n);
    used_ += n;
  }
  // A result as formatValue writes it, a text or a date without a copy on the
  // way; no date as wide as a date, so the columns after it stay in place.
  void put(const Value& v) {
    static const char kNoDateText[] = "(no date) ";
    if (v.type == ValueType::String) return put(v.text);
    if (v.type != ValueType::Date) return put(formatValue(v));
    if (v.date == kNoDate) return put(kNoDateText, sizeof kNoDateText - 1);
    if (used_ + kDayNumberRoom > kSize) flush();
    used_ = static_cast<size_t>(writeDayNumber(v.date, data_.data() + used_) - data_.data());
  }
  void flush() {
    out_.write(data_.data(), static_cast<std::streamsize>(used_));
    out_.flush();
    used_ = 0;
  }

 private:
  std::ostream& out_;
  std::vector<char> data_;
  size_t used_ = 0;
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
      error = lineLabel(lineNo) + ": unknown section line " + excerpt(marker) + " (use @header, @row, @footer or @# comment)";
      return false;
    }
    if (!splitLine(line, lineNo, *current, error)) return false;
    std::string lineEnd = lastLine ? "" : "\n";
    addText(*current, lineEnd, lineNo);
  }
  out = std::move(result);
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
      const std::string where = lineLabel(p.line) + ": " + shownCall(p.text) + ": ";
      p.function = library.find(p.call.name);
      if (!p.function) {
        errors.push_back(where + unknownFunction(library, p.call.name));
        continue;
      }
      p.fiscal = FiscalTally::counts(*p.function);
      const std::vector<ValueType>& params = p.function->signature.params;
      if (p.call.args.size() != params.size()) {
        errors.push_back(where + argumentCountProblem(*p.function, p.call.args.size()));
        continue;
      }
      p.columns.assign(p.call.args.size(), -1);
      for (size_t i = 0; i < p.call.args.size(); ++i) {
        const FormulaArgument& a = p.call.args[i];
        if (!a.isColumn) {
          if (a.value.type != params[i]) errors.push_back(where + argumentTypeProblem(*p.function, i, a.value.type));
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
          errors.push_back(where + "no column " + excerpt(a.column) + " in the rows (columns: " + names + ")");
        }
      }
    }
  }
  return errors.empty();
}

void ReportOutcome::add(const TemplatePiece& call, const CallResult& r) {
  if (call.fiscal) fiscal.add(r);
  if (r.ok()) return;
  if (isGuardViolation(r.status))
    ++guardViolations;
  else if (r.status == CallStatus::FunctionError)
    ++functionErrors;
  else
    ++badFields;
}

namespace {

// One run of a bound report: every call site's arguments laid out once. Each
// row, a column that calls take as a number or a date is read once, however
// many calls take it (a company and a book number go to every fiscal function),
// and each call site takes its column arguments from those readings.
class ReportRun {
 public:
  ReportRun(FunctionLibrary& library, const ReportTemplate& report, CsvReader* rows, long rowCount,
            std::ostream& out, std::ostream& err, Progress progress)
      : library_(library),
        report_(report),
        rows_(rows),
        err_(err),
        text_(out),
        bar_(err, progress, rows ? static_cast<size_t>(rowCount > 0 ? rowCount : 0) : 0),
        sharedScreen_(progress == Progress::OnSharedScreen) {
    for (const ReportSection* section : {&report.header, &report.row, &report.footer})
      for (const TemplatePiece& p : section->pieces) {
        args_.emplace_back();
        sites_.emplace_back();
        columnArgs_.emplace_back();
        if (!p.isCall) continue;
        for (size_t i = 0; i < p.call.args.size(); ++i) {
          args_.back().push_back(p.call.args[i].value);
          if (p.columns[i] < 0) continue;
          const ValueType type = p.function->signature.params[i];
          args_.back().back().type = type;  // a placeholder of the parameter's type until the first row
          const size_t column = static_cast<size_t>(p.columns[i]);
          columnArgs_.back().push_back({i, column, type == ValueType::String ? -1 : reading(column, type)});
        }
        sites_.back().bind(*p.function, args_.back());
      }
  }

  ReportOutcome run() {
    library_.startJob();
    const size_t rowSites = report_.header.pieces.size();
    emit(report_.header, 0, "header");
    if (rows_) {
      std::string error;
      while (rows_->next(fields_, error)) {
        ++rowNumber_;
        for (FieldRead& r : reads_) r.fits = fieldAs(fields_[r.column], r.type, r.value);
        emit(report_.row, rowSites, nullptr);
        if (sharedScreen_ && bar_.shown()) {
          // The count steps aside while the row's text goes out to the same screen.
          bar_.clear();
          text_.flush();
        }
        bar_.show(static_cast<size_t>(rowNumber_));
      }
      outcome_.rowsError = error;
    }
    bar_.clear();
    emit(report_.footer, rowSites + report_.row.pieces.size(), "footer");
    library_.endJob();
    text_.flush();
    return outcome_;
  }

 private:
  // A call's argument that takes a field of the row.
  struct ColumnArg {
    size_t arg;     // its position
    size_t column;  // the field's
    int read;       // its entry in reads_, or -1 for a text taken as it stands
  };

  // A column read as a number or a date, for the row in hand.
  struct FieldRead {
    size_t column;
    ValueType type;
    bool fits;
    Value value;
  };

  // The entry in reads_ for the column read as type, made when it is the first.
  int reading(size_t column, ValueType type) {
    for (size_t r = 0; r < reads_.size(); ++r)
      if (reads_[r].column == column && reads_[r].type == type) return static_cast<int>(r);
    reads_.push_back(FieldRead{column, type, false, Value()});
    return static_cast<int>(reads_.size() - 1);
  }

  // A section's pieces; their call sites start at sites_[site].
  void emit(const ReportSection& section, size_t site, const char* sectionName) {
    for (const TemplatePiece& p : section.pieces) {
      const size_t at = site++;
      if (!p.isCall) {
        text_.put(p.text);
        continue;
      }
      const int bad = setColumns(columnArgs_[at], sites_[at]);
      if (bad < 0)
        library_.call(sites_[at], result_);  // bound: count and types fit
      else
        badField(p, static_cast<size_t>(bad));
      outcome_.add(p, result_);
      if (result_.ok())
        text_.put(result_.value);
      else
        failed(p, sectionName, result_.message);
    }
  }

  // A field that does not read as its argument's type: the call is not made.
  void badField(const TemplatePiece& p, size_t arg) {
    const std::string_view field = fields_[static_cast<size_t>(p.columns[arg])];
    result_.status = CallStatus::NotCallable;
    result_.value = Value();
    result_.message = columnReference(p.call.args[arg].column) + " holds " + excerpt(field, true) + ", not a " +
                      typeName(p.function->signature.params[arg]);
  }

  // This row's fields into the call's column arguments: a text as it stands,
  // a number or a date as read; the first argument whose field does not read
  // as its type, or -1.
  int setColumns(const std::vector<ColumnArg>& args, CallSite& call) {
    for (const ColumnArg& a : args) {
      if (a.read < 0) {
        call.setText(a.arg, fields_[a.column]);  // the field stays until the next row
        continue;
      }
      const FieldRead& read = reads_[static_cast<size_t>(a.read)];
      if (!read.fits) return static_cast<int>(a.arg);
      call.setArgument(a.arg, read.value);
    }
    return -1;
  }

  // #ERROR in the call's place, why on err: after the output so far, so that
  // both read in order where they share a file or a screen.
  void failed(const TemplatePiece& p, const char* sectionName, const std::string& problem) {
    text_.put("#ERROR");
    bar_.clear();
    text_.flush();
    const std::string where = sectionName ? std::string(sectionName)
                                          : "row " + std::to_string(rowNumber_) + " (CSV line " +
                                                std::to_string(rows_->line()) + ")";
    err_ << "ufhost: " << where << ", " << lineLabel(p.line) << " of the template: " << shownCall(p.text) << ": "
         << problem << "\n";
  }

  FunctionLibrary& library_;
  const ReportTemplate& report_;
  CsvReader* rows_;
  std::ostream& err_;
  OutputBuffer text_;
  ProgressCount bar_;
  bool sharedScreen_;
  std::vector<std::vector<Value>> args_;  // per piece of the three sections, in order
  std::vector<CallSite> sites_;           // the same, bound to their functions
  std::vector<std::vector<ColumnArg>> columnArgs_;  // the same: the arguments that take a field
  std::vector<std::string_view> fields_;  // the row being written, in the reader's buffer
  std::vector<FieldRead> reads_;
  CallResult result_;
  long rowNumber_ = 0;
  ReportOutcome outcome_;
};

}  // namespace

ReportOutcome runReport(FunctionLibrary& library, const ReportTemplate& report, CsvReader* rows, long rowCount,
                        std::ostream& out, std::ostream& err, Progress progress) {
  return ReportRun(library, report, rows, rowCount, out, err, progress).run();
}

}  // namespace ufhost
