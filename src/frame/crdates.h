// The host's date and time values: CRDate day numbers (day 0 = 1 January -4713,
// Julian before 15 October 1582, Gregorian from then on) and CRTime seconds.
#pragma once

#include <cstdint>

#include "uf_records.h"

// Month lengths indexed 1..12 (index 0 unused), February of an ordinary year.
extern const uint16_t DaysInMonth[13];

// The day number of a date, or -1 when the date is invalid. Day 99 means the
// last day of the month; year 0 is accepted and counted as year -1.
CRDate CRYearMonthDayToDate(int16_t year, uint16_t month, uint16_t day);
// The same without validation.
CRDate YMDToJulian(int16_t year, uint16_t month, uint16_t day);
// Splits a day number; null out-pointers are skipped.
void CRDateToYearMonthDay(CRDate date, int16_t* year, uint16_t* month, uint16_t* day);

// Seconds of the day, without range checks.
CRTime CRHourMinuteSecondToTime(uint16_t hour, uint16_t minute, uint16_t second);
void CRTimeToHourMinuteSecond(CRTime time, uint16_t* hour, uint16_t* minute, uint16_t* second);
