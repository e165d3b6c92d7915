#pragma once

#include <tolvane/Export.h>

#include <vector>

#include "base/CacheLine.h"
#include "base/CbVector3f.h"
#include "geometry/CyKdTree.h"

/// Query object over a CyKdTree: holds the result of the last query. Keeps the tree's address;
/// the tree must outlive it. One query object per thread; any number of them may share a tree.
/// A single-nearest query without self-exclusion allocates nothing.
class TOLVANE_API CyKdTreeInterface {
 public:
  /// bExcludeSelf: when true, no point at distance 0 is reported, duplicates included (queries
  /// of a tree's own points). The library builds it with false.
  CyKdTreeInterface(const CyKdTree& tree, bool bExcludeSelf);

  /// Finds up to nCount nearest neighbours of point, nearest first; gives how many.
  unsigned int QueryNeighbors(const CbVector3f& point, unsigned int nCount);
  [[nodiscard]] unsigned int GetNrNeighborsFound() const noexcept { return m_nFound; }
  /// The point index of the n-th neighbour found (n < GetNrNeighborsFound()).
  [[nodiscard]] unsigned int GetNeighborPositionIndex(unsigned int n) const noexcept {
    return m_vecIndices[n];
  }
  /// The tree's copy of the position of the n-th neighbour found.
  [[nodiscard]] const CbVector3f& GetNeighborPosition(unsigned int n) const noexcept {
    return m_vecPositions[n];
  }
  /// The squared distance of the n-th neighbour found.
  [[nodiscard]] float GetNeighborDistance2(unsigned int n) const noexcept {
    return m_vecDistances2[n];
  }

 private:
  const CyKdTree* m_pTree;
  bool m_bExcludeSelf;
  unsigned int m_nFound = 0;
  // Written on every query: in cache lines of their own, so that queries of other threads,
  // reading the tree and their own objects, never wait on them.
  template <class T>
  using LineVector = std::vector<T, tolvane::CacheLineAllocator<T>>;
  LineVector<unsigned int> m_vecIndices;
  LineVector<float> m_vecDistances2;
  LineVector<CbVector3f> m_vecPositions;
};
