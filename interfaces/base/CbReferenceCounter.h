#pragma once

#include <tolvane/Export.h>

#include <atomic>

class IReferenceCounted;
class CbCriticalSection;

/// The lock that guards every release to zero and every weak link, process-wide.
TOLVANE_API CbCriticalSection& ReferenceCounter_GetCriticalSection();

/// One entry of a counter's weak-link list: the address of a weak holder's object pointer,
/// which is set to null when the object dies.
struct TOLVANE_API CbWeakLink {
  const IReferenceCounted** ppTarget = nullptr;
  CbWeakLink* pNext = nullptr;
};

/// The intrusive count of a reference-counted object: an atomic count, the list of weak links
/// and an optional deleter. All zero after construction. A copy starts again from zero (a copied
/// object is a new object with holders of its own), and assignment leaves the target's counter
/// alone.
///
/// Counts change by atomic increment and decrement and may be changed from any thread. The
/// weak-link list and the deleter are only read or changed under
/// ReferenceCounter_GetCriticalSection().
template <class T>
class CbReferenceCounter {
 public:
  using Deleter = void (*)(const IReferenceCounted*);

  CbReferenceCounter() noexcept = default;
  CbReferenceCounter(const CbReferenceCounter&) noexcept {}
  CbReferenceCounter& operator=(const CbReferenceCounter&) noexcept { return *this; }

  /// Increments the count; gives the new count.
  T AddRef() const noexcept { return m_count.fetch_add(1, std::memory_order_relaxed) + 1; }
  /// Decrements the count; gives the new count. Reaching zero does not destroy anything: that
  /// is the holder's business (CbReleaseReference).
  T Release() const noexcept { return m_count.fetch_sub(1, std::memory_order_acq_rel) - 1; }
  /// Increments the count only while it is above zero; false when the object is already dying.
  bool AddRefIfAlive() const noexcept {
    T n = m_count.load(std::memory_order_relaxed);
    while (n != 0) {
      if (m_count.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel)) return true;
    }
    return false;
  }
  [[nodiscard]] T GetCount() const noexcept { return m_count.load(std::memory_order_acquire); }

  void SetDeleter(Deleter deleter) noexcept { m_pDeleter = deleter; }
  [[nodiscard]] Deleter GetDeleter() const noexcept { return m_pDeleter; }

  // Weak-link list; call only under ReferenceCounter_GetCriticalSection().
  void AttachWeakLink(CbWeakLink* pLink) const noexcept {
    pLink->pNext = m_pWeakLinks;
    m_pWeakLinks = pLink;
  }
  void DetachWeakLink(CbWeakLink* pLink) const noexcept {
    for (CbWeakLink** pp = &m_pWeakLinks; *pp != nullptr; pp = &(*pp)->pNext) {
      if (*pp == pLink) {
        *pp = pLink->pNext;
        pLink->pNext = nullptr;
        return;
      }
    }
  }
  /// Nulls every weak holder's pointer and empties the list.
  void DetachAllWeakLinks() const noexcept {
    while (m_pWeakLinks != nullptr) {
      CbWeakLink* pLink = m_pWeakLinks;
      m_pWeakLinks = pLink->pNext;
      *pLink->ppTarget = nullptr;
      pLink->pNext = nullptr;
    }
  }
  [[nodiscard]] bool HasWeakLinks() const noexcept { return m_pWeakLinks != nullptr; }

 private:
  mutable std::atomic<T> m_count{0};
  mutable CbWeakLink* m_pWeakLinks = nullptr;
  Deleter m_pDeleter = nullptr;
};
