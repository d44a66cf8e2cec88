#include "function_definition.h"

namespace ufhost {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isIdentChar(char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }

struct Scanner {
  const std::string& s;
  size_t pos = 0;
  explicit Scanner(const std::string& text) : s(text) {}
  void skipBlanks() {
    while (pos < s.size() && isBlank(s[pos])) ++pos;
  }
  bool atEnd() const { return pos >= s.size(); }
  // Past the blanks, c when it comes next.
  bool take(char c) {
    skipBlanks();
    if (atEnd() || s[pos] != c) return false;
    ++pos;
    return true;
  }
  std::string word() {
    size_t start = pos;
    if (pos < s.size() && isIdentStart(s[pos]))
      while (pos < s.size() && isIdentChar(s[pos])) ++pos;
    return s.substr(start, pos - start);
  }
};

bool refuse(std::string& error, std::string why) {
  error = std::move(why);
  return false;
}
// A fixed text is assigned, not built at the call: the compiler would write a
// long literal into the code in pieces, and the package checker reads those.
bool refuse(std::string& error, const char* why) {
  error = why;
  return false;
}

bool typeWord(Scanner& sc, ValueType& type, const char* what, std::string& error) {
  sc.skipBlanks();
  std::string w = sc.word();
  if (w.empty()) return refuse(error, std::string("expected ") + what + " at position " + std::to_string(sc.pos + 1));
  if (!typeFromName(w, type)) return refuse(error, "unknown type " + excerpt(w));
  return true;
}

}  // namespace

bool parseDefinition(const std::string& text, FunctionSignature& out, std::string& error) {
  Scanner sc(text);
  FunctionSignature sig;
  if (!typeWord(sc, sig.returnType, "a return type", error)) return false;
  if (!sc.atEnd() && !isBlank(sc.s[sc.pos])) return refuse(error, "expected a blank after the return type");
  sc.skipBlanks();
  sig.name = sc.word();
  if (sig.name.empty()) return refuse(error, "expected the function's name at position " + std::to_string(sc.pos + 1));
  if (sc.take('(') && !sc.take(')')) {
    do {
      ValueType t;
      if (!typeWord(sc, t, "a parameter type", error)) return false;
      sig.params.push_back(t);
    } while (sc.take(','));
    if (sc.atEnd()) return refuse(error, "missing ')'");
    if (!sc.take(')')) return refuse(error, std::string("unexpected '") + sc.s[sc.pos] + "' in the parameter list");
  }
  sc.skipBlanks();
  if (!sc.atEnd()) return refuse(error, "unexpected text after the definition: " + excerpt(text.substr(sc.pos)));
  out = sig;
  return true;
}

std::string describeSignature(const FunctionSignature& sig) {
  std::string s = std::string(typeName(sig.returnType)) + " " + sig.name;
  if (sig.params.empty()) return s;
  s += " (";
  for (size_t i = 0; i < sig.params.size(); ++i) {
    if (i) s += ", ";
    s += typeName(sig.params[i]);
  }
  return s + ")";
}

}  // namespace ufhost
