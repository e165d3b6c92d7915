#pragma once

#include <gtest/gtest.h>

#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane_test {

/// Expects two collections to hold the same surfels with every attribute a PLY file carries:
/// position, normal code (unset normals compare equal whatever their octant bits), colour,
/// quality, tissue type, boundary flag and attribute 105.
inline void ExpectSameSurfels(const KaCSurfelCollectionCCT& a, const KaCSurfelCollectionCCT& b) {
  ASSERT_EQ(a.GetNrSurfels(), b.GetNrSurfels());
  const auto pa = a.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto pb = b.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto na = a.GetNormalAccessor();
  const auto nb = b.GetNormalAccessor();
  const auto ca = a.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto cb = b.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto va = a.GetAccessor<unsigned int>(eSurfelAttributeValue);
  const auto vb = b.GetAccessor<unsigned int>(eSurfelAttributeValue);
  for (unsigned int i = 0; i < a.GetNrSurfels(); ++i) {
    ASSERT_EQ(pa[i], pb[i]) << i;
    if (KaCNormalCodec::IsUnset(na[i])) {
      ASSERT_TRUE(KaCNormalCodec::IsUnset(nb[i])) << i;
    } else {
      ASSERT_EQ(na[i], nb[i]) << i;
    }
    ASSERT_EQ(ca[i], cb[i]) << i;
    ASSERT_EQ(a.GetQualityAccessor()[i], b.GetQualityAccessor()[i]) << i;
    ASSERT_EQ(a.GetTissueTypeAccessor()[i], b.GetTissueTypeAccessor()[i]) << i;
    ASSERT_EQ(a.GetBoundaryFlagAccessor()[i], b.GetBoundaryFlagAccessor()[i]) << i;
    ASSERT_EQ(va[i], vb[i]) << i;
  }
}

}  // namespace tolvane_test
