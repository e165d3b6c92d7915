#include <tolvane/KaCMpFtScaleSurfels.h>

KaCMpFtScaleSurfels::KaCMpFtScaleSurfels(const CbVector3f& scale, bool bScaleSurfelsFlag)
    : m_vecScale(scale), m_bScaleSurfelsFlag(bScaleSurfelsFlag) {}

KaCMpFtScaleSurfels::KaCMpFtScaleSurfels(float fScale, bool bScaleSurfelsFlag)
    : m_vecScale(fScale, fScale, fScale), m_bScaleSurfelsFlag(bScaleSurfelsFlag) {}

KaCMpFtScaleSurfels::KaCMpFtScaleSurfels(const KaCMpFtScaleSurfels& other)
    : KaAMpFtSurfelCollection(other),
      m_vecScale(other.m_vecScale),
      m_bScaleSurfelsFlag(other.m_bScaleSurfelsFlag) {}

KaCMpFtScaleSurfels& KaCMpFtScaleSurfels::operator=(const KaCMpFtScaleSurfels& other) {
  KaAMpFtSurfelCollection::operator=(other);
  m_vecScale = other.m_vecScale;
  m_bScaleSurfelsFlag = other.m_bScaleSurfelsFlag;
  return *this;
}

KaCMpFtScaleSurfels::~KaCMpFtScaleSurfels() = default;

void KaCMpFtScaleSurfels::operator()(KaCSurfelCollectionCCT& collection) const {
  collection.ScaleSurfels(m_vecScale, m_bScaleSurfelsFlag);
}
