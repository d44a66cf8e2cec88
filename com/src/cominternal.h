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

// The system file's path; empty when a test has turned it off.
std::string systemRegistryPath();

// Where a class is registered: the file, its 1-based line, the server path.
struct Registration {
  std::string file;
  UINT line = 0;
  std::string server;
};

// The user's file first, then the system file; a file that may not be trusted
// is skipped with a message. False when neither names the class.
bool findRegistration(REFCLSID clsid, Registration* found);

// Why the server library at path may not be loaded; "" when it may (or is missing).
std::string distrustedServer(const std::string& path);

// Writes a message on standard error, once per process for the same text.
void report(const std::string& text);

}  // namespace comrt
