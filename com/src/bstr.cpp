// BSTR: a 4-byte prefix holding the text's length in bytes, the 16-bit text, and
// a 16-bit NUL. The BSTR points at the text, just after the prefix.
//
// Short texts come and go on every call between the library and the engine, so
// freed blocks of up to kCachedBlock bytes are kept in a few per-size stacks and
// handed out again, as Windows' own BSTR cache does. The stacks are emptied at
// process exit.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "comtypes.h"

#if defined(__SANITIZE_ADDRESS__)
#define U2LVOST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define U2LVOST_ASAN 1
#endif
#endif
#ifdef U2LVOST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

// Blocks are kept by size in steps of kStep bytes, at most kDepth of each size.
constexpr size_t kStep = 16;
constexpr size_t kClasses = 8;
constexpr size_t kCachedBlock = kStep * kClasses;  // texts of up to 61 units
constexpr size_t kDepth = 16;

// Plain data with constant initialisation: usable before any constructor and
// after every destructor of the process, so a BSTR freed from another library's
// static destructor is still handled.
struct BlockCache {
  std::atomic_flag busy = ATOMIC_FLAG_INIT;
  bool closed = false;  // after the exit drain: blocks go straight back to malloc
  unsigned count[kClasses] = {};
  void* blocks[kClasses][kDepth] = {};
};
BlockCache cache;

class CacheLock {
 public:
  CacheLock() {
    while (cache.busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  }
  ~CacheLock() { cache.busy.clear(std::memory_order_release); }
  CacheLock(const CacheLock&) = delete;
  CacheLock& operator=(const CacheLock&) = delete;
};

// Cached blocks are off limits to the program: AddressSanitizer reports a use of
// a freed BSTR even when its block waits here.
void markFree(void* block, size_t bytes) {
#ifdef U2LVOST_ASAN
  ASAN_POISON_MEMORY_REGION(block, bytes);
#else
  (void)block;
  (void)bytes;
#endif
}
void markInUse(void* block, size_t bytes) {
#ifdef U2LVOST_ASAN
  ASAN_UNPOISON_MEMORY_REGION(block, bytes);
#else
  (void)block;
  (void)bytes;
#endif
}

// The size class of a block of that many bytes, or kClasses when it is not kept.
size_t classOf(size_t blockBytes) { return blockBytes <= kCachedBlock ? (blockBytes - 1) / kStep : kClasses; }

size_t classBytes(size_t cls) { return (cls + 1) * kStep; }

// A block of at least blockBytes; a kept one of its size when there is one.
void* takeBlock(size_t blockBytes) {
  const size_t cls = classOf(blockBytes);
  if (cls == kClasses) return std::malloc(blockBytes);
  const size_t rounded = classBytes(cls);
  {
    CacheLock lock;
    if (cache.count[cls] > 0) {
      void* block = cache.blocks[cls][--cache.count[cls]];
      markInUse(block, rounded);
      return block;
    }
  }
  // Always the class's full size, so the block can serve any text of its class later.
  return std::malloc(rounded);
}

void giveBlock(void* block, size_t blockBytes) {
  const size_t cls = classOf(blockBytes);
  if (cls != kClasses) {
    CacheLock lock;
    if (!cache.closed && cache.count[cls] < kDepth) {
      markFree(block, classBytes(cls));
      cache.blocks[cls][cache.count[cls]++] = block;
      return;
    }
  }
  std::free(block);
}

// Hands every kept block back to malloc when the process (or this library) ends.
struct DrainAtExit {
  DrainAtExit() = default;
  DrainAtExit(const DrainAtExit&) = delete;
  DrainAtExit& operator=(const DrainAtExit&) = delete;
  ~DrainAtExit() {
    CacheLock lock;
    cache.closed = true;
    for (size_t cls = 0; cls < kClasses; ++cls) {
      while (cache.count[cls] > 0) {
        void* block = cache.blocks[cls][--cache.count[cls]];
        markInUse(block, classBytes(cls));
        std::free(block);
      }
    }
  }
} drainAtExit;

size_t blockBytesOf(size_t textBytes) { return kPrefix + textBytes + sizeof(OLECHAR); }

// Room for cch units: prefix, text and terminator. Null when cch cannot be
// described by the 32-bit byte count or the allocation fails.
BSTR allocateUnits(UINT cch) {
  // The byte length must fit the prefix; the terminator and prefix come on top.
  if (cch > (UINT32_MAX - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  const size_t bytes = static_cast<size_t>(cch) * sizeof(OLECHAR);
  char* block = static_cast<char*>(takeBlock(blockBytesOf(bytes)));
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
  giveBlock(reinterpret_cast<char*>(bstr) - kPrefix, blockBytesOf(bytePrefix(bstr)));
}

// The length in 16-bit units (0 for null), from the prefix, so embedded NULs count.
COMRT_API UINT SysStringLen(BSTR bstr) { return bstr ? bytePrefix(bstr) / sizeof(OLECHAR) : 0; }

// The length in bytes without the terminator (0 for null).
COMRT_API UINT SysStringByteLen(BSTR bstr) { return bstr ? bytePrefix(bstr) : 0; }
