#include "geometry/CyKdTree.h"

#include <vector>

#include <nanoflann.hpp>

namespace {

// nanoflann's view of our point copy.
struct PointCloud {
  std::vector<CbVector3f> points;
  [[nodiscard]] std::size_t kdtree_get_point_count() const { return points.size(); }
  [[nodiscard]] float kdtree_get_pt(std::size_t i, std::size_t dim) const {
    return points[i][static_cast<int>(dim)];
  }
  template <class BBox>
  bool kdtree_get_bbox(BBox& /*bb*/) const {
    return false;
  }
};

using Index = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, PointCloud>,
                                                  PointCloud, 3, unsigned int>;

}  // namespace

struct CyKdTree::Impl {
  PointCloud cloud;
  std::unique_ptr<Index> index;
};

CyKdTree::CyKdTree(const CbVector3f* pPoints, unsigned int nStride, unsigned int nCount)
    : m_pImpl(std::make_unique<Impl>()) {
  m_pImpl->cloud.points.resize(nCount);
  const auto* bytes = reinterpret_cast<const unsigned char*>(pPoints);
  for (unsigned int i = 0; i < nCount; ++i) {
    m_pImpl->cloud.points[i] =
        *reinterpret_cast<const CbVector3f*>(bytes + static_cast<std::size_t>(i) * nStride);
  }
  if (nCount > 0) {
    m_pImpl->index =
        std::make_unique<Index>(3, m_pImpl->cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
  }
}

CyKdTree::~CyKdTree() = default;

unsigned int CyKdTree::GetNrPoints() const noexcept {
  return static_cast<unsigned int>(m_pImpl->cloud.points.size());
}

const CbVector3f& CyKdTree::GetPoint(unsigned int i) const noexcept {
  return m_pImpl->cloud.points[i];
}

bool CyKdTree::FindNearest(const CbVector3f& q, unsigned int& nIndex, float& fDistance2) const {
  if (!m_pImpl->index) return false;
  nanoflann::KNNResultSet<float, unsigned int, unsigned int> result(1);
  result.init(&nIndex, &fDistance2);
  const float query[3] = {q.x, q.y, q.z};
  m_pImpl->index->findNeighbors(result, query, nanoflann::SearchParams());
  return result.size() == 1;
}

unsigned int CyKdTree::FindKNearest(const CbVector3f& q, unsigned int k, unsigned int* pIndices,
                                    float* pDistances2) const {
  if (!m_pImpl->index || k == 0) return 0;
  nanoflann::KNNResultSet<float, unsigned int, unsigned int> result(k);
  result.init(pIndices, pDistances2);
  const float query[3] = {q.x, q.y, q.z};
  m_pImpl->index->findNeighbors(result, query, nanoflann::SearchParams());
  return result.size();
}
