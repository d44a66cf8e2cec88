// Records, codes and calling conventions of the report engine's user-function
// interface. Shared by the library and the host harness; nothing else here.
#pragma once

#include <cstddef>
#include <cstdint>

// Calling convention of every entry point the host calls. One place to change.
#if defined(_WIN32) && !defined(_WIN64)
#define UF_CALL __stdcall
#else
#define UF_CALL
#endif

// Exported, undecorated entry points. Everything else in the library is hidden.
// Windows: the module-definition file alone names the exports and their ordinals;
// dllexport would add the decorated names (ZelNum@4) beside them.
#if defined(_WIN32)
#define UF_EXPORT extern "C"
#else
#define UF_EXPORT extern "C" __attribute__((visibility("default")))
#endif

typedef int32_t CRDate;  // day number, 0 = 1 January -4713; -1 invalid
typedef int32_t CRTime;  // seconds of the day
typedef int32_t UFTDate;
typedef int32_t UFTTime;
typedef double UFTNumber;  // 100 times the formula value
typedef double UFTCurrency;
typedef int16_t CRBoolean;
typedef int16_t UFTBoolean;
typedef uint32_t CRVersion;

enum UFError : int32_t {
  UFUserError = -1,
  UFNoError = 0,
  UFNoMemory = 1,
  UFStringTooBig = 2,
  UFDivideByZero = 3,
  UFArrayIndexTooBig = 4,
  UFStringIndexTooBig = 5,
  UFNotEnoughParameters = 6,
  UFMemCalcFail = 7,
};

enum UFTypeDefs : int32_t {
  UFUndefinedType,
  UFNumber,
  UFCurrency,
  UFNumberToCurrency,
  UFInteger,
  UFBoolean,
  UFDate,
  UFStringArg,
  UFNumberRange,
  UFCurrencyRange,
  UFNumberToCurrencyRange,
  UFIntegerRange,
  UFBooleanRange,
  UFDateRange,
  UFStringRange,
  UFNumberArray,
  UFCurrencyArray,
  UFNumberToCurrencyArray,
  UFIntegerArray,
  UFBooleanArray,
  UFDateArray,
  UFStringArray,
  UFField,
  UFTime,
  UFDateTime,
  UFTimeRange,
  UFDateTimeRange,
  UFTimeArray,
  UFDateTimeArray,
};

enum UFMemCalcParmTypes : int32_t {
  UFLiteral = 0,
  UFArray = 1,
  UFVariable = 2,
  UFExpression = 3,
};

enum UFMemCalcType : int32_t {
  UFCalcStringLength = 0,
  UFCalcArraySize = 1,
};

#pragma pack(push, 2)

struct CRDateTime {
  CRDate date;
  CRTime time;
};

struct UFDateRangeT {
  CRDate start, end;
};
struct UFTimeRangeT {
  CRTime start, end;
};
struct UFDateTimeRangeT {
  CRDateTime start, end;
};
struct UFNumberRangeT {
  double start, end;
};
struct UFIntegerRangeT {
  int32_t start, end;
};
struct UFBooleanRangeT {
  int16_t start, end;
};
struct UFStringRangeT {
  char *start, *end;
};

union UFParamUnion {
  int32_t ParamInteger;
  UFTNumber ParamNumber;
  CRDate ParamDate;
  CRTime ParamTime;
  CRDateTime ParamDateTime;
  UFTBoolean ParamBoolean;
  UFTCurrency ParamCurrency;
  char* ParamString;
  UFTNumber* ParamNumberArray;
  int32_t* ParamIntegerArray;
  CRDate* ParamDateArray;
  CRTime* ParamTimeArray;
  CRDateTime* ParamDateTimeArray;
  UFTBoolean* ParamBooleanArray;
  UFTCurrency* ParamCurrencyArray;
  char** ParamStringArray;
  void* ParamArrayPointer;
  UFNumberRangeT ParamNumberRange;
  UFNumberRangeT ParamCurrencyRange;
  UFIntegerRangeT ParamIntegerRange;
  UFBooleanRangeT ParamBooleanRange;
  UFDateRangeT ParamDateRange;
  UFStringRangeT ParamStringRange;
  UFTimeRangeT ParamTimeRange;
  UFDateTimeRangeT ParamDateTimeRange;
};

union UFReturnUnion {
  UFTNumber ReturnNumber;
  CRDate ReturnDate;
  CRTime ReturnTime;
  CRDateTime ReturnDateTime;
  UFTBoolean ReturnBoolean;
  UFTCurrency ReturnCurrency;
  char* ReturnString;
  int32_t UFReturnUserError;
  char pad_[16];  // the host reserves 16 bytes whatever the member
};

struct UFParamListElement {
  uint16_t StructSize;
  UFParamListElement* NextParam;
  int16_t ParamLength;
  UFTypeDefs ParamType;
  UFParamUnion Parameter;
};

struct UFParamBlock {
  uint16_t StructSize;
  UFReturnUnion ReturnValue;
  int16_t ReturnValueLength;
  int16_t FunctionNumber;
  void(UF_CALL* UFErrorHandler)(UFError);
  UFParamListElement* UFParamList;
  uint32_t JobId;
};

struct UFMemCalcParam {
  uint16_t StructSize;
  UFMemCalcParam* NextMemCalcParam;
  int16_t MemCalcParamLength;
  UFMemCalcParmTypes MemCalcLiteralFlag;
  UFTypeDefs MemCalcParamType;
  UFParamUnion MemCalcParameter;
};

struct UFMemCalcBlock {
  uint16_t StructSize;
  UFMemCalcType MemCalcCommand;
  int16_t UFMemCalcArrayLength;
  int16_t UFMemCalcStringLength;
  UFMemCalcParam* UFMemCalcParamList;
  UFParamListElement* UFParamList;
};

typedef UFError(UF_CALL* UFEntryFunc)(UFParamBlock*);
typedef UFError(UF_CALL* UFMemCalcFuncPtr)(UFMemCalcBlock*);

struct UFFunctionDefStrings {
  const char* FuncDefString;
  UFEntryFunc UFEntry;
  UFMemCalcFuncPtr UFMemCalcFunc;
};

struct UFFunctionTemplates {
  const char* FuncTemplate;
};

struct UFFunctionExamples {
  const char* FuncExample;
};

struct UFFunctionDefStringList {
  uint16_t StructSize;
  UFFunctionDefStrings* UFFunctionDefStrPtr;
};

struct UFFunctionTemplateList {
  uint16_t StructSize;
  UFFunctionTemplates* UFFuncTemplatePtr;
};

struct UFFunctionExampleList {
  uint16_t StructSize;
  UFFunctionExamples* FuncExample;
};

#pragma pack(pop)

// On 32-bit Windows the layouts are the host's exactly.
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(UFParamUnion) == 16, "UFParamUnion");
static_assert(sizeof(UFReturnUnion) == 16, "UFReturnUnion");
static_assert(sizeof(UFParamBlock) == 34, "UFParamBlock");
static_assert(offsetof(UFParamBlock, ReturnValue) == 2, "ReturnValue");
static_assert(offsetof(UFParamBlock, ReturnValueLength) == 18, "ReturnValueLength");
static_assert(offsetof(UFParamBlock, FunctionNumber) == 20, "FunctionNumber");
static_assert(offsetof(UFParamBlock, UFErrorHandler) == 22, "UFErrorHandler");
static_assert(offsetof(UFParamBlock, UFParamList) == 26, "UFParamList");
static_assert(offsetof(UFParamBlock, JobId) == 30, "JobId");
static_assert(sizeof(UFParamListElement) == 28, "UFParamListElement");
static_assert(offsetof(UFParamListElement, NextParam) == 2, "NextParam");
static_assert(offsetof(UFParamListElement, ParamLength) == 6, "ParamLength");
static_assert(offsetof(UFParamListElement, ParamType) == 8, "ParamType");
static_assert(offsetof(UFParamListElement, Parameter) == 12, "Parameter");
static_assert(sizeof(UFMemCalcBlock) == 18, "UFMemCalcBlock");
static_assert(offsetof(UFMemCalcBlock, MemCalcCommand) == 2, "MemCalcCommand");
static_assert(offsetof(UFMemCalcBlock, UFMemCalcArrayLength) == 6, "ArrayLength");
static_assert(offsetof(UFMemCalcBlock, UFMemCalcStringLength) == 8, "StringLength");
static_assert(offsetof(UFMemCalcBlock, UFMemCalcParamList) == 10, "MemCalcParamList");
static_assert(offsetof(UFMemCalcBlock, UFParamList) == 14, "UFParamList");
static_assert(sizeof(UFMemCalcParam) == 32, "UFMemCalcParam");
static_assert(offsetof(UFMemCalcParam, NextMemCalcParam) == 2, "NextMemCalcParam");
static_assert(offsetof(UFMemCalcParam, MemCalcParamLength) == 6, "MemCalcParamLength");
static_assert(offsetof(UFMemCalcParam, MemCalcLiteralFlag) == 8, "MemCalcLiteralFlag");
static_assert(offsetof(UFMemCalcParam, MemCalcParamType) == 12, "MemCalcParamType");
static_assert(offsetof(UFMemCalcParam, MemCalcParameter) == 16, "MemCalcParameter");
static_assert(sizeof(UFFunctionDefStrings) == 12, "UFFunctionDefStrings");
static_assert(sizeof(UFFunctionDefStringList) == 6, "UFFunctionDefStringList");
static_assert(sizeof(UFFunctionTemplateList) == 6, "UFFunctionTemplateList");
static_assert(sizeof(UFFunctionExampleList) == 6, "UFFunctionExampleList");
#endif

// What UFGetVersion answers: interface version 1.0.
#define UF_HOST_VERSION 0x0100
