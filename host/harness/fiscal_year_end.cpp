#include "fiscal_year_end.h"

#include "host_dates.h"

namespace ufhost {

int32_t fiscalYearEnd(FunctionLibrary& library, const FunctionInfo& fn, int company, int book, int32_t day,
                      std::string* error) {
  CallResult r = library.evaluate(fn, {Value::makeNumber(company), Value::makeNumber(book), Value::makeDate(day)});
  if (!r.ok()) {
    if (error) *error = r.message;
    return kNoDate;
  }
  return r.value.type == ValueType::Date ? r.value.date : kNoDate;
}

bool FiscalTally::counts(const FunctionInfo& fn) { return equalsNoCase(fn.signature.name, "ZelFYEnd"); }

void FiscalTally::add(const CallResult& r) {
  if (!r.ok()) return;
  ++calls;
  noDate += r.value.type == ValueType::Date && r.value.date == kNoDate;
}

}  // namespace ufhost
