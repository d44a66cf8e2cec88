// ktStr: conversions, comparison, searching, replacing, stripping, substrings,
// growth, wide text, printf and the safety of every member on bad input.

#include "ktstr.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

int capacityOf(const ktStr& s) { return s.waste() + s.length(); }

// The platform's own fixed-point formatting, with room for any double.
std::string fixedText(double v) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%f", v);
  return buf;
}

TEST(KtStrConstruction, NewStringIsEmptyWithCapacity64) {
  ktStr s;
  EXPECT_STREQ(s.data(), "");
  EXPECT_EQ(s.length(), 0);
  EXPECT_EQ(s.waste(), 64);
  EXPECT_EQ(!s, 1);
  EXPECT_EQ(s.isObjectOk(), 1);
  EXPECT_EQ(!ktStr("a"), 0);
}

TEST(KtStrConstruction, Conversions) {
  const struct {
    ktStr value;
    std::string expected;
  } cases[] = {
      {ktStr(-5), "-5"},
      {ktStr(INT_MIN), "-2147483648"},
      {ktStr(4294967295u), "4294967295"},
      {ktStr(-1234567L), "-1234567"},
      {ktStr(98765UL), "98765"},
      {ktStr(static_cast<unsigned char>(65)), "A"},
      {ktStr(static_cast<unsigned char>(0)), ""},
      {ktStr(2.5), "2.500000"},
      {ktStr(1e25), "100000000000000000000.000000"},
      {ktStr(1e20), "100000000000000000000.000000"},
      {ktStr(HUGE_VAL), "100000000000000000000.000000"},
      {ktStr(-2.5), "-2.500000"},
      {ktStr(-1e25), fixedText(-1e25)},
      {ktStr(-HUGE_VAL), fixedText(-HUGE_VAL)},
      {ktStr(NAN), fixedText(NAN)},
      {ktStr(2.5f), "2.500000"},
      {ktStr(1e25f), "100000002004087734272.000000"},
      {ktStr(-FLT_MAX), fixedText(-static_cast<double>(FLT_MAX))},
      {ktStr("text"), "text"},
      {ktStr(static_cast<const char*>(nullptr)), ""},
      {ktStr('x', 3), "xxx"},
      {ktStr('x', 0), ""},
      {ktStr('x', -2), ""},
      {ktStr('\0', 5), ""},
      {ktStr(u"ab"), "ab"},
      {ktStr(static_cast<const ktWChar*>(nullptr)), ""},
      {ktStr(static_cast<ktWChar>(0x263A)), ":"},
  };
  for (const auto& c : cases) EXPECT_EQ(std::string(c.value.data()), c.expected);
}

TEST(KtStrConstruction, NegativeDoublesTooLongForTheWorkingBufferAreClamped) {
  // Their full text (over 300 digits) cannot fit 100 bytes; the mirror of the
  // positive clamp is used instead of a cut-off number.
  for (double v : {-1e300, -DBL_MAX, -1e91}) {
    ktStr s(v);
    EXPECT_STREQ(s.data(), "-100000000000000000000.000000") << v;
    ktStr t("x");
    t += v;
    EXPECT_STREQ(t.data(), "x-100000000000000000000.000000") << v;
  }
  // The longest negative text that still fits is kept in full.
  EXPECT_EQ(std::string(ktStr(-1e90).data()), fixedText(-1e90));
}

TEST(KtStrConstruction, AssignmentAndAppendOfEveryType) {
  ktStr s;
  s = 'Q';
  EXPECT_STREQ(s, "Q");
  s = '\0';
  EXPECT_STREQ(s, "");
  s = u"wide";
  EXPECT_STREQ(s, "wide");
  s = static_cast<ktWChar>(u'Z' + 0x100);
  EXPECT_STREQ(s, "Z");
  s = "n=";
  s += 5;
  s += ',';
  s += 7u;
  s += -8L;
  s += 9UL;
  s += static_cast<unsigned char>(66);
  s += '\0';
  s += 0.5;
  s += 1e30f;
  EXPECT_STREQ(s, "n=5,7-89B0.500000100000002004087734272.000000");
  s = 12;
  EXPECT_STREQ(s, "12");
  s = static_cast<const char*>(nullptr);
  EXPECT_STREQ(s, "");
}

TEST(KtStrConstruction, CopiesAreDeepAndConcatenationBuildsNewStrings) {
  ktStr a("left");
  ktStr b(a);
  b.toUpper();
  EXPECT_STREQ(a, "left");
  EXPECT_STREQ(b, "LEFT");
  const ktStr& itself = a;  // through a reference, as self-assignment usually comes
  a = itself;
  EXPECT_STREQ(a, "left");
  EXPECT_STREQ(a + b, "leftLEFT");
  EXPECT_STREQ(a + "-x", "left-x");
  EXPECT_STREQ("x-" + b, "x-LEFT");
  EXPECT_STREQ(static_cast<const char*>(nullptr) + b, "LEFT");
  EXPECT_STREQ(a + static_cast<const char*>(nullptr), "left");
  EXPECT_STREQ(a, "left");
}

TEST(KtStrComparison, RelationsFollowStrcmp) {
  const struct {
    const char* left;
    const char* right;
    int sign;
  } cases[] = {
      {"abc", "abc", 0}, {"abc", "abd", -1}, {"abd", "abc", 1}, {"", "a", -1},
      {"ab", "abc", -1}, {"B", "a", -1},     {"\xe9", "z", 1},  {"", "", 0},
  };
  for (const auto& c : cases) {
    const ktStr l(c.left);
    const ktStr r(c.right);
    const int got = l.compareTo(c.right);
    EXPECT_EQ((got > 0) - (got < 0), c.sign) << c.left << " vs " << c.right;
    EXPECT_EQ(l == c.right, c.sign == 0);
    EXPECT_EQ(l != r, c.sign != 0);
    EXPECT_EQ(l < r, c.sign < 0);
    EXPECT_EQ(l <= c.right, c.sign <= 0);
    EXPECT_EQ(l > c.right, c.sign > 0);
    EXPECT_EQ(l >= r, c.sign >= 0);
  }
}

TEST(KtStrComparison, NullTextComparesEqualToEveryString) {
  const ktStr s("anything");
  const char* none = nullptr;
  EXPECT_EQ(s.compareTo(none), 0);
  EXPECT_EQ(s == none, 1);
  EXPECT_EQ(s != none, 0);
  EXPECT_EQ(s < none, 0);
  EXPECT_EQ(s >= none, 1);
}

TEST(KtStrSearching, PositionsInBanana) {
  const ktStr s("banana");
  EXPECT_EQ(s.position('a', 2), 3);
  EXPECT_EQ(s.rposition('a', 2), 3);
  EXPECT_EQ(s.first('a'), 1);
  EXPECT_EQ(s.last('a'), 5);
  EXPECT_EQ(s.position('x'), -1);
  EXPECT_EQ(s.position('a', 3), 5);
  EXPECT_EQ(s.position('a', 4), -1);
  EXPECT_EQ(s.position('a', 0), -1);
  EXPECT_EQ(s.rposition('a', -1), -1);
  EXPECT_EQ(s.rposition('b', 1), 0);
  EXPECT_EQ(s.position('\0'), -1);
  EXPECT_EQ(s.position("nan"), 2);
  EXPECT_EQ(s.position(ktStr("ana")), 1);
  EXPECT_EQ(s.position("nab"), -1);
  EXPECT_EQ(s.position(static_cast<const char*>(nullptr)), -1);
}

TEST(KtStrSearching, Contains) {
  const ktStr s("banana");
  EXPECT_EQ(s.contains("nan"), 1);
  EXPECT_EQ(s.contains("nab"), 0);
  EXPECT_EQ(s.contains('b'), 1);
  EXPECT_EQ(s.contains('z'), 0);
  EXPECT_EQ(s.contains(ktStr("ana")), 1);
  EXPECT_EQ(s.contains(static_cast<const char*>(nullptr)), 0);
  for (const char* text : {"", "x", "banana"}) {
    EXPECT_EQ(ktStr(text).contains(""), 1) << text;
    EXPECT_EQ(ktStr(text).contains('\0'), 1) << text;
  }
}

TEST(KtStrReplacement, Table) {
  const struct {
    const char* text;
    const char* what;
    const char* with;
    int n;
    const char* expected;
  } cases[] = {
      {"banana", "a", "o", -1, "bonono"},
      {"banana", "a", "o", 0, "bonono"},
      {"banana", "a", "o", -7, "bonono"},
      {"banana", "a", "o", 2, "bonona"},
      {"banana", "a", "o", 1, "bonana"},
      {"banana", "a", "o", 9, "bonono"},
      {"aaa", "aa", "x", -1, "xa"},
      {"aXa", "a", "aa", -1, "aaXaa"},     // never searched inside inserted text
      {"abc", "b", "bbb", 0, "abbbc"},
      {"banana", "a", nullptr, -1, "bnn"},  // a null replacement deletes
      {"banana", "an", "", 1, "bana"},
      {"banana", "x", "y", -1, "banana"},
      {"banana", "a", "a", -1, "banana"},
      {"banana", nullptr, "y", -1, "banana"},
      {"banana", "", "y", -1, "banana"},   // an empty search text replaces nothing
      {"", "", "y", 0, ""},
      {"select * from T where id=:id", ":id", "42", -1, "select * from T where id=42"},
  };
  for (const auto& c : cases) {
    ktStr s(c.text);
    s.replace(c.what, c.with, c.n);
    EXPECT_STREQ(s, c.expected) << c.text << " / " << (c.what ? c.what : "(null)") << " n=" << c.n;
  }
}

TEST(KtStrReplacement, CharacterOverloadsAndOwnText) {
  ktStr s("banana");
  s.replace('a', 'o');
  EXPECT_STREQ(s, "bonono");
  s.replace('o', "aa", 2);
  EXPECT_STREQ(s, "baanaano");
  s.replace("aa", 'e');
  EXPECT_STREQ(s, "beneno");
  // Search text taken from the string itself, replacement growing past 64.
  ktStr t("abab");
  t.replace(t.data() + 2, std::string(70, 'z').c_str());
  EXPECT_EQ(std::string(t.data()), std::string(140, 'z'));
}

TEST(KtStrStripping, Table) {
  const struct {
    ktStr::StripType where;
    const char* text;
    const char* set;  // one character: the char overload as well
    const char* expected;
  } cases[] = {
      {ktStr::both, "  ab  ", " ", "ab"},
      {ktStr::leading, "  ab  ", " ", "ab  "},
      {ktStr::trailing, "  ab  ", " ", "  ab"},
      {ktStr::both, "    ", " ", ""},
      {ktStr::leading, "    ", " ", ""},
      {ktStr::trailing, "abyx", "xy", "ab"},
      {ktStr::leading, "xyxab", "xy", "ab"},
      {ktStr::both, "xaby", "xy", "ab"},
      {ktStr::leading, "xyyx", "xy", ""},  // only set characters: emptied
      {ktStr::both, "yxyx", "xy", ""},
      {ktStr::both, "ab", "", "ab"},
      {ktStr::both, "", "xy", ""},
  };
  for (const auto& c : cases) {
    ktStr s(c.text);
    s.strip(c.where, c.set);
    EXPECT_STREQ(s, c.expected) << c.text << " set " << c.set << " where " << c.where;
    if (std::strlen(c.set) == 1) {
      ktStr t(c.text);
      t.strip(c.where, c.set[0]);
      EXPECT_STREQ(t, c.expected) << c.text << " char " << c.set;
    }
  }
  ktStr s("xaby");
  s.strip(ktStr::both, static_cast<const char*>(nullptr));
  EXPECT_STREQ(s, "xaby");
  s.strip(ktStr::both, s.data() + 3);  // the set 'y' lies in the string itself
  EXPECT_STREQ(s, "xab");
}

TEST(KtStrStripping, StripStr) {
  const struct {
    ktStr::StripType where;
    const char* text;
    const char* s;
    const char* expected;
  } cases[] = {
      {ktStr::leading, "ababc", "ab", "abc"},
      {ktStr::trailing, "abcbc", "bc", "abc"},
      {ktStr::both, "abxab", "ab", "x"},
      {ktStr::both, "ab", "ab", ""},
      {ktStr::trailing, "a", "ab", "a"},
      {ktStr::leading, "a", "ab", "a"},
      {ktStr::leading, "xab", "ab", "xab"},
      {ktStr::trailing, "abx", "ab", "abx"},
      {ktStr::both, "abc", "", "abc"},
      {ktStr::both, "abc", nullptr, "abc"},
  };
  for (const auto& c : cases) {
    ktStr s(c.text);
    s.stripStr(c.where, c.s);
    EXPECT_STREQ(s, c.expected) << c.text << " / " << (c.s ? c.s : "(null)");
  }
}

TEST(KtStrSubstrings, SubString) {
  const struct {
    int start;
    int extent;
    const char* expected;
  } cases[] = {
      {2, 10, "cdef"}, {6, 1, ""}, {0, 0, ""}, {0, 6, "abcdef"}, {1, 2, "bc"},
      {5, 1, "f"},     {-1, 3, ""}, {2, -4, ""}, {0, INT_MAX, "abcdef"},
  };
  const ktStr s("abcdef");
  for (const auto& c : cases) {
    ktStr sub = s.subString(c.start, c.extent);
    EXPECT_STREQ(sub, c.expected) << c.start << "," << c.extent;
    EXPECT_EQ(sub.isObjectOk(), 1);
  }
  EXPECT_STREQ(s, "abcdef");
}

TEST(KtStrSubstrings, CopyFromSubAndTruncate) {
  const struct {
    int start;
    int end;
    int result;
    const char* expected;
  } subs[] = {
      {1, 3, 1, "bcd"}, {0, 5, 1, "abcdef"}, {4, 4, 1, "e"}, {3, 1, 0, "abcdef"},
      {-1, 2, 0, "abcdef"}, {2, 6, 0, "abcdef"},
  };
  for (const auto& c : subs) {
    ktStr s("abcdef");
    EXPECT_EQ(s.copyFromSub(c.start, c.end), c.result);
    EXPECT_STREQ(s, c.expected) << c.start << ".." << c.end;
  }
  const struct {
    int newLength;
    const char* expected;
  } cuts[] = {{2, "ab"}, {0, ""}, {6, "abcdef"}, {10, "abcdef"}, {-1, "abcdef"}};
  for (const auto& c : cuts) {
    ktStr s("abcdef");
    s.length(c.newLength);
    EXPECT_STREQ(s, c.expected) << c.newLength;
  }
}

TEST(KtStrSubstrings, CaseAndOrder) {
  ktStr s("Hello, World");
  EXPECT_STREQ(s.toUpper(), "HELLO, WORLD");
  EXPECT_STREQ(s.toLower(), "hello, world");
  EXPECT_STREQ(s.reverse(), "dlrow ,olleh");
  EXPECT_EQ(s.toUpper(0), 1);
  EXPECT_EQ(s.toUpper(12), 0);
  EXPECT_EQ(s.toLower(-1), 0);
  EXPECT_STREQ(s, "Dlrow ,olleh");
  EXPECT_EQ(s.toLower(0), 1);
  EXPECT_STREQ(s, "dlrow ,olleh");
  ktStr high("\xC9t\xE9");  // bytes above 127 pass through the C locale unchanged
  EXPECT_STREQ(high.toUpper(), "\xC9T\xE9");
}

TEST(KtStrGrowth, WorkedExamples) {
  ktStr s;
  s = std::string(100, 'a').c_str();
  EXPECT_EQ(capacityOf(s), 128);
  s = std::string(300, 'b').c_str();
  EXPECT_EQ(capacityOf(s), 384);
  EXPECT_EQ(s.length(), 300);

  ktStr t;
  t = std::string(64, 'c').c_str();
  EXPECT_EQ(capacityOf(t), 64);

  ktStr u;
  u.resizeIncrement(100);
  u = std::string(65, 'd').c_str();
  EXPECT_EQ(capacityOf(u), 200);

  ktStr v("abc");
  v.append(std::string(62, 'e').c_str());  // 65 characters: doubled to 128
  EXPECT_EQ(capacityOf(v), 128);
  // Repeated single characters double the capacity as appending would.
  EXPECT_EQ(capacityOf(ktStr('x', 200)), 256);
  EXPECT_EQ(ktStr('x', 200).length(), 200);
}

TEST(KtStrGrowth, AppendLimitsAndOwnText) {
  ktStr s("ab");
  s.append("cdef", 2);
  s.append("g", 5);
  s.append("zz", 0);
  s.append(static_cast<const char*>(nullptr), 3);
  s.append('\0');
  EXPECT_STREQ(s, "abcdg");

  // The growth is for length + n, whatever the text gives: 64 + 5 asks for 128.
  ktStr full(std::string(64, 'f').c_str());
  ASSERT_EQ(full.waste(), 0);
  full.append("", 5);
  EXPECT_EQ(full.waste(), 64);
  EXPECT_EQ(full.length(), 64);

  ktStr self(std::string(40, 'q').c_str());
  self += self;  // 80 characters: must grow while reading itself
  EXPECT_EQ(std::string(self.data()), std::string(80, 'q'));
  self.append(self);
  EXPECT_EQ(self.length(), 160);
  ktStr part("0123456789");
  part.append(part.data() + 4, 3);
  EXPECT_STREQ(part, "0123456789456");

  ktStr own("hello world");
  own = own.data() + 6;  // copy from inside its own buffer
  EXPECT_STREQ(own, "world");
}

// A NUL character appends nothing, so a full string keeps its buffer.
TEST(KtStrGrowth, AppendingANulNeverGrows) {
  const struct {
    const char* name;
    void (*append)(ktStr&);
  } ways[] = {
      {"append(char)", [](ktStr& s) { s.append('\0'); }},
      {"+= char", [](ktStr& s) { s += '\0'; }},
      {"+= unsigned char", [](ktStr& s) { s += static_cast<unsigned char>(0); }},
  };
  for (const auto& w : ways) {
    ktStr full(std::string(64, 'f').c_str());
    ASSERT_EQ(capacityOf(full), 64) << w.name;
    const char* before = full.data();
    w.append(full);
    EXPECT_EQ(capacityOf(full), 64) << w.name;
    EXPECT_EQ(full.data(), before) << w.name;  // not even reallocated at the same size
    EXPECT_EQ(full.length(), 64) << w.name;
    // An ordinary character still grows it.
    full.append('g');
    EXPECT_EQ(capacityOf(full), 128) << w.name;
    EXPECT_EQ(full.length(), 65) << w.name;
  }
}

TEST(KtStrGrowth, NonPositiveIncrementAndCapacityAreRefused) {
  ktStr s;
  s.resizeIncrement(100);
  s.resizeIncrement(0);
  s.resizeIncrement(-3);
  s = std::string(65, 'x').c_str();
  EXPECT_EQ(capacityOf(s), 200);

  EXPECT_EQ(s.rebuild(30), 1);
  EXPECT_STREQ(s, "");
  EXPECT_EQ(s.waste(), 30);
  EXPECT_EQ(s.rebuild(0), 1);
  EXPECT_EQ(s.waste(), 30);
  EXPECT_EQ(s.rebuild(-1), 1);
  EXPECT_EQ(s.waste(), 30);
  s = std::string(31, 'y').c_str();  // request 60, rounded to the increment 100
  EXPECT_EQ(capacityOf(s), 100);
}

TEST(KtStrGrowth, ImpossibleGrowthFailsWithoutChangingTheText) {
  ktStr s("keep");
  s.append("x", INT_MAX);
  EXPECT_EQ(s.isObjectOk(), 0);
  EXPECT_STREQ(s, "keep");
  s += "!";  // fits without allocating
  EXPECT_STREQ(s, "keep!");
  s = std::string(70, 'z').c_str();  // a real allocation succeeds again
  EXPECT_EQ(s.isObjectOk(), 1);
  EXPECT_EQ(s.length(), 70);
}

TEST(KtStrGrowth, EveryMemberIsSafeWithoutABuffer) {
  const std::function<void(ktStr&)> ops[] = {
      [](ktStr& s) { s.clear(); },
      [](ktStr& s) { s.length(0); },
      [](ktStr& s) { s.toUpper(); s.toLower(); s.reverse(); },
      [](ktStr& s) { EXPECT_EQ(s.toUpper(0), 0); },
      [](ktStr& s) { EXPECT_EQ(s.copyFromSub(0, 0), 0); },
      [](ktStr& s) { EXPECT_STREQ(s.subString(0, 3), ""); },
      [](ktStr& s) { s.replace("a", "b"); s.replace("", "b"); },
      [](ktStr& s) { s.strip(ktStr::both, "ab"); s.stripStr(ktStr::both, "ab"); },
      [](ktStr& s) { s[0] = 'x'; EXPECT_EQ(s[0], '\0'); },
      [](ktStr& s) { EXPECT_EQ(s.position('a'), -1); EXPECT_EQ(s.rposition('a'), -1); },
      [](ktStr& s) { EXPECT_EQ(s.contains(""), 1); EXPECT_EQ(s.position("a"), -1); },
      [](ktStr& s) { EXPECT_EQ(s == "", 1); EXPECT_EQ(!s, 1); },
      [](ktStr& s) { s = ""; },
      [](ktStr& s) { ktStr copy(s); EXPECT_STREQ(copy, ""); EXPECT_EQ(copy.isObjectOk(), 1); },
  };
  for (const auto& op : ops) {
    ktStr s("abc");
    ASSERT_EQ(s.rebuild(INT_MAX), 0);  // no buffer of that size is ever attempted
    ASSERT_EQ(s.isObjectOk(), 0);
    ASSERT_NE(s.data(), nullptr);
    op(s);
    EXPECT_STREQ(s, "");
    EXPECT_EQ(s.length(), 0);
    EXPECT_EQ(s.waste(), 0);
  }
  // Growing allocates again.
  const std::function<void(ktStr&)> growers[] = {
      [](ktStr& s) { s += "abc"; },
      [](ktStr& s) { s = "abc"; },
      [](ktStr& s) { s = u"abc"; },
      [](ktStr& s) { EXPECT_EQ(s.printf("%s", "abc"), 3); },
      [](ktStr& s) { s = s + "abc"; },
      [](ktStr& s) { EXPECT_EQ(s.rebuild(0), 1); s += "abc"; },
  };
  for (const auto& grow : growers) {
    ktStr s;
    ASSERT_EQ(s.rebuild(INT_MAX), 0);
    grow(s);
    EXPECT_STREQ(s, "abc");
    EXPECT_EQ(s.isObjectOk(), 1);
    EXPECT_EQ(capacityOf(s), 64);
  }
}

TEST(KtStrIndex, OutOfRangeWritesAreNeverVisible) {
  ktStr s("abc");
  ktStr other("xyz");
  s[1] = 'B';
  EXPECT_STREQ(s, "aBc");
  for (int idx : {3, -1, 64, 1000, INT_MIN}) {
    s[idx] = 'Q';
    EXPECT_EQ(s[idx], '\0') << idx;
    EXPECT_EQ(other[idx], '\0') << idx;
  }
  EXPECT_STREQ(s, "aBc");
  EXPECT_EQ(s.length(), 3);
  EXPECT_STREQ(other, "xyz");
  const ktStr& cs = s;
  EXPECT_EQ(cs[2], 'c');
  EXPECT_EQ(cs[3], '\0');
  EXPECT_EQ(cs._validPosition(2), 1);
  EXPECT_EQ(cs._validPosition(3), 0);
}

TEST(KtStrWide, Conversions) {
  const ktWChar text[] = {u'a', u'b', static_cast<ktWChar>(0x141), static_cast<ktWChar>(0xFF20), 0};
  EXPECT_EQ(wstrlen_words(text), 4);
  EXPECT_EQ(wstrlen_words(u""), 0);
  EXPECT_EQ(wstrlen_words(nullptr), 0);

  char out[8];
  std::memset(out, '#', sizeof out);
  wstrToStr(out, text);
  EXPECT_STREQ(out, "abA ");
  EXPECT_EQ(out[5], '#');  // nothing written past the terminator
  wstrToStr(out, nullptr);
  EXPECT_STREQ(out, "");
  wstrToStr(nullptr, text);

  ktStr s(text);
  EXPECT_STREQ(s, "abA ");
  s = static_cast<const ktWChar*>(nullptr);
  EXPECT_STREQ(s, "");
  std::u16string longText(150, u'w');
  s = longText.c_str();
  EXPECT_EQ(std::string(s.data()), std::string(150, 'w'));
  EXPECT_EQ(capacityOf(s), 192);
}

TEST(KtStrPrintf, FormatsIntoTheText) {
  ktStr s("old");
  EXPECT_EQ(s.printf("%d-%s-%05.1f", 7, "x", 2.5), 9);
  EXPECT_STREQ(s, "7-x-002.5");
  EXPECT_EQ(s.printf("<%s>", s.data()), 11);  // argument read from the string itself
  EXPECT_STREQ(s, "<7-x-002.5>");
  EXPECT_EQ(s.printf(nullptr), 0);
  EXPECT_STREQ(s, "");
}

TEST(KtStrPrintf, LongestAcceptedTextIs511Characters) {
  const std::string fits(511, 'p');
  ktStr s;
  EXPECT_EQ(s.printf("%s", fits.c_str()), 511);
  EXPECT_EQ(std::string(s.data()), fits);

  const std::string tooLong(512, 'q');
  ktStr t("before");
  EXPECT_DEBUG_DEATH(t.printf("%s", tooLong.c_str()), "511");
  EXPECT_STREQ(t, "before");
}

TEST(KtStrPrintf, FormattingErrorLeavesTheTextUnchanged) {
  // In the C locale a wide character outside ASCII cannot be converted.
  ktStr s("same");
  EXPECT_LT(s.printf("%ls", L"\x263A"), 0);
  EXPECT_STREQ(s, "same");
}

}  // namespace
