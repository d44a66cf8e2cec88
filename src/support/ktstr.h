// ktStr: the library's owned, growable, NUL-terminated narrow string. It builds
// SQL statements and holds the texts that come back from the calendar engine as
// wide text. No virtual members, no exceptions; a failed allocation is recorded
// in isObjectOk() and the string then behaves as the empty text until it can
// grow again.
#pragma once

#include <cstdint>

// One 16-bit code unit of wide (OLE) text on every platform, so a BSTR can be
// passed without a cast.
#ifdef _WIN32
typedef wchar_t ktWChar;
#else
typedef char16_t ktWChar;
#endif
static_assert(sizeof(ktWChar) == 2, "wide text is 16-bit code units");

#if defined(__GNUC__)
#define KTSTR_PRINTF_FORMAT(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))
#else
#define KTSTR_PRINTF_FORMAT(fmtIndex, argIndex)
#endif

class ktStr {
 public:
  // Selects the end of the text that strip and stripStr work on.
  enum StripType { both = 0, leading = 1, trailing = 2 };

  // Construction: every constructor starts from the empty string (capacity 64,
  // increment 64) and then copies its argument in.
  ktStr();
  ktStr(const char* s);
  ktStr(const ktStr& other);
  ktStr(int v);
  ktStr(unsigned int v);
  ktStr(long v);
  ktStr(unsigned long v);
  ktStr(unsigned char v);
  ktStr(double v);
  ktStr(float v);
  ktStr(const ktWChar* ws);
  ktStr(ktWChar wc);
  // howMany copies of c; nothing for howMany below 1.
  ktStr(char c, int howMany);
  ~ktStr();

  ktStr& operator=(const char* s);
  ktStr& operator=(const ktStr& other);
  ktStr& operator=(char c);
  ktStr& operator=(int v);
  ktStr& operator=(unsigned int v);
  ktStr& operator=(long v);
  ktStr& operator=(unsigned long v);
  ktStr& operator=(unsigned char v);
  ktStr& operator=(double v);
  ktStr& operator=(float v);
  ktStr& operator=(const ktWChar* ws);
  ktStr& operator=(ktWChar wc);

  // A null text clears the string; a text equal to the current one is not copied.
  void copyFrom(const char* s);
  void copyFrom(const ktStr& other);
  void copyFrom(char c);            // NUL gives the empty text
  void copyFrom(int v);             // "%d"
  void copyFrom(unsigned int v);    // "%u"
  void copyFrom(long v);            // "%ld"
  void copyFrom(unsigned long v);   // "%lu"
  void copyFrom(unsigned char v);   // the byte as a character
  void copyFrom(double v);          // "%lf", values above 1e20 as 1e20
  void copyFrom(float v);           // "%f", values above 1e20 as the float nearest 1e20
  void copyFrom(const ktWChar* ws); // the low byte of each code unit
  void copyFrom(ktWChar wc);

  ktStr& operator+=(const char* s);
  ktStr& operator+=(const ktStr& other);
  ktStr& operator+=(char c);
  ktStr& operator+=(int v);
  ktStr& operator+=(unsigned int v);
  ktStr& operator+=(long v);
  ktStr& operator+=(unsigned long v);
  ktStr& operator+=(unsigned char v);
  ktStr& operator+=(double v);
  ktStr& operator+=(float v);

  // Never null; valid until the string next changes or is destroyed.
  const char* data() const;
  operator const char*() const { return data(); }

  // Queries.
  int length() const;
  int operator!() const;
  int compareTo(const char* s) const;  // 0 for a null s, else strcmp
  int compareTo(const ktStr& other) const;
  int operator==(const char* s) const;
  int operator!=(const char* s) const;
  int operator<(const char* s) const;
  int operator<=(const char* s) const;
  int operator>(const char* s) const;
  int operator>=(const char* s) const;
  int operator==(const ktStr& other) const;
  int operator!=(const ktStr& other) const;
  int operator<(const ktStr& other) const;
  int operator<=(const ktStr& other) const;
  int operator>(const ktStr& other) const;
  int operator>=(const ktStr& other) const;
  int contains(const char* s) const;
  int contains(char c) const;
  int contains(const ktStr& other) const;
  int position(const char* s) const;  // -1 when absent
  int position(const ktStr& other) const;
  int position(char c, int n = 1) const;   // n-th occurrence from the start
  int rposition(char c, int n = 1) const;  // n-th occurrence from the end
  int first(char c) const;
  int last(char c) const;
  // Outside the text: a shared scratch character, set to NUL on every hand-out.
  char& operator[](int idx);
  char operator[](int idx) const;
  int waste() const;
  int isObjectOk() const;
  int _validPosition(int idx) const;

  // Changes.
  ktStr& append(const char* s, int n);
  ktStr& append(const char* s);
  ktStr& append(const ktStr& other);
  ktStr& append(char c);
  void clear();
  void length(int newLength);  // truncates only
  ktStr& toLower();
  ktStr& toUpper();
  ktStr& reverse();
  int toLower(int idx);
  int toUpper(int idx);
  int copyFromSub(int start, int end);
  ktStr subString(int start, int extent) const;
  // n of 1 or more limits the count of replacements; below 1 replaces all.
  void replace(const char* what, const char* with, int n = -1);
  void replace(char what, char with, int n = -1);
  void replace(char what, const char* with, int n = -1);
  void replace(const char* what, char with, int n = -1);
  void strip(StripType where, char c);
  void strip(StripType where, const char* set);
  void stripStr(StripType where, const char* s);
  // At most 511 characters; a longer result fails an assertion and leaves the
  // text unchanged. Returns the formatter's count.
  int printf(const char* fmt, ...) KTSTR_PRINTF_FORMAT(2, 3);
  void resizeIncrement(int increment);
  int rebuild(int howMany);

 private:
  void _startUp();
  int _create();
  int _resize(long long request);
  int _ensure(long long need);
  bool _inBuffer(const char* p) const;

  char* _data;
  int _size;
  int _increment;
  int _ok;
};

ktStr operator+(const ktStr& a, const ktStr& b);
ktStr operator+(const ktStr& a, const char* b);
ktStr operator+(const char* a, const ktStr& b);

// Code units before the terminating 0; 0 for a null text.
int wstrlen_words(const ktWChar* ws);
// The low byte of each code unit, then NUL. dest must hold wstrlen_words(src) + 1
// bytes; a null src gives the empty text, a null dest is left alone.
void wstrToStr(char* dest, const ktWChar* src);
