// Number formatting (ZelNum, ZelToText, reportZelRound) and header line
// splitting (ZelSplitHdr).
#include "uflvost.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

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
  return std::strtod(text, nullptr);
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

// Formats a finite value with a format holding one double conversion; false when
// the text does not fit the buffer.
bool formatValue(char* buf, size_t size, const char* format, double value) {
  const int n = std::snprintf(buf, size, format, value);
  return n >= 0 && static_cast<size_t>(n) < size;
}

UFError zelNum(UFParamBlock* ParamBlock) {
  UFParamListElement* widthArg = GetParam(ParamBlock, 1);
  UFParamListElement* precisionArg = GetParam(ParamBlock, 2);
  UFParamListElement* textArg = GetParam(ParamBlock, 3);
  if (!widthArg || !precisionArg || !textArg) return UFNotEnoughParameters;
  char* out = ParamBlock->ReturnValue.ReturnString;
  if (!out) return UFNoMemory;  // the host gave no buffer to write into

  // Read at every call: the switch may change between calls.
  const int16_t rounded = static_cast<int16_t>(static_cast<uint16_t>(roundFlag & 0xFFFF));

  double width = widthArg->Parameter.ParamNumber * 0.01;
  const double percision = precisionArg->Parameter.ParamNumber * 0.01;
  if (width > 254.0) width = 254.0;

  // The format text, built from the truncated values. The caps keep it short and
  // the field bounded without changing what ends up in the result.
  char formatstr[20];
  int written;
  if (rounded) {
    const int w = truncClamp(width + percision, -kFieldCap, kFieldCap);
    written = std::snprintf(formatstr, sizeof formatstr, "%%%d.0lf", w);
  } else {
    const int w = truncClamp(width, -kFieldCap, kFieldCap);
    // A negative precision has no defined conversion; it prints no decimals.
    const int p = truncClamp(percision, 0, kPrecisionCap);
    written = std::snprintf(formatstr, sizeof formatstr, "%%%d.%dlf", w, p);
  }
  if (written < 0 || static_cast<size_t>(written) >= sizeof formatstr) {
    putNumberText(out, kTooLarge);  // cannot happen with the caps above; never use a cut format
    return UFNoError;
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

  // Room for the widest field and the longest fixed-point double with every decimal.
  char wrkstr[1024];
  if (!formatValue(wrkstr, sizeof wrkstr, formatstr, wrknum)) {
    putNumberText(out, kTooLarge);
    return UFNoError;
  }
  putNumberText(out, wrkstr);
  return UFNoError;
}

UFError zelToText(UFParamBlock* ParamBlock) {
  UFParamListElement* numberArg = GetParam(ParamBlock, 1);
  if (!numberArg) return UFNotEnoughParameters;
  char* out = ParamBlock->ReturnValue.ReturnString;
  if (!out) return UFNoMemory;

  const double value = numberArg->Parameter.ParamNumber * 0.01;
  char wrkstr[512];
  // Not a number or infinite: the asterisks, as in ZelNum, not a runtime's own text.
  if (!std::isfinite(value) || !formatValue(wrkstr, sizeof wrkstr, "%17.2lf", value)) {
    putNumberText(out, kTooLarge);
    return UFNoError;
  }
  putNumberText(out, wrkstr);
  return UFNoError;
}

UFError zelSplitHdr(UFParamBlock* ParamBlock) {
  UFParamListElement* lengthArg = GetParam(ParamBlock, 1);
  UFParamListElement* numberArg = GetParam(ParamBlock, 2);
  UFParamListElement* textArg = GetParam(ParamBlock, 3);
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

}  // namespace

// Width, precision and the number as text; the number in a column, or asterisks
// when it is too large for it.
UF_EXPORT UFError UF_CALL ZelNum(UFParamBlock* ParamBlock) {
  checkheap();
  const UFError result = zelNum(ParamBlock);
  checkheap();
  return result;
}

UF_EXPORT UFError UF_CALL ZelNumStringRetSize(UFMemCalcBlock* ParamBlock) {
  HeapCheckScope heapCheck;
  if (!ParamBlock) return UFMemCalcFail;
  ParamBlock->UFMemCalcStringLength = kNumberTextSize;
  return UFNoError;
}

// A formula number with two decimals in 17 characters.
UF_EXPORT UFError UF_CALL ZelToText(UFParamBlock* ParamBlock) {
  checkheap();
  const UFError result = zelToText(ParamBlock);
  checkheap();
  return result;
}

UF_EXPORT UFError UF_CALL ZelToTextStringRetSize(UFMemCalcBlock* ParamBlock) {
  HeapCheckScope heapCheck;
  if (!ParamBlock) return UFMemCalcFail;
  ParamBlock->UFMemCalcStringLength = kNumberTextSize;
  return UFNoError;
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
