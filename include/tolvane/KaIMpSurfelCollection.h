#pragma once

#include <tolvane/Export.h>

class KaCSurfelCollectionCCT;

/// A map over one surfel collection: reads it and returns a newly allocated collection that
/// the caller owns and deletes.
class TOLVANE_API KaIMpSurfelCollection {
 public:
  virtual ~KaIMpSurfelCollection() = default;
  [[nodiscard]] virtual KaCSurfelCollectionCCT* operator()(
      const KaCSurfelCollectionCCT& collection) const = 0;

 protected:
  KaIMpSurfelCollection() = default;
  KaIMpSurfelCollection(const KaIMpSurfelCollection&) = default;
  KaIMpSurfelCollection& operator=(const KaIMpSurfelCollection&) = default;
};
