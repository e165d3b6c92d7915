#include "geometry/CyKdTree.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/FillableArray.h"
#include "base/Shares.h"

namespace {

// Points per leaf. A leaf's points lie together in memory, so scanning a few more of them is
// cheaper than descending further: on 1M scanned surfels 16 to 48 beat the customary 10 by
// about 20 % in both the build and the queries, with 24 in the middle of that plateau.
constexpr unsigned int c_nLeafSize = 24;

// A node of the tree. The nodes are stored depth first: an inner node's first child follows it.
struct Node {
  float fDivLow;         // inner: the largest coordinate along iAxis in the first child
  float fDivHigh;        // inner: the smallest coordinate along iAxis in the second child
  std::uint32_t nBegin;  // leaf: its first point (in leaf order); inner: its second child
  std::uint32_t nEnd;    // leaf: one past its last point
  std::int32_t iAxis;    // inner: the split axis, 0 to 2; leaf: -1
};

struct Interval {
  float low;
  float high;
};
using Box = std::array<Interval, 3>;

// Points above which a subtree's two halves are built by two threads.
constexpr unsigned int c_nParallelFrom = 1u << 16;

// Widens range by v the way a scan in order does: only by a value that compares beyond it, so
// the first of equal values stays and a NaN changes nothing (nor does anything change a NaN).
inline void Widen(Interval& range, float v) noexcept {
  if (v < range.low) range.low = v;
  if (v > range.high) range.high = v;
}

// The range a share of a scan starts from: its first value for the first share (as the scan
// does), for a later share an empty range that its first value other than NaN widens.
inline Interval StartOfShare(bool bFirstShare, float v) noexcept {
  if (bFirstShare) return {v, v};
  return {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
}

// Points from which a scan of their ranges is shared among threads.
constexpr unsigned int c_nScanSharedFrom = 1u << 18;

// Builds the tree nanoflann builds (its sliding-midpoint split, step by step: the same
// comparisons, the same swaps, the same ties), whatever the number of threads. The points are moved
// along with their indices, so that every pass reads them in sequence and they end in leaf order.
class Builder {
 public:
  Builder(tolvane::FillableArray<CbVector3f>& points, tolvane::FillableArray<unsigned int>& acc)
      : m_points(points), m_acc(acc) {}

  // Appends the subtree of points left..right-1 to nodes, depth first, with nThreads threads;
  // box comes in as the space the subtree may fill and leaves as its points' box.
  void Divide(unsigned int left, unsigned int right, Box& box, unsigned int nThreads,
              std::vector<Node>& nodes) {
    const std::size_t iNode = nodes.size();
    nodes.push_back({0.0f, 0.0f, left, right, -1});
    if (right - left <= c_nLeafSize) {
      for (int d = 0; d < 3; ++d) box[d].low = box[d].high = m_points[left][d];
      for (unsigned int k = left + 1; k < right; ++k) {
        for (int d = 0; d < 3; ++d) {
          const float v = m_points[k][d];
          if (box[d].low > v) box[d].low = v;
          if (box[d].high < v) box[d].high = v;
        }
      }
      return;
    }
    unsigned int nIndex = 0;
    int iAxis = 0;
    float fCut = 0.0f;
    MiddleSplit(left, right - left, box, nThreads, nIndex, iAxis, fCut);
    Box first = box;
    first[iAxis].high = fCut;
    Box second = box;
    second[iAxis].low = fCut;
    const unsigned int middle = left + nIndex;
    if (nThreads > 1 && right - left >= c_nParallelFrom) {
      // The first half in a thread of its own, into nodes of its own appended afterwards.
      const unsigned int nFirstThreads = nThreads / 2;
      std::vector<Node> firstNodes;
      std::vector<Node> secondNodes;
      std::exception_ptr error;
      const auto buildFirst = [&] {
        try {
          Divide(left, middle, first, nFirstThreads, firstNodes);
        } catch (...) {
          error = std::current_exception();
        }
      };
      {
        std::vector<std::thread> threads;
        const tolvane::ThreadJoiner joiner{threads};
        try {
          threads.emplace_back(buildFirst);
        } catch (const std::system_error&) {
          buildFirst();  // no thread to be had
        }
        Divide(middle, right, second, nThreads - nFirstThreads, secondNodes);
      }
      if (error) std::rethrow_exception(error);
      Append(firstNodes, nodes);
      nodes[iNode].nBegin = static_cast<std::uint32_t>(nodes.size());
      Append(secondNodes, nodes);
    } else {
      Divide(left, middle, first, 1, nodes);
      nodes[iNode].nBegin = static_cast<std::uint32_t>(nodes.size());
      Divide(middle, right, second, 1, nodes);
    }
    Node& node = nodes[iNode];
    node.iAxis = iAxis;
    node.fDivLow = first[iAxis].high;
    node.fDivHigh = second[iAxis].low;
    for (int d = 0; d < 3; ++d) {
      box[d].low = std::min(first[d].low, second[d].low);
      box[d].high = std::max(first[d].high, second[d].high);
    }
  }

 private:
  // Appends a subtree built apart, its second-child indices moved by where it lands.
  static void Append(const std::vector<Node>& sub, std::vector<Node>& nodes) {
    const auto nBase = static_cast<std::uint32_t>(nodes.size());
    for (Node node : sub) {
      if (node.iAxis >= 0) node.nBegin += nBase;
      nodes.push_back(node);
    }
  }

  // The smallest and largest coordinate of points first..first+count-1 along each axis d with
  // abWanted[d], as one scan in order finds them from the first point (Widen), in one pass
  // shared among up to nThreads threads for many points: each later share's range, from
  // StartOfShare, widens the ranges before it, which gives the scan's result.
  void MinMax(unsigned int first, unsigned int count, const std::array<bool, 3>& abWanted,
              Box& range, unsigned int nThreads) const {
    const unsigned int nShares = nThreads > 1 && count >= c_nScanSharedFrom ? 2 : 1;
    std::array<Box, 2> shares{};
    tolvane::ForShares(nShares, count, [&](unsigned int s, std::size_t nBegin, std::size_t nEnd) {
      ScanShare(first + static_cast<unsigned int>(nBegin), static_cast<unsigned int>(nEnd - nBegin),
                abWanted, s == 0, shares[s]);
    });
    range = shares[0];
    for (unsigned int s = 1; s < nShares; ++s) {
      for (int d = 0; d < 3; ++d) {
        if (abWanted[d]) {
          Widen(range[d], shares[s][d].low);
          Widen(range[d], shares[s][d].high);
        }
      }
    }
  }

  // One share of MinMax's scan.
  void ScanShare(unsigned int first, unsigned int count, const std::array<bool, 3>& abWanted,
                 bool bFirstShare, Box& range) const {
    const auto scan = [&](auto wantX, auto wantY, auto wantZ) {
      const bool abAxis[3] = {decltype(wantX)::value, decltype(wantY)::value,
                              decltype(wantZ)::value};
      for (int d = 0; d < 3; ++d) {
        if (abAxis[d]) range[d] = StartOfShare(bFirstShare, m_points[first][d]);
      }
      for (unsigned int i = bFirstShare ? 1 : 0; i < count; ++i) {
        const CbVector3f& p = m_points[first + i];
        for (int d = 0; d < 3; ++d) {
          if (abAxis[d]) Widen(range[d], p[d]);
        }
      }
    };
    // One loop per set of axes, so that each tests no axis flag per point.
    using Yes = std::true_type;
    using No = std::false_type;
    const int nMask = (abWanted[0] ? 1 : 0) | (abWanted[1] ? 2 : 0) | (abWanted[2] ? 4 : 0);
    switch (nMask) {
      case 1:
        scan(Yes{}, No{}, No{});
        break;
      case 2:
        scan(No{}, Yes{}, No{});
        break;
      case 3:
        scan(Yes{}, Yes{}, No{});
        break;
      case 4:
        scan(No{}, No{}, Yes{});
        break;
      case 5:
        scan(Yes{}, No{}, Yes{});
        break;
      case 6:
        scan(No{}, Yes{}, Yes{});
        break;
      case 7:
        scan(Yes{}, Yes{}, Yes{});
        break;
      default:
        break;
    }
  }

  // The split of points first..first+count-1: along the axis of largest spread among those
  // whose side of the box is nearly the longest, at the middle of the box moved onto the
  // points' range; nIndex is where the second child starts.
  void MiddleSplit(unsigned int first, unsigned int count, const Box& box, unsigned int nThreads,
                   unsigned int& nIndex, int& iAxis, float& fCut) {
    const auto c_fEps = static_cast<float>(0.00001);
    float fMaxSpan = box[0].high - box[0].low;
    for (int d = 1; d < 3; ++d) {
      const float fSpan = box[d].high - box[d].low;
      if (fSpan > fMaxSpan) fMaxSpan = fSpan;
    }
    std::array<bool, 3> abCandidate{};
    for (int d = 0; d < 3; ++d) abCandidate[d] = box[d].high - box[d].low > (1 - c_fEps) * fMaxSpan;
    // No candidate (a flat or NaN box): the first axis, whose range is wanted all the same.
    const bool bAny = abCandidate[0] || abCandidate[1] || abCandidate[2];
    if (!bAny) abCandidate[0] = true;
    Box range{};
    MinMax(first, count, abCandidate, range, nThreads);
    float fMaxSpread = -1;
    iAxis = 0;
    for (int d = 0; d < 3 && bAny; ++d) {
      if (!abCandidate[d]) continue;
      const float fSpread = range[d].high - range[d].low;
      if (fSpread > fMaxSpread) {
        iAxis = d;
        fMaxSpread = fSpread;
      }
    }
    const float fSplit = (box[iAxis].low + box[iAxis].high) / 2;
    const float fMin = range[iAxis].low;
    const float fMax = range[iAxis].high;
    if (fSplit < fMin) {
      fCut = fMin;
    } else if (fSplit > fMax) {
      fCut = fMax;
    } else {
      fCut = fSplit;
    }
    unsigned int nLim1 = 0;
    unsigned int nLim2 = 0;
    PlaneSplit(first, count, iAxis, fCut, nLim1, nLim2);
    if (nLim1 > count / 2) {
      nIndex = nLim1;
    } else if (nLim2 < count / 2) {
      nIndex = nLim2;
    } else {
      nIndex = count / 2;
    }
  }

  void Swap(unsigned int a, unsigned int b) {
    std::swap(m_acc[a], m_acc[b]);
    std::swap(m_points[a], m_points[b]);
  }

  // Orders points first..first+count-1 into those below fCut (the first nLim1), those equal
  // to it (up to nLim2) and those above.
  void PlaneSplit(unsigned int first, unsigned int count, int iAxis, float fCut,
                  unsigned int& nLim1, unsigned int& nLim2) {
    const auto value = [&](unsigned int i) { return m_points[first + i][iAxis]; };
    unsigned int left = 0;
    unsigned int right = count - 1;
    for (;;) {
      while (left <= right && value(left) < fCut) ++left;
      while (right != 0 && left <= right && value(right) >= fCut) --right;
      if (left > right || right == 0) break;
      Swap(first + left, first + right);
      ++left;
      --right;
    }
    nLim1 = left;
    right = count - 1;
    for (;;) {
      while (left <= right && value(left) <= fCut) ++left;
      while (right != 0 && left <= right && value(right) > fCut) --right;
      if (left > right || right == 0) break;
      Swap(first + left, first + right);
      ++left;
      --right;
    }
    nLim2 = left;
  }

  tolvane::FillableArray<CbVector3f>& m_points;
  tolvane::FillableArray<unsigned int>& m_acc;
};

// The number of levels of the tree (a leaf alone has 1).
std::size_t Depth(const std::vector<Node>& nodes) {
  std::vector<std::pair<std::uint32_t, std::size_t>> stack = {{0u, 1}};
  std::size_t nDepth = 0;
  while (!stack.empty()) {
    const auto [iNode, level] = stack.back();
    stack.pop_back();
    nDepth = level > nDepth ? level : nDepth;
    const Node& node = nodes[iNode];
    if (node.iAxis >= 0) {
      stack.emplace_back(iNode + 1, level + 1);
      stack.emplace_back(node.nBegin, level + 1);
    }
  }
  return nDepth;
}

// The descent of the searches: the nearer child is followed at once, the farther one is kept
// with its lower bound and visited later unless that bound has become larger than fBound, the
// distance a point must beat (the visiting order and pruning test of the classic recursive
// search, so the same answers). A NaN bound prunes, so a query with a NaN or infinite coordinate
// finds nothing quickly. pStack holds as many entries as the tree has levels.
// visitLeaf(begin, end) scans the leaf's points and gives the bound after them (kept in a
// register here rather than read back through the caller's variable). Forced inline: as a call
// per query the coherent searches ran about 25 % slower.
struct Pending {
  const Node* pNode;
  float fMin2;
  float afOffset2[3];  // squared distance from q to the node's cell, per axis
};
template <class VisitLeaf>
[[gnu::always_inline]] inline void DescendWith(const Node* pNodes, Pending* pStack,
                                               const float q[3], float fBound,
                                               VisitLeaf&& visitLeaf) {
  unsigned int nTop = 0;
  pStack[nTop++] = {pNodes, 0.0f, {0.0f, 0.0f, 0.0f}};
  while (nTop > 0) {
    const Pending cur = pStack[--nTop];
    if (!(cur.fMin2 <= fBound)) continue;
    const Node* pNode = cur.pNode;
    while (pNode->iAxis >= 0) {
      const int dim = pNode->iAxis;
      const float val = q[dim];
      const float diff1 = val - pNode->fDivLow;
      const float diff2 = val - pNode->fDivHigh;
      const Node* pBest;
      const Node* pOther;
      float cut;
      if (diff1 + diff2 < 0.0f) {
        pBest = pNode + 1;
        pOther = pNodes + pNode->nBegin;
        cut = diff2 * diff2;
      } else {
        pBest = pNodes + pNode->nBegin;
        pOther = pNode + 1;
        cut = diff1 * diff1;
      }
      Pending& far = pStack[nTop++];
      far.pNode = pOther;
      far.fMin2 = cur.fMin2 + cut - cur.afOffset2[dim];
      far.afOffset2[0] = cur.afOffset2[0];
      far.afOffset2[1] = cur.afOffset2[1];
      far.afOffset2[2] = cur.afOffset2[2];
      far.afOffset2[dim] = cut;
      pNode = pBest;
    }
    fBound = visitLeaf(pNode->nBegin, pNode->nEnd);
  }
}

// Entries of the search stack kept on the caller's stack; deeper (degenerate) trees get theirs
// from the heap. On the caller's stack the compiler knows that its writes change no node, which
// keeps the nodes' fields in registers: the coherent searches ran 40 % slower without.
constexpr std::size_t c_nStackDepth = 64;

template <class VisitLeaf>
[[gnu::always_inline]] inline void Descend(const Node* pNodes, std::size_t nDepth, const float q[3],
                                           float fBound, VisitLeaf&& visitLeaf) {
  if (nDepth <= c_nStackDepth) {
    Pending aStack[c_nStackDepth];
    DescendWith(pNodes, aStack, q, fBound, visitLeaf);
  } else {
    std::vector<Pending> stack(nDepth);
    DescendWith(pNodes, stack.data(), q, fBound, visitLeaf);
  }
}

inline float Distance2(const float q[3], const CbVector3f& p) {
  const float dx = q[0] - p.x;
  const float dy = q[1] - p.y;
  const float dz = q[2] - p.z;
  return dx * dx + dy * dy + dz * dz;
}

// The single-nearest search over the leaf-ordered points pPoints; keeps the first of equally
// near points.
bool SearchNearest(const Node* pNodes, std::size_t nDepth, const CbVector3f* pPoints,
                   const float q[3], unsigned int& nIndex, float& fDistance2) {
  float fBest2 = std::numeric_limits<float>::max();
  unsigned int nBest = 0;
  bool bFound = false;
  Descend(pNodes, nDepth, q, fBest2, [&](std::uint32_t nBegin, std::uint32_t nEnd) {
    for (std::uint32_t k = nBegin; k < nEnd; ++k) {
      // Without branches: which point of a leaf is nearer is too random to predict.
      const float d2 = Distance2(q, pPoints[k]);
      const bool bNearer = d2 < fBest2;
      fBest2 = bNearer ? d2 : fBest2;
      nBest = bNearer ? k : nBest;
      bFound = bFound || bNearer;
    }
    return fBest2;
  });
  nIndex = nBest;
  fDistance2 = fBest2;
  return bFound;
}

// The k-nearest search over the leaf-ordered points: equally near points in the order found.
// pStored receives positions in leaf order; gives how many were found.
unsigned int SearchKNearest(const Node* pNodes, std::size_t nDepth, const CbVector3f* pPoints,
                            const float q[3], unsigned int k, unsigned int* pStored,
                            float* pDistances2) {
  unsigned int nCount = 0;
  float fWorst2 = std::numeric_limits<float>::max();
  Descend(pNodes, nDepth, q, fWorst2, [&](std::uint32_t nBegin, std::uint32_t nEnd) {
    for (std::uint32_t s = nBegin; s < nEnd; ++s) {
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
        pStored[i] = s;
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
// lie next to each other in memory whatever order the caller's storage has. aAcc maps a
// stored position back to the caller's index, aStored the other way. Read by every query, so
// on cache lines of its own.
struct alignas(tolvane::c_nCacheLine) CyKdTree::Impl {
  std::vector<Node> vecNodes;
  tolvane::FillableArray<CbVector3f> aPoints;
  tolvane::FillableArray<unsigned int> aAcc;
  tolvane::FillableArray<unsigned int> aStored;
  std::size_t nDepth = 0;
};

CyKdTree::CyKdTree(const CbVector3f* pPoints, unsigned int nStride, unsigned int nCount,
                   unsigned int nThreads)
    : m_pImpl(std::make_unique<Impl>()) {
  if (nCount == 0) return;
  Impl& impl = *m_pImpl;
  const auto* pBytes = reinterpret_cast<const unsigned char*>(pPoints);
  impl.aPoints = tolvane::FillableArray<CbVector3f>(nCount);
  impl.aAcc = tolvane::FillableArray<unsigned int>(nCount);
  // The copy, and the box of all points as the root sees it: the first point's coordinates,
  // widened by every later one (a scan shared as MinMax shares it).
  const auto point = [&](std::size_t i) -> const CbVector3f& {
    return *reinterpret_cast<const CbVector3f*>(pBytes + i * nStride);
  };
  const unsigned int nCopyShares = nThreads > 1 && nCount >= c_nScanSharedFrom ? 2 : 1;
  std::array<Box, 2> shares{};
  tolvane::ForShares(nCopyShares, nCount,
                     [&](unsigned int s, std::size_t nBegin, std::size_t nEnd) {
                       Box& range = shares[s];
                       for (int d = 0; d < 3; ++d)
                         range[d] = StartOfShare(s == 0, point(nBegin)[d]);
                       for (std::size_t i = nBegin; i < nEnd; ++i) {
                         const CbVector3f& p = point(i);
                         impl.aPoints.Fill(i, p);
                         impl.aAcc.Fill(i, static_cast<unsigned int>(i));
                         for (int d = 0; d < 3; ++d) Widen(range[d], p[d]);
                       }
                     });
  Box box = shares[0];
  for (unsigned int s = 1; s < nCopyShares; ++s) {
    for (int d = 0; d < 3; ++d) {
      Widen(box[d], shares[s][d].low);
      Widen(box[d], shares[s][d].high);
    }
  }
  Builder builder(impl.aPoints, impl.aAcc);
  impl.vecNodes.reserve(2 * (nCount / (c_nLeafSize / 2) + 1));
  builder.Divide(0, nCount, box, nThreads == 0 ? 1 : nThreads, impl.vecNodes);
  // The inverse of the leaf order, in shares on two threads where there are.
  impl.aStored = tolvane::FillableArray<unsigned int>(nCount);
  const unsigned int nShares = nThreads > 1 && nCount >= c_nParallelFrom ? 2 : 1;
  tolvane::ForShares(nShares, nCount, [&impl](unsigned int, std::size_t nBegin, std::size_t nEnd) {
    for (std::size_t k = nBegin; k < nEnd; ++k) {
      impl.aStored.Fill(impl.aAcc[k], static_cast<unsigned int>(k));
    }
  });
  impl.nDepth = Depth(impl.vecNodes);
}

CyKdTree::~CyKdTree() = default;

unsigned int CyKdTree::GetNrPoints() const noexcept {
  return static_cast<unsigned int>(m_pImpl->aPoints.size());
}

const CbVector3f& CyKdTree::GetPoint(unsigned int i) const noexcept {
  return m_pImpl->aPoints[m_pImpl->aStored[i]];
}

const unsigned int* CyKdTree::GetLeafOrder() const noexcept {
  return m_pImpl->aAcc.empty() ? nullptr : m_pImpl->aAcc.data();
}

bool CyKdTree::FindNearest(const CbVector3f& q, unsigned int& nIndex, float& fDistance2,
                           CbVector3f* pPosition) const {
  const Impl& impl = *m_pImpl;
  if (impl.vecNodes.empty()) return false;
  const float query[3] = {q.x, q.y, q.z};
  unsigned int nStored = 0;
  if (!SearchNearest(impl.vecNodes.data(), impl.nDepth, impl.aPoints.data(), query, nStored,
                     fDistance2)) {
    return false;
  }
  nIndex = impl.aAcc[nStored];
  if (pPosition != nullptr) *pPosition = impl.aPoints[nStored];
  return true;
}

unsigned int CyKdTree::FindKNearest(const CbVector3f& q, unsigned int k, unsigned int* pIndices,
                                    float* pDistances2) const {
  const Impl& impl = *m_pImpl;
  if (impl.vecNodes.empty() || k == 0) return 0;
  const float query[3] = {q.x, q.y, q.z};
  const unsigned int n = SearchKNearest(impl.vecNodes.data(), impl.nDepth, impl.aPoints.data(),
                                        query, k, pIndices, pDistances2);
  for (unsigned int i = 0; i < n; ++i) pIndices[i] = impl.aAcc[pIndices[i]];
  return n;
}
