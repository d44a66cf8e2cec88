// The library's host entry points, the function tables and the parameter walk.
#pragma once

#include "uf_records.h"

UF_EXPORT UFError UF_CALL UFInitialize(void);
UF_EXPORT UFError UF_CALL UFTerminate(void);
UF_EXPORT uint16_t UF_CALL UFGetVersion(void);
UF_EXPORT UFFunctionDefStringList* UF_CALL UFGetFunctionDefStrings(void);
UF_EXPORT UFFunctionTemplateList* UF_CALL UFGetFunctionTemplates(void);
UF_EXPORT UFFunctionExampleList* UF_CALL UFGetFunctionExamples(void);
UF_EXPORT const char* UF_CALL UFErrorRecovery(UFParamBlock* paramPtr, UFError errN);
UF_EXPORT void UF_CALL UFStartJob(uint32_t jobId);
UF_EXPORT void UF_CALL UFEndJob(uint32_t jobId);

// The ParamNumber-th argument (1-based) of the call, or null.
UFParamListElement* GetParam(UFParamBlock* Param, int16_t ParamNumber);
// The same argument only when the host declared it with `type`: an argument of any
// other type counts as missing, so no function reads it through the wrong member.
UFParamListElement* GetParam(UFParamBlock* Param, int16_t ParamNumber, UFTypeDefs type);
UFMemCalcParam* GetMemCalcParam(UFMemCalcBlock* Param, int16_t ParamNumber);
UFMemCalcParam* GetMemCalcArrayElement(UFMemCalcParam* Param, int16_t ParamNumber);
UFParamListElement* GetMemCalcRunParam(UFMemCalcBlock* Param, int16_t ParamNumber);

void InitForJob(uint32_t jobID);
void TermForJob(uint32_t jobID);
void checkheap(void);

// Calls checkheap on entry and on every way out of an entry point.
struct HeapCheckScope {
  HeapCheckScope() { checkheap(); }
  ~HeapCheckScope() { checkheap(); }
  HeapCheckScope(const HeapCheckScope&) = delete;
  HeapCheckScope& operator=(const HeapCheckScope&) = delete;
};

// Process attach records the module handle (Windows: from DllMain; Linux: at load).
int32_t DllEntryPoint(void* hInst, uint32_t fwdReason, void* reserved);

extern int32_t refCount;
extern uint32_t checkheapCalls;  // calls of checkheap so far
extern void* UFInstance;
extern const char* ErrorTable[1];
extern UFFunctionDefStrings FunctionDefStrings[7];
extern UFFunctionTemplates FunctionTemplates[7];
extern UFFunctionExamples FunctionExamples[7];
