#include "report.h"

#include <ostream>
#include <sstream>

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

std::string describeRow(const CsvTable& rows, size_t r) {
  return "row " + std::to_string(r + 1) + " (CSV line " + std::to_string(rows.lines[r]) + ")";
}

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
    int which = marker == "@header" ? 0 : marker == "@row" ? 1 : marker == "@footer" ? 2 : -1;
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

bool parseCsv(const std::string& input, CsvTable& out, std::string& error) {
  CsvTable table;
  const size_t bom = input.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  bool haveHeader = false;
  std::vector<std::string> record;
  std::string field;
  bool inQuotes = false;     // inside a quoted field
  bool fieldQuoted = false;  // the current field began with a quote
  bool recordHasText = false;
  int line = 1, recordLine = 1;

  auto finishField = [&]() {
    record.push_back(fieldQuoted ? field : trim(field));
    field.clear();
    fieldQuoted = false;
  };
  auto finishRecord = [&]() -> bool {
    finishField();
    if (recordHasText) {
      if (!haveHeader) {
        for (size_t i = 0; i < record.size(); ++i)
          for (size_t j = 0; j < i; ++j)
            if (!record[i].empty() && equalsNoCase(record[i], record[j])) {
              error = lineLabel(recordLine) + ": the column name '" + record[i] + "' appears twice";
              return false;
            }
        table.columns = record;
        haveHeader = true;
      } else if (record.size() != table.columns.size()) {
        error = lineLabel(recordLine) + ": " + std::to_string(record.size()) + " fields, but the header names " +
                std::to_string(table.columns.size()) + " columns";
        return false;
      } else {
        table.rows.push_back(record);
        table.lines.push_back(recordLine);
      }
    }
    record.clear();
    recordHasText = false;
    return true;
  };

  for (size_t i = bom; i < input.size(); ++i) {
    const char c = input[i];
    if (inQuotes) {
      if (c == '"' && i + 1 < input.size() && input[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        inQuotes = false;
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    switch (c) {
      case '"':
        if (fieldQuoted) {
          error = lineLabel(line) + ": text after a closing quote";
          return false;
        }
        if (trim(field).empty()) {
          field.clear();
          inQuotes = fieldQuoted = recordHasText = true;
        } else {
          field += c;  // a quote inside an unquoted field is just a character
        }
        break;
      case ',':
        finishField();
        recordHasText = true;
        break;
      case '\n':
        if (!finishRecord()) return false;
        recordLine = ++line;
        break;
      case '\r':
        break;  // part of a CRLF line end
      default:
        if (fieldQuoted) {
          if (c != ' ' && c != '\t') {
            error = lineLabel(line) + ": text after a closing quote";
            return false;
          }
        } else {
          field += c;
          if (c != ' ' && c != '\t') recordHasText = true;
        }
    }
  }
  if (inQuotes) {
    error = lineLabel(recordLine) + ": a quoted field is not closed";
    return false;
  }
  if (!finishRecord()) return false;
  if (!haveHeader) {
    error = "no header line naming the columns";
    return false;
  }
  out = std::move(table);
  return true;
}

bool bindReport(ReportTemplate& report, const FunctionLibrary& library, const CsvTable* rows,
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
        errors.push_back(where + "unknown function '" + p.call.name + "'");
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
        if (!s.isRow) {
          errors.push_back(where + "$" + a.column + ": columns can be used only in the @row section");
          continue;
        }
        if (!rows) {
          errors.push_back(where + "$" + a.column + ": no rows were given (--rows FILE.csv)");
          continue;
        }
        for (size_t c = 0; c < rows->columns.size(); ++c)
          if (equalsNoCase(rows->columns[c], a.column)) p.columns[i] = static_cast<int>(c);
        if (p.columns[i] < 0) {
          std::string names;
          for (const std::string& c : rows->columns) names += (names.empty() ? "" : ", ") + c;
          errors.push_back(where + "no column '" + a.column + "' in the rows (columns: " + names + ")");
        }
      }
    }
  }
  return errors.empty();
}

ReportOutcome runReport(FunctionLibrary& library, const ReportTemplate& report, const CsvTable* rows, std::ostream& out,
                        std::ostream& err, Progress progress) {
  ReportOutcome outcome;
  const size_t rowCount = rows ? rows->rows.size() : 0;
  ProgressCount bar(err, progress, rowCount);

  auto emit = [&](const ReportSection& section, const std::vector<std::string>* fields, const std::string& where,
                  std::ostream& to) {
    for (const TemplatePiece& p : section.pieces) {
      if (!p.isCall) {
        to << p.text;
        continue;
      }
      std::vector<Value> args;
      std::string problem;
      for (size_t i = 0; i < p.call.args.size() && problem.empty(); ++i) {
        if (p.columns[i] < 0) {
          args.push_back(p.call.args[i].value);
          continue;
        }
        const std::string& field = (*fields)[static_cast<size_t>(p.columns[i])];
        Value v = fieldValue(field);
        const ValueType want = p.function->signature.params[i];
        // A text parameter takes the field as written, whatever it looks like.
        if (want == ValueType::String) v = Value::makeString(field);
        if (v.type != want) {
          problem = "$" + p.call.args[i].column + " holds " + formatLiteral(Value::makeString(field)) + ", not a " +
                    typeName(want);
          ++outcome.badFields;
        }
        args.push_back(v);
      }
      CallResult r;
      if (problem.empty()) {
        r = library.evaluate(*p.function, args);
        if (r.ok()) {
          to << formatValue(r.value);
          continue;
        }
        problem = r.message;
        if (isGuardViolation(r.status))
          ++outcome.guardViolations;
        else if (r.status == CallStatus::FunctionError)
          ++outcome.functionErrors;
        else
          ++outcome.badFields;
      }
      to << "#ERROR";
      bar.clear();
      err << "ufhost: " << where << ", " << lineLabel(p.line) << " of the template: {" << p.text << "}: " << problem
          << "\n";
    }
  };

  library.startJob();
  emit(report.header, nullptr, "header", out);
  for (size_t r = 0; r < rowCount; ++r) {
    if (progress == Progress::OnSharedScreen && bar.shown()) {
      // The count steps aside while the row's text goes out to the same screen.
      std::ostringstream text;
      emit(report.row, &rows->rows[r], describeRow(*rows, r), text);
      bar.clear();
      out << text.str();
      out.flush();
    } else {
      emit(report.row, &rows->rows[r], describeRow(*rows, r), out);
    }
    bar.show(r + 1);
  }
  bar.clear();
  emit(report.footer, nullptr, "footer", out);
  library.endJob();
  out.flush();
  return outcome;
}

}  // namespace ufhost
