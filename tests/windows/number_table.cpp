// Prints ZelNum and ZelToText answers for a fixed table and a fixed-seed sweep,
// one line per call, by loading the library the way the report engine does. Built
// for Linux and for 32-bit Windows; run.sh compares the two outputs line by line.
//
//   number_table LIBRARY
//
// No floating-point text comes from the C runtime here: inputs are written from
// integers, so both builds feed the library the very same texts.
#include <cfenv>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "param_list.h"
#include "uf_records.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

typedef void(UF_CALL* RoundFn)(int32_t);

struct Library {
  RoundFn round = nullptr;
  UFEntryFunc zelNum = nullptr;
  UFEntryFunc zelToText = nullptr;
};

bool load(const char* path, Library* lib) {
#ifdef _WIN32
  HMODULE h = LoadLibraryA(path);
  if (!h) return false;
  lib->round = reinterpret_cast<RoundFn>(reinterpret_cast<void*>(GetProcAddress(h, "reportZelRound")));
  lib->zelNum = reinterpret_cast<UFEntryFunc>(reinterpret_cast<void*>(GetProcAddress(h, "ZelNum")));
  lib->zelToText = reinterpret_cast<UFEntryFunc>(reinterpret_cast<void*>(GetProcAddress(h, "ZelToText")));
#else
  void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!h) return false;
  lib->round = reinterpret_cast<RoundFn>(dlsym(h, "reportZelRound"));
  lib->zelNum = reinterpret_cast<UFEntryFunc>(dlsym(h, "ZelNum"));
  lib->zelToText = reinterpret_cast<UFEntryFunc>(dlsym(h, "ZelToText"));
#endif
  return lib->round && lib->zelNum && lib->zelToText;
}

std::string intText(long long v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// units / 10^decimals as a decimal text, from the integer alone.
std::string decimalText(long long units, int decimals) {
  const bool negative = units < 0;
  std::string digits = intText(negative ? -units : units);
  if (static_cast<int>(digits.size()) <= decimals) digits.insert(0, decimals + 1 - digits.size(), '0');
  if (decimals > 0) digits.insert(digits.size() - decimals, ".");
  return (negative ? "-" : "") + digits;
}

// One call of a formula function with a 20-byte result, as the host sizes it.
std::string call(UFEntryFunc fn, std::vector<UFParamListElement> args) {
  char result[20 + 8];
  std::fill(result, result + sizeof result, '#');
  for (size_t i = 0; i + 1 < args.size(); ++i) args[i].NextParam = &args[i + 1];
  UFParamBlock block{};
  block.StructSize = sizeof block;
  block.ReturnValue.ReturnString = result;
  block.UFParamList = args.data();
  const UFError e = fn(&block);
  if (e != UFNoError) return "error " + intText(e);
  for (size_t i = 20; i < sizeof result; ++i)
    if (result[i] != '#') return "overrun";
  return "'" + std::string(result) + "'";
}

struct NumCall {
  int onoff, width, decimals;
  std::string text;
};

std::vector<NumCall> zelNumCalls() {
  std::vector<NumCall> calls;
  // Ties at 0 to 4 decimals, both signs, and their neighbours in text.
  const char* const texts[] = {"0.5",    "1.5",     "2.5",      "99.5",    "1234.5",   "0.25",   "0.75",
                               "9.75",   "0.125",   "0.375",    "0.625",   "0.0625",   "9.9375", "0.03125",
                               "0.96875", "9.96875", "2.675",    "1.005",   "0.15",     "0.45",   "1234.567",
                               "0.3",    "0.49",    "0.1249999", "0.1250001", "1000.5", "1e3",    "abc"};
  for (const char* t : texts)
    for (const char* sign : {"", "-"})
      for (int onoff : {0, 1})
        for (int width : {-8, 1, 5, 10, 19})
          for (int decimals = 0; decimals <= 4; ++decimals) calls.push_back({onoff, width, decimals, sign + std::string(t)});
  // Sweep: exact ties m / 2^(d+1) written as m * 5^(d+1) / 10^(d+1), and texts one
  // unit of a far decimal either side of them.
  std::mt19937_64 rng(20261207);
  for (int i = 0; i < 6000; ++i) {
    const int d = static_cast<int>(rng() % 12);
    long long units = static_cast<long long>((rng() % (1u << 20)) | 1);
    for (int k = 0; k <= d; ++k) units *= 5;
    if (rng() & 1) units = -units;
    const int width = 19, decimals = static_cast<int>(rng() % 13);
    const int onoff = static_cast<int>(rng() % 2);
    calls.push_back({onoff, onoff ? 15 : width, onoff ? 4 : decimals, decimalText(units, d + 1)});
    calls.push_back({onoff, onoff ? 15 : width, onoff ? 4 : d, decimalText(units, d + 1)});
    calls.push_back({0, width, d, decimalText(units * 1000 + 1, d + 4)});
    calls.push_back({0, width, d, decimalText(units * 1000 - 1, d + 4)});
  }
  return calls;
}

std::vector<double> zelToTextHosts() {
  std::vector<double> hosts = {12.5, -12.5, 37.5, 112.5, -123462.5, 0.5, 123456, -50, 0, 1e17};
  std::mt19937_64 rng(7);
  for (int i = 0; i < 4000; ++i) {
    const double whole = static_cast<double>(static_cast<long long>(rng() % 2000000000) - 1000000000);
    hosts.push_back(whole);
    hosts.push_back(whole + 0.5);
  }
  return hosts;
}

std::vector<std::string> run(const Library& lib) {
  std::vector<std::string> lines;
  for (const NumCall& c : zelNumCalls()) {
    lib.round(c.onoff);
    lines.push_back("ZelNum " + std::string(c.onoff ? "on " : "off ") + intText(c.width) + " " + intText(c.decimals) +
                    " '" + c.text + "' => " +
                    call(lib.zelNum, {number(c.width * 100.0), number(c.decimals * 100.0), text(c.text.c_str())}));
  }
  lib.round(0);
  for (double h : zelToTextHosts()) {
    char buf[64];
    const std::string host(buf, std::to_chars(buf, buf + sizeof buf, h).ptr);
    lines.push_back("ZelToText host " + host + " => " + call(lib.zelToText, {number(h)}));
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: number_table LIBRARY\n");
    return 2;
  }
  Library lib;
  if (!load(argv[1], &lib)) {
    std::fprintf(stderr, "cannot load %s or its number functions\n", argv[1]);
    return 1;
  }
  const std::vector<std::string> nearest = run(lib);
  for (const std::string& line : nearest) std::printf("%s\n", line.c_str());
  // The same calls under every other rounding mode must give the same lines.
  int differences = 0;
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    std::fesetround(mode);
    const std::vector<std::string> lines = run(lib);
    std::fesetround(FE_TONEAREST);
    for (size_t i = 0; i < lines.size() && i < nearest.size(); ++i)
      if (lines[i] != nearest[i]) ++differences;
    if (lines.size() != nearest.size()) ++differences;
  }
  std::printf("rounding modes: %d differences\n", differences);
  return 0;
}
