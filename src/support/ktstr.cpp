// ktStr: growable narrow string. See ktstr.h.
//
// Every member copes with a missing buffer (_data null after a failed
// allocation): it reads as the empty text and the next growth allocates again.

#include "ktstr.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>

namespace {

constexpr int kStartCapacity = 64;
constexpr int kStartIncrement = 64;
// Capacity plus the terminator byte must still be an int.
constexpr long long kMaxCapacity = INT_MAX - 1;
constexpr int kIntBufSize = 32;
constexpr int kFloatBufSize = 100;
constexpr int kPrintfBufSize = 512;

// Handed out by operator[] for positions outside the text.
char g_scratch = '\0';

int lengthOf(const char* s) {
  if (!s) return 0;
  size_t n = std::strlen(s);
  return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

// Fixed-point text of v with six decimals in a bounded working buffer. Values
// above clamp are formatted as clamp; a negative value whose text would not fit
// gets the mirror of the clamp instead of a cut-off number.
void formatFixed(double v, double clamp, char (&buf)[kFloatBufSize]) {
  if (v > clamp) v = clamp;
  int n = std::snprintf(buf, sizeof buf, "%lf", v);
  if (n < 0 || n >= static_cast<int>(sizeof buf)) std::snprintf(buf, sizeof buf, "%lf", -clamp);
}

// Decimal (or character) text of an integer in the 32-byte working buffer.
struct IntText {
  char buf[kIntBufSize];
  template <class T>
  IntText(const char* format, T v) {
    std::snprintf(buf, sizeof buf, format, v);
  }
};

long long roundUpTo(long long value, long long quantum) {
  return ((value + quantum - 1) / quantum) * quantum;
}

}  // namespace

// ---------------------------------------------------------------------------
// Internal members

void ktStr::_startUp() {
  _data = nullptr;
  _size = kStartCapacity;
  _increment = kStartIncrement;
  _ok = 0;
  _create();
}

int ktStr::_create() {
  _data = nullptr;
  if (_size >= 0 && _size <= kMaxCapacity) _data = new (std::nothrow) char[static_cast<size_t>(_size) + 1]();
  _ok = _data ? 1 : 0;
  // Without a buffer there is no capacity; growth starts afresh.
  if (!_data) _size = 0;
  return _ok;
}

int ktStr::_resize(long long request) {
  if (_data && request <= _size) return 1;
  long long capacity = roundUpTo(std::max(request, 1LL), _increment);
  char* fresh = nullptr;
  if (capacity <= kMaxCapacity) fresh = new (std::nothrow) char[static_cast<size_t>(capacity) + 1]();
  if (!fresh) {
    // The old buffer and its text stay; the caller writes nothing.
    _ok = 0;
    return 0;
  }
  if (_data) std::memcpy(fresh, _data, static_cast<size_t>(_size));
  delete[] _data;
  _data = fresh;
  _size = static_cast<int>(capacity);
  _ok = 1;
  return 1;
}

int ktStr::_ensure(long long need) {
  if (_data && need <= _size) return 1;
  long long request = need;
  if (_data && _size > 0) request = roundUpTo(need, _size);
  return _resize(request);
}

bool ktStr::_inBuffer(const char* p) const {
  if (!_data || !p) return false;
  std::less_equal<const char*> le;
  return le(_data, p) && le(p, _data + _size);
}

// ---------------------------------------------------------------------------
// Construction and assignment

ktStr::ktStr() { _startUp(); }
ktStr::ktStr(const char* s) { _startUp(); copyFrom(s); }
ktStr::ktStr(const ktStr& other) { _startUp(); copyFrom(other); }
ktStr::ktStr(int v) { _startUp(); copyFrom(v); }
ktStr::ktStr(unsigned int v) { _startUp(); copyFrom(v); }
ktStr::ktStr(long v) { _startUp(); copyFrom(v); }
ktStr::ktStr(unsigned long v) { _startUp(); copyFrom(v); }
ktStr::ktStr(unsigned char v) { _startUp(); copyFrom(v); }
ktStr::ktStr(double v) { _startUp(); copyFrom(v); }
ktStr::ktStr(float v) { _startUp(); copyFrom(v); }
ktStr::ktStr(const ktWChar* ws) { _startUp(); copyFrom(ws); }
ktStr::ktStr(ktWChar wc) { _startUp(); copyFrom(wc); }

ktStr::ktStr(char c, int howMany) {
  _startUp();
  if (c == '\0' || howMany < 1) return;
  // The capacities that appending one character at a time would choose, without
  // its quadratic cost; a failed growth keeps the copies that fit, as it would.
  while (_size < howMany && _ensure(static_cast<long long>(_size) + 1)) {
  }
  if (!_data) return;
  int n = std::min(howMany, _size);
  std::memset(_data, c, static_cast<size_t>(n));
  _data[n] = '\0';
}

ktStr::~ktStr() { delete[] _data; }

ktStr& ktStr::operator=(const char* s) { copyFrom(s); return *this; }
ktStr& ktStr::operator=(const ktStr& other) { copyFrom(other); return *this; }
ktStr& ktStr::operator=(char c) { copyFrom(c); return *this; }
ktStr& ktStr::operator=(int v) { copyFrom(v); return *this; }
ktStr& ktStr::operator=(unsigned int v) { copyFrom(v); return *this; }
ktStr& ktStr::operator=(long v) { copyFrom(v); return *this; }
ktStr& ktStr::operator=(unsigned long v) { copyFrom(v); return *this; }
ktStr& ktStr::operator=(unsigned char v) { copyFrom(v); return *this; }
ktStr& ktStr::operator=(double v) { copyFrom(v); return *this; }
ktStr& ktStr::operator=(float v) { copyFrom(v); return *this; }
ktStr& ktStr::operator=(const ktWChar* ws) { copyFrom(ws); return *this; }
ktStr& ktStr::operator=(ktWChar wc) { copyFrom(wc); return *this; }

void ktStr::copyFrom(const char* s) {
  if (!s) {
    clear();
    return;
  }
  if (compareTo(s) == 0) return;
  // A source inside our own buffer survives the growth at the same offset.
  const bool own = _inBuffer(s);
  const ptrdiff_t offset = own ? s - _data : 0;
  const int n = lengthOf(s);
  if (!_ensure(n)) return;
  if (own) s = _data + offset;
  std::memmove(_data, s, static_cast<size_t>(n));
  _data[n] = '\0';
}

void ktStr::copyFrom(const ktStr& other) { copyFrom(other.data()); }

void ktStr::copyFrom(char c) {
  const char text[2] = {c, '\0'};
  copyFrom(text);
}

void ktStr::copyFrom(int v) { copyFrom(IntText("%d", v).buf); }

void ktStr::copyFrom(unsigned int v) { copyFrom(IntText("%u", v).buf); }

void ktStr::copyFrom(long v) { copyFrom(IntText("%ld", v).buf); }

void ktStr::copyFrom(unsigned long v) { copyFrom(IntText("%lu", v).buf); }

void ktStr::copyFrom(unsigned char v) { copyFrom(IntText("%c", v).buf); }

void ktStr::copyFrom(double v) {
  char buf[kFloatBufSize];
  formatFixed(v, 1e20, buf);
  copyFrom(buf);
}

void ktStr::copyFrom(float v) {
  char buf[kFloatBufSize];
  formatFixed(static_cast<double>(v), static_cast<double>(1e20f), buf);
  copyFrom(buf);
}

void ktStr::copyFrom(const ktWChar* ws) {
  if (!ws) {
    clear();
    return;
  }
  const int n = wstrlen_words(ws);
  if (!_ensure(n)) return;
  for (int i = 0; i < n; ++i) _data[i] = static_cast<char>(ws[i] & 0xFF);
  _data[n] = '\0';
}

void ktStr::copyFrom(ktWChar wc) { copyFrom(static_cast<char>(wc & 0xFF)); }

ktStr& ktStr::operator+=(const char* s) { return append(s); }
ktStr& ktStr::operator+=(const ktStr& other) { return append(other); }
ktStr& ktStr::operator+=(char c) { return append(c); }

ktStr& ktStr::operator+=(int v) { return append(IntText("%d", v).buf); }

ktStr& ktStr::operator+=(unsigned int v) { return append(IntText("%u", v).buf); }

ktStr& ktStr::operator+=(long v) { return append(IntText("%ld", v).buf); }

ktStr& ktStr::operator+=(unsigned long v) { return append(IntText("%lu", v).buf); }

ktStr& ktStr::operator+=(unsigned char v) { return append(IntText("%c", v).buf); }

ktStr& ktStr::operator+=(double v) {
  char buf[kFloatBufSize];
  formatFixed(v, 1e20, buf);
  return append(buf);
}

ktStr& ktStr::operator+=(float v) {
  char buf[kFloatBufSize];
  formatFixed(static_cast<double>(v), static_cast<double>(1e20f), buf);
  return append(buf);
}

const char* ktStr::data() const { return _data ? _data : ""; }

// ---------------------------------------------------------------------------
// Queries

int ktStr::length() const { return lengthOf(data()); }

int ktStr::operator!() const { return length() == 0 ? 1 : 0; }

int ktStr::compareTo(const char* s) const { return s ? std::strcmp(data(), s) : 0; }
int ktStr::compareTo(const ktStr& other) const { return compareTo(other.data()); }

int ktStr::operator==(const char* s) const { return compareTo(s) == 0; }
int ktStr::operator!=(const char* s) const { return compareTo(s) != 0; }
int ktStr::operator<(const char* s) const { return compareTo(s) < 0; }
int ktStr::operator<=(const char* s) const { return compareTo(s) <= 0; }
int ktStr::operator>(const char* s) const { return compareTo(s) > 0; }
int ktStr::operator>=(const char* s) const { return compareTo(s) >= 0; }
int ktStr::operator==(const ktStr& other) const { return compareTo(other) == 0; }
int ktStr::operator!=(const ktStr& other) const { return compareTo(other) != 0; }
int ktStr::operator<(const ktStr& other) const { return compareTo(other) < 0; }
int ktStr::operator<=(const ktStr& other) const { return compareTo(other) <= 0; }
int ktStr::operator>(const ktStr& other) const { return compareTo(other) > 0; }
int ktStr::operator>=(const ktStr& other) const { return compareTo(other) >= 0; }

int ktStr::contains(const char* s) const { return s && std::strstr(data(), s) ? 1 : 0; }

int ktStr::contains(char c) const {
  const char text[2] = {c, '\0'};
  return contains(text);
}

int ktStr::contains(const ktStr& other) const { return contains(other.data()); }

int ktStr::position(const char* s) const {
  if (!s) return -1;
  const char* text = data();
  const char* hit = std::strstr(text, s);
  return hit ? static_cast<int>(hit - text) : -1;
}

int ktStr::position(const ktStr& other) const { return position(other.data()); }

int ktStr::position(char c, int n) const {
  if (n < 1) return -1;
  const char* text = data();
  const int len = length();
  for (int i = 0; i < len; ++i) {
    if (text[i] == c && --n == 0) return i;
  }
  return -1;
}

int ktStr::rposition(char c, int n) const {
  if (n < 1) return -1;
  const char* text = data();
  for (int i = length() - 1; i >= 0; --i) {
    if (text[i] == c && --n == 0) return i;
  }
  return -1;
}

int ktStr::first(char c) const { return position(c, 1); }
int ktStr::last(char c) const { return rposition(c, 1); }

char& ktStr::operator[](int idx) {
  if (_validPosition(idx)) return _data[idx];
  // Whatever a caller wrote here last time is gone before anyone reads it.
  g_scratch = '\0';
  return g_scratch;
}

char ktStr::operator[](int idx) const { return _validPosition(idx) ? _data[idx] : '\0'; }

int ktStr::waste() const { return _size - length(); }

int ktStr::isObjectOk() const { return _ok; }

int ktStr::_validPosition(int idx) const { return idx >= 0 && idx < length() ? 1 : 0; }

// ---------------------------------------------------------------------------
// Changes

ktStr& ktStr::append(const char* s, int n) {
  if (!s || n < 1) return *this;
  int count = 0;
  while (count < n && s[count] != '\0') ++count;
  const int len = length();
  // Appending our own text: find it again in the grown buffer.
  const bool own = _inBuffer(s);
  const ptrdiff_t offset = own ? s - _data : 0;
  if (!_ensure(static_cast<long long>(len) + n)) return *this;
  if (own) s = _data + offset;
  std::memmove(_data + len, s, static_cast<size_t>(count));
  _data[len + count] = '\0';
  return *this;
}

ktStr& ktStr::append(const char* s) { return append(s, lengthOf(s)); }

ktStr& ktStr::append(const ktStr& other) { return append(other.data(), other.length()); }

ktStr& ktStr::append(char c) {
  // A NUL appends nothing, so it must not grow the buffer for a character either.
  if (c == '\0') return *this;
  const char text[2] = {c, '\0'};
  return append(text, 1);
}

void ktStr::clear() {
  if (_data) std::memset(_data, 0, static_cast<size_t>(_size));
}

void ktStr::length(int newLength) {
  if (newLength >= 0 && newLength < length()) _data[newLength] = '\0';
}

ktStr& ktStr::toLower() {
  const int len = length();
  for (int i = 0; i < len; ++i) _data[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(_data[i])));
  return *this;
}

ktStr& ktStr::toUpper() {
  const int len = length();
  for (int i = 0; i < len; ++i) _data[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(_data[i])));
  return *this;
}

ktStr& ktStr::reverse() {
  if (_data) std::reverse(_data, _data + length());
  return *this;
}

int ktStr::toLower(int idx) {
  if (!_validPosition(idx)) return 0;
  _data[idx] = static_cast<char>(std::tolower(static_cast<unsigned char>(_data[idx])));
  return 1;
}

int ktStr::toUpper(int idx) {
  if (!_validPosition(idx)) return 0;
  _data[idx] = static_cast<char>(std::toupper(static_cast<unsigned char>(_data[idx])));
  return 1;
}

int ktStr::copyFromSub(int start, int end) {
  if (start > end || !_validPosition(start) || !_validPosition(end)) return 0;
  const int n = end - start + 1;
  std::memmove(_data, _data + start, static_cast<size_t>(n));
  _data[n] = '\0';
  return 1;
}

ktStr ktStr::subString(int start, int extent) const {
  ktStr result;
  if (extent < 1 || !_validPosition(start)) return result;
  // Cut at the end of the text before growing, so a huge extent costs nothing.
  result.append(_data + start, std::min(extent, length() - start));
  return result;
}

void ktStr::replace(const char* what, const char* with, int n) {
  if (!with) with = "";
  // An empty search text would match without end; it replaces nothing.
  if (!what || *what == '\0' || !contains(what) || std::strcmp(with, what) == 0) return;
  const size_t whatLen = std::strlen(what);
  ktStr result;
  const char* rest = data();
  int count = 0;
  // The search always resumes after the replaced occurrence, never in `with`.
  const char* hit = nullptr;
  while ((n < 1 || count < n) && (hit = std::strstr(rest, what)) != nullptr) {
    ++count;
    result.append(rest, static_cast<int>(hit - rest));
    result.append(with);
    rest = hit + whatLen;
  }
  result.append(rest);
  // `what`, `with` and `rest` may point into our buffer; result has its own.
  copyFrom(result);
}

void ktStr::replace(char what, char with, int n) {
  const char whatText[2] = {what, '\0'};
  const char withText[2] = {with, '\0'};
  replace(whatText, withText, n);
}

void ktStr::replace(char what, const char* with, int n) {
  const char whatText[2] = {what, '\0'};
  replace(whatText, with, n);
}

void ktStr::replace(const char* what, char with, int n) {
  const char withText[2] = {with, '\0'};
  replace(what, withText, n);
}

void ktStr::strip(StripType where, char c) {
  const char set[2] = {c, '\0'};
  strip(where, set);
}

void ktStr::strip(StripType where, const char* set) {
  if (!set || *set == '\0' || !_data) return;
  // The set may lie in our own buffer, which the strip changes.
  ktStr ownSet;
  if (_inBuffer(set)) {
    ownSet.copyFrom(set);
    set = ownSet.data();
  }
  auto inSet = [set](char ch) { return ch != '\0' && std::strchr(set, ch) != nullptr; };
  if (where == both || where == leading) {
    const int len = length();
    int front = 0;
    while (front < len && inSet(_data[front])) ++front;
    // A text made only of set characters ends up empty.
    if (front > 0) {
      std::memmove(_data, _data + front, static_cast<size_t>(len - front));
      _data[len - front] = '\0';
    }
  }
  if (where == both || where == trailing) {
    int len = length();
    while (len > 0 && inSet(_data[len - 1])) --len;
    _data[len] = '\0';
  }
}

void ktStr::stripStr(StripType where, const char* s) {
  if (!s || *s == '\0' || !_data) return;
  ktStr ownText;
  if (_inBuffer(s)) {
    ownText.copyFrom(s);
    s = ownText.data();
  }
  const int sLen = lengthOf(s);
  if (where == both || where == leading) {
    const int len = length();
    if (len >= sLen && std::strncmp(_data, s, static_cast<size_t>(sLen)) == 0) {
      std::memmove(_data, _data + sLen, static_cast<size_t>(len - sLen));
      _data[len - sLen] = '\0';
    }
  }
  if (where == both || where == trailing) {
    const int len = length();
    if (len >= sLen && std::strcmp(_data + len - sLen, s) == 0) _data[len - sLen] = '\0';
  }
}

int ktStr::printf(const char* fmt, ...) {
  char buf[kPrintfBufSize];
  // No format is an empty text, as an empty format would give.
  if (!fmt) {
    copyFrom("");
    return 0;
  }
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  if (n < 0) return n;
  assert(n < kPrintfBufSize && "formatted text longer than 511 characters");
  // Without the assertion (NDEBUG) a cut-off text is not kept either.
  if (n >= kPrintfBufSize) return n;
  copyFrom(buf);
  return n;
}

void ktStr::resizeIncrement(int increment) {
  // Increment and capacity divide every later growth; a non-positive one is refused.
  if (increment >= 1) _increment = increment;
}

int ktStr::rebuild(int howMany) {
  delete[] _data;
  _data = nullptr;
  if (howMany >= 1) {
    _size = howMany;
  } else if (_size < 1) {
    _size = kStartCapacity;
  }
  return _create();
}

// ---------------------------------------------------------------------------
// Free functions

ktStr operator+(const ktStr& a, const ktStr& b) {
  ktStr result(a);
  result.append(b);
  return result;
}

ktStr operator+(const ktStr& a, const char* b) {
  ktStr result(a);
  result.append(b);
  return result;
}

ktStr operator+(const char* a, const ktStr& b) {
  ktStr result(a);
  result.append(b);
  return result;
}

int wstrlen_words(const ktWChar* ws) {
  if (!ws) return 0;
  int n = 0;
  while (n < INT_MAX && ws[n] != 0) ++n;
  return n;
}

void wstrToStr(char* dest, const ktWChar* src) {
  if (!dest) return;
  const int n = wstrlen_words(src);
  for (int i = 0; i < n; ++i) dest[i] = static_cast<char>(src[i] & 0xFF);
  dest[n] = '\0';
}
