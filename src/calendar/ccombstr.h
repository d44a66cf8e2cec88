// CComBSTR: owns one BSTR. Narrow texts assigned to it are converted with the
// ANSI code page; the BSTR is freed when it is replaced and on destruction.
#pragma once

#include "comtypes.h"

// A new BSTR of the narrow text in the ANSI code page; null when out of memory.
BSTR LPCTSTR2BSTR(const char* text);

class CComBSTR {
 public:
  CComBSTR() noexcept = default;
  explicit CComBSTR(const char* text) noexcept : m_str(text ? LPCTSTR2BSTR(text) : nullptr) {}
  CComBSTR(const CComBSTR& other) noexcept : m_str(copyOf(other.m_str)) {}
  CComBSTR(CComBSTR&& other) noexcept : m_str(other.m_str) { other.m_str = nullptr; }
  ~CComBSTR() { SysFreeString(m_str); }

  // Frees the BSTR held so far, then holds the text's conversion (null for a
  // null text, and when memory runs out: callers test m_str).
  CComBSTR& operator=(const char* text) noexcept {
    SysFreeString(m_str);
    m_str = text ? LPCTSTR2BSTR(text) : nullptr;
    return *this;
  }
  CComBSTR& operator=(const CComBSTR& other) noexcept {
    if (this != &other) {
      BSTR copy = copyOf(other.m_str);
      SysFreeString(m_str);
      m_str = copy;
    }
    return *this;
  }
  CComBSTR& operator=(CComBSTR&& other) noexcept {
    if (this != &other) {
      SysFreeString(m_str);
      m_str = other.m_str;
      other.m_str = nullptr;
    }
    return *this;
  }

  // Passes the held BSTR (still owned here) where a BSTR is expected.
  operator BSTR() const noexcept { return m_str; }
  bool operator!() const noexcept { return m_str == nullptr; }
  UINT Length() const noexcept { return SysStringLen(m_str); }

  void Empty() noexcept {
    SysFreeString(m_str);
    m_str = nullptr;
  }
  // Takes over a BSTR the caller owned.
  void Attach(BSTR text) noexcept {
    if (text == m_str) return;
    SysFreeString(m_str);
    m_str = text;
  }
  // Hands the BSTR to the caller, who must free it.
  BSTR Detach() noexcept {
    BSTR text = m_str;
    m_str = nullptr;
    return text;
  }
  // Out-parameter slot for a callee that hands out a BSTR; frees what was held.
  BSTR* put() noexcept {
    Empty();
    return &m_str;
  }

  BSTR m_str = nullptr;

 private:
  static BSTR copyOf(BSTR text) noexcept { return text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr; }
};
