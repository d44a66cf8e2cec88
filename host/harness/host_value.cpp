#include "host_value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host_dates.h"

namespace ufhost {

// Every member given, in order: type, number, boolean, date, time, text.
Value Value::makeNumber(double v) { return Value{ValueType::Number, v, false, kNoDate, 0, {}}; }
Value Value::makeBoolean(bool v) { return Value{ValueType::Boolean, 0.0, v, kNoDate, 0, {}}; }
Value Value::makeDate(int32_t day) { return Value{ValueType::Date, 0.0, false, day, 0, {}}; }
Value Value::makeTime(int32_t seconds) { return Value{ValueType::Time, 0.0, false, kNoDate, seconds, {}}; }
Value Value::makeDateTime(int32_t day, int32_t seconds) { return Value{ValueType::DateTime, 0.0, false, day, seconds, {}}; }
Value Value::makeString(std::string v) { return Value{ValueType::String, 0.0, false, kNoDate, 0, std::move(v)}; }

namespace {

const char* const kTypeNames[] = {"Number", "Boolean", "Date", "Time", "DateTime", "String"};

// Each escape letter of a formula text, and the character it stands for.
const char kEscapes[] = "\"\\ntr";
const char kEscaped[] = "\"\\\n\t\r";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string formatNumber(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  if (v == 0.0) return "0";  // also for -0
  // The fewest significant digits that read back as the same double...
  char buf[400];
  int digits = 1;
  for (; digits < 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  std::snprintf(buf, sizeof buf, "%.*e", digits - 1, v);
  const int exponent = std::atoi(std::strchr(buf, 'e') + 1);
  // ...written out in full unless that would take a long run of zeros.
  if (exponent < -5 || exponent >= 17) return buf;
  const int decimals = digits - 1 - exponent > 0 ? digits - 1 - exponent : 0;
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string formatTime(int32_t seconds) {
  char buf[32];
  if (seconds < 0 || seconds >= 86400) {
    std::snprintf(buf, sizeof buf, "(invalid time %ld)", static_cast<long>(seconds));
    return buf;
  }
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return buf;
}

}  // namespace

std::string excerpt(std::string_view text, bool asLiteral) {
  size_t cut = text.size();
  if (cut > kExcerpt) {
    cut = kExcerpt;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // not inside a UTF-8 character
  }
  const std::string shown(text.substr(0, cut));
  std::string out = asLiteral ? formatLiteral(Value::makeString(shown)) : "'" + shown + "'";
  if (cut < text.size())
    out += "... (the first " + std::to_string(cut) + " of " + std::to_string(text.size()) + " bytes)";
  return out;
}

char escapedCharacter(char written) {
  const char* at = written ? std::strchr(kEscapes, written) : nullptr;
  return at ? kEscaped[at - kEscapes] : 0;
}

bool equalsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // as names are mostly written
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

const char* typeName(ValueType type) { return kTypeNames[static_cast<int>(type)]; }

bool typeFromName(const std::string& name, ValueType& type) {
  for (int i = 0; i < 6; ++i) {
    if (equalsNoCase(name, kTypeNames[i])) {
      type = static_cast<ValueType>(i);
      return true;
    }
  }
  return false;
}

std::string formatValue(const Value& v) {
  switch (v.type) {
    case ValueType::Number:
      return formatNumber(v.number);
    case ValueType::Boolean:
      return v.boolean ? "True" : "False";
    case ValueType::Date:
      return formatDayNumber(v.date);
    case ValueType::Time:
      return formatTime(v.time);
    case ValueType::DateTime:
      return formatDayNumber(v.date) + " " + formatTime(v.time);
    case ValueType::String:
      return v.text;
  }
  return std::string();
}

std::string formatLiteral(const Value& v) {
  char buf[80];
  CivilDate c;
  switch (v.type) {
    case ValueType::String: {
      std::string out = "\"";
      for (unsigned char ch : v.text) {
        const char* written = std::strchr(kEscaped, static_cast<char>(ch));
        if (ch != 0 && written) {
          out += '\\';
          out += kEscapes[written - kEscaped];
        } else if (ch < 0x20 || ch == 0x7f) {
          std::snprintf(buf, sizeof buf, "\\x%02X", ch);
          out += buf;
        } else {
          out += static_cast<char>(ch);
        }
      }
      return out + "\"";
    }
    case ValueType::Date:
    case ValueType::DateTime:
      if (civilFromDayNumber(v.date, c)) {
        if (v.type == ValueType::Date) {
          std::snprintf(buf, sizeof buf, "Date(%d, %d, %d)", c.year, c.month, c.day);
        } else {
          std::snprintf(buf, sizeof buf, "DateTime(%d, %d, %d, %d, %d, %d)", c.year, c.month, c.day,
                        static_cast<int>(v.time / 3600), static_cast<int>(v.time / 60 % 60),
                        static_cast<int>(v.time % 60));
        }
        return buf;
      }
      return formatValue(v);
    case ValueType::Time:
      std::snprintf(buf, sizeof buf, "Time(%d, %d, %d)", static_cast<int>(v.time / 3600),
                    static_cast<int>(v.time / 60 % 60), static_cast<int>(v.time % 60));
      return buf;
    default:
      return formatValue(v);
  }
}

}  // namespace ufhost
