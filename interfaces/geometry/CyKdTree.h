#pragma once

#include <tolvane/Export.h>

#include <memory>

#include "base/CacheLine.h"
#include "base/CbVector3f.h"

/// A kd-tree over a fixed set of 3D points for nearest-neighbour queries (Euclidean distance,
/// reported squared). The tree keeps its own copy of the points, laid out in the order of its
/// leaves, so it does not depend on the storage it was built from and a query reads nearby
/// memory whatever order that storage had. Indices are always those of the points as given.
/// Immutable after construction: any number of threads may query it at once. It fills a cache
/// line of its own (see m_pImpl), which nothing written shares.
class TOLVANE_API CyKdTree {
 public:
  /// Builds the tree over nCount points read at pPoints with a byte stride of nStride (the
  /// storage is read only during construction), with up to nThreads threads (the calling one
  /// among them) for large sets. The tree is the same whatever the number of threads.
  CyKdTree(const CbVector3f* pPoints, unsigned int nStride, unsigned int nCount,
           unsigned int nThreads = 1);
  ~CyKdTree();
  CyKdTree(const CyKdTree&) = delete;
  CyKdTree& operator=(const CyKdTree&) = delete;

  [[nodiscard]] unsigned int GetNrPoints() const noexcept;
  /// The tree's copy of point i (i < GetNrPoints()).
  [[nodiscard]] const CbVector3f& GetPoint(unsigned int i) const noexcept;
  /// The points' indices in the order of the tree's leaves (GetNrPoints() of them): queries
  /// made in this order visit the same nodes and points one after another, which on a large
  /// tree is several times faster than the order of the storage.
  [[nodiscard]] const unsigned int* GetLeafOrder() const noexcept;
  /// The nearest point to q: false when the tree is empty or q has a coordinate that is not
  /// finite. Of equally near points any one may be reported. A non-null pPosition receives the
  /// tree's copy of the point (read from memory the search has just visited).
  bool FindNearest(const CbVector3f& q, unsigned int& nIndex, float& fDistance2,
                   CbVector3f* pPosition = nullptr) const;
  /// Up to k nearest points, nearest first; gives how many were found.
  unsigned int FindKNearest(const CbVector3f& q, unsigned int k, unsigned int* pIndices,
                            float* pDistances2) const;

 private:
  struct Impl;
  alignas(tolvane::c_nCacheLine) std::unique_ptr<Impl> m_pImpl;
};
