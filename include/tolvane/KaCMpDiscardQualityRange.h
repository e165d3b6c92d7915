#pragma once

#include <tolvane/Export.h>

#include "container/KaAMpFtSurfelCollection.h"

/// Removes every surfel whose quality q satisfies fMinQuality <= q <= fMaxQuality (both ends
/// inclusive). A quality that is not a number is never in the range, and with fMinQuality above
/// fMaxQuality nothing is removed. The survivors keep their order and their attributes (see
/// RemoveMarkedSurfels); when nothing is removed the collection is not reassigned and keeps its
/// support structures.
///
/// Threads: the bounds are fixed at construction; one object may serve several threads on
/// different collections, but one collection must not be filtered from two threads at once.
class TOLVANE_API KaCMpDiscardQualityRange : public KaAMpFtSurfelCollection {
 public:
  /// Qualities (0..1) from fMinQuality to fMaxQuality, inclusive, are removed.
  KaCMpDiscardQualityRange(float fMinQuality, float fMaxQuality);
  KaCMpDiscardQualityRange(const KaCMpDiscardQualityRange& other);
  KaCMpDiscardQualityRange& operator=(const KaCMpDiscardQualityRange& other);
  ~KaCMpDiscardQualityRange() override;

  using KaAMpFtSurfelCollection::operator();
  /// Throws CbException when a carried attribute is missing; the collection is then unchanged.
  void operator()(KaCSurfelCollectionCCT& collection) const override;

 private:
  float m_fMinQuality;
  float m_fMaxQuality;
};
