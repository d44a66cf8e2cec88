// The report engine's day numbers, worked out by the harness itself: day 0 is
// 1 January -4713; the Julian calendar runs until 4 October 1582 and the
// Gregorian from 15 October 1582; -1 means "no date". Years have no year 0
// (-1 is the year before 1) and before year 1 every year whose signed number
// divides by 4 is a leap year, as the engine counts them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ufhost {

constexpr int32_t kNoDate = -1;
constexpr int kFirstYear = -4713;
constexpr int kLastYear = 32767;  // years are 16-bit in the engine

struct CivilDate {
  int year = 0;
  int month = 0;
  int day = 0;
};

bool isLeapYear(int year);
// 0 when the year or month is out of range.
int daysInMonth(int year, int month);

// The day number of a calendar date, or kNoDate when no such day exists
// (year 0, 5 to 14 October 1582, day 31 of a 30-day month, ...).
int32_t dayNumberFromCivil(int year, int month, int day);

// The calendar date of a day number; false for numbers below 0 or past the last year.
bool civilFromDayNumber(int32_t dayNumber, CivilDate& out);

// YYYY-MM-DD (a minus sign before years below 1); "(no date)" for -1 and
// "(invalid date N)" for any other number that names no day.
std::string formatDayNumber(int32_t dayNumber);
// The same text written at out, which has room for kDayNumberRoom bytes; its end.
constexpr size_t kDayNumberRoom = 32;
char* writeDayNumber(int32_t dayNumber, char* out);

}  // namespace ufhost
