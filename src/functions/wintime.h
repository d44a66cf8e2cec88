// Current time of day in the user's regional format.
#pragma once

#include <cstdint>
#include <ctime>

#include "uf_records.h"

UF_EXPORT UFError UF_CALL ZelTime(UFParamBlock* ParamBlock);
UF_EXPORT UFError UF_CALL ZelTimeStringRetSize(UFMemCalcBlock* ParamBlock);

// wFlags: 1 forces the 24-hour clock, 4 leaves out the seconds.
constexpr uint16_t TF_FORCE24 = 1;
constexpr uint16_t TF_NOSECONDS = 4;

char* TimeGetCurTime(char* lpszTime, uint16_t wFlags);
char* TimeFormatTime(char* lpszTime, const std::tm* lpTM, uint16_t wFlags);
void TimeResetInternational(void);

// The regional settings, process-wide; 0 or empty before the first reset.
extern int32_t iTime;
extern int32_t iTLzero;
extern char sTime[3];
extern char sAMPM[2][6];
