#pragma once

#include <tolvane/Export.h>

#include "container/KaAMpFtSurfelCollection.h"

/// Sets the quality of every surfel to 1 (InitQualities(1)); nothing else changes.
///
/// Threads: stateless; one object may serve several threads on different collections.
class TOLVANE_API KaCMpFtSetQualitiesToOne : public KaAMpFtSurfelCollection {
 public:
  KaCMpFtSetQualitiesToOne();
  KaCMpFtSetQualitiesToOne(const KaCMpFtSetQualitiesToOne& other);
  KaCMpFtSetQualitiesToOne& operator=(const KaCMpFtSetQualitiesToOne& other);
  ~KaCMpFtSetQualitiesToOne() override;

  using KaAMpFtSurfelCollection::operator();
  void operator()(KaCSurfelCollectionCCT& collection) const override;
};
