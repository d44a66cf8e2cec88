// Parameter blocks built from fuzz input, and calls that check what the library
// wrote: a string result must end inside the size its return-size function
// reported, and the canary bytes after that size must be untouched; a call that
// answers UFNotEnoughParameters must leave the result alone. A broken rule
// aborts, so libFuzzer keeps the input.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "uf_records.h"

namespace fuzzblocks {

// What a function reads at each argument position.
enum class Arg { Number, Date, String };

// The host's size for a string result when the function has no return-size function.
constexpr int kDefaultStringSize = 255;
constexpr int kCanaryBytes = 32;
constexpr unsigned char kCanary = 0xA5;

[[noreturn]] inline void fail(const char* function, const char* what) {
  std::fprintf(stderr, "%s: %s\n", function, what);
  std::abort();
}

// A call's argument list. The union always holds what the function reads at
// that position (another member would be a wild pointer); the declared type may
// be anything, and arguments may be missing or extra.
class ParamList {
 public:
  void build(FuzzedDataProvider& in, const std::vector<Arg>& signature) {
    const size_t count = in.ConsumeIntegralInRange<size_t>(0, signature.size() + 1);
    elements_.assign(count, UFParamListElement());
    for (size_t i = 0; i < count; ++i) {
      UFParamListElement& e = elements_[i];
      e.StructSize = sizeof e;
      e.NextParam = i + 1 < count ? &elements_[i + 1] : nullptr;
      const Arg kind = i < signature.size() ? signature[i] : Arg::Number;
      const bool honestType = in.ConsumeBool();
      const UFTypeDefs declared = kind == Arg::Number ? UFNumber : kind == Arg::Date ? UFDate : UFStringArg;
      e.ParamType = honestType ? declared : static_cast<UFTypeDefs>(in.ConsumeIntegral<int8_t>());
      switch (kind) {
        case Arg::Number:
          e.Parameter.ParamNumber = number(in);
          break;
        case Arg::Date:
          e.Parameter.ParamDate = in.ConsumeIntegral<int32_t>();
          break;
        case Arg::String:
          texts_.push_back(in.ConsumeRandomLengthString(600));
          e.Parameter.ParamString = &texts_.back()[0];
          break;
      }
      e.ParamLength = static_cast<int16_t>(kind == Arg::String ? texts_.back().size() + 1 : 8);
    }
  }
  UFParamListElement* first() { return elements_.empty() ? nullptr : &elements_[0]; }

 private:
  // Mostly plausible formula values (100 times the value), sometimes any bits.
  static double number(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
      case 0:
        return 100.0 * in.ConsumeIntegralInRange<int32_t>(-400, 70000);
      case 1:
        return in.ConsumeFloatingPoint<double>();
      case 2: {
        double d;
        uint64_t bits = in.ConsumeIntegral<uint64_t>();
        std::memcpy(&d, &bits, sizeof d);
        return d;  // NaN, infinities, denormals
      }
      default:
        return in.ConsumeIntegralInRange<int32_t>(-100000, 100000);
    }
  }

  std::vector<UFParamListElement> elements_;
  std::deque<std::string> texts_;  // stable addresses
};

// Calls a string function with a buffer of the size its return-size function
// reports (the host default without one), followed by canary bytes.
inline UFError callString(const char* name, UFEntryFunc entry, UFMemCalcFuncPtr sizeFunc, ParamList& args) {
  int size = kDefaultStringSize;
  if (sizeFunc != nullptr) {
    UFMemCalcBlock mc;
    std::memset(&mc, 0, sizeof mc);
    mc.StructSize = sizeof mc;
    mc.MemCalcCommand = UFCalcStringLength;
    mc.UFParamList = args.first();
    if (sizeFunc(&mc) != UFNoError) fail(name, "its return-size function failed");
    size = mc.UFMemCalcStringLength;
    if (size < 1) fail(name, "its return-size function reported no room");
  }
  std::vector<unsigned char> buffer(static_cast<size_t>(size) + kCanaryBytes, kCanary);
  UFParamBlock block;
  std::memset(&block, 0, sizeof block);
  block.StructSize = sizeof block;
  block.ReturnValue.ReturnString = reinterpret_cast<char*>(buffer.data());
  block.UFParamList = args.first();
  const UFParamBlock before = block;

  const UFError rc = entry(&block);
  for (int i = 0; i < kCanaryBytes; ++i)
    if (buffer[size + i] != kCanary) fail(name, "wrote past the size it reported");
  if (block.ReturnValue.ReturnString != before.ReturnValue.ReturnString) fail(name, "replaced the result pointer");
  if (rc == UFNoError) {
    if (std::memchr(buffer.data(), '\0', size) == nullptr) fail(name, "left its result without a NUL");
  } else if (rc == UFNotEnoughParameters) {
    for (int i = 0; i < size; ++i)
      if (buffer[i] != kCanary) fail(name, "wrote a result while answering UFNotEnoughParameters");
  } else {
    fail(name, "answered an error code other than UFNotEnoughParameters");
  }
  return rc;
}

// Calls a date function.
inline UFError callDate(const char* name, UFEntryFunc entry, ParamList& args, CRDate* result) {
  UFParamBlock block;
  std::memset(&block, 0x5A, sizeof block);
  block.StructSize = sizeof block;
  block.UFParamList = args.first();
  const UFParamBlock before = block;
  const UFError rc = entry(&block);
  if (rc == UFNotEnoughParameters) {
    if (std::memcmp(&block.ReturnValue, &before.ReturnValue, sizeof block.ReturnValue) != 0)
      fail(name, "wrote a result while answering UFNotEnoughParameters");
  } else if (rc != UFNoError) {
    fail(name, "answered an error code other than UFNotEnoughParameters");
  }
  *result = block.ReturnValue.ReturnDate;
  return rc;
}

}  // namespace fuzzblocks
