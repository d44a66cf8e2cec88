// CoCreateInstance: the class registry file names the server library; the
// library's class factory makes the object.
#include <dlfcn.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "cominternal.h"

namespace {

// Servers stay loaded for the life of the process, as objects they made may
// outlive any bookkeeping of ours. One handle per path keeps dlopen's own
// reference count from growing with every creation.
std::mutex g_serversLock;
std::map<std::string, void*>& loadedServers() {
  static std::map<std::string, void*> servers;
  return servers;
}

void* loadServer(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_serversLock);
  auto& servers = loadedServers();
  auto it = servers.find(path);
  if (it != servers.end()) return it->second;
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle) servers.emplace(path, handle);
  return handle;
}

// The class object entry point of the server registered for rclsid, loaded if
// need be. Problems with the registration or the server are said on standard error.
HRESULT findClassObject(REFCLSID rclsid, LPFNGETCLASSOBJECT* getClassObject) {
  comrt::Registration reg;
  if (!comrt::findRegistration(rclsid, &reg)) return REGDB_E_CLASSNOTREG;
  const std::string& server = reg.server;
  const std::string where = reg.file + ":" + std::to_string(reg.line);
  // A relative path would be searched for along the library path: never load that.
  if (server.empty() || server[0] != '/') {
    comrt::report(where + ": server path " + server + " is not absolute; not loaded");
    return CO_E_DLLNOTFOUND;
  }
  if (::access(server.c_str(), F_OK) != 0) {
    comrt::report(where + ": server " + server + " is missing");
    return CO_E_DLLNOTFOUND;
  }
  std::string why = comrt::distrustedServer(server);
  if (!why.empty()) {
    comrt::report("refusing server " + server + " (" + where + "): " + why);
    return E_ACCESSDENIED;
  }
  void* handle = loadServer(server);
  if (!handle) {
    const char* error = ::dlerror();
    comrt::report(where + ": cannot load " + server + ": " + (error ? error : "unknown error"));
    return CO_E_DLLNOTFOUND;
  }
  *getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(::dlsym(handle, "DllGetClassObject"));
  return *getClassObject ? S_OK : CO_E_ERRORINDLL;
}

}  // namespace

// rclsid: the class; pUnkOuter: an outer object for aggregation or null;
// dwClsContext must include CLSCTX_INPROC_SERVER (the only kind served here);
// riid: the interface wanted; ppv receives it, and null on every failure.
COMRT_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                                   LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!comrt::threadInitialised()) return CO_E_NOTINITIALIZED;
  if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;

  LPFNGETCLASSOBJECT getClassObject = nullptr;
  HRESULT hr = comrt::answerOf([&] { return findClassObject(rclsid, &getClassObject); });
  if (FAILED(hr)) return hr;

  IClassFactory* factory = nullptr;
  hr = getClassObject(rclsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  void* object = nullptr;
  hr = factory->CreateInstance(pUnkOuter, riid, &object);
  factory->Release();
  // On failure *ppv stays null whatever the server left in object.
  if (FAILED(hr)) return hr;
  if (!object) return E_UNEXPECTED;
  *ppv = object;
  return hr;
}
