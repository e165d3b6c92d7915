#include "container/KaAMpFtSurfelCollection.h"

#include <memory>

KaCSurfelCollectionCCT* KaAMpFtSurfelCollection::operator()(
    const KaCSurfelCollectionCCT& collection) const {
  auto copy = std::make_unique<KaCSurfelCollectionCCT>(collection, false);
  static_cast<const KaIFtSurfelCollection&> (*this)(*copy);
  return copy.release();
}
