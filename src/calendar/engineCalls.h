// Small helpers for the resolver's calls into the calendar engine: attribute
// texts in and out, and the collection the engine keeps calendars and cycles in.
#pragma once

#include "comptr.h"
#include "comtypes.h"
#include "vrzelcal.h"

class ktStr;

namespace engineCalls {

// In-process server, in-process handler, local server: what the product has always asked for.
constexpr DWORD kClassContext = 7;

// Writes a narrow text under a wide attribute name.
HRESULT putAttribute(IVRPersistXML* xml, const OLECHAR* name, const char* value);
// Writes a wide text under a wide attribute name.
HRESULT putAttributeWide(IVRPersistXML* xml, const OLECHAR* name, const OLECHAR* value);
// Reads the attribute into a narrow text.
HRESULT getAttribute(IVRPersistXML* xml, const OLECHAR* name, ktStr& value);
// Reads the attribute named by a BSTR the caller keeps, as atol reads a decimal
// text (leading blanks and a sign, up to the first non-digit, none gives 0):
// nothing allocated on our side.
HRESULT getAttributeNumber(IVRPersistXML* xml, BSTR name, long& value);
// The decimal number at the start of a wide text, read the way atol reads it;
// values beyond the 32-bit range saturate.
long wideAtol(const OLECHAR* text);
// A new, empty engine collection.
HRESULT createCollection(CComPtr<IktEnumDispatch>& collection);

}  // namespace engineCalls
