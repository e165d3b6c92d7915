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
  // One allocation of all N marks, then one pass that writes them in surfel order. The bounds
  // and a copy of the accessor are locals: the byte stores of the marks could otherwise alias
  // them and force a reload per surfel.
  std::vector<unsigned char> marks(n);
  unsigned char* pMarks = marks.data();
  const float fMin = m_fMinQuality;
  const float fMax = m_fMaxQuality;
  const KaCQualityAccessor quality = collection.GetQualityAccessor();
  // NaN compares false on both sides and stays.
  const auto mark = [fMin, fMax](float q) -> unsigned char {
    return static_cast<unsigned char>((q >= fMin) & (q <= fMax));
  };
  for (unsigned int i = 0; i < n; ++i) pMarks[i] = mark(quality.Get(i));
  RemoveMarkedSurfels(collection, marks);
  collection.UpdateAccessors();
}
