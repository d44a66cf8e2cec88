#include "check_json.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace ufhost {
namespace {

// Length of the well-formed UTF-8 sequence at s[i], 0 when there is none.
size_t utf8Length(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}

// A JSON string literal of text: control characters escaped, bytes that are not
// UTF-8 taken as Latin-1 (a driver's message may be in the system's code page).
std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char esc[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (size_t n = utf8Length(text, i)) {
      out.append(text, i, n);
      i += n - 1;
    } else {
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    }
  }
  return out + "\"";
}

}  // namespace

void writeCheckJson(std::ostream& out, const std::string& library, const std::vector<CheckResult>& checks,
                    int exitCode) {
  const auto any = [&checks](const char* status) {
    return std::any_of(checks.begin(), checks.end(), [status](const CheckResult& c) { return c.status == status; });
  };
  out << "{\n  \"product\": \"u2lvost\",\n  \"version\": " << jsonString(U2LVOST_VERSION)
      << ",\n  \"library\": " << jsonString(library) << ",\n  \"status\": \""
      << (any("fail") ? "fail" : any("warn") ? "warn" : "ok") << "\",\n  \"exit_code\": " << exitCode
      << ",\n  \"checks\": [";
  for (size_t i = 0; i < checks.size(); ++i) {
    const CheckResult& c = checks[i];
    out << (i ? "," : "") << "\n    {\"name\": " << jsonString(c.name) << ", \"status\": " << jsonString(c.status)
        << ",\n     \"detail\": " << jsonString(c.detail) << ",\n     \"boxes\": [";
    for (size_t b = 0; b < c.boxes.size(); ++b) out << (b ? ", " : "") << jsonString(c.boxes[b]);
    out << "],\n     \"advice\": " << jsonString(c.advice) << "}";
  }
  out << "\n  ]\n}\n";
}

}  // namespace ufhost
