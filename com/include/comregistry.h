// The Linux class registry: which shared library serves which CLSID.
//
// Text files, one class per line: `{CLSID} = /absolute/path/to/server.so`.
// Blank lines and lines starting with '#' are comments; lines may be of any length.
// Two files are read, the user's first: its line wins for the same class.
// - the user's file: $U2LVOST_COM_REGISTRY, else
//   $XDG_CONFIG_HOME/u2lvost/com-classes.reg, else ~/.config/u2lvost/com-classes.reg;
// - the system file: $U2LVOST_COM_SYSTEM_REGISTRY (empty: none), else
//   /etc/u2lvost/com-classes.reg.
// A file (or a server library) owned by another user than root or ourselves, or
// writable by its group or others, is refused with a message on standard error.
// Servers call the register calls from DllRegisterServer and DllUnregisterServer;
// they write the user's file (regsvr points it at the system file for a
// system-wide registration). CoCreateInstance reads both.
#pragma once

#include "comtypes.h"

#ifndef _WIN32

// The system-wide class registry file.
constexpr const char* kSystemRegistryFile = "/etc/u2lvost/com-classes.reg";

// Text form of a GUID: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", 38 characters.
constexpr UINT kGuidTextLength = 38;

// Writes the text form and a NUL into buf (at least kGuidTextLength + 1 bytes).
// Returns the characters written, 0 when buf is null or too small.
COMRT_API UINT ComGuidToText(REFGUID guid, char* buf, UINT size);
// Reads the text form (braces required, hex digits in either case, nothing after).
// Returns 1 and fills *out on success, 0 otherwise (*out untouched).
COMRT_API BOOL ComGuidFromText(const char* text, GUID* out);

// Copies the registry file's path and a NUL into buf when it fits and returns the
// path's length; 0 when no path can be formed (no variable set, no home folder,
// no memory).
// A result of size or more means buf was too small and holds nothing useful.
COMRT_API UINT ComRegistryPath(char* buf, UINT size);

// The system file's path, as ComRegistryPath; 0 when tests turned it off.
COMRT_API UINT ComSystemRegistryPath(char* buf, UINT size);

// Records serverPath (absolute) as the server of clsid, replacing any earlier line
// of that class. Other lines and comments are kept. The file is rewritten through
// a temporary file and a rename (mode 0644), and its folders (mode 0755) are
// created when missing.
// S_OK, E_INVALIDARG for a null or relative path, E_FAIL when the file cannot be written.
// Every call here answers E_OUTOFMEMORY when memory runs out; none throws.
COMRT_API HRESULT ComRegisterClass(REFCLSID clsid, const char* serverPath);
// Removes every line of clsid: S_OK, S_FALSE when it had none, E_FAIL when the
// file cannot be read or written.
COMRT_API HRESULT ComUnregisterClass(REFCLSID clsid);
// Copies the registered server path of clsid and a NUL into buf.
// S_OK, REGDB_E_CLASSNOTREG when not registered, E_INVALIDARG when buf is null or too small.
COMRT_API HRESULT ComLookupClass(REFCLSID clsid, char* buf, UINT size);
// Where clsid is registered: the file that answers (the user's file first, then
// the system file), the 1-based line in it, and the server path, each with a NUL.
// S_OK, REGDB_E_CLASSNOTREG when no file names the class, E_INVALIDARG for a null
// or too small buffer.
COMRT_API HRESULT ComFindClassRegistration(REFCLSID clsid, char* file, UINT fileSize, UINT* line, char* server,
                                           UINT serverSize);
// This thread's last message of the register calls: why one failed (naming the
// file and the cause) or a note on a kept unreadable line; "" after a clean call.
// Copied as ComRegistryPath copies.
COMRT_API UINT ComRegistryMessage(char* buf, UINT size);

#endif  // !_WIN32
