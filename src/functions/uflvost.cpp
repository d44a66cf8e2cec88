// Number formatting (ZelNum, ZelToText, reportZelRound) and header line
// splitting (ZelSplitHdr).
#include "uflvost.h"

#include <algorithm>
#include <charconv>
#include <cassert>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform.h"
#include "ufmain.h"

int32_t roundFlag = 0;

namespace {

// The host sizes our number results at kNumberTextSize bytes: 19 characters and the NUL.
constexpr size_t kMaxNumberChars = kNumberTextSize - 1;
const char kTooLarge[] = "*******************";
static_assert(sizeof kTooLarge == kNumberTextSize, "the asterisks fill the result buffer exactly");

// Widest field we ever format. Positive widths are capped here by the rules; a
// negative (left-aligned) width is capped at the mirror value. Any field wider
// than the result loses its extra padding anyway, so the cap never changes a result.
constexpr int kFieldCap = 254;
// Most decimals we ever format: 18 or more already make a number wider than the result,
// so every precision from there on ends in the asterisks just the same.
constexpr int kPrecisionCap = 254;

// Longest line ZelSplitHdr builds: the host's default string buffer holds 255 bytes.
constexpr int32_t kMaxLineLength = 254;

// Truncates toward zero into [lo, hi]. NaN counts as 0; out-of-range values,
// infinities included, take the nearer bound instead of undefined behaviour.
int truncClamp(double v, int lo, int hi) {
  if (std::isnan(v)) return 0;
  if (v <= lo) return lo;
  if (v >= hi) return hi;
  return static_cast<int>(v);
}

// The decimal number at p (digits with an optional point and exponent, no sign), as
// strtod reads it in the "C" locale: the point is '.' whatever locale the host has
// set for the process. A number beyond the range of a double is infinite, one too
// small for it is zero, as strtod gives them.
double readUnsignedDecimal(const char* p) {
  const char* const end = p + std::strlen(p);
  double value = 0.0;
  const std::from_chars_result r = std::from_chars(p, end, value, std::chars_format::general);
  if (r.ec != std::errc::result_out_of_range) return value;
  // Out of range: only whether the number lies far above or far below 1 matters.
  const char* q = p;
  while (q < r.ptr && *q == '0') ++q;
  const char* const digits = q;
  while (q < r.ptr && std::isdigit(static_cast<unsigned char>(*q))) ++q;
  long long magnitude;
  if (q > digits) {
    magnitude = (q - digits) - 1;
  } else {
    if (q < r.ptr && *q == '.') ++q;
    const char* const zeros = q;
    while (q < r.ptr && *q == '0') ++q;
    magnitude = -((q - zeros) + 1);
  }
  const char* e = p;
  while (e < r.ptr && *e != 'e' && *e != 'E') ++e;
  if (e < r.ptr) {
    ++e;
    const bool negativeExponent = *e == '-';
    if (*e == '+' || *e == '-') ++e;
    long long exponent = 0;
    // Saturates far beyond any double's exponent; the sign of the sum is all we need.
    for (; e < r.ptr && std::isdigit(static_cast<unsigned char>(*e)); ++e)
      if (exponent < 100000000) exponent = exponent * 10 + (*e - '0');
    magnitude += negativeExponent ? -exponent : exponent;
  }
  return magnitude > 0 ? HUGE_VAL : 0.0;
}

// The number at the start of text, as strtod reads a decimal number: blanks, sign,
// digits with an optional point and exponent. Text without such a number gives 0.0.
// The C library also reads hexadecimal, "inf" and "nan"; those are not numbers here.
double readNumber(const char* text) {
  if (!text) return 0.0;
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  const bool digitFirst = std::isdigit(static_cast<unsigned char>(p[0])) != 0;
  const bool pointFirst = p[0] == '.' && std::isdigit(static_cast<unsigned char>(p[1]));
  if (!digitFirst && !pointFirst) return 0.0;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return negative ? -0.0 : 0.0;  // reading stops at the x
  const double value = readUnsignedDecimal(p);
  return negative ? -value : value;
}

// Writes text into the host's result buffer within its kNumberTextSize bytes. A
// text too long loses padding blanks first (the leading ones of a right-aligned
// field, the trailing ones of a left-aligned one); when the number itself is
// longer, the result is the asterisks, never a cut-off number.
void putNumberText(char* out, const char* text) {
  size_t n = std::strlen(text);
  const char* begin = text;
  while (n > kMaxNumberChars && *begin == ' ') {
    ++begin;
    --n;
  }
  while (n > kMaxNumberChars && begin[n - 1] == ' ') --n;
  if (n > kMaxNumberChars) {
    begin = kTooLarge;
    n = kMaxNumberChars;
  }
  std::memcpy(out, begin, n);
  out[n] = '\0';
}

// Arithmetic as on every platform for the length of a call: the host may run with
// another rounding mode or precision, or with floating-point traps on; reading the
// text, scaling the host's number and the column test must not depend on it.
class DoubleArithmetic {
 public:
  DoubleArithmetic() : saved_(enterDoubleArithmetic()) {}
  ~DoubleArithmetic() { leaveDoubleArithmetic(saved_); }
  DoubleArithmetic(const DoubleArithmetic&) = delete;
  DoubleArithmetic& operator=(const DoubleArithmetic&) = delete;

 private:
  ArithmeticState saved_;
};

// True when value lies exactly halfway between two numbers of `decimals` decimals.
// value = m * 2^e with m odd; value * 10^d = m * 5^d * 2^(e + d), and m * 5^d is odd,
// so the fraction is exactly one half when e + d = -1 and never otherwise.
bool isDecimalTie(double value, int decimals) {
  uint64_t bits;
  static_assert(sizeof bits == sizeof value, "IEEE double");
  std::memcpy(&bits, &value, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  int e = -1074;  // subnormal
  if (biased != 0) {
    m |= uint64_t{1} << 52;
    e = biased - 1075;
  }
  // Dropping trailing zero bits only raises e: a value already at or above the half's
  // place (every whole number among them) is no tie.
  if (m == 0 || e > -(decimals + 1)) return false;
  while ((m & 1) == 0) {
    m >>= 1;
    ++e;
  }
  return e == -(decimals + 1);
}

// Adds one unit in the last place to the digits of a fixed-point text (sign and
// point allowed), carrying to the left; may grow by one digit. Returns the new end.
char* incrementDigits(char* begin, char* end) {
  char* p = end;
  while (p != begin) {
    --p;
    if (*p == '.') continue;
    if (*p == '-') {
      ++p;
      break;
    }
    if (*p != '9') {
      ++*p;
      return end;
    }
    *p = '0';
  }
  // Every digit was a 9: a 1 goes in front of them.
  std::memmove(p + 1, p, static_cast<size_t>(end - p));
  *p = '1';
  return end + 1;
}

UFError zelNum(UFParamBlock* ParamBlock) {
  UFParamListElement* widthArg = GetParam(ParamBlock, 1, UFNumber);
  UFParamListElement* precisionArg = GetParam(ParamBlock, 2, UFNumber);
  UFParamListElement* textArg = GetParam(ParamBlock, 3, UFStringArg);
  if (!widthArg || !precisionArg || !textArg) return UFNotEnoughParameters;
  char* out = ParamBlock->ReturnValue.ReturnString;
  if (!out) return UFNoMemory;  // the host gave no buffer to write into

  // Read at every call: the switch may change between calls.
  const int16_t rounded = static_cast<int16_t>(static_cast<uint16_t>(roundFlag & 0xFFFF));

  double width = widthArg->Parameter.ParamNumber * 0.01;
  const double percision = precisionArg->Parameter.ParamNumber * 0.01;
  if (width > 254.0) width = 254.0;

  // The field and the decimals of the format text ('%12.0lf', '%-8.2lf'), from the
  // truncated values. The caps keep the field bounded without changing a result.
  int field;
  int decimals = 0;
  if (rounded) {
    field = truncClamp(width + percision, -kFieldCap, kFieldCap);
  } else {
    field = truncClamp(width, -kFieldCap, kFieldCap);
    // A negative precision has no defined conversion; it prints no decimals.
    decimals = truncClamp(percision, 0, kPrecisionCap);
  }

  double wrknum = readNumber(textArg->Parameter.ParamString);
  // A negative number that prints as zero prints without its minus sign.
  if (rounded && wrknum < 0.0 && wrknum > -0.5) wrknum = 0.0;

  // The column test uses the real-valued exponent, one digit more than the field shows.
  const double limit = rounded ? std::pow(10.0, width) : std::pow(10.0, width - percision);
  if (limit < wrknum || !std::isfinite(wrknum)) {
    // NaN and the infinities get the asterisks too: C runtimes disagree on their
    // text ("inf" here, "1.#INF" on Windows) and no column can show them.
    putNumberText(out, kTooLarge);
    return UFNoError;
  }

  char wrkstr[kFixedTextRoom];
  if (fixedText(wrkstr, sizeof wrkstr, wrknum, field, decimals) == 0) {
    putNumberText(out, kTooLarge);
    return UFNoError;
  }
  putNumberText(out, wrkstr);
  return UFNoError;
}

UFError zelToText(UFParamBlock* ParamBlock) {
  UFParamListElement* numberArg = GetParam(ParamBlock, 1, UFNumber);
  if (!numberArg) return UFNotEnoughParameters;
  char* out = ParamBlock->ReturnValue.ReturnString;
  if (!out) return UFNoMemory;

  const double value = numberArg->Parameter.ParamNumber * 0.01;
  char wrkstr[kFixedTextRoom];
  // Not a number or infinite: the asterisks, as in ZelNum, not a runtime's own text.
  if (!std::isfinite(value) || fixedText(wrkstr, sizeof wrkstr, value, 17, 2) == 0) {
    putNumberText(out, kTooLarge);
    return UFNoError;
  }
  putNumberText(out, wrkstr);
  return UFNoError;
}

UFError zelSplitHdr(UFParamBlock* ParamBlock) {
  UFParamListElement* lengthArg = GetParam(ParamBlock, 1, UFNumber);
  UFParamListElement* numberArg = GetParam(ParamBlock, 2, UFNumber);
  UFParamListElement* textArg = GetParam(ParamBlock, 3, UFStringArg);
  if (!lengthArg || !numberArg || !textArg) return UFNotEnoughParameters;
  char* out = ParamBlock->ReturnValue.ReturnString;
  if (!out) return UFNoMemory;

  const char* header = textArg->Parameter.ParamString ? textArg->Parameter.ParamString : "";
  int32_t fldLength = truncClamp(lengthArg->Parameter.ParamNumber, INT_MIN, INT_MAX) / 100;
  const int32_t chunkNum = truncClamp(numberArg->Parameter.ParamNumber, INT_MIN, INT_MAX) / 100;
  if (fldLength < 1) {  // a line without room for one character
    out[0] = '\0';
    return UFNoError;
  }
  if (fldLength > kMaxLineLength) fldLength = kMaxLineLength;

  const size_t headerLength = std::strlen(header);
  std::unique_ptr<char[]> TheString(new (std::nothrow) char[headerLength + 5]());
  std::unique_ptr<char[]> retnStr(new (std::nothrow) char[fldLength + 5]());
  if (!TheString || !retnStr) return UFNoMemory;
  std::memcpy(TheString.get(), header, headerLength);
  std::memset(retnStr.get(), ' ', static_cast<size_t>(fldLength));

  const char* workStr = removeBlanks(TheString.get());
  const std::ptrdiff_t length = static_cast<std::ptrdiff_t>(std::strlen(workStr));

  if (length <= fldLength) {
    // Fits on one line: centred, any odd blank on the right.
    if (chunkNum == 1) std::memcpy(retnStr.get() + (fldLength - length) / 2, workStr, static_cast<size_t>(length));
  } else {
    const std::ptrdiff_t last = length - 1;
    std::ptrdiff_t posn = 0;
    std::ptrdiff_t startPosn = 0;
    for (int32_t chunkCount = 0; chunkCount < chunkNum; ++chunkCount) {
      if (chunkCount > 0) ++posn;
      startPosn = posn;
      if (startPosn > last) {
        // The text is used up: this and every later line are empty.
        posn = startPosn - 1;
        break;
      }
      const std::ptrdiff_t endPosn = std::min<std::ptrdiff_t>(posn + fldLength - 1, last);
      posn = endPosn;
      while (!(workStr[posn] == ' ' || posn <= startPosn || workStr[posn + 1] == ' ' || workStr[posn + 1] == '\0'))
        --posn;
      if (posn == startPosn) posn = endPosn;  // no break point: cut the word at the line length
    }
    const std::ptrdiff_t extraSpaces = fldLength - (posn - startPosn + 1);
    assert(((extraSpaces / 2) + (posn - startPosn + 1)) <= fldLength);
    std::memcpy(retnStr.get() + extraSpaces / 2, workStr + startPosn, static_cast<size_t>(posn - startPosn + 1));
    assert(retnStr[fldLength] == '\0');
  }

  std::memcpy(out, retnStr.get(), static_cast<size_t>(fldLength) + 1);
  return UFNoError;
}

// The frame of an export that formats a number: the heap checked around the
// call, which runs on floating-point words of its own.
UFError numberExport(UFError (*body)(UFParamBlock*), UFParamBlock* block) {
  checkheap();
  UFError result;
  {
    DoubleArithmetic arithmetic;
    result = body(block);
  }
  checkheap();
  return result;
}

// A return-size function whose text always has the same size.
UFError fixedStringSize(UFMemCalcBlock* block, int16_t size) {
  HeapCheckScope heapCheck;
  if (!block) return UFMemCalcFail;
  block->UFMemCalcStringLength = size;
  return UFNoError;
}

}  // namespace

// The digits come from std::to_chars, which converts the exact binary value in integer
// arithmetic: unlike the C runtime's printf it gives the same text on every platform
// and ignores the rounding mode. It breaks an exact tie toward the even digit; the
// reports want it away from zero, so a tie is printed with its one extra (exact)
// decimal, a 5, and rounded up by hand.
size_t fixedText(char* buf, size_t size, double value, int width, int decimals) {
  if (!buf || size == 0 || !std::isfinite(value) || decimals < 0) return 0;
  char* const end = buf + size - 1;  // room for the NUL
  char* last;
  if (isDecimalTie(value, decimals)) {
    const std::to_chars_result r = std::to_chars(buf, end, value, std::chars_format::fixed, decimals + 1);
    if (r.ec != std::errc() || r.ptr == end) return 0;  // no room for the carry digit
    last = r.ptr - 1;                 // drop the 5
    if (decimals == 0) --last;        // and the point before it
    last = incrementDigits(buf, last);
  } else {
    const std::to_chars_result r = std::to_chars(buf, end, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return 0;
    last = r.ptr;
  }
  size_t n = static_cast<size_t>(last - buf);
  // Pad to the field: blanks on the left, or on the right for a negative width.
  const size_t field = width < 0 ? 0u - static_cast<size_t>(width) : static_cast<size_t>(width);
  if (n < field) {
    if (field > size - 1) return 0;
    const size_t pad = field - n;
    if (width > 0) {
      std::memmove(buf + pad, buf, n);
      std::memset(buf, ' ', pad);
    } else {
      std::memset(buf + n, ' ', pad);
    }
    n = field;
  }
  buf[n] = '\0';
  return n;
}

// Width, precision and the number as text; the number in a column, or asterisks
// when it is too large for it.
UF_EXPORT UFError UF_CALL ZelNum(UFParamBlock* ParamBlock) { return numberExport(zelNum, ParamBlock); }

UF_EXPORT UFError UF_CALL ZelNumStringRetSize(UFMemCalcBlock* ParamBlock) {
  return fixedStringSize(ParamBlock, kNumberTextSize);
}

// A formula number with two decimals in 17 characters.
UF_EXPORT UFError UF_CALL ZelToText(UFParamBlock* ParamBlock) { return numberExport(zelToText, ParamBlock); }

UF_EXPORT UFError UF_CALL ZelToTextStringRetSize(UFMemCalcBlock* ParamBlock) {
  return fixedStringSize(ParamBlock, kNumberTextSize);
}

// Line length, line number (1 first) and the header; the line centred in exactly
// line-length characters.
UF_EXPORT UFError UF_CALL ZelSplitHdr(UFParamBlock* ParamBlock) {
  checkheap();
  const UFError result = zelSplitHdr(ParamBlock);
  checkheap();
  return result;
}

// Called directly by the reporting program; ZelNum reads the low 16 bits.
UF_EXPORT void UF_CALL reportZelRound(int32_t onoff) {
  checkheap();
  roundFlag = onoff;
  checkheap();
}

char* removeBlanks(char* AString) {
  if (!AString) return nullptr;
  char* start = AString;
  while (*start == ' ') ++start;
  const size_t n = std::strlen(start);
  if (n > 0 && start[n - 1] == ' ') {
    // start points at a non-blank here, so the walk back stops on it at the latest.
    char* end = start + n - 1;
    while (end > start && *end == ' ') --end;
    end[1] = '\0';
  }
  return start;
}
