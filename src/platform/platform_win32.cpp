// Windows side of the platform seam.
#include <windows.h>

#include <float.h>

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
constexpr unsigned kArithmeticMask = _MCW_RC | _MCW_PC;
constexpr unsigned kArithmeticWanted = _RC_NEAR | _PC_53;
}  // namespace

unsigned enterDoubleArithmetic() {
  const unsigned saved = _controlfp(0, 0) & kArithmeticMask;
  if (saved != kArithmeticWanted) _controlfp(kArithmeticWanted, kArithmeticMask);
  return saved;
}

void leaveDoubleArithmetic(unsigned saved) {
  if (saved != kArithmeticWanted) _controlfp(saved, kArithmeticMask);
}
