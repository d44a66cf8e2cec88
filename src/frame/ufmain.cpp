// Host entry points, function tables and the argument walk.
#include "ufmain.h"

#include <climits>
#include <new>

#include "persistCalendar.h"
#include "syrapi.h"
#include "uflvost.h"
#include "wintime.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

int32_t refCount = 0;
void* UFInstance = nullptr;

const char* ErrorTable[1] = {"no error"};

// Texts exactly as the report designer shows them, irregular spacing included.
UFFunctionDefStrings FunctionDefStrings[7] = {
    {"String ZelNum (Number, Number, String)", ZelNum, ZelNumStringRetSize},
    {"String ZelTime", ZelTime, ZelTimeStringRetSize},
    {"String ZelSplitHdr (Number, Number, String)", ZelSplitHdr, nullptr},
    {"String ZelToText (Number)", ZelToText, ZelToTextStringRetSize},
    {"Date ZelFYEnd (Number,Number,Date)", ZelFYEnd, nullptr},
    {"Date ZelCalYEnd (Number,Number,Date)", ZelCalYEnd, nullptr},
    {nullptr, nullptr, nullptr},
};

UFFunctionTemplates FunctionTemplates[7] = {
    {"ZelNum (!,,)"}, {"ZelTime!"}, {"ZelSplitHdr (!,,)"}, {"ZelToText(!)"},
    {"ZelFYEnd(!,,)"}, {"ZelCalYEnd(!,,)"}, {nullptr},
};

UFFunctionExamples FunctionExamples[7] = {
    {"\tZelNum (width Number, Precision Number, numberin String)"},
    {"\tZelTime"},
    {"\tZelSplitHdr (line length, line number, header string)"},
    {"\tZelToText(number)"},
    {"\tZelFYEnd(number,number,date)"},
    {"\tZelCalYEnd(number,number,date)"},
    {nullptr},
};

static UFFunctionDefStringList FunctionDefStringList = {6, FunctionDefStrings};
static UFFunctionTemplateList FunctionTemplateList = {6, FunctionTemplates};
static UFFunctionExampleList FunctionExampleList = {6, FunctionExamples};

uint32_t checkheapCalls = 0;

// The hook at every entry and exit. It checks nothing today; the count lets a test see
// that every entry point passes through it.
void checkheap(void) { ++checkheapCalls; }

UF_EXPORT UFError UF_CALL UFInitialize(void) {
  checkheap();
  UFError result = UFNoError;
  if (refCount == INT32_MAX) {
    // One more would wrap the count negative and the resolver would never be freed.
    result = UFNoMemory;
  } else if (refCount == 0) {
    // Creating the resolver opens nothing; it connects on first need.
    persistCalendarPtr = new (std::nothrow) CPersistCalendar;
    if (!persistCalendarPtr) result = UFNoMemory;  // not counted: the next call tries again
  }
  if (result == UFNoError) ++refCount;
  checkheap();
  return result;
}

UF_EXPORT UFError UF_CALL UFTerminate(void) {
  checkheap();
  // An unmatched call is outside the host's calling order; it must not free twice.
  if (refCount > 0 && --refCount == 0) {
    delete persistCalendarPtr;
    persistCalendarPtr = nullptr;
  }
  checkheap();
  return UFNoError;
}

UF_EXPORT uint16_t UF_CALL UFGetVersion(void) {
  HeapCheckScope heapCheck;
  return UF_HOST_VERSION;
}

UF_EXPORT UFFunctionDefStringList* UF_CALL UFGetFunctionDefStrings(void) {
  HeapCheckScope heapCheck;
  return &FunctionDefStringList;
}

UF_EXPORT UFFunctionTemplateList* UF_CALL UFGetFunctionTemplates(void) {
  HeapCheckScope heapCheck;
  return &FunctionTemplateList;
}

UF_EXPORT UFFunctionExampleList* UF_CALL UFGetFunctionExamples(void) {
  HeapCheckScope heapCheck;
  return &FunctionExampleList;
}

UF_EXPORT const char* UF_CALL UFErrorRecovery(UFParamBlock* paramPtr, UFError /*errN*/) {
  HeapCheckScope heapCheck;
  if (!paramPtr) return ErrorTable[0];
  uint16_t index = static_cast<uint16_t>(paramPtr->ReturnValue.UFReturnUserError & 0xFFFF);
  // The table has one entry; any other number gets it rather than a stray pointer.
  if (index >= sizeof ErrorTable / sizeof ErrorTable[0]) index = 0;
  return ErrorTable[index];
}

void InitForJob(uint32_t /*jobID*/) { TimeResetInternational(); }

void TermForJob(uint32_t /*jobID*/) {}

UF_EXPORT void UF_CALL UFStartJob(uint32_t jobId) {
  checkheap();
  if (persistCalendarPtr) persistCalendarPtr->startJob();  // calendars, connection, failures: per job
  InitForJob(jobId);
  checkheap();
}

UF_EXPORT void UF_CALL UFEndJob(uint32_t jobId) {
  checkheap();
  TermForJob(jobId);
  if (persistCalendarPtr) persistCalendarPtr->endJob();  // the job's connection is closed
  checkheap();
}

// Walks count - 1 links from the first element; counts of 0 or below run off the end.
template <class T, class Next>
static T* walk(T* p, int16_t count, Next next) {
  while (p != nullptr && --count != 0) p = next(p);
  return count == 0 ? p : nullptr;
}

UFParamListElement* GetParam(UFParamBlock* Param, int16_t ParamNumber) {
  if (!Param || ParamNumber < 1) return nullptr;
  return walk(Param->UFParamList, ParamNumber, [](UFParamListElement* e) { return e->NextParam; });
}

UFParamListElement* GetParam(UFParamBlock* Param, int16_t ParamNumber, UFTypeDefs type) {
  UFParamListElement* e = GetParam(Param, ParamNumber);
  return e && e->ParamType == type ? e : nullptr;
}

UFMemCalcParam* GetMemCalcParam(UFMemCalcBlock* Param, int16_t ParamNumber) {
  if (!Param || ParamNumber < 1) return nullptr;
  return walk(Param->UFMemCalcParamList, ParamNumber, [](UFMemCalcParam* e) { return e->NextMemCalcParam; });
}

UFMemCalcParam* GetMemCalcArrayElement(UFMemCalcParam* Param, int16_t ParamNumber) {
  if (!Param || ParamNumber < 1) return nullptr;
  auto* first = static_cast<UFMemCalcParam*>(Param->MemCalcParameter.ParamArrayPointer);
  return walk(first, ParamNumber, [](UFMemCalcParam* e) { return e->NextMemCalcParam; });
}

UFParamListElement* GetMemCalcRunParam(UFMemCalcBlock* Param, int16_t ParamNumber) {
  if (!Param || ParamNumber < 1) return nullptr;
  return walk(Param->UFParamList, ParamNumber, [](UFParamListElement* e) { return e->NextParam; });
}

int32_t DllEntryPoint(void* hInst, uint32_t fwdReason, void* /*reserved*/) {
  if (fwdReason == 1) UFInstance = hInst;  // process attach
  return 1;
}

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE hInst, DWORD reason, LPVOID reserved) {
  return DllEntryPoint(hInst, reason, reserved);
}
#else
// The loader's attach notice: find our own handle without adding a reference.
__attribute__((constructor)) static void attachModule() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&attachModule), &info) && info.dli_fname) {
    void* self = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (self) dlclose(self);  // NOLOAD added a reference; the handle stays valid while loaded
    DllEntryPoint(self, 1, nullptr);
  }
}
#endif
