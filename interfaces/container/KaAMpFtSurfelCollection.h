#pragma once

#include <tolvane/Export.h>

#include <tolvane/KaIFtSurfelCollection.h>
#include <tolvane/KaIMpSurfelCollection.h>

#include "container/KaCSurfelCollectionCCT.h"

/// Common base of the library's filters: a map face first, a filter face second. It holds the
/// object's reference counter and supplies the map: copy the collection, then run the object's
/// own filter on the copy, leaving the argument unchanged.
///
/// A subclass overrides the filter operator and brings the map back into scope with
/// `using KaAMpFtSurfelCollection::operator();`.
class TOLVANE_API KaAMpFtSurfelCollection : public KaIMpSurfelCollection,
                                            public KaIFtSurfelCollection {
 public:
  KaAMpFtSurfelCollection() = default;
  KaAMpFtSurfelCollection(const KaAMpFtSurfelCollection& other)
      : KaIMpSurfelCollection(other), KaIFtSurfelCollection(other) {}
  KaAMpFtSurfelCollection& operator=(const KaAMpFtSurfelCollection&) { return *this; }
  ~KaAMpFtSurfelCollection() override = default;

  /// The map: a new collection holding a filtered copy of the argument; the caller owns it.
  [[nodiscard]] KaCSurfelCollectionCCT* operator()(
      const KaCSurfelCollectionCCT& collection) const override;
  void operator()(KaCSurfelCollectionCCT& collection) const override = 0;

  [[nodiscard]] const CbReferenceCounter<unsigned int>& getReferenceCounter() const override {
    return m_referenceCounter;
  }

 private:
  CbReferenceCounter<unsigned int> m_referenceCounter;
};
