#include "geometry/CyKdTreeInterface.h"

CyKdTreeInterface::CyKdTreeInterface(const CyKdTree& tree, bool bExcludeSelf)
    : m_pTree(&tree), m_bExcludeSelf(bExcludeSelf) {}

unsigned int CyKdTreeInterface::QueryNeighbors(const CbVector3f& point, unsigned int nCount) {
  const unsigned int nAsk = m_bExcludeSelf ? nCount + 1 : nCount;
  if (m_vecIndices.size() < nAsk) {
    m_vecIndices.resize(nAsk);
    m_vecDistances2.resize(nAsk);
  }
  unsigned int n = m_pTree->FindKNearest(point, nAsk, m_vecIndices.data(), m_vecDistances2.data());
  if (m_bExcludeSelf) {
    unsigned int kept = 0;
    for (unsigned int k = 0; k < n; ++k) {
      if (m_vecDistances2[k] == 0.0f) continue;
      m_vecIndices[kept] = m_vecIndices[k];
      m_vecDistances2[kept] = m_vecDistances2[k];
      ++kept;
    }
    n = kept < nCount ? kept : nCount;
  }
  m_nFound = n;
  return n;
}
