// BSTR: a 4-byte prefix holding the text's length in bytes, the 16-bit text, and
// a 16-bit NUL. The BSTR points at the text, just after the prefix.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "comtypes.h"

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

// Room for cch units: prefix, text and terminator. Null when cch cannot be
// described by the 32-bit byte count or the allocation fails.
BSTR allocateUnits(UINT cch) {
  // The byte length must fit the prefix; the terminator and prefix come on top.
  if (cch > (UINT32_MAX - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  const size_t bytes = static_cast<size_t>(cch) * sizeof(OLECHAR);
  char* block = static_cast<char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const uint32_t prefix = static_cast<uint32_t>(bytes);
  std::memcpy(block, &prefix, kPrefix);
  BSTR text = reinterpret_cast<BSTR>(block + kPrefix);
  text[cch] = 0;
  return text;
}

uint32_t bytePrefix(BSTR bstr) {
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(bstr) - kPrefix, kPrefix);
  return prefix;
}

}  // namespace

// psz: NUL-terminated text or null. Returns a new BSTR of the same text, or null
// for a null argument or when memory runs out.
COMRT_API BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  size_t n = 0;
  while (psz[n]) ++n;
  if (n > UINT32_MAX) return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(n));
}

// pch: cch units to copy, or null for a text of cch NUL units. Returns the new
// BSTR, or null when cch is too large or memory runs out.
COMRT_API BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
  BSTR text = allocateUnits(cch);
  if (!text) return nullptr;
  if (pch)
    std::memcpy(text, pch, static_cast<size_t>(cch) * sizeof(OLECHAR));
  else
    std::memset(text, 0, static_cast<size_t>(cch) * sizeof(OLECHAR));
  return text;
}

// Frees a BSTR made by the functions above; null is ignored.
COMRT_API void SysFreeString(BSTR bstr) {
  if (!bstr) return;
  std::free(reinterpret_cast<char*>(bstr) - kPrefix);
}

// The length in 16-bit units (0 for null), from the prefix, so embedded NULs count.
COMRT_API UINT SysStringLen(BSTR bstr) { return bstr ? bytePrefix(bstr) / sizeof(OLECHAR) : 0; }

// The length in bytes without the terminator (0 for null).
COMRT_API UINT SysStringByteLen(BSTR bstr) { return bstr ? bytePrefix(bstr) : 0; }
