// The harness's seam to the operating system: loading a library and finding its
// entry points, files, the system's error texts, and whether standard error is a
// terminal. host_sys_posix.cpp and
// host_sys_win32.cpp are the two sides; nothing else in host/ tests the platform.
#pragma once

#include <string>

namespace ufhost {
namespace sys {

// Loads the library at path. Null on failure, with the loader's reason in error.
void* openLibrary(const std::string& path, std::string& error);

// The address of an exported name, or null. Names are looked up undecorated.
void* findSymbol(void* library, const char* name);

void closeLibrary(void* library);

// The folder of the running program, with its separator at the end; empty when unknown.
std::string executableFolder();

// Whether path names a file (not a folder) that is there.
bool fileExists(const std::string& path);

// The system's text for an error number: errno's on Linux, GetLastError's on Windows.
std::string systemMessage(unsigned long code);

bool stderrIsTerminal();
bool stdoutIsTerminal();

}  // namespace sys
}  // namespace ufhost
