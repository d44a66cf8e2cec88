// Shared between the runtime's own source files.
#pragma once

#include <string>

#include "comregistry.h"
#include "comtypes.h"

namespace comrt {

// True once this thread has called CoInitialize(Ex) more often than CoUninitialize.
bool threadInitialised();

// The registry file's path; empty when none can be formed.
std::string registryPath();

// The server path registered for clsid in the file at path; false when none.
bool lookupServer(const std::string& path, REFCLSID clsid, std::string* server);

}  // namespace comrt
