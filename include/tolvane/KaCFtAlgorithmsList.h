#pragma once

#include <tolvane/Export.h>

#include <tolvane/KaIFtSurfelCollection.h>

#include "base/CbCriticalSection.h"
#include "base/CbList.h"
#include "base/CbSmartPointer.h"

/// An ordered list of filters that is itself a filter: applying it runs every filter in list
/// order on the same collection. The same filter may stand in the list more than once and in
/// several lists at a time; each entry holds a counted reference to its filter.
///
/// Threads: applying the list and replacing its filters (SetFilterAlgorithms) both hold the
/// list's critical section, so a replacement waits for a running application and two threads
/// applying the same list are serialised. Copy construction, assignment and getFilterAlgorithms
/// take no lock; a caller that copies a list another thread may change locks it itself.
class TOLVANE_API KaCFtAlgorithmsList : public KaIFtSurfelCollection {
 public:
  using FilterList = CbList<CbSmartPointer<KaIFtSurfelCollection>>;

  /// An empty list with reference count 0.
  KaCFtAlgorithmsList();
  /// An empty list with its own critical section: the source's entries are not taken over.
  KaCFtAlgorithmsList(const KaCFtAlgorithmsList& other);
  /// Releases every own entry, then shares the source's filters in their order. No lock.
  KaCFtAlgorithmsList& operator=(const KaCFtAlgorithmsList& other);
  ~KaCFtAlgorithmsList() override;

  /// Applies the filters in order under the critical section. An exception from a filter
  /// stops the application and reaches the caller; earlier filters' changes stay and the lock
  /// is free again.
  void operator()(KaCSurfelCollectionCCT& collection) const override;

  /// Replaces the entries by the argument's, in order, under the critical section. Filters of
  /// the old list that no other holder keeps are destroyed before the call returns. Given the
  /// list's own member list it changes nothing. The argument is read without a lock of its own.
  virtual void SetFilterAlgorithms(const FilterList& filterAlgorithms);

  /// Number of entries (no lock).
  [[nodiscard]] std::size_t GetCount() const noexcept { return m_FilterAlgorithms.GetCount(); }

 protected:
  [[nodiscard]] const FilterList& getFilterAlgorithms() const noexcept {
    return m_FilterAlgorithms;
  }
  [[nodiscard]] CbCriticalSection& getCSFilterAlgorithms() const noexcept {
    return m_csFilterAlgorithms;
  }
  [[nodiscard]] const CbReferenceCounter<unsigned int>& getReferenceCounter() const override {
    return m_ReferenceCounter;
  }

 private:
  CbReferenceCounter<unsigned int> m_ReferenceCounter;
  FilterList m_FilterAlgorithms;
  mutable CbCriticalSection m_csFilterAlgorithms;
};
