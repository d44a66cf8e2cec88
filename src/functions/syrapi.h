// Year-end formula functions and the short-year entry points.
#pragma once

#include "comtypes.h"
#include "uf_records.h"

UF_EXPORT UFError UF_CALL ZelFYEnd(UFParamBlock* ParamBlock);
UF_EXPORT UFError UF_CALL ZelCalYEnd(UFParamBlock* ParamBlock);
UF_EXPORT uint32_t UF_CALL _SETSHORTYEAR(int32_t* intArray);
UF_EXPORT void UF_CALL _CLEARSHYRINFO(void);

// The resolver's fiscal-year end (a DATE; 0.0 when there is none, also when
// there is no resolver) for the date as the engine counts it.
DATE getFYEndFromDate(uint32_t companyID, uint32_t bookID, DATE date);
// The same for a year, month and day, the date made as the database's dates
// are (DATEFromMDY). year is the 16-bit year sign-extended.
DATE getFYEndFromDateLong(uint32_t companyID, uint32_t bookID, uint32_t year, uint32_t month, uint32_t day);
// The DATE ZelFYEnd asks the lookup for: the host's day number split into year,
// month and day and built again with DATEFromMDY, without the round trip where
// both calendars count the same days.
DATE lookupDateOf(CRDate date);
// A DATE as the host's day number, as ZelFYEnd returns it: the time of day
// dropped, -1 for no date (0 or below, NaN) and for years the host cannot hold.
CRDate hostDateOf(DATE date);
// Month count (year * 12 + month) of the month the date's calendar year ends in.
uint32_t getCalYEndFromDateLong(uint32_t companyID, uint32_t bookID, uint32_t year, uint32_t month, uint32_t day);

// Where getFYEndFromDate asks; the resolver unless a test puts its own
// lookup in place. Null restores the resolver.
typedef DATE (*FiscalYearEndLookup)(int16_t company, uint32_t bookID, DATE date);
void setFiscalYearEndLookup(FiscalYearEndLookup lookup);
