// The library's narrow seam to the operating system. Logic files call these and
// never test the platform themselves; platform_win32.cpp and platform_posix.cpp
// are the two sides.
#pragma once

#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <ctime>

// A modal box with one OK button. Linux: written to standard error as the caption
// line, the text's lines and one empty line.
void showMessageBox(const char* caption, const char* text);

// Tests capture boxes instead of showing them. Null restores the default.
typedef void (*MessageBoxSink)(const char* caption, const char* text, void* context);
void setMessageBoxSink(MessageBoxSink sink, void* context);

// The user's profile (Windows: win.ini through GetProfile*; Linux: an INI file,
// $U2LVOST_PROFILE, else $XDG_CONFIG_HOME/u2lvost/win.ini or ~/.config/u2lvost/win.ini).
// Linux reads the file once, whole, at reloadProfile (or at the first read) and
// answers every later read from that copy; Windows asks the system every time.
void reloadProfile();
int32_t profileInt(const char* section, const char* key, int32_t defaultValue);
// Copies at most size - 1 characters and a NUL into buffer; returns the length copied.
uint32_t profileString(const char* section, const char* key, const char* defaultValue, char* buffer,
                       uint32_t size);
// Where the Linux profile is read from (empty on Windows).
const char* profilePath();

// Double arithmetic as the number functions need it, from enter to leave: rounding
// to nearest, every floating-point trap masked and, where the x87 unit computes
// (32-bit Windows), the 53-bit precision of a double. A host may leave that unit at
// 64 bits, where a product is rounded twice, or run with overflow and invalid-operation
// traps on, where a power too large for a double would fault instead of giving
// infinity. leaveDoubleArithmetic restores what enterDoubleArithmetic found; when the
// host had traps on, the exception flags raised in between are dropped so that none
// of them traps in the host. A host that already computes this way pays two reads.
struct ArithmeticState {
  unsigned control;      // rounding (Linux) or the x87 control word (Windows)
  int traps;             // the traps the host had on (Windows: nonzero when any)
  std::fexcept_t flags;  // the host's exception flags, kept when it had traps on
  unsigned sse;          // Windows: the SSE control and status register
  bool changed;          // Windows: the words above were changed for the call
};
ArithmeticState enterDoubleArithmetic();
void leaveDoubleArithmetic(const ArithmeticState& saved);

// ANSI code page (Linux: Windows-1252) to UTF-16. Converts srcLen bytes (-1: up to
// and with the NUL) into at most dstLen code units; returns the units written, 0 on failure.
int ansiToWide(const char* src, int srcLen, uint16_t* dst, int dstLen);

// Local broken-down time of t; false when the conversion fails.
bool localTimeOf(std::time_t t, std::tm* out);

// A clock for measuring waits: milliseconds from an arbitrary start, never going back.
uint64_t monotonicMilliseconds();
// Blocks the calling thread for about the given time.
void sleepMilliseconds(uint32_t milliseconds);
