#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "base/CbCriticalSection.h"
#include "base/IReferenceCounted.h"

/// Tag for adopting a reference that the caller already counted.
struct CbAdoptReference {};

/// Intrusive counted pointer to an object derived from IReferenceCounted. Taking an object
/// increments its count, letting go decrements it, and the last release destroys it (see
/// CbReleaseReference). A pointer may be built from a raw pointer at any time, since the count
/// lives in the object. One CbSmartPointer object must not be changed from two threads at once;
/// different pointers to the same object may be used from any threads.
template <class T>
class CbSmartPointer {
 public:
  using element_type = T;

  CbSmartPointer() noexcept = default;
  CbSmartPointer(std::nullptr_t) noexcept {}  // NOLINT(google-explicit-constructor)
  CbSmartPointer(T* p) noexcept : m_p(p) {    // NOLINT(google-explicit-constructor)
    if (m_p != nullptr) CbAddReference(Face(m_p));
  }
  CbSmartPointer(T* p, CbAdoptReference) noexcept : m_p(p) {}
  CbSmartPointer(const CbSmartPointer& other) noexcept : CbSmartPointer(other.m_p) {}
  CbSmartPointer(CbSmartPointer&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  CbSmartPointer(const CbSmartPointer<U>& other) noexcept  // NOLINT(google-explicit-constructor)
      : CbSmartPointer(other.Get()) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  CbSmartPointer(CbSmartPointer<U>&& other) noexcept  // NOLINT(google-explicit-constructor)
      : m_p(other.Detach()) {}
  ~CbSmartPointer() { Reset(); }

  CbSmartPointer& operator=(const CbSmartPointer& other) noexcept {
    CbSmartPointer(other).Swap(*this);
    return *this;
  }
  CbSmartPointer& operator=(CbSmartPointer&& other) noexcept {
    CbSmartPointer(std::move(other)).Swap(*this);
    return *this;
  }
  CbSmartPointer& operator=(T* p) noexcept {
    CbSmartPointer(p).Swap(*this);
    return *this;
  }

  /// Lets go of the object (which may destroy it) and becomes null.
  void Reset() noexcept {
    if (T* p = std::exchange(m_p, nullptr)) CbReleaseReference(Face(p));
  }
  /// Gives up the pointer without releasing it; the caller now owns that count.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(m_p, nullptr); }
  void Swap(CbSmartPointer& other) noexcept { std::swap(m_p, other.m_p); }

  [[nodiscard]] T* Get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  T& operator*() const noexcept { return *m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }

  template <class U>
  bool operator==(const CbSmartPointer<U>& other) const noexcept {
    return m_p == other.Get();
  }
  template <class U>
  bool operator!=(const CbSmartPointer<U>& other) const noexcept {
    return m_p != other.Get();
  }
  bool operator==(std::nullptr_t) const noexcept { return m_p == nullptr; }
  bool operator!=(std::nullptr_t) const noexcept { return m_p != nullptr; }

 private:
  static const IReferenceCounted* Face(const T* p) noexcept {
    return static_cast<const IReferenceCounted*>(p);
  }

  T* m_p = nullptr;
};

/// A pointer that does not keep its object alive but learns when it dies: the object's
/// counter nulls it through its weak-link list. Lock() gives a counted pointer while the object
/// lives, or null once its count has reached zero. Not to be shared between threads.
template <class T>
class CbWeakPointer {
 public:
  CbWeakPointer() noexcept { m_link.ppTarget = &m_pFace; }
  explicit CbWeakPointer(const CbSmartPointer<T>& sp) : CbWeakPointer() { Attach(sp.Get()); }
  CbWeakPointer(const CbWeakPointer& other) : CbWeakPointer() { Attach(other.LockedRaw()); }
  CbWeakPointer& operator=(const CbWeakPointer& other) {
    if (this != &other) {
      Detach();
      Attach(other.LockedRaw());
    }
    return *this;
  }
  ~CbWeakPointer() { Detach(); }

  [[nodiscard]] CbSmartPointer<T> Lock() const {
    CbCriticalSectionGuard guard(ReferenceCounter_GetCriticalSection());
    if (m_pFace == nullptr || !m_pFace->getReferenceCounter().AddRefIfAlive()) return {};
    return CbSmartPointer<T>(m_p, CbAdoptReference{});
  }
  [[nodiscard]] bool IsExpired() const { return Lock().Get() == nullptr; }

 private:
  T* LockedRaw() const {
    CbCriticalSectionGuard guard(ReferenceCounter_GetCriticalSection());
    return m_pFace != nullptr ? m_p : nullptr;
  }
  void Attach(T* p) {
    CbCriticalSectionGuard guard(ReferenceCounter_GetCriticalSection());
    m_p = p;
    m_pFace = p;
    if (p != nullptr) m_pFace->getReferenceCounter().AttachWeakLink(&m_link);
  }
  void Detach() {
    CbCriticalSectionGuard guard(ReferenceCounter_GetCriticalSection());
    if (m_pFace != nullptr) m_pFace->getReferenceCounter().DetachWeakLink(&m_link);
    m_pFace = nullptr;
    m_p = nullptr;
  }

  T* m_p = nullptr;
  const IReferenceCounted* m_pFace = nullptr;
  CbWeakLink m_link;
};
