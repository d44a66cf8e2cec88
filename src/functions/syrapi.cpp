// ZelFYEnd and ZelCalYEnd: the end of the fiscal or calendar year a date falls in.
#include "syrapi.h"

#include <cmath>

#include "DATE.h"
#include "crdates.h"
#include "persistCalendar.h"
#include "ufmain.h"

namespace {

DATE resolverLookup(int16_t company, uint32_t bookID, DATE date) {
  // Without a resolver (no UFInitialize yet) there is no fiscal-year end to give.
  if (!persistCalendarPtr) return 0.0;
  return persistCalendarPtr->getFiscalYearEnd(company, bookID, date);
}

FiscalYearEndLookup fiscalYearEndLookup = resolverLookup;

// A formula number (100 times its value) as a whole number, truncated toward zero.
double wholeValue(UFTNumber number) { return std::trunc(number * 0.01); }

// The checks below compare quietly (std::isgreater and the like): an ordered
// compare with NaN raises the invalid-operation flag, which faults a host that
// runs with that trap on.

// The whole number passed on, taken modulo 2^32 as a 32-bit register would.
// Values no 64-bit integer can hold (NaN, infinities) give 0.
uint32_t wholeArgument(double whole) {
  if (!(std::isgreater(whole, -9.2e18) && std::isless(whole, 9.2e18))) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(whole));
}

// Company numbers run from 0 to 32767. The whole formula value is checked
// before anything is cut to 16 bits, so that 65537 never answers for company 1
// and 40000 never for a company loaded before.
bool isCompanyNumber(double whole) {
  return std::isgreaterequal(whole, 0.0) && std::islessequal(whole, 32767.0);  // false for NaN too
}

// A book number is passed as its 32-bit pattern; one that no 32-bit value holds
// (2^32 + 1, NaN, infinities) would wrap onto book 0 or 1, so it is no book.
bool isBookNumber(double whole) {
  return std::isgreaterequal(whole, -2147483648.0) && std::islessequal(whole, 4294967295.0);  // false for NaN too
}

// The dates whose year fits the 16-bit year they are split into: beyond them
// the year would wrap (1 March 67540 would be split as 1 March 2004). The first
// is the host's own 1 January -32768, far before any year the host holds.
// Worked out once, at load: every lookup checks its date against them.
const CRDate kFirstSplittable = YMDToJulian(-32768, 1, 1);
const CRDate kLastSplittable = CRYearMonthDayToDate(32767, 12, 31);
bool isSplittableDate(CRDate date) { return date >= kFirstSplittable && date <= kLastSplittable; }

constexpr CRDate kSerialZero = 2415018;  // the host's day of 30 December 1899, DATE 0

// The three arguments shared by both functions; false when one is missing.
struct YearEndArguments {
  uint32_t companyID, bookID;
  CRDate date;
  bool companyValid, bookValid, dateValid;
};

// The element if it is there and of the wanted type.
UFParamListElement* ofType(UFParamListElement* e, UFTypeDefs type) { return e && e->ParamType == type ? e : nullptr; }

bool fetchArguments(UFParamBlock* block, YearEndArguments* args) {
  // One walk down the list for all three, as GetParam would find each of them.
  UFParamListElement* first = block ? block->UFParamList : nullptr;
  UFParamListElement* second = first ? first->NextParam : nullptr;
  UFParamListElement* third = second ? second->NextParam : nullptr;
  UFParamListElement* company = ofType(first, UFNumber);
  UFParamListElement* book = ofType(second, UFNumber);
  UFParamListElement* date = ofType(third, UFDate);
  if (!company || !book || !date) return false;
  const double companyNumber = wholeValue(company->Parameter.ParamNumber);
  args->companyID = wholeArgument(companyNumber);
  args->companyValid = isCompanyNumber(companyNumber);
  const double bookNumber = wholeValue(book->Parameter.ParamNumber);
  args->bookID = wholeArgument(bookNumber);
  args->bookValid = isBookNumber(bookNumber);
  args->date = date->Parameter.ParamDate;
  args->dateValid = isSplittableDate(args->date);
  return true;
}

// The 16-bit year as its 32-bit sign extension: -4713 stays -4713.
uint32_t widenYear(int16_t year) { return static_cast<uint32_t>(static_cast<int32_t>(year)); }

}  // namespace

CRDate hostDateOf(DATE date) {
  // From 30 December 1899 to 31 December 32767 both calendars are Gregorian and
  // the split into year, month and day would only be put back together: the
  // host's day number is the serial plus a constant.
  constexpr double kLastSerial = 11274306.0;  // 31 December 32767
  if (std::isgreater(date, 0.0) && std::isless(date, kLastSerial + 1.0)) return static_cast<CRDate>(date) + kSerialZero;
  int16_t m = 0, d = 0, y = 0;
  MDYFromDATE(date, &m, &d, &y);  // no date: 0, 0, 0, which gives -1 below
  return CRYearMonthDayToDate(y, static_cast<uint16_t>(m), static_cast<uint16_t>(d));
}

DATE lookupDateOf(CRDate date) {
  // From 15 October 1582 both count the Gregorian calendar and no year is
  // widened: split and built again, the date is the day number less a constant.
  // Only the days before it take the long way, where the two calendars differ.
  constexpr CRDate kFirstGregorianDay = 2299160;  // 15 October 1582
  if (date >= kFirstGregorianDay && date <= kLastSplittable) return static_cast<DATE>(date - kSerialZero);
  int16_t year = 0;
  uint16_t month = 0, day = 0;
  CRDateToYearMonthDay(date, &year, &month, &day);
  return DATEFromMDY(static_cast<int16_t>(month), static_cast<int16_t>(day), year);
}

void setFiscalYearEndLookup(FiscalYearEndLookup lookup) { fiscalYearEndLookup = lookup ? lookup : resolverLookup; }

DATE getFYEndFromDate(uint32_t companyID, uint32_t bookID, DATE date) {
  if (companyID > 32767u) return 0.0;  // no such company: never another one's calendars
  return fiscalYearEndLookup(static_cast<int16_t>(companyID & 0xFFFFu), bookID, date);
}

DATE getFYEndFromDateLong(uint32_t companyID, uint32_t bookID, uint32_t year, uint32_t month, uint32_t day) {
  return getFYEndFromDate(companyID, bookID,
                          DATEFromMDY(static_cast<int16_t>(month), static_cast<int16_t>(day), static_cast<int16_t>(year)));
}

uint32_t getCalYEndFromDateLong(uint32_t /*companyID*/, uint32_t /*bookID*/, uint32_t year, uint32_t /*month*/,
                                uint32_t /*day*/) {
  // A calendar year ends in December whatever the company and book. Unsigned
  // arithmetic: the sign-extended year gives the signed count modulo 2^32.
  return year * 12u + 12u;
}

// ZelFYEnd(company, book, date): the last day of the book's fiscal year holding
// the date; -1 when the resolver finds none.
UF_EXPORT UFError UF_CALL ZelFYEnd(UFParamBlock* ParamBlock) {
  HeapCheckScope heapCheck;
  YearEndArguments args{};
  if (!fetchArguments(ParamBlock, &args)) return UFNotEnoughParameters;
  const bool known = args.companyValid && args.bookValid && args.dateValid;
  const DATE endYear = known ? getFYEndFromDate(args.companyID, args.bookID, lookupDateOf(args.date)) : 0.0;
  ParamBlock->ReturnValue.ReturnDate = hostDateOf(endYear);
  return UFNoError;
}

// ZelCalYEnd(company, book, date): 31 December of the date's year; -1 for a
// date beyond the years the split can hold.
UF_EXPORT UFError UF_CALL ZelCalYEnd(UFParamBlock* ParamBlock) {
  HeapCheckScope heapCheck;
  YearEndArguments args{};
  if (!fetchArguments(ParamBlock, &args)) return UFNotEnoughParameters;
  if (!args.dateValid) {
    ParamBlock->ReturnValue.ReturnDate = -1;  // no year the host can hold
    return UFNoError;
  }
  int16_t dateYear = 0;
  uint16_t dateMonth = 0, dateDay = 0;
  CRDateToYearMonthDay(args.date, &dateYear, &dateMonth, &dateDay);
  const uint32_t endYear = getCalYEndFromDateLong(args.companyID, args.bookID, widenYear(dateYear), dateMonth, dateDay);
  const int32_t count = static_cast<int32_t>(endYear);
  int32_t year = count / 12;
  int32_t month = count % 12;
  if (month == 0) {
    // A multiple of 12 is December of the year before the quotient.
    year -= 1;
    month = 12;
  }
  // Day 99: the last day of that month.
  ParamBlock->ReturnValue.ReturnDate =
      CRYearMonthDayToDate(static_cast<int16_t>(year), static_cast<uint16_t>(month), 99);
  return UFNoError;
}

// Short-year interface: accepted and ignored; the array is never read.
UF_EXPORT uint32_t UF_CALL _SETSHORTYEAR(int32_t* /*intArray*/) {
  HeapCheckScope heapCheck;
  return 1;
}

UF_EXPORT void UF_CALL _CLEARSHYRINFO(void) { HeapCheckScope heapCheck; }
