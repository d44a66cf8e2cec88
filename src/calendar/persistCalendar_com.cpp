// The resolver's COM pieces: the engine factory and narrow-to-wide texts.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ccombstr.h"
#include "persistCalendar.h"
#include "platform.h"

namespace {
// In-process server, in-process handler, local server: 7, as the product has always asked.
constexpr DWORD kFactoryContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
}  // namespace

HRESULT CPersistCalendar::CheckFactory() {
  if (m_calFactory) return S_OK;
  HRESULT hr = CoCreateInstance(CLSID_VRZELCalendarFactory, nullptr, kFactoryContext, IID_IVRZELCalendarFactory,
                                m_calFactory.putVoid());
  if (FAILED(hr)) {
    // Stays null, so the next call tries again.
    m_calFactory.Release();
    return hr;
  }
  // Success without an object would make every caller dereference null.
  if (!m_calFactory) return E_UNEXPECTED;
  return hr;
}

BSTR LPCTSTR2BSTR(const char* text) {
  if (!text) return nullptr;
  const size_t length = std::strlen(text);
  if (length >= static_cast<size_t>(INT_MAX)) return nullptr;
  // Zero-filled: the unit after the converted text is the terminator.
  uint16_t* work = static_cast<uint16_t*>(std::calloc(length + 1, sizeof(uint16_t)));
  if (!work) return nullptr;
  ansiToWide(text, static_cast<int>(length), work, static_cast<int>(length + 1));
  BSTR result = SysAllocString(reinterpret_cast<const OLECHAR*>(work));
  std::free(work);
  return result;
}
