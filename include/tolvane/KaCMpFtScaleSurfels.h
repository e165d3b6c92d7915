#pragma once

#include <tolvane/Export.h>

#include "base/CbVector3f.h"
#include "container/KaAMpFtSurfelCollection.h"

/// Scales surfel positions per axis through the collection's ScaleSurfels(scale, flag). The
/// factors are passed on unchecked (zero and negative factors included); the flag is handed to
/// the collection unchanged (in this container: whether the normals follow the scaled surface).
///
/// Threads: the factors and flag are fixed at construction; one object may serve several
/// threads on different collections.
class TOLVANE_API KaCMpFtScaleSurfels : public KaAMpFtSurfelCollection {
 public:
  /// Factors for x, y and z.
  KaCMpFtScaleSurfels(const CbVector3f& scale, bool bScaleSurfelsFlag);
  /// One factor for all three axes.
  KaCMpFtScaleSurfels(float fScale, bool bScaleSurfelsFlag);
  KaCMpFtScaleSurfels(const KaCMpFtScaleSurfels& other);
  KaCMpFtScaleSurfels& operator=(const KaCMpFtScaleSurfels& other);
  ~KaCMpFtScaleSurfels() override;

  using KaAMpFtSurfelCollection::operator();
  void operator()(KaCSurfelCollectionCCT& collection) const override;

 private:
  CbVector3f m_vecScale;
  bool m_bScaleSurfelsFlag;
};
