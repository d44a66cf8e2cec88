// Windows side of the platform seam.
#include <windows.h>

#include <float.h>

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
constexpr unsigned kArithmeticMask = _MCW_RC | _MCW_PC | _MCW_EM;
// All of _MCW_EM set: every trap masked.
constexpr unsigned kArithmeticWanted = _RC_NEAR | _PC_53 | _MCW_EM;
}  // namespace

// _control87, not _controlfp: _controlfp leaves the denormal-operand mask as it
// finds it, so a host with that trap on would fault on a subnormal argument.
ArithmeticState enterDoubleArithmetic() {
  ArithmeticState saved{};
  saved.control = _control87(0, 0) & kArithmeticMask;
  if (saved.control == kArithmeticWanted) return saved;
  saved.traps = (saved.control & _MCW_EM) != _MCW_EM;
  if (saved.traps) std::fegetexceptflag(&saved.flags, FE_ALL_EXCEPT);
  _control87(kArithmeticWanted, kArithmeticMask);
  return saved;
}

void leaveDoubleArithmetic(const ArithmeticState& saved) {
  if (saved.control == kArithmeticWanted) return;
  // The flags as the host left them: one raised in between would fault at the
  // host's next floating-point instruction once its trap is unmasked again.
  if (saved.traps) std::fesetexceptflag(&saved.flags, FE_ALL_EXCEPT);
  _control87(saved.control, kArithmeticMask);
}
