#include <tolvane/KaCMpRemoveOutliersByWeight.h>

KaCMpRemoveOutliersByWeight::KaCMpRemoveOutliersByWeight(const CbMatrix4Rd& transformation,
                                                         float fValue1, float fValue2,
                                                         float fValue3)
    : m_pTransformation(&transformation),
      m_fValue1(fValue1),
      m_fValue2(fValue2),
      m_fValue3(fValue3) {}

KaCMpRemoveOutliersByWeight::KaCMpRemoveOutliersByWeight(const KaCMpRemoveOutliersByWeight& other)
    : KaIMpSurfelCollection(other),
      m_pTransformation(other.m_pTransformation),
      m_fValue1(other.m_fValue1),
      m_fValue2(other.m_fValue2),
      m_fValue3(other.m_fValue3) {}

KaCMpRemoveOutliersByWeight& KaCMpRemoveOutliersByWeight::operator=(
    const KaCMpRemoveOutliersByWeight& other) {
  KaIMpSurfelCollection::operator=(other);
  m_pTransformation = other.m_pTransformation;
  m_fValue1 = other.m_fValue1;
  m_fValue2 = other.m_fValue2;
  m_fValue3 = other.m_fValue3;
  return *this;
}

KaCMpRemoveOutliersByWeight::~KaCMpRemoveOutliersByWeight() = default;
