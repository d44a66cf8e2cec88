// The least harness: the million-row report's template done by hand, with
// only the work each row needs. Shared by bench_fyend, which times it inside
// its own process, and least_report, which runs it as a program of its own.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"

namespace bench {

// The least work any harness must add to the loop above on this report,
// written for this one template and done inline: the CSV read from its file
// in 64 KB blocks and split at its commas, company, book and date read from
// their fields, the cost passed as a text in a buffer between 64-byte guards,
// ZelNum's result in another, every guard and the argument text checked after
// the call, each call's error code looked at, and the three results written
// as text into 64 KB blocks that go to /dev/null. No general harness does
// less, so loop / (loop + this) is the most ufhost --report can reach.
class LeastHarness {
 public:
  static constexpr size_t kGuard = 64, kBlock = 1 << 16;

  LeastHarness()
      : fy_({bench::number(1), bench::number(0), bench::date(0)}),
        cal_({bench::number(1), bench::number(0), bench::date(0)}),
        num_({bench::number(12), bench::number(2), bench::text("")}),
        in_(kBlock + 64),
        out_(kBlock + 64) {
    std::memset(argZone_, kFill, sizeof argZone_);
    std::memset(resultZone_, kFill, sizeof resultZone_);
    num_.block.ReturnValue.ReturnString = resultZone_ + kGuard;
    num_.args[2].Parameter.ParamString = argZone_ + kGuard;
    for (Kept& k : kept_) k.day = -1;
    for (int i = 0; i < 3; ++i) {
      UFMemCalcParam& m = sizeArgs_[i];
      m.StructSize = sizeof m;
      m.NextMemCalcParam = i < 2 ? &sizeArgs_[i + 1] : nullptr;
      m.MemCalcLiteralFlag = UFLiteral;
      m.MemCalcParamType = num_.args[static_cast<size_t>(i)].ParamType;
      m.MemCalcParamLength = num_.args[static_cast<size_t>(i)].ParamLength;
    }
    sizing_.StructSize = sizeof sizing_;
    sizing_.MemCalcCommand = UFCalcStringLength;
    sizing_.UFMemCalcParamList = sizeArgs_;
    sizing_.UFParamList = num_.args.data();
  }

  // Rows done over the file, their text written to output; -1 when a call
  // failed or a file cannot be opened.
  long run(const std::string& path, const char* output = "/dev/null") {
    const int fd = open(path.c_str(), O_RDONLY);
    const int sink = open(output, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || sink < 0) {  // the one that did open is not left open
      if (fd >= 0) close(fd);
      if (sink >= 0) close(sink);
      return -1;
    }
    const Exports& e = Exports::get();
    long rows = 0;
    size_t have = 0, at = 0, used = 0;
    bool header = true, failed = false;
    for (;;) {
      const char* eol = static_cast<const char*>(std::memchr(in_.data() + at, '\n', have - at));
      if (!eol) {  // the rest of a line moves to the front, more is read behind it
        std::memmove(in_.data(), in_.data() + at, have - at);
        have -= at;
        at = 0;
        const ssize_t n = read(fd, in_.data() + have, kBlock - have);
        if (n <= 0) break;
        have += static_cast<size_t>(n);
        continue;
      }
      const char* p = in_.data() + at;
      at = static_cast<size_t>(eol - in_.data()) + 1;
      if (header) {
        header = false;
        continue;
      }
      const char* c1 = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(eol - p)));
      const char* c2 = c1 ? static_cast<const char*>(std::memchr(c1 + 1, ',', static_cast<size_t>(eol - c1 - 1))) : nullptr;
      const char* c3 = c2 ? static_cast<const char*>(std::memchr(c2 + 1, ',', static_cast<size_t>(eol - c2 - 1))) : nullptr;
      if (!c3 || c3 - c2 != 11) {
        failed = true;
        break;
      }
      const double company = integer(p, c1) * 100.0, book = integer(c1 + 1, c2) * 100.0;
      const CRDate date = isoDate(c2 + 1);
      const size_t costLength = static_cast<size_t>(eol - c3 - 1);
      if (costLength >= 48) {
        failed = true;
        break;
      }
      char* cost = argZone_ + kGuard;
      std::memcpy(cost, c3 + 1, costLength);
      cost[costLength] = '\0';
      std::memset(cost + costLength + 1, kFill, kGuard);  // the back guard moves with the text's end
      fy_.args[0].Parameter.ParamNumber = cal_.args[0].Parameter.ParamNumber = company;
      fy_.args[1].Parameter.ParamNumber = cal_.args[1].Parameter.ParamNumber = book;
      fy_.args[2].Parameter.ParamDate = cal_.args[2].Parameter.ParamDate = date;
      // ZelNum's result buffer is as long as its size function asks, each call.
      for (int i = 0; i < 3; ++i) sizeArgs_[i].MemCalcParameter = num_.args[static_cast<size_t>(i)].Parameter;
      sizeArgs_[2].MemCalcParamLength = static_cast<int16_t>(costLength + 1);
      num_.args[2].ParamLength = static_cast<int16_t>(costLength + 1);
      sizing_.UFMemCalcStringLength = 0;
      if (e.numSize(&sizing_) != UFNoError || sizing_.UFMemCalcStringLength < 1 ||
          sizing_.UFMemCalcStringLength > kResultRoom) {
        failed = true;
        break;
      }
      const size_t resultSize = static_cast<size_t>(sizing_.UFMemCalcStringLength);
      std::memset(resultZone_ + kGuard, kFill, resultSize + kGuard);  // the body, and the back guard behind it
      num_.block.ReturnValueLength = static_cast<int16_t>(resultSize);
      if (e.fyEnd(&fy_.block) != UFNoError || e.calYEnd(&cal_.block) != UFNoError || e.num(&num_.block) != UFNoError) {
        failed = true;
        break;
      }
      const char* result = resultZone_ + kGuard;
      const size_t resultLength = strnlen(result, resultSize);
      if (resultLength == resultSize || !guardsHold(argZone_, costLength + 1) || !guardsHold(resultZone_, resultSize) ||
          std::memcmp(cost, c3 + 1, costLength) != 0) {
        failed = true;
        break;
      }
      if (used + 128 > kBlock) {  // room for the longest line: two dates and a result of at most 64
        if (write(sink, out_.data(), used) < 0) failed = true;
        used = 0;
      }
      char* o = out_.data() + used;
      o = putDate(o, fy_.block.ReturnValue.ReturnDate);
      *o++ = ' ';
      o = putDate(o, cal_.block.ReturnValue.ReturnDate);
      *o++ = ' ';
      std::memcpy(o, result, resultLength);
      o += resultLength;
      *o++ = '\n';
      used = static_cast<size_t>(o - out_.data());
      ++rows;
    }
    if (used && write(sink, out_.data(), used) < 0) failed = true;
    close(fd);
    close(sink);
    return failed ? -1 : rows;
  }

 private:
  static constexpr unsigned char kFill = 0xCD;
  static constexpr int kResultRoom = 64;

  static double integer(const char* p, const char* end) {
    int v = 0;
    for (; p < end; ++p) v = v * 10 + (*p - '0');
    return v;
  }
  static CRDate isoDate(const char* p) {
    auto two = [](const char* q) { return (q[0] - '0') * 10 + (q[1] - '0'); };
    int y = two(p) * 100 + two(p + 2);
    const int m = two(p + 5), d = two(p + 8);
    // Days from the civil date, the year starting in March.
    y -= m <= 2;
    const int era = y / 400, yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy + 1721119;
  }
  // The 64 bytes before a buffer and the 64 after its size still hold the fill.
  static bool guardsHold(const char* zone, size_t size) {
    static const std::vector<char> fill(kGuard, static_cast<char>(kFill));
    return std::memcmp(zone, fill.data(), kGuard) == 0 && std::memcmp(zone + kGuard + size, fill.data(), kGuard) == 0;
  }
  char* putDate(char* o, CRDate day) {
    Kept& k = kept_[static_cast<uint32_t>(day) % 1024];
    if (k.day != day) {
      int16_t y;
      uint16_t m, d;
      CRDateToYearMonthDay(day, &y, &m, &d);
      const unsigned digits[] = {static_cast<unsigned>(y) / 1000 % 10, static_cast<unsigned>(y) / 100 % 10,
                                 static_cast<unsigned>(y) / 10 % 10, static_cast<unsigned>(y) % 10, 10u,
                                 m / 10u, m % 10u, 10u, d / 10u, d % 10u};
      for (size_t i = 0; i < 10; ++i) k.text[i] = digits[i] == 10 ? '-' : static_cast<char>('0' + digits[i]);
      k.day = day;
    }
    std::memcpy(o, k.text, 10);
    return o + 10;
  }

  struct Kept {
    CRDate day;
    char text[16];
  };
  bench::Call fy_, cal_, num_;
  std::vector<char> in_, out_;
  char argZone_[kGuard + 48 + kGuard];
  char resultZone_[kGuard + kResultRoom + kGuard];
  UFMemCalcParam sizeArgs_[3]{};
  UFMemCalcBlock sizing_{};
  Kept kept_[1024];
};

}  // namespace bench
