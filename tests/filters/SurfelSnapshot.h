#pragma once

#include <vector>

#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane_test {

/// Every carried attribute of one surfel, read back through the collection's accessors.
struct SurfelSnapshot {
  CbVector3f position;
  unsigned short normal = 0;
  KaCCompressedColor color;
  float quality = 0.0f;
  unsigned char tissue = 0;
  unsigned char flags = 0;
  bool boundary = false;
  unsigned int value = 0;

  /// NaN qualities compare equal to each other.
  bool operator==(const SurfelSnapshot& o) const {
    return position == o.position && normal == o.normal && color == o.color &&
           (quality == o.quality || (quality != quality && o.quality != o.quality)) &&
           tissue == o.tissue && flags == o.flags && boundary == o.boundary && value == o.value;
  }
};

inline std::vector<SurfelSnapshot> Snapshot(const KaCSurfelCollectionCCT& c) {
  std::vector<SurfelSnapshot> out(c.GetNrSurfels());
  const auto pos = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto flags = c.GetAccessor<unsigned char>(eSurfelAttributeFlags);
  const auto values = c.GetAccessor<unsigned int>(eSurfelAttributeValue);
  for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) {
    out[i] = {pos[i],
              c.GetNormalAccessor()[i],
              colors[i],
              c.GetQualityAccessor()[i],
              c.GetTissueTypeAccessor()[i],
              flags[i],
              c.GetBoundaryFlagAccessor()[i],
              values[i]};
  }
  return out;
}

}  // namespace tolvane_test
