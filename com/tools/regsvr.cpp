// regsvr [/u] [/s] LIBRARY: registers (or with /u unregisters) the COM classes of
// an in-process server by calling its DllRegisterServer (DllUnregisterServer).
// Exit status 0 on success, 1 on bad usage, 2 when the library cannot be loaded
// or lacks the entry point, 3 when the entry point reports a failure.
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comtypes.h"

namespace {

typedef HRESULT (*EntryPoint)();

int usage() {
  std::fprintf(stderr, "usage: regsvr [/u] [/s] LIBRARY\n");
  return 1;
}

bool isOption(const char* arg, char letter) {
  return (arg[0] == '/' || arg[0] == '-') && (arg[1] == letter || arg[1] == (letter - 'a' + 'A')) &&
         arg[2] == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false, silent = false;
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (isOption(argv[i], 'u'))
      unregister = true;
    else if (isOption(argv[i], 's'))
      silent = true;
    else if (!library)
      library = argv[i];
    else
      return usage();
  }
  if (!library) return usage();

  // The server records the path it was loaded from, so load it by its full path
  // when the file is there.
  char full[PATH_MAX];
  std::string path = ::realpath(library, full) ? std::string(full) : std::string(library);
  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";

  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", path.c_str(), why ? why : "unknown error");
    return 2;
  }
  auto entry = reinterpret_cast<EntryPoint>(::dlsym(handle, entryName));
  if (!entry) {
    std::fprintf(stderr, "regsvr: %s has no %s\n", path.c_str(), entryName);
    ::dlclose(handle);
    return 2;
  }
  HRESULT hr = entry();
  ::dlclose(handle);
  if (FAILED(hr)) {
    std::fprintf(stderr, "regsvr: %s in %s failed: 0x%08X\n", entryName, path.c_str(), static_cast<unsigned>(hr));
    return 3;
  }
  if (!silent) std::printf("%s in %s succeeded.\n", entryName, path.c_str());
  return 0;
}
