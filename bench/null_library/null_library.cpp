// A function library whose three functions have the names and the argument
// lists of the million-row report's calls but do next to nothing: the same
// template run through ufhost on it costs what the harness itself costs per
// row (reading the rows, laying out and guarding each call, writing the text).
#include <cstring>

#include "uf_records.h"

namespace {

UFParamListElement* arg(UFParamBlock* block, int n) {
  UFParamListElement* e = block->UFParamList;
  while (e && --n > 0) e = e->NextParam;
  return e;
}

// The date argument rounded down to a multiple of 365 days: as few different
// dates as real year ends give, so the report's output costs what it costs
// with them.
UFError UF_CALL sameDate(UFParamBlock* block) {
  UFParamListElement* date = arg(block, 3);
  if (!date) return UFNotEnoughParameters;
  const int32_t day = date->Parameter.ParamDate;
  block->ReturnValue.ReturnDate = day - day % 365;
  return UFNoError;
}

constexpr int kTextSize = 20;

// The text argument back, cut to the result's size.
UFError UF_CALL sameText(UFParamBlock* block) {
  UFParamListElement* text = arg(block, 3);
  if (!text) return UFNotEnoughParameters;
  const char* from = text->Parameter.ParamString;
  const size_t n = strnlen(from, kTextSize - 1);
  std::memcpy(block->ReturnValue.ReturnString, from, n);
  block->ReturnValue.ReturnString[n] = '\0';
  return UFNoError;
}

UFError UF_CALL textSize(UFMemCalcBlock* block) {
  block->UFMemCalcStringLength = kTextSize;
  return UFNoError;
}

UFFunctionDefStrings g_defs[] = {
    {"Date ZelFYEnd (Number, Number, Date)", sameDate, nullptr},
    {"Date ZelCalYEnd (Number, Number, Date)", sameDate, nullptr},
    {"String ZelNum (Number, Number, String)", sameText, textSize},
    {nullptr, nullptr, nullptr},
};
UFFunctionTemplates g_templates[] = {{"ZelFYEnd(!,,)"}, {"ZelCalYEnd(!,,)"}, {"ZelNum(!,,)"}, {nullptr}};
UFFunctionExamples g_examples[] = {{"\tZelFYEnd(company, book, date)"},
                                   {"\tZelCalYEnd(company, book, date)"},
                                   {"\tZelNum(width, decimals, text)"},
                                   {nullptr}};
UFFunctionDefStringList g_defList = {6, g_defs};
UFFunctionTemplateList g_templateList = {6, g_templates};
UFFunctionExampleList g_exampleList = {6, g_examples};

}  // namespace

UF_EXPORT UFError UF_CALL UFInitialize(void) { return UFNoError; }
UF_EXPORT UFError UF_CALL UFTerminate(void) { return UFNoError; }
UF_EXPORT uint16_t UF_CALL UFGetVersion(void) { return 0x0100; }
UF_EXPORT UFFunctionDefStringList* UF_CALL UFGetFunctionDefStrings(void) { return &g_defList; }
UF_EXPORT UFFunctionTemplateList* UF_CALL UFGetFunctionTemplates(void) { return &g_templateList; }
UF_EXPORT UFFunctionExampleList* UF_CALL UFGetFunctionExamples(void) { return &g_exampleList; }
UF_EXPORT const char* UF_CALL UFErrorRecovery(UFParamBlock*, UFError) { return "no error"; }
UF_EXPORT void UF_CALL UFStartJob(uint32_t) {}
UF_EXPORT void UF_CALL UFEndJob(uint32_t) {}
