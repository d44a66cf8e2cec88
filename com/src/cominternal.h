// Shared between the runtime's own source files.
#pragma once

#include <new>
#include <string>

#include "comregistry.h"
#include "comtypes.h"

namespace comrt {

// Runs the body of an entry point. Only allocations throw in the runtime, and
// nothing thrown may reach a caller through the C interface: running out of
// memory is E_OUTOFMEMORY.
template <class F>
HRESULT answerOf(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The same for an entry point that answers with a length: 0 when memory runs out.
template <class F>
UINT lengthOf(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return 0;
  }
}

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
