// ZelTime: the time of day as hours and minutes in the user's regional format.
#include "wintime.h"
#include "ufmain.h"

#include <cassert>
#include <cstdio>

#include "platform.h"

int32_t iTime = 0;
int32_t iTLzero = 0;
char sTime[3] = "";
char sAMPM[2][6] = {"", ""};

std::time_t lTime = 0;
std::tm* lpTM = nullptr;

namespace {

const char kSection[] = "intl";

// What the profile reads allow (buffer sizes 2 and 5, NUL included). The
// formatting below never takes more, whatever the globals hold.
constexpr int kSeparatorMax = 1;
constexpr int kDesignatorMax = 4;

std::tm localNow{};

// Out-of-range fields wrap into their range: the text keeps its length bound
// and the designator index stays 0 or 1.
int wrap(int value, int lo, int hi, int modulus) {
  if (value >= lo && value <= hi) return value;
  const int r = value % modulus;
  return r < 0 ? r + modulus : r;
}

}  // namespace

char* TimeFormatTime(char* lpszTime, const std::tm* tmIn, uint16_t wFlags, std::size_t cbTime) {
  if (!lpszTime || cbTime == 0) return lpszTime;
  lpszTime[0] = '\0';
  if (!tmIn) return lpszTime;

  const int hour = wrap(tmIn->tm_hour, 0, 23, 24);
  const int minute = wrap(tmIn->tm_min, 0, 59, 60);
  const int second = wrap(tmIn->tm_sec, 0, 60, 60);
  const bool withSeconds = (wFlags & TF_NOSECONDS) == 0;
  const bool clock24 = (wFlags & TF_FORCE24) != 0 || iTime != 0;

  // The separator is written as text, never made part of a format: a '%' in the
  // profile must show as '%', not be read as a conversion.
  const char* szFmt = iTLzero != 0 ? "%02d" : "%d";
  const int shownHour = clock24 ? hour : (hour % 12 == 0 ? 12 : hour % 12);

  char szTemp[32];
  int n = std::snprintf(szTemp, sizeof szTemp, szFmt, shownHour);
  n += std::snprintf(szTemp + n, sizeof szTemp - n, "%.*s%02d", kSeparatorMax, sTime, minute);
  if (withSeconds) n += std::snprintf(szTemp + n, sizeof szTemp - n, "%.*s%02d", kSeparatorMax, sTime, second);
  if (!clock24) n += std::snprintf(szTemp + n, sizeof szTemp - n, " %.*s", kDesignatorMax, sAMPM[hour / 12]);
  // Two-digit fields, one separator character and a four-character designator.
  assert(n >= 0 && static_cast<std::size_t>(n) < kTimeTextMax);
  assert(withSeconds || n < kZelTimeTextSize);

  std::snprintf(lpszTime, cbTime, "%s", szTemp);
  return lpszTime;
}

char* TimeGetCurTime(char* lpszTime, uint16_t wFlags, std::size_t cbTime) {
  lTime = std::time(nullptr);
  lpTM = localTimeOf(lTime, &localNow) ? &localNow : nullptr;
  return TimeFormatTime(lpszTime, lpTM, wFlags, cbTime);
}

void TimeResetInternational(void) {
  reloadProfile();  // one read of the profile per job, then five answers from it
  iTime = profileInt(kSection, "iTime", 0);
  iTLzero = profileInt(kSection, "iTLzero", 1);
  profileString(kSection, "sTime", ":", sTime, kSeparatorMax + 1);
  profileString(kSection, "s1159", "AM", sAMPM[0], kDesignatorMax + 1);
  profileString(kSection, "s2359", "PM", sAMPM[1], kDesignatorMax + 1);
}

// ZelTime: no formula arguments; hours and minutes of the current local time.
UF_EXPORT UFError UF_CALL ZelTime(UFParamBlock* ParamBlock) {
  HeapCheckScope heapCheck;
  // Nowhere to put the text: say so rather than report success.
  if (!ParamBlock || !ParamBlock->ReturnValue.ReturnString) return UFNoMemory;
  // 6 as the host always passed it; the 2 means nothing to the formatter.
  TimeGetCurTime(ParamBlock->ReturnValue.ReturnString, 6, kZelTimeTextSize);
  return UFNoError;
}

// The host allocates this many bytes for ZelTime's text.
UF_EXPORT UFError UF_CALL ZelTimeStringRetSize(UFMemCalcBlock* ParamBlock) {
  HeapCheckScope heapCheck;
  if (!ParamBlock) return UFMemCalcFail;
  ParamBlock->UFMemCalcStringLength = kZelTimeTextSize;
  return UFNoError;
}
