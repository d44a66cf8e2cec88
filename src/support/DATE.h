// Calendar arithmetic on OLE Automation dates and on the day number they rest on.
// Integer arithmetic only; no allocation, no state but the cached current year.
#pragma once

#include <cstdint>

// The OLE Automation date: days from 30 December 1899, the time of day as fraction.
// Declared here as OLE declares it, so this unit needs no COM header.
typedef double DATE;

// Day number of 30 December 1899 (DATE 0); 15 October 1582 is day 1.
constexpr int32_t kDATEEpochJday = 115859;

// Month lengths, January to December, of an ordinary year.
extern const uint8_t daysInMonth[12];

// The local year of the first call, kept for the life of the process.
uint16_t yearNow();
// yearNow rounded down to a multiple of 100.
uint16_t hundredsNow();
// Two-digit years: 0..19 are 2000..2019, 20..99 are 1920..1999; above 99 unchanged.
uint16_t yearWithCentury(uint16_t y_);

// Day number of a date (proleptic Gregorian); month and day are not validated and
// run on into the neighbouring months. Years up to 99 are widened first.
int32_t jday(uint16_t m, uint16_t d, uint16_t y);
// Inverse of jday for every date from 1 January 100 on.
void MDYFromjday(int32_t jdayValue, int16_t* _month, int16_t* _day, int16_t* _year);

// Splits a DATE; one that is not greater than 0 gives 0, 0, 0 (no date).
void MDYFromDATE(DATE dt, int16_t* _month, int16_t* _day, int16_t* _year);
// Builds a whole-day DATE; a zero component gives -1.0 (no date).
DATE DATEFromMDY(int16_t _month, int16_t _day, int16_t _year);

// Components of a DATE (0 gives 30 December 1899). A value with no day number
// (not a number, or beyond the 32-bit day range) gives 0.
int16_t Month(DATE dt);
int16_t Day(DATE dt);
int16_t Year(DATE dt);
// 1 = Sunday .. 7 = Saturday; 0 for a value with no day number.
int16_t Weekday(DATE dt);

// -1 (all bits set) for a Gregorian leap year, 0 otherwise.
int16_t isLeapYear(int16_t y_);
// Days of the month in that (four-digit) year; 0 for a month outside 1..12.
int16_t lastDayOfMonth(int16_t m_, int16_t y_);
// The last day of dt's month; -1.0 for a value with no day number.
DATE EndOfMonth(DATE dt);
