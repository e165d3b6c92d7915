#pragma once

#include <tolvane/Export.h>

#include "container/KaAMpFtSurfelCollection.h"

/// Leaves the collection as it is: the filter operation does nothing, and the map returns an
/// unchanged copy. It holds the place of a quality update in a filter list.
///
/// Threads: stateless; one object may serve several threads.
class TOLVANE_API KaCMpFtUpdateQualities : public KaAMpFtSurfelCollection {
 public:
  KaCMpFtUpdateQualities();
  KaCMpFtUpdateQualities(const KaCMpFtUpdateQualities& other);
  KaCMpFtUpdateQualities& operator=(const KaCMpFtUpdateQualities& other);
  ~KaCMpFtUpdateQualities() override;

  using KaAMpFtSurfelCollection::operator();
  void operator()(KaCSurfelCollectionCCT& collection) const override;
};
