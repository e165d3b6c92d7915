#include "geometry/CyKdTreeInterface.h"

CyKdTreeInterface::CyKdTreeInterface(const CyKdTree& tree, bool bExcludeSelf)
    : m_pTree(&tree), m_bExcludeSelf(bExcludeSelf), m_vecIndices(1), m_vecDistances2(1) {}

unsigned int CyKdTreeInterface::QueryNeighbors(const CbVector3f& point, unsigned int nCount) {
  // The single nearest neighbour is the common case; it has its own search.
  if (nCount == 1 && !m_bExcludeSelf) {
    m_nFound = m_pTree->FindNearest(point, m_vecIndices[0], m_vecDistances2[0]) ? 1u : 0u;
    return m_nFound;
  }
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
