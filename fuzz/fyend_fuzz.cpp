// The year-end exports through their parameter blocks, with the real calendar
// engine (registered in a private class registry) and the data source WINZELRW:
// the SQLite company named by U2LVOST_FUZZ_COMPANY_DB, or none at all, when the
// exports must still answer safely. Job starts and ends come from the input too.
// Boxes are counted, not shown.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "comtypes.h"
#include "fuzz_blocks.h"
#include "platform.h"
#include "syrapi.h"
#include "ufmain.h"

using fuzzblocks::Arg;
using fuzzblocks::ParamList;
using fuzzblocks::callDate;

namespace {

std::string g_dir;
unsigned long g_boxes = 0;

// The first few are shown, so a broken set-up explains itself.
void countBox(const char* caption, const char* text, void*) {
  if (++g_boxes <= 3) std::fprintf(stderr, "fyend fuzzer box: %s\n%s\n", caption, text);
}

void writeFile(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) fuzzblocks::fail("fuzzer", ("cannot write " + path).c_str());
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

// No UFTerminate here: closing the connection unloads the ODBC driver, whose own
// allocations LeakSanitizer would then report with no frame to name.
void cleanUp() {
  std::fprintf(stderr, "fyend fuzzer: %lu boxes\n", g_boxes);
  unlink((g_dir + "/odbc.ini").c_str());
  unlink((g_dir + "/classes.reg").c_str());
  rmdir(g_dir.c_str());
}

// The engine registers itself, as regsvr would, into the private registry.
void registerEngine() {
  void* engine = dlopen(VRZELCAL_LIBRARY, RTLD_NOW);
  if (engine == nullptr) fuzzblocks::fail("fuzzer", dlerror());
  typedef HRESULT(STDAPICALLTYPE * RegisterFn)();
  auto reg = reinterpret_cast<RegisterFn>(dlsym(engine, "DllRegisterServer"));
  if (reg == nullptr || FAILED(reg())) fuzzblocks::fail("fuzzer", "the engine did not register");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char templ[] = "/tmp/u2lvost-fuzz-XXXXXX";
  if (mkdtemp(templ) == nullptr) fuzzblocks::fail("fuzzer", "no temporary folder");
  g_dir = templ;
  setenv("U2LVOST_COM_REGISTRY", (g_dir + "/classes.reg").c_str(), 1);
  setenv("U2LVOST_PROFILE", (g_dir + "/none.ini").c_str(), 1);
  setenv("U2LVOST_PASSWORD_FILE", "", 1);
  registerEngine();

  // With a company database the caller has defined WINZELRW for it (ODBCINI,
  // ODBCSYSINI); without one, an odbc.ini of our own defines nothing.
  const char* db = std::getenv("U2LVOST_FUZZ_COMPANY_DB");
  const bool withDatabase = db != nullptr && *db != '\0';
  if (withDatabase && (std::getenv("ODBCINI") == nullptr || access(db, R_OK) != 0))
    fuzzblocks::fail("fuzzer", "U2LVOST_FUZZ_COMPANY_DB needs a readable file and WINZELRW defined in ODBCINI");
  if (!withDatabase) {
    writeFile(g_dir + "/odbc.ini", "");
    setenv("ODBCINI", (g_dir + "/odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", g_dir.c_str(), 1);
  }
  std::fprintf(stderr, "fyend fuzzer: company database %s\n", withDatabase ? db : "(none: WINZELRW undefined)");

  setMessageBoxSink(&countBox, nullptr);
  if (FAILED(CoInitialize(nullptr))) fuzzblocks::fail("fuzzer", "CoInitialize failed");
  UFInitialize();
  UFStartJob(1);
  std::atexit(cleanUp);

  // With a company database the first lookup must find a year end: otherwise the
  // set-up is broken and the fuzzing would only ever meet the failure path.
  UFParamListElement args[3] = {};
  args[0].NextParam = &args[1];
  args[1].NextParam = &args[2];
  args[0].ParamType = args[1].ParamType = UFNumber;
  args[2].ParamType = UFDate;
  args[0].Parameter.ParamNumber = 100.0;  // company 1
  args[1].Parameter.ParamNumber = 100.0;  // book 1
  args[2].Parameter.ParamDate = 2460384;  // 15 March 2024
  UFParamBlock block = {};
  block.UFParamList = &args[0];
  const UFError rc = ZelFYEnd(&block);
  std::fprintf(stderr, "fyend fuzzer: company 1, book 1, 15 March 2024 gives day %ld (%lu boxes)\n",
               static_cast<long>(block.ReturnValue.ReturnDate), g_boxes);
  if (rc != UFNoError || (withDatabase && block.ReturnValue.ReturnDate < 0))
    fuzzblocks::fail("fuzzer", "the sample company answers no year end");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int calls = in.ConsumeIntegralInRange<int>(1, 8);
  for (int i = 0; i < calls && in.remaining_bytes() > 0; ++i) {
    ParamList args;
    CRDate result;
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
      case 0:
        UFEndJob(0);
        UFStartJob(in.ConsumeIntegral<uint32_t>());
        break;
      case 1:
        args.build(in, {Arg::Number, Arg::Number, Arg::Date});
        callDate("ZelCalYEnd", ZelCalYEnd, args, &result);
        break;
      default:
        args.build(in, {Arg::Number, Arg::Number, Arg::Date});
        callDate("ZelFYEnd", ZelFYEnd, args, &result);
        break;
    }
  }
  return 0;
}
