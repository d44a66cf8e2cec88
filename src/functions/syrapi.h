// Year-end formula functions and the short-year entry points.
#pragma once

#include "comtypes.h"
#include "uf_records.h"

UF_EXPORT UFError UF_CALL ZelFYEnd(UFParamBlock* ParamBlock);
UF_EXPORT UFError UF_CALL ZelCalYEnd(UFParamBlock* ParamBlock);
UF_EXPORT uint32_t UF_CALL _SETSHORTYEAR(int32_t* intArray);
UF_EXPORT void UF_CALL _CLEARSHYRINFO(void);

DATE getFYEndFromDateLong(uint32_t companyID, uint32_t bookID, uint32_t year, uint32_t month, uint32_t day);
uint32_t getCalYEndFromDateLong(uint32_t companyID, uint32_t bookID, uint32_t year, uint32_t month, uint32_t day);
