// Current time of day in the user's regional format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "uf_records.h"

UF_EXPORT UFError UF_CALL ZelTime(UFParamBlock* ParamBlock);
UF_EXPORT UFError UF_CALL ZelTimeStringRetSize(UFMemCalcBlock* ParamBlock);

// wFlags: 1 forces the 24-hour clock, 4 leaves out the seconds.
constexpr uint16_t TF_FORCE24 = 1;
constexpr uint16_t TF_NOSECONDS = 4;

// The result buffer ZelTimeStringRetSize asks the host for: 'hh:mm' + ' ' +
// a four-character designator + NUL.
constexpr int16_t kZelTimeTextSize = 11;
// Room for the longest text of any flags: 'hh:mm:ss' + ' ' + designator + NUL.
constexpr std::size_t kTimeTextMax = 14;

// Both write at most cbTime bytes, NUL included; a longer text is cut.
char* TimeGetCurTime(char* lpszTime, uint16_t wFlags, std::size_t cbTime = kTimeTextMax);
char* TimeFormatTime(char* lpszTime, const std::tm* lpTM, uint16_t wFlags, std::size_t cbTime = kTimeTextMax);
void TimeResetInternational(void);

// The regional settings, process-wide; 0 or empty before the first reset.
extern int32_t iTime;
extern int32_t iTLzero;
extern char sTime[3];
extern char sAMPM[2][6];

// The clock reading of the last TimeGetCurTime; lpTM is null when it could not
// be converted to local time.
extern std::time_t lTime;
extern std::tm* lpTM;
