// The number, header and time exports through their parameter blocks: ZelNum
// (with the rounding switch either way), ZelToText, ZelSplitHdr and ZelTime, the
// last after a job start that reads a profile made of the input.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz_blocks.h"
#include "ufmain.h"
#include "uflvost.h"
#include "wintime.h"

using fuzzblocks::Arg;
using fuzzblocks::ParamList;
using fuzzblocks::callString;

namespace {

std::string g_profile;

void writeProfile(const std::string& text) {
  FILE* f = std::fopen(g_profile.c_str(), "wb");
  if (f == nullptr) fuzzblocks::fail("fuzzer", "cannot write the profile");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

void removeProfile() { unlink(g_profile.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_profile = "/tmp/u2lvost-fuzz-profile-" + std::to_string(getpid()) + ".ini";
  std::atexit(removeProfile);
  setenv("U2LVOST_PROFILE", g_profile.c_str(), 1);
  writeProfile("");
  UFInitialize();
  UFStartJob(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  ParamList args;
  switch (in.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
      reportZelRound(in.ConsumeIntegral<int32_t>());
      args.build(in, {Arg::Number, Arg::Number, Arg::String});
      callString("ZelNum", ZelNum, ZelNumStringRetSize, args);
      break;
    case 1:
      args.build(in, {Arg::Number});
      callString("ZelToText", ZelToText, ZelToTextStringRetSize, args);
      break;
    case 2:
      args.build(in, {Arg::Number, Arg::Number, Arg::String});
      callString("ZelSplitHdr", ZelSplitHdr, nullptr, args);
      break;
    case 3: {
      // The regional settings come from the profile, read at the job start.
      writeProfile(in.ConsumeRandomLengthString(2000));
      UFStartJob(in.ConsumeIntegral<uint32_t>());
      args.build(in, {});
      callString("ZelTime", ZelTime, ZelTimeStringRetSize, args);
      UFEndJob(0);
      break;
    }
    default: {
      // TimeFormatTime with any broken-down time and flags, into its documented room.
      std::tm t{};
      t.tm_hour = in.ConsumeIntegral<int>();
      t.tm_min = in.ConsumeIntegral<int>();
      t.tm_sec = in.ConsumeIntegral<int>();
      const uint16_t flags = in.ConsumeIntegral<uint16_t>();
      const size_t room = in.ConsumeIntegralInRange<size_t>(1, kTimeTextMax);
      std::vector<char> text(room + fuzzblocks::kCanaryBytes, static_cast<char>(fuzzblocks::kCanary));
      TimeFormatTime(text.data(), &t, flags, room);
      for (size_t i = room; i < text.size(); ++i)
        if (text[i] != static_cast<char>(fuzzblocks::kCanary)) fuzzblocks::fail("TimeFormatTime", "wrote past its room");
      if (std::memchr(text.data(), '\0', room) == nullptr) fuzzblocks::fail("TimeFormatTime", "left no NUL");
      break;
    }
  }
  return 0;
}
