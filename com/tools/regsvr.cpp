// regsvr [--system | --user] [/u] [/s] LIBRARY: registers (or with /u unregisters)
// the COM classes of an in-process server by calling its DllRegisterServer
// (DllUnregisterServer), in the system-wide class registry or the user's.
// Exit status from the tools' shared table: 0 done, 2 bad usage, 3 when the
// library cannot be loaded or lacks the entry point, 1 when registration failed.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "comregistry.h"
#include "comtypes.h"
#include "exit_codes.h"

namespace {

typedef HRESULT (*EntryPoint)();

const char kUsage[] =
    "usage: regsvr [--system | --user] [/u] [/s] LIBRARY\n"
    "       regsvr --version | --help\n"
    "Registers the COM classes of LIBRARY (calls its DllRegisterServer), or with /u\n"
    "unregisters them (DllUnregisterServer).\n"
    "  --system  write the system-wide class registry (the default for root unless\n"
    "            U2LVOST_COM_REGISTRY is set)\n"
    "  --user    write this user's class registry (the default otherwise)\n"
    "  /u        unregister\n"
    "  /s        silent: no message on success\n"
    "\n" UFHOST_EXIT_CODE_HELP;

int usage() {
  std::fputs(kUsage, stderr);
  return ufhost::kExitUsage;
}

bool isOption(const char* arg, char letter) {
  return (arg[0] == '/' || arg[0] == '-') && (arg[1] == letter || arg[1] == (letter - 'a' + 'A')) &&
         arg[2] == '\0';
}

// Copies a text the runtime hands out through a sized buffer.
std::string runtimeText(UINT (*get)(char*, UINT)) {
  UINT n = get(nullptr, 0);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  if (get(&text[0], n + 1) != n) return std::string();
  text.resize(n);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false, silent = false;
  int target = 0;  // 1: system, 2: user, 0: by who runs it
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h" || a == "/?") {
      std::fputs(kUsage, stdout);
      return ufhost::kExitOk;
    } else if (a == "--version") {
      std::printf("regsvr (u2lvost) %s\n", U2LVOST_VERSION);
      return 0;
    } else if (a == "--system") {
      target = 1;
    } else if (a == "--user") {
      target = 2;
    } else if (isOption(argv[i], 'u')) {
      unregister = true;
    } else if (isOption(argv[i], 's')) {
      silent = true;
    } else if (!library && a.size() > 0 && a[0] != '-') {
      library = argv[i];
    } else {
      return usage();
    }
  }
  if (!library) return usage();

  const char* chosen = std::getenv("U2LVOST_COM_REGISTRY");
  if (target == 0) target = (::geteuid() == 0 && !(chosen && *chosen)) ? 1 : 2;
  // The servers write the user's file: point it at the system file for them.
  if (target == 1) {
    std::string system = runtimeText(ComSystemRegistryPath);
    if (system.empty()) {
      std::fprintf(stderr, "regsvr: no system class registry (U2LVOST_COM_SYSTEM_REGISTRY is empty)\n");
      return ufhost::kExitFunctionError;
    }
    ::setenv("U2LVOST_COM_REGISTRY", system.c_str(), 1);
  }
  const std::string file = runtimeText(ComRegistryPath);
  const char* scope = target == 1 ? "system-wide" : "this user's";

  // The server records the path it was loaded from, so load it by its full path
  // when the file is there.
  char full[PATH_MAX];
  std::string path = ::realpath(library, full) ? std::string(full) : std::string(library);
  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";

  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", path.c_str(), why ? why : "unknown error");
    return ufhost::kExitLoad;
  }
  auto entry = reinterpret_cast<EntryPoint>(::dlsym(handle, entryName));
  if (!entry) {
    std::fprintf(stderr, "regsvr: %s has no %s\n", path.c_str(), entryName);
    ::dlclose(handle);
    return ufhost::kExitLoad;
  }
  HRESULT hr = entry();
  ::dlclose(handle);
  const std::string message = runtimeText(ComRegistryMessage);
  if (FAILED(hr)) {
    std::fprintf(stderr, "regsvr: %s in %s failed (0x%08X) on %s class registry %s: %s\n", entryName, path.c_str(),
                 static_cast<unsigned>(hr), scope, file.c_str(),
                 message.empty() ? "the server gave no reason" : message.c_str());
    return ufhost::kExitFunctionError;
  }
  if (!message.empty()) std::fprintf(stderr, "regsvr: note: %s\n", message.c_str());
  if (!silent) std::printf("%s in %s succeeded; wrote %s class registry %s\n", entryName, path.c_str(), scope, file.c_str());
  return 0;
}
