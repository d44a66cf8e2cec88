// Typed values passed to and returned from formula functions, as the harness
// holds them (numbers as formula values, not the engine's hundredfold).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ufhost {

enum class ValueType { Number, Boolean, Date, Time, DateTime, String };

struct Value {
  ValueType type = ValueType::Number;
  double number = 0.0;   // Number: the formula value
  bool boolean = false;  // Boolean
  int32_t date = -1;     // Date, DateTime: day number
  int32_t time = 0;      // Time, DateTime: seconds of the day
  std::string text;      // String

  static Value makeNumber(double v);
  static Value makeBoolean(bool v);
  static Value makeDate(int32_t dayNumber);
  static Value makeTime(int32_t seconds);
  static Value makeDateTime(int32_t dayNumber, int32_t seconds);
  static Value makeString(std::string v);
};

// The name the definition texts use ("Number", "String", ...).
const char* typeName(ValueType type);
// Case-insensitive; false for a name the harness does not know.
bool typeFromName(const std::string& name, ValueType& type);

// As ufhost prints a result: strings raw, numbers shortest-exact, dates
// YYYY-MM-DD, times HH:MM:SS, booleans True/False.
std::string formatValue(const Value& v);

// The character a backslash escape in a formula text stands for (n: a line
// feed, ...); 0 for a letter that is no such escape. \x with two hex digits
// is read and written apart from these.
char escapedCharacter(char written);

// As a literal in a formula call ("text" with escapes, Date(y, m, d), ...).
std::string formatLiteral(const Value& v);

// A text as a message quotes it: in single quotes, or as a literal ("..." with
// escapes) when asLiteral; one longer than kExcerpt bytes is cut there, and
// the message says how long it is, so a huge field never fills a message.
constexpr size_t kExcerpt = 80;
std::string excerpt(std::string_view text, bool asLiteral = false);

// Case-insensitive ASCII comparison, as a report designer matches names.
bool equalsNoCase(const std::string& a, const std::string& b);

}  // namespace ufhost
