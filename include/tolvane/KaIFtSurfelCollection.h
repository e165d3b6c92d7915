#pragma once

#include <tolvane/Export.h>

#include "base/IReferenceCounted.h"

class KaCSurfelCollectionCCT;

/// An in-place filter over one surfel collection. Filters are created with new and shared
/// through CbSmartPointer<KaIFtSurfelCollection>; they are never deleted directly.
class TOLVANE_API KaIFtSurfelCollection : public IReferenceCounted {
 public:
  ~KaIFtSurfelCollection() override = default;
  /// Changes the collection in place.
  virtual void operator()(KaCSurfelCollectionCCT& collection) const = 0;
};
