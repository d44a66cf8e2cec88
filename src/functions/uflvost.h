// Number formatting and header splitting formula functions.
#pragma once

#include "uf_records.h"

UF_EXPORT UFError UF_CALL ZelNum(UFParamBlock* ParamBlock);
UF_EXPORT UFError UF_CALL ZelNumStringRetSize(UFMemCalcBlock* ParamBlock);
UF_EXPORT UFError UF_CALL ZelToText(UFParamBlock* ParamBlock);
UF_EXPORT UFError UF_CALL ZelToTextStringRetSize(UFMemCalcBlock* ParamBlock);
UF_EXPORT UFError UF_CALL ZelSplitHdr(UFParamBlock* ParamBlock);
UF_EXPORT void UF_CALL reportZelRound(int32_t onoff);

// Trims trailing blanks in place; returns the first non-blank character.
char* removeBlanks(char* AString);

extern int32_t roundFlag;

// Size of the ZelNum and ZelToText result buffers, NUL included.
constexpr int16_t kNumberTextSize = 20;
