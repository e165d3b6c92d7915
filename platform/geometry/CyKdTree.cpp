#include "geometry/CyKdTree.h"

#include <limits>
#include <vector>

#include <nanoflann.hpp>

namespace {

// nanoflann's view of a strided point array: the caller's storage while the tree is built,
// our leaf-ordered copy afterwards.
struct PointCloud {
  const unsigned char* pBytes = nullptr;
  std::size_t nStride = sizeof(CbVector3f);
  std::size_t nCount = 0;
  [[nodiscard]] const CbVector3f& Point(std::size_t i) const {
    return *reinterpret_cast<const CbVector3f*>(pBytes + i * nStride);
  }
  [[nodiscard]] std::size_t kdtree_get_point_count() const { return nCount; }
  [[nodiscard]] float kdtree_get_pt(std::size_t i, std::size_t dim) const {
    const CbVector3f& p = Point(i);
    return dim == 0 ? p.x : (dim == 1 ? p.y : p.z);
  }
  template <class BBox>
  bool kdtree_get_bbox(BBox& /*bb*/) const {
    return false;
  }
};

using Index = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, PointCloud>,
                                                  PointCloud, 3, unsigned int>;

// Points per leaf. Small leaves suit single-nearest queries in 3D.
constexpr std::size_t c_nLeafSize = 10;

// Result set of a single-nearest query: keeps the first of equally near points.
class NearestResult {
 public:
  [[nodiscard]] float worstDist() const noexcept { return m_fDistance2; }
  [[nodiscard]] bool full() const noexcept { return m_bFound; }
  bool addPoint(float fDistance2, unsigned int nIndex) noexcept {
    if (fDistance2 < m_fDistance2) {
      m_fDistance2 = fDistance2;
      m_nIndex = nIndex;
      m_bFound = true;
    }
    return true;
  }
  [[nodiscard]] unsigned int Index() const noexcept { return m_nIndex; }

 private:
  float m_fDistance2 = std::numeric_limits<float>::max();
  unsigned int m_nIndex = 0;
  bool m_bFound = false;
};

}  // namespace

// The points are stored in the order of the tree's leaves, so that the points a query visits
// lie next to each other in memory whatever order the caller's storage has. vecOriginal maps a
// stored position back to the caller's index, vecStored the other way.
struct CyKdTree::Impl {
  PointCloud cloud;
  std::vector<CbVector3f> vecPoints;
  std::vector<unsigned int> vecOriginal;
  std::vector<unsigned int> vecStored;
  std::unique_ptr<Index> index;
};

CyKdTree::CyKdTree(const CbVector3f* pPoints, unsigned int nStride, unsigned int nCount)
    : m_pImpl(std::make_unique<Impl>()) {
  if (nCount == 0) return;
  Impl& impl = *m_pImpl;
  // Built straight on the caller's storage, then copied once in leaf order.
  impl.cloud.pBytes = reinterpret_cast<const unsigned char*>(pPoints);
  impl.cloud.nStride = nStride;
  impl.cloud.nCount = nCount;
  impl.index = std::make_unique<Index>(3, impl.cloud,
                                       nanoflann::KDTreeSingleIndexAdaptorParams(c_nLeafSize));

  // The tree reaches points only through its index array, so permuting the points and making
  // that array the identity leaves every search unchanged.
  std::vector<unsigned int>& acc = impl.index->vAcc;
  impl.vecPoints.resize(nCount);
  impl.vecStored.resize(nCount);
  for (unsigned int k = 0; k < nCount; ++k) {
    impl.vecPoints[k] = impl.cloud.Point(acc[k]);
    impl.vecStored[acc[k]] = k;
  }
  impl.vecOriginal.swap(acc);
  acc.resize(nCount);
  for (unsigned int k = 0; k < nCount; ++k) acc[k] = k;
  impl.cloud.pBytes = reinterpret_cast<const unsigned char*>(impl.vecPoints.data());
  impl.cloud.nStride = sizeof(CbVector3f);
}

CyKdTree::~CyKdTree() = default;

unsigned int CyKdTree::GetNrPoints() const noexcept {
  return static_cast<unsigned int>(m_pImpl->vecPoints.size());
}

const CbVector3f& CyKdTree::GetPoint(unsigned int i) const noexcept {
  return m_pImpl->vecPoints[m_pImpl->vecStored[i]];
}

bool CyKdTree::FindNearest(const CbVector3f& q, unsigned int& nIndex, float& fDistance2) const {
  if (!m_pImpl->index) return false;
  NearestResult result;
  const float query[3] = {q.x, q.y, q.z};
  m_pImpl->index->findNeighbors(result, query, nanoflann::SearchParams());
  if (!result.full()) return false;
  nIndex = m_pImpl->vecOriginal[result.Index()];
  fDistance2 = result.worstDist();
  return true;
}

unsigned int CyKdTree::FindKNearest(const CbVector3f& q, unsigned int k, unsigned int* pIndices,
                                    float* pDistances2) const {
  if (!m_pImpl->index || k == 0) return 0;
  nanoflann::KNNResultSet<float, unsigned int, unsigned int> result(k);
  result.init(pIndices, pDistances2);
  const float query[3] = {q.x, q.y, q.z};
  m_pImpl->index->findNeighbors(result, query, nanoflann::SearchParams());
  const unsigned int n = result.size();
  for (unsigned int i = 0; i < n; ++i) pIndices[i] = m_pImpl->vecOriginal[pIndices[i]];
  return n;
}
