// COM and OLE Automation types as the library and the calendar engine see them.
// Windows: the system's own headers. Linux: our small runtime with the same
// binary conventions (vtable order, HRESULT values, length-prefixed BSTR).
#pragma once

#ifdef _WIN32

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#define COMRT_API

#else  // Linux

#include <cstdint>
#include <cstring>

#define COMRT_API extern "C" __attribute__((visibility("default")))

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE

typedef int32_t HRESULT;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uint32_t DWORD;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef int16_t VARIANT_BOOL;
typedef double DATE;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef void* LPVOID;
typedef uint32_t LCID;
typedef int32_t DISPID;

// Wide literals in the 16-bit code units of OLECHAR.
#define OLESTR(str) u##str

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = (HRESULT)0x80004001u;
constexpr HRESULT E_NOINTERFACE = (HRESULT)0x80004002u;
constexpr HRESULT E_POINTER = (HRESULT)0x80004003u;
constexpr HRESULT E_FAIL = (HRESULT)0x80004005u;
constexpr HRESULT E_ACCESSDENIED = (HRESULT)0x80070005u;
constexpr HRESULT E_UNEXPECTED = (HRESULT)0x8000FFFFu;
constexpr HRESULT E_OUTOFMEMORY = (HRESULT)0x8007000Eu;
constexpr HRESULT E_INVALIDARG = (HRESULT)0x80070057u;
constexpr HRESULT CLASS_E_NOAGGREGATION = (HRESULT)0x80040110u;
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = (HRESULT)0x80040111u;
constexpr HRESULT REGDB_E_CLASSNOTREG = (HRESULT)0x80040154u;
constexpr HRESULT CO_E_NOTINITIALIZED = (HRESULT)0x800401F0u;
constexpr HRESULT CO_E_DLLNOTFOUND = (HRESULT)0x8004015Fu;
constexpr HRESULT CO_E_ERRORINDLL = (HRESULT)0x800401F9u;
constexpr HRESULT SELFREG_E_CLASS = (HRESULT)0x80040201u;
constexpr HRESULT DISP_E_BADINDEX = (HRESULT)0x8002000Bu;

enum CLSCTX : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10,
};
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

// Opaque to us: IDispatch's automation methods are declared for the vtable only.
struct ITypeInfo;
struct DISPPARAMS;
struct VARIANT;
struct EXCEPINFO;

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                                  DISPID* rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                           DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                           UINT* puArgErr) = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// BSTR: 4-byte byte-length prefix, UTF-16 text, NUL terminator.
COMRT_API BSTR SysAllocString(const OLECHAR* psz);
COMRT_API BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
COMRT_API void SysFreeString(BSTR bstr);
COMRT_API UINT SysStringLen(BSTR bstr);
COMRT_API UINT SysStringByteLen(BSTR bstr);

// COM must be initialised on the calling thread before CoCreateInstance.
COMRT_API HRESULT CoInitialize(LPVOID reserved);
COMRT_API HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
COMRT_API void CoUninitialize();
// Finds the server of rclsid in the class registry file, loads it and asks its
// class factory for the object. E_OUTOFMEMORY when memory runs out on the way.
COMRT_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);

typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in capitals into lpsz: the number of
// characters written with the NUL (39), or 0 when cchMax leaves no room.
COMRT_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

#endif  // _WIN32
