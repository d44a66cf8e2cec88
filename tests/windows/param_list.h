// Formula arguments as the report engine hands them over, for the test hosts
// beside this file. The text stays the caller's: it must outlive the call.
#pragma once

#include "uf_records.h"

inline UFParamListElement number(double host) {
  UFParamListElement e{};
  e.StructSize = sizeof e;
  e.ParamType = UFNumber;
  e.Parameter.ParamNumber = host;
  return e;
}

inline UFParamListElement text(const char* s) {
  UFParamListElement e{};
  e.StructSize = sizeof e;
  e.ParamType = UFStringArg;
  e.Parameter.ParamString = const_cast<char*>(s);
  return e;
}
