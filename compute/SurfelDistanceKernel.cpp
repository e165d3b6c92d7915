#include "compute/SurfelDistanceKernel.h"

#include <tolvane/MovedPosition.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include "base/CbVector3f.h"
#include "base/FillableArray.h"
#include "base/Shares.h"
#include "container/KaCNormalCodec.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyKdTree.h"
#include "geometry/CyKdTreeInterface.h"

namespace tolvane::detail {
namespace {

// Most bits per axis of the grid that orders the visits: 2^18 cells, a 1 MB histogram.
constexpr unsigned int c_nMaxOrderBits = 6;

// Spreads the bits of v (below 1024) so that two zero bits follow each of them.
std::uint32_t SpreadBits(std::uint32_t v) noexcept {
  v = (v | (v << 16)) & 0x030000FFu;
  v = (v | (v << 8)) & 0x0300F00Fu;
  v = (v | (v << 4)) & 0x030C30C3u;
  v = (v | (v << 2)) & 0x09249249u;
  return v;
}

// Cell coordinate of t in 0..nCells-1; NaN and values below the box go to 0.
std::uint32_t Cell(float t, std::uint32_t nCells) noexcept {
  if (!(t > 0.0f)) return 0u;
  return t < static_cast<float>(nCells - 1) ? static_cast<std::uint32_t>(t) : nCells - 1;
}

// The order in which to visit the surfels: along a Morton curve over a grid of cells spanning
// their bounding cube, surfels of one cell in storage order. Consecutive queries then land in
// the same part of the reference tree, which stays in cache whatever order the collection is
// stored in. The grid is coarse on purpose: a cell's part of the tree fits in cache, and a
// counting sort over few cells needs little memory (about one cell per surfel at most). The
// order is taken on the positions before the transformation, which moves neighbours together.
// The bounding box, the cells and the sort are shared among nThreads threads; the order does not
// depend on their number.
void VisitingOrder(const KaTAttributeAccessor<const CbVector3f>& pos, unsigned int n,
                   unsigned int nThreads, FillableArray<unsigned int>& order) {
  // Each share's box, then the shares' boxes in share order: a bound equal in value (0 and -0)
  // keeps the first one met, as one pass would.
  std::vector<std::array<float, 6>> boxes(nThreads);
  ForShares(nThreads, n, [&](unsigned int k, std::size_t begin, std::size_t end) {
    float lo[3] = {INFINITY, INFINITY, INFINITY};
    float hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (auto i = static_cast<unsigned int>(begin); i < end; ++i) {
      const CbVector3f& p = pos[i];
      for (int a = 0; a < 3; ++a) {
        const float v = p[a];
        if (!std::isfinite(v)) continue;
        lo[a] = v < lo[a] ? v : lo[a];
        hi[a] = v > hi[a] ? v : hi[a];
      }
    }
    boxes[k] = {lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
  });
  float lo[3] = {INFINITY, INFINITY, INFINITY};
  float hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (const std::array<float, 6>& box : boxes) {
    for (int a = 0; a < 3; ++a) {
      lo[a] = box[a] < lo[a] ? box[a] : lo[a];
      hi[a] = box[3 + a] > hi[a] ? box[3 + a] : hi[a];
    }
  }
  float extent = 0.0f;
  for (int a = 0; a < 3; ++a) {
    if (hi[a] > lo[a] && hi[a] - lo[a] > extent) extent = hi[a] - lo[a];
    if (!(hi[a] >= lo[a])) lo[a] = 0.0f;  // no finite coordinate on this axis
  }
  unsigned int nBits = 1;
  while (nBits < c_nMaxOrderBits && (1u << (3 * nBits)) < n) ++nBits;
  const std::uint32_t nCells = 1u << nBits;
  const float scale =
      extent > 0.0f && std::isfinite(extent) ? static_cast<float>(nCells) / extent : 0.0f;
  // A counting sort by cell, stable, shared among the threads: each counts the cells of its
  // share of the surfels, then places them after those of the same cell in earlier shares.
  const std::size_t nKeys = std::size_t{1} << (3 * nBits);
  FillableArray<std::uint32_t> keys(n);
  // Allocated here: a share may not throw.
  std::vector<std::vector<unsigned int>> counts(nThreads, std::vector<unsigned int>(nKeys, 0u));
  ForShares(nThreads, n, [&](unsigned int t, std::size_t begin, std::size_t end) {
    std::vector<unsigned int>& count = counts[t];
    for (auto i = static_cast<unsigned int>(begin); i < end; ++i) {
      const CbVector3f& p = pos[i];
      const std::uint32_t key = SpreadBits(Cell((p.x - lo[0]) * scale, nCells)) |
                                (SpreadBits(Cell((p.y - lo[1]) * scale, nCells)) << 1) |
                                (SpreadBits(Cell((p.z - lo[2]) * scale, nCells)) << 2);
      keys.Fill(i, key);
      ++count[key];
    }
  });
  // Each share's count of a cell becomes where its first surfel of that cell goes.
  unsigned int nPlaced = 0;
  for (std::size_t c = 0; c < nKeys; ++c) {
    for (std::vector<unsigned int>& count : counts) {
      const unsigned int nCount = count[c];
      count[c] = nPlaced;
      nPlaced += nCount;
    }
  }
  order = FillableArray<unsigned int>(n);
  ForShares(nThreads, n, [&](unsigned int t, std::size_t begin, std::size_t end) {
    std::vector<unsigned int>& next = counts[t];
    for (auto i = static_cast<unsigned int>(begin); i < end; ++i) order.Fill(next[keys[i]]++, i);
  });
}

// Asks the processor to fetch *p ahead of use; a hint only.
template <class T>
void Prefetch(const T* p) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

// What every visit reads: the inputs' views, the matrix, the squared limit and the visiting order.
struct Visits {
  KaTAttributeAccessor<const unsigned short> refNormals;
  KaTAttributeAccessor<const CbVector3f> movPos;
  KaTAttributeAccessor<const unsigned short> movNormals;
  const CbMatrix4Rd* pMatrix;
  float fLimit2;
  const CbVector3f* pNormalTable;
  const unsigned int* pOrder;
  float* pResult;
};

// Measures the surfels of visits kBegin..kEnd-1 of the order with the query object given.
// Works on its own copy of the views: the caller's lies among data that other threads write on
// every query, and reading it after each query would wait on their writes.
void MeasureVisits(const Visits& visits, CyKdTreeInterface& query, unsigned int kBegin,
                   unsigned int kEnd) noexcept {
  const Visits v = visits;
  const CbVector3f zero;
  // The measurement of a surfel whose neighbour was found. The neighbour's position comes from
  // the kd-tree, which holds an exact copy of the reference's positions in memory the search
  // has just read; its normal is read one visit later, so that fetching it overlaps the next
  // query.
  struct Found {
    unsigned int i;
    unsigned int j;
    CbVector3f q;
    CbVector3f a;
  };
  const auto measure = [&](const Found& f) {
    const CbVector3f& a = f.a;
    const CbVector3f nR = v.pNormalTable[v.refNormals[f.j]];
    if (nR == zero) return;
    const CbVector3f& q = f.q;
    // Fixed float order: d = ((dy ny + dx nx) + dz nz) and |e|^2 = (ey^2 + ex^2) + ez^2.
    const float d = ((q.y - a.y) * nR.y + (q.x - a.x) * nR.x) + (q.z - a.z) * nR.z;
    const float ex = a.x - (q.x - d * nR.x);
    const float ey = a.y - (q.y - d * nR.y);
    const float ez = a.z - (q.z - d * nR.z);
    const float e2 = (ey * ey + ex * ex) + ez * ez;
    if (e2 > v.fLimit2) return;
    v.pResult[f.i] = d;
  };

  // The order takes the moving surfels out of storage order; fetch them a few visits ahead.
  constexpr unsigned int c_nAhead = 8;
  Found pending{0, 0, zero, zero};
  bool bPending = false;
  for (unsigned int k = kBegin; k < kEnd; ++k) {
    if (k + c_nAhead < kEnd) {
      const unsigned int iAhead = v.pOrder[k + c_nAhead];
      Prefetch(&v.movPos[iAhead]);
      Prefetch(&v.movNormals[iAhead]);
      Prefetch(v.pResult + iAhead);
    }
    const unsigned int i = v.pOrder[k];
    // An unset moving normal gives the marker whatever is found, so the query is skipped.
    if (v.pNormalTable[v.movNormals[i]] == zero) continue;
    const CbVector3f q = tolvane::MovedPosition(*v.pMatrix, v.movPos[i]);
    if (query.QueryNeighbors(q, 1) == 0) continue;
    const unsigned int j = query.GetNeighborPositionIndex(0);
    Prefetch(&v.refNormals[j]);
    if (bPending) measure(pending);
    pending = {i, j, q, query.GetNeighborPosition(0)};
    bPending = true;
  }
  if (bPending) measure(pending);
}

// Visits per chunk that a thread takes at a time: large enough that taking one costs nothing
// against its queries, small enough that threads slowed by other work on the machine leave
// little for the others to wait on at the end.
constexpr unsigned int c_nChunk = 4096;

}  // namespace

void ComputeSurfelDistances(const KaCSurfelCollectionCCT& reference,
                            const KaCSurfelCollectionCCT& moving, const CbMatrix4Rd& transformation,
                            float fLimit, float fNoDistance, unsigned int nThreads,
                            std::vector<float>& result,
                            const std::function<void(unsigned int, unsigned int)>* pProgress) {
  const unsigned int nMoving = moving.GetNrSurfels();
  result.assign(nMoving, fNoDistance);

  const CyKdTree& tree = reference.GetKdTree(nThreads);
  // The reference's positions are read through the kd-tree's copy; they are looked up here
  // all the same, so that a collection without them is refused like the others.
  (void)reference.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  Visits v{reference.GetAccessor<unsigned short>(eSurfelAttributeNormal),
           moving.GetAccessor<CbVector3f>(eSurfelAttributePosition),
           moving.GetAccessor<unsigned short>(eSurfelAttributeNormal),
           &transformation,
           fLimit * fLimit,
           KaCNormalCodec::GetTable(),
           nullptr,
           result.data()};
  if (nMoving == 0) return;

  // Visit the surfels along a space-filling curve. Each surfel's result depends only on its
  // own query, so the order (and how it is shared among threads) changes the speed, not the
  // result.
  const unsigned int nChunks = (nMoving + c_nChunk - 1) / c_nChunk;
  nThreads = std::max(1u, std::min(nThreads, nChunks));
  FillableArray<unsigned int> order;
  VisitingOrder(v.movPos, nMoving, nThreads, order);
  v.pOrder = order.data();
  if (nThreads == 1 && pProgress == nullptr) {
    CyKdTreeInterface query(tree, false);
    MeasureVisits(v, query, 0, nMoving);
    return;
  }
  if (pProgress != nullptr) (*pProgress)(0, nMoving);
  std::atomic<unsigned int> nextChunk{0};
  const auto work = [&](CyKdTreeInterface& query, bool bReport) {
    for (unsigned int c = nextChunk.fetch_add(1, std::memory_order_relaxed); c < nChunks;
         c = nextChunk.fetch_add(1, std::memory_order_relaxed)) {
      const unsigned int kBegin = c * c_nChunk;
      if (bReport && c > 0) (*pProgress)(kBegin, nMoving);
      MeasureVisits(v, query, kBegin, std::min(kBegin + c_nChunk, nMoving));
    }
  };
  // Each further thread makes its own query object, on its own stack with its buffers from its
  // own allocations: objects made side by side share cache lines, whose writes on every query
  // slowed two threads' searches. A thread that cannot make one takes no chunk; this thread
  // takes whatever the others leave.
  const auto worker = [&] {
    std::optional<CyKdTreeInterface> query;
    try {
      query.emplace(tree, false);
    } catch (const std::bad_alloc&) {
      return;
    }
    work(*query, false);
  };
  CyKdTreeInterface callerQuery(tree, false);
  std::vector<std::thread> threads;
  threads.reserve(nThreads - 1);
  {
    const ThreadJoiner joiner{threads};
    for (unsigned int t = 1; t < nThreads; ++t) {
      try {
        threads.emplace_back(worker);
      } catch (const std::system_error&) {
        break;  // the threads running, and this one, take the rest
      }
    }
    work(callerQuery, pProgress != nullptr);
  }
}

}  // namespace tolvane::detail
