// The ODBC headers, as every unit of the resolver includes them.
#pragma once

#include "comtypes.h"

// unixODBC's sqltypes.h declares its own ULONG (unsigned long), which clashes
// with COM's 32-bit ULONG from comtypes.h: its copy is renamed while it is read.
#ifndef _WIN32
#define ULONG u2lvost_odbc_ULONG
#endif
#include <sql.h>
#include <sqlext.h>
#ifndef _WIN32
#undef ULONG
#endif
