// In-process COM server entry points. This library serves no class.
#pragma once

#include "comtypes.h"

#ifdef _WIN32
// Exported through the module-definition file, under the undecorated names only.
#define U2_COMSERVER_API extern "C"
#define U2_COMSERVER_CALL __stdcall
#else
#define U2_COMSERVER_API extern "C" __attribute__((visibility("default")))
#define U2_COMSERVER_CALL
#endif

U2_COMSERVER_API HRESULT U2_COMSERVER_CALL DllRegisterServer(void);
U2_COMSERVER_API HRESULT U2_COMSERVER_CALL DllUnregisterServer(void);
U2_COMSERVER_API HRESULT U2_COMSERVER_CALL DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
U2_COMSERVER_API HRESULT U2_COMSERVER_CALL DllCanUnloadNow(void);
