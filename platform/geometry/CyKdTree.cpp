#include "geometry/CyKdTree.h"

#include <limits>
#include <utility>
#include <vector>

#include <nanoflann.hpp>

namespace {

// nanoflann's view of the points. While the tree is built it reads the caller's strided storage;
// afterwards our leaf-ordered copy, reached from a caller's index through pStored.
struct PointCloud {
  const unsigned char* pBytes = nullptr;
  std::size_t nStride = sizeof(CbVector3f);
  std::size_t nCount = 0;
  const unsigned int* pStored = nullptr;
  [[nodiscard]] const CbVector3f& Point(std::size_t i) const {
    const std::size_t k = pStored != nullptr ? pStored[i] : i;
    return *reinterpret_cast<const CbVector3f*>(pBytes + k * nStride);
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

// Points per leaf. A leaf's points lie together in memory, so scanning a few more of them is
// cheaper than descending further: on 1M scanned surfels 16 to 48 beat nanoflann's default 10
// by about 20 % in both the build and the queries, with 24 in the middle of that plateau.
constexpr std::size_t c_nLeafSize = 24;

using Node = Index::Node;

// Deepest tree the single-nearest search below handles with its fixed stack; deeper (degenerate)
// trees are searched by nanoflann's own recursion.
constexpr unsigned int c_nMaxDepth = 64;

// The number of levels of the tree below root (a leaf alone has 1).
std::size_t Depth(const Node* root) {
  std::vector<std::pair<const Node*, std::size_t>> stack = {{root, 1}};
  std::size_t nDepth = 0;
  while (!stack.empty()) {
    const auto [node, level] = stack.back();
    stack.pop_back();
    nDepth = level > nDepth ? level : nDepth;
    if (node->child1 != nullptr) stack.emplace_back(node->child1, level + 1);
    if (node->child2 != nullptr) stack.emplace_back(node->child2, level + 1);
  }
  return nDepth;
}

// Result set of a single-nearest query for nanoflann: keeps the first of equally near points.
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

// The descent of nanoflann's searches (same visiting order and pruning test, so the same
// answers), with the recursion unrolled into a loop over an explicit stack: the nearer child is
// followed at once, the farther one is kept with its lower bound and visited later unless that
// bound has become larger than fBound, the distance a point must beat. A NaN bound prunes, as in
// nanoflann, so a query with a NaN or infinite coordinate finds nothing quickly. visitLeaf(left,
// right) scans the leaf's stored positions and gives the bound after them (kept in a register
// here rather than read back through the caller's variable). Forced inline: as a call per query
// the coherent searches ran about 25 % slower.
template <class VisitLeaf>
[[gnu::always_inline]] inline void Descend(const Node* root, const float q[3], float fBound,
                                           VisitLeaf&& visitLeaf) {
  struct Pending {
    const Node* node;
    float fMin2;
    float afOffset2[3];  // squared distance from q to the node's cell, per axis
  };
  Pending stack[c_nMaxDepth];
  unsigned int nTop = 0;
  stack[nTop++] = {root, 0.0f, {0.0f, 0.0f, 0.0f}};
  while (nTop > 0) {
    Pending cur = stack[--nTop];
    if (!(cur.fMin2 <= fBound)) continue;
    const Node* node = cur.node;
    while (node->child1 != nullptr || node->child2 != nullptr) {
      const int dim = node->node_type.sub.divfeat;
      const float val = q[dim];
      const float diff1 = val - node->node_type.sub.divlow;
      const float diff2 = val - node->node_type.sub.divhigh;
      const Node* best;
      const Node* other;
      float cut;
      if (diff1 + diff2 < 0.0f) {
        best = node->child1;
        other = node->child2;
        cut = diff2 * diff2;
      } else {
        best = node->child2;
        other = node->child1;
        cut = diff1 * diff1;
      }
      Pending& far = stack[nTop++];
      far.node = other;
      far.fMin2 = cur.fMin2 + cut - cur.afOffset2[dim];
      far.afOffset2[0] = cur.afOffset2[0];
      far.afOffset2[1] = cur.afOffset2[1];
      far.afOffset2[2] = cur.afOffset2[2];
      far.afOffset2[dim] = cut;
      node = best;
    }
    fBound = visitLeaf(node->node_type.lr.left, node->node_type.lr.right);
  }
}

inline float Distance2(const float q[3], const CbVector3f& p) {
  const float dx = q[0] - p.x;
  const float dy = q[1] - p.y;
  const float dz = q[2] - p.z;
  return dx * dx + dy * dy + dz * dz;
}

// The single-nearest search of nanoflann over the leaf-ordered points pPoints; keeps the first
// of equally near points.
bool SearchNearest(const Node* root, const CbVector3f* pPoints, const float q[3],
                   unsigned int& nIndex, float& fDistance2) {
  float fBest2 = std::numeric_limits<float>::max();
  unsigned int nBest = 0;
  bool bFound = false;
  Descend(root, q, fBest2, [&](std::size_t nLeft, std::size_t nRight) {
    for (std::size_t k = nLeft; k < nRight; ++k) {
      const float d2 = Distance2(q, pPoints[k]);
      if (d2 < fBest2) {
        fBest2 = d2;
        nBest = static_cast<unsigned int>(k);
        bFound = true;
      }
    }
    return fBest2;
  });
  nIndex = nBest;
  fDistance2 = fBest2;
  return bFound;
}

// The k-nearest search of nanoflann (same insertion rule as its KNNResultSet, so the same
// answer) over the leaf-ordered points, without nanoflann's reads through the index array.
// pStored receives positions in leaf order; gives how many were found.
unsigned int SearchKNearest(const Node* root, const CbVector3f* pPoints, const float q[3],
                            unsigned int k, unsigned int* pStored, float* pDistances2) {
  unsigned int nCount = 0;
  float fWorst2 = std::numeric_limits<float>::max();
  Descend(root, q, fWorst2, [&](std::size_t nLeft, std::size_t nRight) {
    for (std::size_t s = nLeft; s < nRight; ++s) {
      const float d2 = Distance2(q, pPoints[s]);
      if (!(d2 < fWorst2)) continue;
      // Insert after the equally near ones; the last place falls off when full.
      unsigned int i = nCount;
      for (; i > 0 && pDistances2[i - 1] > d2; --i) {
        if (i < k) {
          pDistances2[i] = pDistances2[i - 1];
          pStored[i] = pStored[i - 1];
        }
      }
      if (i < k) {
        pDistances2[i] = d2;
        pStored[i] = static_cast<unsigned int>(s);
      }
      if (nCount < k) ++nCount;
      if (nCount == k) fWorst2 = pDistances2[k - 1];
    }
    return fWorst2;
  });
  return nCount;
}

}  // namespace

// The points are stored in the order of the tree's leaves, so that the points a search visits
// lie next to each other in memory whatever order the caller's storage has. The tree's own
// index array (vAcc) maps a stored position back to the caller's index, vecStored the other way.
struct CyKdTree::Impl {
  PointCloud cloud;
  std::vector<CbVector3f> vecPoints;
  std::vector<unsigned int> vecStored;
  std::unique_ptr<Index> index;
  bool bShallow = false;  // the tree fits SearchNearest's stack
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
  const std::vector<unsigned int>& acc = impl.index->vAcc;
  impl.vecPoints.reserve(nCount);  // written once below, not zeroed first
  impl.vecStored.resize(nCount);
  for (unsigned int k = 0; k < nCount; ++k) {
    impl.vecPoints.push_back(impl.cloud.Point(acc[k]));
    impl.vecStored[acc[k]] = k;
  }
  impl.cloud.pBytes = reinterpret_cast<const unsigned char*>(impl.vecPoints.data());
  impl.cloud.nStride = sizeof(CbVector3f);
  impl.cloud.pStored = impl.vecStored.data();
  impl.bShallow = Depth(impl.index->root_node) < c_nMaxDepth;
}

CyKdTree::~CyKdTree() = default;

unsigned int CyKdTree::GetNrPoints() const noexcept {
  return static_cast<unsigned int>(m_pImpl->vecPoints.size());
}

const CbVector3f& CyKdTree::GetPoint(unsigned int i) const noexcept {
  return m_pImpl->vecPoints[m_pImpl->vecStored[i]];
}

const unsigned int* CyKdTree::GetLeafOrder() const noexcept {
  return m_pImpl->index ? m_pImpl->index->vAcc.data() : nullptr;
}

bool CyKdTree::FindNearest(const CbVector3f& q, unsigned int& nIndex, float& fDistance2,
                           CbVector3f* pPosition) const {
  const Impl& impl = *m_pImpl;
  if (!impl.index) return false;
  const float query[3] = {q.x, q.y, q.z};
  if (impl.bShallow) {
    unsigned int nStored = 0;
    if (!SearchNearest(impl.index->root_node, impl.vecPoints.data(), query, nStored, fDistance2))
      return false;
    nIndex = impl.index->vAcc[nStored];
    if (pPosition != nullptr) *pPosition = impl.vecPoints[nStored];
    return true;
  }
  NearestResult result;
  impl.index->findNeighbors(result, query, nanoflann::SearchParams());
  if (!result.full()) return false;
  nIndex = result.Index();  // nanoflann reports the caller's index
  fDistance2 = result.worstDist();
  if (pPosition != nullptr) *pPosition = GetPoint(nIndex);
  return true;
}

unsigned int CyKdTree::FindKNearest(const CbVector3f& q, unsigned int k, unsigned int* pIndices,
                                    float* pDistances2) const {
  const Impl& impl = *m_pImpl;
  if (!impl.index || k == 0) return 0;
  if (impl.bShallow) {
    const float query[3] = {q.x, q.y, q.z};
    const unsigned int n = SearchKNearest(impl.index->root_node, impl.vecPoints.data(), query, k,
                                          pIndices, pDistances2);
    for (unsigned int i = 0; i < n; ++i) pIndices[i] = impl.index->vAcc[pIndices[i]];
    return n;
  }
  nanoflann::KNNResultSet<float, unsigned int, unsigned int> result(k);
  result.init(pIndices, pDistances2);
  const float query[3] = {q.x, q.y, q.z};
  m_pImpl->index->findNeighbors(result, query, nanoflann::SearchParams());
  return result.size();
}
