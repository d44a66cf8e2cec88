// ktStr operation sequences: the input is decoded into operations applied both to
// a ktStr and to a std::string model of what each should do. After every
// operation the string must be terminated within its capacity, count its length
// as strlen does, and hold the model's text.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_blocks.h"
#include "ktstr.h"

using fuzzblocks::fail;

namespace {

// Texts from a small alphabet meet each other (and blanks) often; raw bytes
// sometimes, NUL included, which ends a text.
std::string text(FuzzedDataProvider& in) {
  std::string s = in.ConsumeRandomLengthString(300);
  if (in.ConsumeBool())
    for (char& c : s) c = "ab x"[static_cast<unsigned char>(c) % 4];
  return s.substr(0, s.find('\0'));
}

void check(const ktStr& s, const std::string& model, const char* op) {
  const char* d = s.data();
  if (d == nullptr) fail(op, "data() is null");
  const int length = s.length();
  if (length < 0 || static_cast<size_t>(length) != std::strlen(d)) fail(op, "length() differs from strlen");
  if (s.waste() < 0) fail(op, "the text is longer than the capacity");
  if (model != d) {
    std::fprintf(stderr, "ktStr holds '%s', expected '%s'\n", d, model.c_str());
    fail(op, "the text differs from the model");
  }
}

std::string stripModel(std::string m, ktStr::StripType where, char c) {
  if (where != ktStr::trailing) m.erase(0, std::min(m.find_first_not_of(c), m.size()));
  if (where != ktStr::leading) {
    size_t end = m.find_last_not_of(c);
    m.erase(end == std::string::npos ? 0 : end + 1);
  }
  return m;
}

std::string replaceModel(const std::string& m, const std::string& what, const std::string& with, int n) {
  if (what == with || m.find(what) == std::string::npos) return m;
  const int limit = n >= 1 ? n : -1;
  std::string out, rest = m;
  int count = 0;
  size_t at;
  while ((limit < 0 || count < limit) && (at = rest.find(what)) != std::string::npos) {
    ++count;
    out += rest.substr(0, at) + with;
    rest = rest.substr(at + what.size());
  }
  return out + rest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  ktStr s;
  std::string m;
  check(s, m, "constructor");
  if (s.waste() != 64) fail("constructor", "a new string has not capacity 64");
  for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
    // Appending a string to itself doubles it: keep the texts small enough to
    // run fast (truncation is one of the operations anyway).
    if (m.size() > 4096) {
      s.length(64);
      m.resize(64);
      check(s, m, "truncate a long text");
    }
    const char* op = "?";
    switch (in.ConsumeIntegralInRange<int>(0, 22)) {
      case 0: {
        op = "assign text";
        m = text(in);
        s = m.c_str();
        break;
      }
      case 1: {
        op = "append count";
        std::string t = text(in);
        int n = in.ConsumeIntegralInRange<int>(-2, 400);
        s.append(t.c_str(), n);
        if (n > 0) m += t.substr(0, static_cast<size_t>(n));
        break;
      }
      case 2: {
        op = "append char";
        char c = in.ConsumeIntegral<char>();
        s += c;
        if (c != '\0') m += c;
        break;
      }
      case 3: {
        op = "append itself";
        s += s;
        m += m;
        break;
      }
      case 4: {
        op = "append int";
        int v = in.ConsumeIntegral<int>();
        s += v;
        m += std::to_string(v);
        break;
      }
      case 5: {
        op = "assign long";
        long v = in.ConsumeIntegral<long>();
        s = v;
        m = std::to_string(v);
        break;
      }
      case 6: {
        op = "clear";
        s.clear();
        m.clear();
        break;
      }
      case 7: {
        op = "truncate";
        int n = in.ConsumeIntegralInRange<int>(-2, 300);
        s.length(n);
        if (n >= 0 && static_cast<size_t>(n) < m.size()) m.resize(static_cast<size_t>(n));
        break;
      }
      case 8: {
        op = "case";
        if (in.ConsumeBool()) {
          s.toUpper();
          for (char& c : m) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else {
          s.toLower();
          for (char& c : m) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        break;
      }
      case 9: {
        op = "reverse";
        s.reverse();
        m.assign(m.rbegin(), m.rend());
        break;
      }
      case 10: {
        op = "copyFromSub";
        int a = in.ConsumeIntegralInRange<int>(-2, 300), b = in.ConsumeIntegralInRange<int>(-2, 300);
        const int sz = static_cast<int>(m.size());
        const bool valid = a <= b && a >= 0 && b < sz;
        if (s.copyFromSub(a, b) != (valid ? 1 : 0)) fail(op, "wrong answer");
        if (valid) m = m.substr(static_cast<size_t>(a), static_cast<size_t>(b - a + 1));
        break;
      }
      case 11: {
        op = "subString";
        int start = in.ConsumeIntegralInRange<int>(-2, 300), extent = in.ConsumeIntegralInRange<int>(-2, 300);
        ktStr sub = s.subString(start, extent);
        std::string expect;
        if (extent >= 1 && start >= 0 && static_cast<size_t>(start) < m.size())
          expect = m.substr(static_cast<size_t>(start), static_cast<size_t>(extent));
        check(sub, expect, op);
        break;
      }
      case 12: {
        op = "replace";
        std::string what = text(in).substr(0, 4), with = text(in).substr(0, 6);
        int n = in.ConsumeIntegralInRange<int>(-1, 5);
        if (what.empty()) {
          // Unsettled for an empty search text; it must end and leave a sound string.
          s.replace(what.c_str(), with.c_str(), n);
          m = s.data();
        } else {
          s.replace(what.c_str(), with.c_str(), n);
          m = replaceModel(m, what, with, n);
        }
        break;
      }
      case 13: {
        op = "strip";
        auto where = static_cast<ktStr::StripType>(in.ConsumeIntegralInRange<int>(0, 2));
        char c = in.ConsumeBool() ? ' ' : in.ConsumeIntegral<char>();
        if (c == '\0') c = 'a';
        s.strip(where, c);
        m = stripModel(m, where, c);
        break;
      }
      case 14: {
        op = "strip set";
        auto where = static_cast<ktStr::StripType>(in.ConsumeIntegralInRange<int>(0, 2));
        std::string set = text(in).substr(0, 3);
        s.strip(where, set.c_str());
        m = s.data();  // the leading pass's corner is not settled; soundness only
        break;
      }
      case 15: {
        op = "stripStr";
        auto where = static_cast<ktStr::StripType>(in.ConsumeIntegralInRange<int>(0, 2));
        std::string t = text(in).substr(0, 5);
        s.stripStr(where, t.c_str());
        if (!t.empty()) {
          if (where != ktStr::trailing && m.compare(0, t.size(), t) == 0) m.erase(0, t.size());
          if (where != ktStr::leading && m.size() >= t.size() && m.compare(m.size() - t.size(), t.size(), t) == 0)
            m.erase(m.size() - t.size());
        }
        break;
      }
      case 16: {
        op = "queries";
        std::string t = text(in).substr(0, 4);
        const size_t at = m.find(t);
        if (s.contains(t.c_str()) != (at != std::string::npos ? 1 : 0)) fail(op, "contains");
        if (s.position(t.c_str()) != (at == std::string::npos ? -1 : static_cast<int>(at))) fail(op, "position");
        char c = in.ConsumeBool() ? 'a' : in.ConsumeIntegral<char>();
        int n = in.ConsumeIntegralInRange<int>(-1, 6);
        int expectPos = -1, expectR = -1, seen = 0;
        for (size_t i = 0; n >= 1 && c != '\0' && i < m.size(); ++i)
          if (m[i] == c && ++seen == n) { expectPos = static_cast<int>(i); break; }
        seen = 0;
        for (size_t i = m.size(); n >= 1 && c != '\0' && i-- > 0;)
          if (m[i] == c && ++seen == n) { expectR = static_cast<int>(i); break; }
        if (c != '\0' && s.position(c, n) != expectPos) fail(op, "position of a character");
        if (c != '\0' && s.rposition(c, n) != expectR) fail(op, "rposition of a character");
        const int cmp = s.compareTo(t.c_str()), ref = std::strcmp(m.c_str(), t.c_str());
        if ((cmp < 0) != (ref < 0) || (cmp > 0) != (ref > 0)) fail(op, "compareTo");
        break;
      }
      case 17: {
        op = "index";
        int idx = in.ConsumeIntegralInRange<int>(-3, 300);
        char c = in.ConsumeIntegral<char>();
        s[idx] = c;  // outside the text: the shared scratch character, nothing changes
        if (idx >= 0 && static_cast<size_t>(idx) < m.size()) {
          m[static_cast<size_t>(idx)] = c;
          if (c == '\0') m.resize(static_cast<size_t>(idx));
        }
        break;
      }
      case 18: {
        op = "wide text";
        std::vector<ktWChar> w;
        size_t n = in.ConsumeIntegralInRange<size_t>(0, 200);
        for (size_t i = 0; i < n; ++i) w.push_back(static_cast<ktWChar>(in.ConsumeIntegral<uint16_t>()));
        w.push_back(0);
        s = w.data();
        m.clear();
        for (ktWChar u : w) {
          if (u == 0) break;
          m += static_cast<char>(static_cast<unsigned>(u) & 0xFF);
        }
        m = m.substr(0, m.find('\0'));
        break;
      }
      case 19: {
        op = "printf";
        std::string t = text(in).substr(0, 511);
        int rc = s.printf("%s", t.c_str());
        if (rc != static_cast<int>(t.size())) fail(op, "wrong count");
        m = t;
        break;
      }
      case 20: {
        op = "concatenate";
        std::string t = text(in);
        const bool textFirst = in.ConsumeBool();
        ktStr joined = textFirst ? t.c_str() + s : s + t.c_str();
        check(joined, textFirst ? t + m : m + t, op);
        break;
      }
      case 21: {
        op = "double";
        double v = in.ConsumeFloatingPoint<double>();
        s = v;  // any value, never past the working buffer
        m = s.data();
        break;
      }
      default: {
        op = "rebuild";
        int capacity = in.ConsumeIntegralInRange<int>(1, 600);
        s.rebuild(capacity);
        m.clear();
        if (s.waste() != capacity) fail(op, "wrong capacity");
        break;
      }
    }
    check(s, m, op);
  }
  return 0;
}
