// Owning interface reference: releases what it holds when given another object,
// when released explicitly and when destroyed. Safe on null and on self-assignment.
#pragma once

#include "comtypes.h"

template <class T>
class CComPtr {
 public:
  CComPtr() noexcept = default;
  // Takes its own reference.
  CComPtr(T* q) noexcept : p_(q) {
    if (p_) p_->AddRef();
  }
  CComPtr(const CComPtr& o) noexcept : CComPtr(o.p_) {}
  CComPtr(CComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ~CComPtr() { Release(); }

  CComPtr& operator=(T* q) noexcept {
    if (q) q->AddRef();  // before the release: q may be the object held
    T* old = p_;
    p_ = q;
    if (old) old->Release();
    return *this;
  }
  CComPtr& operator=(const CComPtr& o) noexcept { return *this = o.p_; }
  CComPtr& operator=(CComPtr&& o) noexcept {
    if (this != &o) {
      T* old = p_;
      p_ = o.p_;
      o.p_ = nullptr;
      if (old) old->Release();
    }
    return *this;
  }

  void Release() noexcept {
    T* old = p_;
    p_ = nullptr;
    if (old) old->Release();
  }
  // Takes over a reference the caller already owns.
  void Attach(T* q) noexcept {
    T* old = p_;
    p_ = q;
    if (old) old->Release();
  }
  T* Detach() noexcept {
    T* q = p_;
    p_ = nullptr;
    return q;
  }
  // Out-parameter slot: releases what is held, then lets a callee fill it.
  T** put() noexcept {
    Release();
    return &p_;
  }
  // The same slot seen as void**, for QueryInterface and CoCreateInstance.
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

  T* get() const noexcept { return p_; }
  operator T*() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  bool operator!() const noexcept { return p_ == nullptr; }

  // Asks the held object for another interface; E_POINTER when nothing is held.
  // out lets go of what it held and the answer goes straight into it: the
  // year-end lookup asks three times a call, and taking the answer through a
  // local first made it half as slow again on this machine. When out is this
  // holder, the object is asked before it is let go: letting go first could free it.
  template <class Q>
  HRESULT QueryInterface(REFIID riid, CComPtr<Q>& out) const noexcept {
    if (!p_) return E_POINTER;
    if (static_cast<const void*>(&out) != static_cast<const void*>(this))
      return p_->QueryInterface(riid, out.putVoid());
    void* answer = nullptr;
    const HRESULT hr = p_->QueryInterface(riid, &answer);
    out.Attach(static_cast<Q*>(answer));
    return hr;
  }

 private:
  T* p_ = nullptr;
};
