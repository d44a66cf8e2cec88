// Windows side of the platform seam.
#include <windows.h>

#include <cfenv>
#include <cstring>

#include "platform.h"

namespace {
MessageBoxSink g_sink = nullptr;
void* g_sinkContext = nullptr;
}  // namespace

void showMessageBox(const char* caption, const char* text) {
  if (g_sink) {
    g_sink(caption ? caption : "", text ? text : "", g_sinkContext);
    return;
  }
  MessageBoxA(NULL, text, caption, MB_OK);
}

void setMessageBoxSink(MessageBoxSink sink, void* context) {
  g_sink = sink;
  g_sinkContext = context;
}

const char* profilePath() { return ""; }

// The system keeps the profile in memory already.
void reloadProfile() {}

int32_t profileInt(const char* section, const char* key, int32_t defaultValue) {
  return static_cast<int32_t>(GetProfileIntA(section, key, defaultValue));
}

uint32_t profileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                       uint32_t size) {
  if (!buffer || size == 0) return 0;
  return GetProfileStringA(section, key, defaultValue, buffer, size);
}

int ansiToWide(const char* src, int srcLen, uint16_t* dst, int dstLen) {
  if (!src || !dst || dstLen <= 0) return 0;
  return MultiByteToWideChar(CP_ACP, 0, src, srcLen, reinterpret_cast<wchar_t*>(dst), dstLen);
}

bool localTimeOf(std::time_t t, std::tm* out) {
  if (!out) return false;
  std::tm* p = std::localtime(&t);
  if (!p) return false;
  *out = *p;
  return true;
}

namespace {

// x87 control word: the six exception masks, precision (bits 8-9) and rounding
// (bits 10-11). Wanted: every trap masked, 53 bits, to nearest.
constexpr unsigned kX87Bits = 0x0F3F;
constexpr unsigned kX87Wanted = 0x023F;
// SSE control and status register: the six masks (bits 7-12) and rounding (13-14),
// above its six exception flags. Wanted: every trap masked, to nearest.
constexpr unsigned kSseBits = 0x7F80;
constexpr unsigned kSseWanted = 0x1F80;
constexpr unsigned kSseFlags = 0x003F;

unsigned readX87() {
  unsigned short word;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}

void writeX87(unsigned word) {
  const unsigned short w = static_cast<unsigned short>(word);
  __asm__ __volatile__("fldcw %0" : : "m"(w));
}

bool haveSse() {
  static const bool have = IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != 0;
  return have;
}

unsigned readSse() {
  unsigned word = kSseWanted;
  if (haveSse()) __asm__ __volatile__("stmxcsr %0" : "=m"(word));
  return word;
}

void writeSse(unsigned word) {
  if (haveSse()) __asm__ __volatile__("ldmxcsr %0" : : "m"(word));
}

}  // namespace

// Each unit's own word is read and written: the runtime's _control87 reports the
// x87 and SSE words merged, so a host that loaded only the x87 word with traps on
// would look fully masked, and _controlfp cannot change the denormal mask.
ArithmeticState enterDoubleArithmetic() {
  ArithmeticState saved{};
  saved.control = readX87();
  saved.sse = readSse();
  if ((saved.control & kX87Bits) == kX87Wanted && (saved.sse & kSseBits) == kSseWanted) return saved;
  saved.changed = true;
  saved.traps = (saved.control & 0x3F) != 0x3F || (saved.sse & kSseWanted) != kSseWanted;
  if (saved.traps) std::fegetexceptflag(&saved.flags, FE_ALL_EXCEPT);
  writeX87((saved.control & ~kX87Bits) | kX87Wanted);
  writeSse((saved.sse & ~kSseBits) | kSseWanted);
  return saved;
}

void leaveDoubleArithmetic(const ArithmeticState& saved) {
  if (!saved.changed) return;
  // The flags as the host left them: one raised in between would fault at the
  // host's next floating-point instruction once its trap is unmasked again.
  if (saved.traps) std::fesetexceptflag(&saved.flags, FE_ALL_EXCEPT);
  writeSse((saved.sse & ~kSseFlags) | (readSse() & kSseFlags));
  writeX87(saved.control);
}

// Wraps after 49 days; a wait measured across the wrap only ends early.
uint64_t monotonicMilliseconds() { return GetTickCount(); }

void sleepMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }
