#include "geometry/CyKdTreeInterface.h"

CyKdTreeInterface::CyKdTreeInterface(const CyKdTree& tree, bool bExcludeSelf)
    : m_pTree(&tree), m_bExcludeSelf(bExcludeSelf), m_vecIndices(1), m_vecDistances2(1) {}

unsigned int CyKdTreeInterface::QueryNeighbors(const CbVector3f& point, unsigned int nCount) {
  // The single nearest neighbour is the common case; it has its own search.
  if (nCount == 1 && !m_bExcludeSelf) {
    m_nFound = m_pTree->FindNearest(point, m_vecIndices[0], m_vecDistances2[0]) ? 1u : 0u;
    return m_nFound;
  }
  // Without self-exclusion nCount suffice; with it, ask for more until enough points away from
  // the query are among the answers (duplicates of the query point may take several places).
  const unsigned int nPoints = m_pTree->GetNrPoints();
  unsigned int nAsk = m_bExcludeSelf ? nCount + 1 : nCount;
  unsigned int n = 0;
  for (;;) {
    nAsk = nAsk < nPoints ? nAsk : nPoints;
    if (m_vecIndices.size() < nAsk) {
      m_vecIndices.resize(nAsk);
      m_vecDistances2.resize(nAsk);
    }
    n = m_pTree->FindKNearest(point, nAsk, m_vecIndices.data(), m_vecDistances2.data());
    if (!m_bExcludeSelf) break;
    unsigned int nZero = 0;
    while (nZero < n && m_vecDistances2[nZero] == 0.0f) ++nZero;
    if (n - nZero >= nCount || n < nAsk || nAsk == nPoints) {
      const unsigned int kept = n - nZero < nCount ? n - nZero : nCount;
      for (unsigned int k = 0; k < kept; ++k) {
        m_vecIndices[k] = m_vecIndices[nZero + k];
        m_vecDistances2[k] = m_vecDistances2[nZero + k];
      }
      n = kept;
      break;
    }
    nAsk = nCount + nZero + 1 > nAsk * 2 ? nCount + nZero + 1 : nAsk * 2;
  }
  m_nFound = n;
  return n;
}
