#include "formula_call.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host_dates.h"

namespace ufhost {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isIdentChar(char c) { return isIdentStart(c) || isDigit(c); }
int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of a number at s[pos] (sign, digits, fraction, exponent), 0 when there is none.
size_t numberLength(const std::string& s, size_t pos) {
  size_t p = pos;
  if (p < s.size() && (s[p] == '+' || s[p] == '-')) ++p;
  size_t digits = 0;
  while (p < s.size() && isDigit(s[p])) ++p, ++digits;
  if (p < s.size() && s[p] == '.') {
    ++p;
    while (p < s.size() && isDigit(s[p])) ++p, ++digits;
  }
  if (digits == 0) return 0;
  if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
    size_t q = p + 1;
    if (q < s.size() && (s[q] == '+' || s[q] == '-')) ++q;
    size_t expDigits = 0;
    while (q < s.size() && isDigit(s[q])) ++q, ++expDigits;
    if (expDigits == 0) return 0;
    p = q;
  }
  return p - pos;
}

// Length of an ISO date (optional minus, four or five year digits, -MM-DD) at s[pos], 0 when none.
size_t isoDateLength(std::string_view s, size_t pos, int& y, int& m, int& d) {
  size_t p = pos;
  bool negative = p < s.size() && s[p] == '-';
  if (negative) ++p;
  const size_t start = p;
  int year = 0;  // a sixth digit is read only to refuse the year
  for (; p < s.size() && isDigit(s[p]) && p - start < 6; ++p) year = year * 10 + (s[p] - '0');
  const size_t yearDigits = p - start;
  if (yearDigits < 4 || yearDigits > 5) return 0;
  if (p + 6 > s.size() || s[p] != '-' || !isDigit(s[p + 1]) || !isDigit(s[p + 2]) || s[p + 3] != '-' ||
      !isDigit(s[p + 4]) || !isDigit(s[p + 5]))
    return 0;
  if (p + 6 < s.size() && isDigit(s[p + 6])) return 0;
  y = negative ? -year : year;
  m = (s[p + 1] - '0') * 10 + (s[p + 2] - '0');
  d = (s[p + 4] - '0') * 10 + (s[p + 5] - '0');
  return p + 6 - pos;
}

class Parser {
 public:
  Parser(const std::string& text, bool allowColumns) : s_(text), allowColumns_(allowColumns) {}

  bool call(FormulaCall& out) {
    skipBlanks();
    if (atEnd()) return fail("expected a function call, found nothing");
    if (!isIdentStart(s_[pos_])) return fail(std::string("expected a function name, found '") + s_[pos_] + "'");
    out.name = identifier();
    out.args.clear();
    skipBlanks();
    if (!atEnd() && s_[pos_] == '(') {
      ++pos_;
      skipBlanks();
      if (!atEnd() && s_[pos_] == ')') {
        ++pos_;
      } else {
        for (;;) {
          FormulaArgument arg;
          if (!argument(arg)) return false;
          out.args.push_back(std::move(arg));
          skipBlanks();
          if (atEnd()) return fail("missing ')' at the end of the call");
          char c = s_[pos_];
          if (c == ')') {
            ++pos_;
            break;
          }
          if (c != ',') return fail(std::string("expected ',' or ')', found '") + c + "'");
          ++pos_;
        }
      }
    }
    skipBlanks();
    if (!atEnd()) return fail("unexpected text after the call: " + excerpt(s_.substr(pos_)));
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  bool atEnd() const { return pos_ >= s_.size(); }
  void skipBlanks() {
    while (!atEnd() && isBlank(s_[pos_])) ++pos_;
  }
  std::string identifier() {
    size_t start = pos_;
    while (!atEnd() && isIdentChar(s_[pos_])) ++pos_;
    return s_.substr(start, pos_ - start);
  }
  bool fail(const std::string& what) { return failAt(pos_, what); }
  bool failAt(size_t at, const std::string& what) {
    error_ = "at position " + std::to_string(at + 1) + ": " + what;
    return false;
  }
  // After a literal only a separator may follow.
  bool endOfLiteral(size_t start) {
    size_t p = pos_;
    while (p < s_.size() && isBlank(s_[p])) ++p;
    if (p < s_.size() && s_[p] != ',' && s_[p] != ')')
      return failAt(start, "bad literal " + excerpt(s_.substr(start, p - start + 1)));
    return true;
  }

  bool argument(FormulaArgument& arg) {
    skipBlanks();
    if (atEnd()) return fail("missing argument");
    const size_t start = pos_;
    const char c = s_[pos_];
    if (c == '"') return text(arg.value);
    if (c == '$') {
      ++pos_;
      if (!atEnd() && s_[pos_] == '"') {
        // $"unit price": a column whose name is not a plain word.
        Value name;
        if (!quoted(name)) return false;
        arg.column = name.text;
        if (arg.column.empty()) return failAt(start, "$\"\" names no column");
      } else {
        arg.column = identifier();
      }
      if (arg.column.empty()) return failAt(start, "a '$' must be followed by a column name");
      if (!allowColumns_) return failAt(start, "column references ($" + arg.column + ") work only in a report");
      arg.isColumn = true;
      return endOfLiteral(start);
    }
    if (isIdentStart(c)) return word(arg.value);
    int y, m, d;
    if (size_t n = isoDateLength(s_, pos_, y, m, d)) {
      pos_ += n;
      if (!endOfLiteral(start)) return false;
      return date(y, m, d, start, arg.value);
    }
    if (size_t n = numberLength(s_, pos_)) {
      std::string token = s_.substr(pos_, n);
      pos_ += n;
      if (!endOfLiteral(start)) return false;
      double v = std::strtod(token.c_str(), nullptr);
      // The engine passes a hundredfold: that too must be a finite number.
      if (!std::isfinite(v) || !std::isfinite(v * 100.0)) return failAt(start, "number out of range: " + excerpt(token));
      arg.value = Value::makeNumber(v);
      return true;
    }
    if (c == ',' || c == ')') return fail("missing argument");
    return failAt(start, std::string("bad literal starting with '") + c + "'");
  }

  bool text(Value& out) {
    const size_t start = pos_;
    if (!quoted(out)) return false;
    return endOfLiteral(start);
  }

  // A double-quoted text with its escapes, the closing quote consumed.
  bool quoted(Value& out) {
    const size_t start = pos_;
    std::string t;
    ++pos_;
    for (;;) {
      if (atEnd()) return failAt(start, "unterminated text (missing closing '\"')");
      char c = s_[pos_++];
      if (c == '"') break;
      if (c == '\0') return failAt(pos_ - 1, "a NUL byte cannot be passed: texts end at their NUL");
      if (c != '\\') {
        t += c;
        continue;
      }
      if (atEnd()) return failAt(start, "unterminated text (missing closing '\"')");
      char e = s_[pos_++];
      if (char meant = escapedCharacter(e)) {
        t += meant;
        continue;
      }
      switch (e) {
        case 'x': {
          int hi = pos_ < s_.size() ? hexValue(s_[pos_]) : -1;
          int lo = pos_ + 1 < s_.size() ? hexValue(s_[pos_ + 1]) : -1;
          if (hi < 0 || lo < 0) return failAt(pos_ - 2, "\\x needs two hexadecimal digits");
          if (hi == 0 && lo == 0) return failAt(pos_ - 2, "\\x00 cannot be passed: texts end at their NUL");
          t += static_cast<char>(hi * 16 + lo);
          pos_ += 2;
          break;
        }
        default:
          return failAt(pos_ - 2, std::string("unknown escape '\\") + e + "'");
      }
    }
    out = Value::makeString(t);
    return true;
  }

  // Date(...), Time(...), DateTime(...), True, False.
  bool word(Value& out) {
    const size_t start = pos_;
    std::string w = identifier();
    if (equalsNoCase(w, "True") || equalsNoCase(w, "False")) {
      if (!endOfLiteral(start)) return false;
      out = Value::makeBoolean(equalsNoCase(w, "True"));
      return true;
    }
    const bool isTime = equalsNoCase(w, "Time");
    size_t count = 0;
    if (equalsNoCase(w, "Date") || isTime)
      count = 3;
    else if (equalsNoCase(w, "DateTime"))
      count = 6;
    if (count == 0) {
      return failAt(start, "unknown word " + excerpt(w) + " (texts go in double quotes; calls cannot be nested)");
    }
    skipBlanks();
    if (atEnd() || s_[pos_] != '(') return failAt(start, w + " needs its numbers in parentheses");
    ++pos_;
    std::vector<long> parts;
    for (;;) {
      skipBlanks();
      size_t numStart = pos_;
      if (!atEnd() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      size_t digitsStart = pos_;
      while (!atEnd() && isDigit(s_[pos_])) ++pos_;
      if (pos_ == digitsStart || pos_ - digitsStart > 6) {
        return failAt(numStart, w + " takes whole numbers");
      }
      parts.push_back(std::strtol(s_.substr(numStart, pos_ - numStart).c_str(), nullptr, 10));
      skipBlanks();
      if (atEnd()) return fail("missing ')' after " + w);
      char c = s_[pos_++];
      if (c == ')') break;
      if (c != ',') return failAt(pos_ - 1, std::string("expected ',' or ')' in ") + w + ", found '" + c + "'");
    }
    if (parts.size() != count) {
      return failAt(start,
                    w + " takes " + std::to_string(count) + " numbers, " + std::to_string(parts.size()) + " given");
    }
    if (!endOfLiteral(start)) return false;
    int32_t seconds = 0;
    if (count == 6 || isTime) {
      size_t h = count == 6 ? 3 : 0;
      if (parts[h] < 0 || parts[h] > 23 || parts[h + 1] < 0 || parts[h + 1] > 59 || parts[h + 2] < 0 ||
          parts[h + 2] > 59)
        return failAt(start, "no such time of day");
      seconds = static_cast<int32_t>(parts[h] * 3600 + parts[h + 1] * 60 + parts[h + 2]);
      if (count == 3) {
        out = Value::makeTime(seconds);
        return true;
      }
    }
    if (!date(static_cast<int>(parts[0]), static_cast<int>(parts[1]), static_cast<int>(parts[2]), start, out))
      return false;
    if (count == 6) out = Value::makeDateTime(out.date, seconds);
    return true;
  }

  bool date(long y, long m, long d, size_t start, Value& out) {
    int32_t n = (y >= kFirstYear && y <= kLastYear && m >= 1 && m <= 12 && d >= 1 && d <= 31)
                    ? dayNumberFromCivil(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d))
                    : kNoDate;
    if (n == kNoDate) {
      return failAt(start, "no such date: year " + std::to_string(y) + ", month " + std::to_string(m) + ", day " +
                               std::to_string(d));
    }
    out = Value::makeDate(n);
    return true;
  }

  const std::string& s_;
  bool allowColumns_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

bool parseFormulaCall(const std::string& text, FormulaCall& out, std::string& error, bool allowColumns) {
  Parser p(text, allowColumns);
  FormulaCall call;
  if (!p.call(call)) {
    error = p.error();
    return false;
  }
  out = std::move(call);
  return true;
}

namespace {

// Where the field's text lies without the blanks around it: [b, e).
void trim(std::string_view field, size_t& b, size_t& e) {
  b = 0;
  e = field.size();
  while (b < e && isBlank(field[b])) ++b;
  while (e > b && isBlank(field[e - 1])) --e;
}

// A number as a literal writes it, finite also as the engine's hundredfold.
// from_chars reads the same forms, and the words for infinity and NaN, which
// are not finite.
bool fieldAsNumber(std::string_view field, double& into) {
  size_t b, e;
  trim(field, b, e);
  if (b < e && field[b] == '+' && (b + 1 == e || field[b + 1] != '-')) ++b;  // from_chars takes no plus sign
  double v = 0;
  const char* const end = field.data() + e;
  const std::from_chars_result read = std::from_chars(field.data() + b, end, v);
  if (read.ec != std::errc() || read.ptr != end) return false;
  if (!std::isfinite(v) || !std::isfinite(v * 100.0)) return false;
  into = v;
  return true;
}

// An ISO date (YYYY-MM-DD, a sign or a five-digit year allowed) that names a day.
bool fieldAsDate(std::string_view field, int32_t& into) {
  size_t b, e;
  trim(field, b, e);
  int y = 0, m = 0, d = 0;
  if (b == e || isoDateLength(field, b, y, m, d) != e - b) return false;
  const int32_t n = dayNumberFromCivil(y, m, d);
  if (n == kNoDate) return false;
  into = n;
  return true;
}

}  // namespace

bool fieldAs(std::string_view field, ValueType want, Value& into) {
  switch (want) {
    case ValueType::String:
      into.type = ValueType::String;
      into.text.assign(field.data(), field.size());
      return true;
    case ValueType::Date:
      if (!fieldAsDate(field, into.date)) return false;
      into.type = ValueType::Date;
      return true;
    case ValueType::Number:
      if (!fieldAsNumber(field, into.number)) return false;
      into.type = ValueType::Number;
      return true;
    default:
      return false;  // a field never reads as a boolean or a time
  }
}

Value fieldValue(std::string_view field) {
  Value v;
  if (fieldAs(field, ValueType::Date, v) || fieldAs(field, ValueType::Number, v)) return v;
  return Value::makeString(std::string(field));
}

}  // namespace ufhost
