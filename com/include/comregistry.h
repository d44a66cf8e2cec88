// The Linux class registry: which shared library serves which CLSID.
//
// One text file, one class per line: `{CLSID} = /absolute/path/to/server.so`.
// Blank lines and lines starting with '#' are comments. The file is found at
// $U2LVOST_COM_REGISTRY, else $XDG_CONFIG_HOME/u2lvost/com-classes.reg, else
// ~/.config/u2lvost/com-classes.reg. Servers call these from DllRegisterServer and
// DllUnregisterServer; CoCreateInstance reads the same file.
#pragma once

#include "comtypes.h"

#ifndef _WIN32

// Text form of a GUID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 characters.
constexpr UINT kGuidTextLength = 38;

// Writes the text form and a NUL into buf (at least kGuidTextLength + 1 bytes).
// Returns the characters written, 0 when buf is null or too small.
COMRT_API UINT ComGuidToText(REFGUID guid, char* buf, UINT size);
// Reads the text form (braces required, hex digits in either case, nothing after).
// Returns 1 and fills *out on success, 0 otherwise (*out untouched).
COMRT_API BOOL ComGuidFromText(const char* text, GUID* out);

// Copies the registry file's path and a NUL into buf when it fits and returns the
// path's length; 0 when no path can be formed (no variable set, no home folder).
// A result of size or more means buf was too small and holds nothing useful.
COMRT_API UINT ComRegistryPath(char* buf, UINT size);

// Records serverPath (absolute) as the server of clsid, replacing any earlier line
// of that class. Other lines and comments are kept. The file is rewritten through
// a temporary file and a rename, and its folder is created when missing.
// S_OK, E_INVALIDARG for a null or relative path, E_FAIL when the file cannot be written.
COMRT_API HRESULT ComRegisterClass(REFCLSID clsid, const char* serverPath);
// Removes every line of clsid: S_OK, S_FALSE when it had none, E_FAIL when the
// file cannot be read or written.
COMRT_API HRESULT ComUnregisterClass(REFCLSID clsid);
// Copies the registered server path of clsid and a NUL into buf.
// S_OK, REGDB_E_CLASSNOTREG when not registered, E_INVALIDARG when buf is null or too small.
COMRT_API HRESULT ComLookupClass(REFCLSID clsid, char* buf, UINT size);

// Where clsid is registered: copies the registry file that answers and its 1-based
// line into file/line and the server path into server (each with a NUL).
// S_OK, REGDB_E_CLASSNOTREG when no file has a line for it, E_INVALIDARG when a
// pointer is null or a buffer too small.
COMRT_API HRESULT ComFindClassRegistration(REFCLSID clsid, char* file, UINT fileSize, UINT* line, char* server,
                                           UINT serverSize);

#endif  // !_WIN32
