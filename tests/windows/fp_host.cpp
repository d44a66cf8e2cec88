// A host that runs the number functions with its own x87 control word, as some
// report engines do (traps on, another rounding or precision). One line per call:
//
//   NAME => 'RESULT' control kept flags kept
//
// "control kept" when the host's control word is as before the call, else the
// word found; "flags kept" when every exception flag the host had raised before
// the call is still raised after it and, for a host with a trap on, no other
// flag is, else the flags lost and left. A floating-point fault
// ends the program with a line "NAME => fault 0xCODE in the library" (or "in the
// host"), so a missing mask shows as a line, not a silence.
//
//   fp_host LIBRARY WORD      WORD: one of the names in kWords
#include <windows.h>

#include <float.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "param_list.h"
#include "uf_records.h"

namespace {

const char* g_current = "";
HMODULE g_library = nullptr;

LONG CALLBACK onFault(EXCEPTION_POINTERS* info) {
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  switch (code) {
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    {
      // Where it faulted: the library, or this host (a bug of the test itself).
      MEMORY_BASIC_INFORMATION m{};
      const bool inLibrary = VirtualQuery(info->ExceptionRecord->ExceptionAddress, &m, sizeof m) == sizeof m &&
                             m.AllocationBase == g_library;
      std::printf("%s => fault 0x%08lX in the %s\n", g_current, static_cast<unsigned long>(code),
                  inLibrary ? "library" : "host");
      std::fflush(stdout);
      ExitProcess(3);
    }
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// The list is built before the host's control word is set: copying a subnormal
// through the x87 unit would fault in the host already.
std::string call(UFEntryFunc fn, std::vector<UFParamListElement>& args) {
  char result[64] = "";
  UFParamBlock block{};
  block.StructSize = sizeof block;
  block.ReturnValue.ReturnString = result;
  block.UFParamList = args.data();
  const UFError e = fn(&block);
  if (e != UFNoError) return "error " + std::to_string(e);
  return "'" + std::string(result) + "'";
}

// Host control words: traps (exception masks cleared), rounding, precision.
struct HostWord {
  const char* name;
  unsigned value;
  // Nonzero: the host loads this x87 control word itself (fldcw), as hosts built
  // with other runtimes do, and leaves the SSE unit's word as it is; value then
  // says the same in _control87's terms.
  unsigned short x87;
};
const unsigned kAllMasked = _MCW_EM;
const HostWord kWords[] = {
    {"default", _RC_NEAR | _PC_53 | kAllMasked, 0},
    {"every trap on", _RC_NEAR | _PC_53, 0},
    {"denormal trap on", _RC_NEAR | _PC_53 | (kAllMasked & ~_EM_DENORMAL), 0},
    {"64-bit precision, rounding up, overflow trap on", _RC_UP | _PC_64 | (kAllMasked & ~_EM_OVERFLOW), 0},
    // Invalid-operation, zero-divide and overflow traps on, 53-bit precision.
    {"x87 word 0x0272 loaded directly", _RC_NEAR | _PC_53 | _EM_DENORMAL | _EM_UNDERFLOW | _EM_INEXACT, 0x0272},
};
// Masks, precision and rounding of the x87 control word.
const unsigned short kX87Bits = 0x0F3F;

void loadX87(unsigned short word) { __asm__ __volatile__("fldcw %0" : : "m"(word)); }
unsigned short storeX87() {
  unsigned short word;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}
const unsigned kWordMask = _MCW_EM | _MCW_RC | _MCW_PC;
// _statusfp's exception flags sit at the bits of their masks.
const unsigned kFlags = _MCW_EM;
volatile double g_one = 1.0, g_three = 3.0, g_sink = 0.0;

struct Case {
  const char* name;
  bool toText;  // ZelToText(host) else ZelNum(width, precision, text)
  double width, precision;
  const char* text;
};
// Host numbers are 100 times the formula's; 1e-310 is subnormal.
const Case kCases[] = {
    {"ZelNum(10, 2, \"1234.567\")", false, 1000, 200, "1234.567"},
    {"ZelNum(10, 2, \"1e999\")", false, 1000, 200, "1e999"},
    {"ZelNum(10, huge power, \"5\")", false, 1000, -1e8, "5"},
    {"ZelNum(10, 2, \"1e-310\")", false, 1000, 200, "1e-310"},
    {"ZelNum(subnormal width, 2, \"7\")", false, 1e-310, 200, "7"},
    {"ZelToText(12.5)", true, 1250, 0, nullptr},
    {"ZelToText(subnormal)", true, 1e-310, 0, nullptr},
};

}  // namespace

int main(int argc, char** argv) {
  const HostWord* word = nullptr;
  for (const HostWord& w : kWords)
    if (argc == 3 && std::string(argv[2]) == w.name) word = &w;
  if (!word) {
    std::fprintf(stderr, "usage: fp_host LIBRARY WORD (WORD: default, every trap on, ...)\n");
    return 2;
  }
  HMODULE h = LoadLibraryA(argv[1]);
  UFEntryFunc zelNum = h ? reinterpret_cast<UFEntryFunc>(reinterpret_cast<void*>(GetProcAddress(h, "ZelNum"))) : nullptr;
  UFEntryFunc zelToText =
      h ? reinterpret_cast<UFEntryFunc>(reinterpret_cast<void*>(GetProcAddress(h, "ZelToText"))) : nullptr;
  if (!zelNum || !zelToText) {
    std::fprintf(stderr, "cannot load %s or its number functions\n", argv[1]);
    return 1;
  }
  g_library = h;
  AddVectoredExceptionHandler(1, onFault);
  std::string label;
  {
    const HostWord& w = *word;
    for (const Case& c : kCases) {
      label = c.name;
      g_current = label.c_str();
      std::vector<UFParamListElement> args;
      if (c.toText) {
        args = {number(c.width)};
      } else {
        args = {number(c.width), number(c.precision), text(c.text)};
      }
      for (size_t i = 0; i + 1 < args.size(); ++i) args[i].NextParam = &args[i + 1];
      _clearfp();
      if (w.x87) {
        loadX87(w.x87);
      } else {
        _control87(w.value, kWordMask);
      }
      // A flag of the host's own, raised where its trap is off: the inexact one.
      if (w.value & _EM_INEXACT) g_sink = g_one / g_three;
      const unsigned flagsBefore = _statusfp() & kFlags;
      const std::string got = call(c.toText ? zelToText : zelNum, args);
      const unsigned after = w.x87 ? storeX87() & kX87Bits : _control87(0, 0) & kWordMask;
      const unsigned flagsAfter = _statusfp() & kFlags;
      const unsigned flagsLost = flagsBefore & ~flagsAfter;
      // With a trap on, a flag raised inside and left would fault in the host.
      const unsigned flagsLeft = (w.value & _MCW_EM) != _MCW_EM ? flagsAfter & ~flagsBefore : 0;
      _clearfp();
      _control87(_RC_NEAR | _PC_53 | kAllMasked, kWordMask);
      char kept[32] = "control kept", flags[48] = "flags kept";
      if (after != (w.x87 ? w.x87 & kX87Bits : w.value)) std::snprintf(kept, sizeof kept, "control 0x%05X", after);
      if (flagsLost != 0 || flagsLeft != 0)
        std::snprintf(flags, sizeof flags, "flags lost 0x%02X left 0x%02X", flagsLost, flagsLeft);
      std::printf("%s => %s %s %s\n", g_current, got.c_str(), kept, flags);
      std::fflush(stdout);
    }
  }
  return 0;
}
