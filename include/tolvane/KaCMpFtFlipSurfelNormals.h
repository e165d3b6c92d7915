#pragma once

#include <tolvane/Export.h>

#include "container/KaAMpFtSurfelCollection.h"

/// Turns every surfel normal around (the collection's FlipNormals; unset normals stay unset).
/// Whatever the collection reports is passed on.
///
/// Threads: stateless; one object may serve several threads on different collections.
class TOLVANE_API KaCMpFtFlipSurfelNormals : public KaAMpFtSurfelCollection {
 public:
  KaCMpFtFlipSurfelNormals();
  KaCMpFtFlipSurfelNormals(const KaCMpFtFlipSurfelNormals& other);
  KaCMpFtFlipSurfelNormals& operator=(const KaCMpFtFlipSurfelNormals& other);
  ~KaCMpFtFlipSurfelNormals() override;

  using KaAMpFtSurfelCollection::operator();
  void operator()(KaCSurfelCollectionCCT& collection) const override;
};
