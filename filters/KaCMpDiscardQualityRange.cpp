#include <tolvane/KaCMpDiscardQualityRange.h>

#include <vector>

#include "filters/RemoveMarkedSurfels.h"

KaCMpDiscardQualityRange::KaCMpDiscardQualityRange(float fMinQuality, float fMaxQuality)
    : m_fMinQuality(fMinQuality), m_fMaxQuality(fMaxQuality) {}

KaCMpDiscardQualityRange::KaCMpDiscardQualityRange(const KaCMpDiscardQualityRange& other)
    : KaAMpFtSurfelCollection(other),
      m_fMinQuality(other.m_fMinQuality),
      m_fMaxQuality(other.m_fMaxQuality) {}

KaCMpDiscardQualityRange& KaCMpDiscardQualityRange::operator=(
    const KaCMpDiscardQualityRange& other) {
  KaAMpFtSurfelCollection::operator=(other);
  m_fMinQuality = other.m_fMinQuality;
  m_fMaxQuality = other.m_fMaxQuality;
  return *this;
}

KaCMpDiscardQualityRange::~KaCMpDiscardQualityRange() = default;

void KaCMpDiscardQualityRange::operator()(KaCSurfelCollectionCCT& collection) const {
  const unsigned int n = collection.GetNrSurfels();
  std::vector<unsigned char> marks;
  marks.reserve(n);
  // A local copy of the collection's accessor, so that the pass keeps it in registers.
  KaCQualityAccessor quality = collection.GetQualityAccessor();
  for (unsigned int i = 0; i < n; ++i) {
    const float q = quality[i];
    // NaN compares false on both sides and stays.
    marks.push_back(q >= m_fMinQuality && q <= m_fMaxQuality ? 1 : 0);
  }
  RemoveMarkedSurfels(collection, marks);
  collection.UpdateAccessors();
}
