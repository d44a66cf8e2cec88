// Number formatting and header splitting formula functions.
#pragma once

#include <cstddef>

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

// Room for any number text fixedText is asked for here: a 254-character field, or a
// sign, 309 integer digits, the point and 255 decimals.
constexpr size_t kFixedTextRoom = 640;

// value in fixed-point notation with `decimals` decimals, right-aligned in a field of
// `width` characters (left-aligned in -width when negative), NUL-terminated: the
// exact binary value rounded to the decimals, an exact half away from zero. Returns
// the length, or 0 (buf unspecified) when the value is not finite, decimals is
// negative or the text with its NUL does not fit size.
size_t fixedText(char* buf, size_t size, double value, int width, int decimals);
