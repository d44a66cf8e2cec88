// The password the data source's user connects with.
#pragma once

#include "companyDatabase.h"

// The site's own password when its password file is there and sound, else the
// built-in one (getPassword). Null when a site file is there but refused: a box
// naming the file and the reason has then been shown, and no connection may be
// made. Read anew on every call, so a changed file counts at the next connect.
const char* dataSourcePassword();

// Caption of the box that refuses a site password file.
inline constexpr const char* kSitePasswordCaption = companyDatabase::kPasswordCaption;
