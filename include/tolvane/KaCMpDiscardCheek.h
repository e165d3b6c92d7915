#pragma once

#include <tolvane/Export.h>

#include "container/KaAMpFtSurfelCollection.h"

/// Removes the cheek surfels: every surfel whose tissue-type code is neither 0 (tooth) nor 1,
/// that is the codes 2 and 3 (3 being what the tooth/gingiva classifier writes for gingiva).
/// The survivors keep their order and their attributes (see RemoveMarkedSurfels); when every
/// surfel carries 0 or 1 the collection is not reassigned and keeps its support structures.
///
/// Threads: stateless; one object may serve several threads on different collections, but one
/// collection must not be filtered from two threads at once.
class TOLVANE_API KaCMpDiscardCheek : public KaAMpFtSurfelCollection {
 public:
  KaCMpDiscardCheek();
  KaCMpDiscardCheek(const KaCMpDiscardCheek& other);
  KaCMpDiscardCheek& operator=(const KaCMpDiscardCheek& other);
  ~KaCMpDiscardCheek() override;

  using KaAMpFtSurfelCollection::operator();
  /// Throws CbException when a carried attribute is missing; the collection is then unchanged.
  void operator()(KaCSurfelCollectionCCT& collection) const override;
};
