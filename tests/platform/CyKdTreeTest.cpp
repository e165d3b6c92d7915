#include "geometry/CyKdTree.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nanoflann.hpp>

#include "geometry/CyKdTreeInterface.h"

namespace {

// Points on a coarse lattice, every other one jittered: many duplicates and equal distances.
std::vector<CbVector3f> LatticePoints(unsigned int n, unsigned int seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> cell(0, 15);
  std::uniform_real_distribution<float> jitter(-0.3f, 0.3f);
  std::vector<CbVector3f> points(n);
  for (unsigned int i = 0; i < n; ++i) {
    points[i] = CbVector3f(static_cast<float>(cell(rng)), static_cast<float>(cell(rng)),
                           static_cast<float>(cell(rng) % 4));
    if (i % 2 == 0) points[i] += CbVector3f(jitter(rng), jitter(rng), jitter(rng));
  }
  return points;
}

TEST(CyKdTree, NearestAndKNearestMatchBruteForce) {
  const std::vector<CbVector3f> points = LatticePoints(3000, 3);
  // Built from a strided array that is overwritten afterwards: the tree keeps its own copy.
  std::vector<float> storage(4 * points.size(), 7.0f);
  for (std::size_t i = 0; i < points.size(); ++i) {
    std::copy_n(&points[i].x, 3, &storage[4 * i]);
  }
  const CyKdTree tree(reinterpret_cast<const CbVector3f*>(storage.data()), 16, 3000);
  std::fill(storage.begin(), storage.end(), 1e6f);
  for (unsigned int i = 0; i < points.size(); ++i) ASSERT_EQ(tree.GetPoint(i), points[i]);
  // The leaf order names every point once.
  std::vector<unsigned int> order(tree.GetLeafOrder(), tree.GetLeafOrder() + points.size());
  std::sort(order.begin(), order.end());
  for (unsigned int i = 0; i < points.size(); ++i) ASSERT_EQ(order[i], i);

  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-2.0f, 17.0f);
  CyKdTreeInterface query(tree, false);
  for (unsigned int t = 0; t < 500; ++t) {
    // Half the queries sit exactly on a stored point (distance 0, often tied).
    const CbVector3f q = t % 2 == 0 ? points[t * 5] : CbVector3f(u(rng), u(rng), u(rng) / 4.0f);
    std::vector<float> expected;
    for (const CbVector3f& p : points) expected.push_back((p - q).SquaredLength());
    std::sort(expected.begin(), expected.end());

    unsigned int j = 0;
    float d2 = -1.0f;
    ASSERT_TRUE(tree.FindNearest(q, j, d2));
    ASSERT_EQ(d2, expected[0]);
    ASSERT_EQ((points[j] - q).SquaredLength(), d2);  // the index names a point that near
    for (unsigned int nCount : {1u, 7u, 60u}) {
      ASSERT_EQ(query.QueryNeighbors(q, nCount), nCount);
      for (unsigned int k = 0; k < nCount; ++k) {
        const unsigned int idx = query.GetNeighborPositionIndex(k);
        ASSERT_EQ((points[idx] - q).SquaredLength(), expected[k]) << k;
        ASSERT_EQ(query.GetNeighborDistance2(k), expected[k]);
        ASSERT_EQ(query.GetNeighborPosition(k), points[idx]);
      }
    }
  }
}

// nanoflann's view of a point array, for building its tree beside ours.
struct Cloud {
  const std::vector<CbVector3f>* pPoints;
  [[nodiscard]] std::size_t kdtree_get_point_count() const { return pPoints->size(); }
  [[nodiscard]] float kdtree_get_pt(std::size_t i, std::size_t d) const {
    return (*pPoints)[i][static_cast<int>(d)];
  }
  template <class Box>
  bool kdtree_get_bbox(Box& /*box*/) const {
    return false;
  }
};

// The tree is nanoflann's tree, split for split (its leaf order, to the last tie and
// NaN), with one thread or several; so its answers, first of equally near points included, are
// the ones that tree gives.
TEST(CyKdTree, BuildsNanoflannsTreeWithAnyNumberOfThreads) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-50.0f, 50.0f);
  std::vector<CbVector3f> scattered(300000);
  for (CbVector3f& p : scattered) p = CbVector3f(u(rng), u(rng), 0.01f * u(rng));
  for (std::size_t i = 0; i < scattered.size(); i += 4001) scattered[i].y = NAN;
  // The second half of a range scan shared by two threads starts on a NaN, then the smallest x.
  scattered[150000].x = NAN;
  scattered[150001].x = -60.0f;
  std::vector<CbVector3f> lattice = LatticePoints(200000, 4);
  // Exponentially spaced points: splits at one end, a tree far deeper than balanced.
  std::vector<CbVector3f> skewed;
  for (int k = 0; k < 3000; ++k) skewed.emplace_back(std::ldexp(1.0f, -k / 25), 0.0f, 0.0f);
  for (const std::vector<CbVector3f>* pPoints : {&scattered, &lattice, &skewed}) {
    using Index = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, Cloud>,
                                                      Cloud, 3, unsigned int>;
    const Cloud cloud{pPoints};
    const Index index(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(24));
    const auto n = static_cast<unsigned int>(pPoints->size());
    for (unsigned int nThreads : {1u, 2u, 5u}) {
      const CyKdTree tree(pPoints->data(), sizeof(CbVector3f), n, nThreads);
      ASSERT_TRUE(std::equal(index.vAcc.begin(), index.vAcc.end(), tree.GetLeafOrder()))
          << n << " points, " << nThreads << " threads";
      // Queries on stored points (ties at distance 0 on the lattice) find what it finds.
      for (unsigned int i = 0; i < n; i += 997) {
        const CbVector3f& q = (*pPoints)[i];
        unsigned int idx[2] = {0, 0};
        float d2[2] = {0.0f, 0.0f};
        nanoflann::KNNResultSet<float, unsigned int, unsigned int> result(1);
        result.init(idx, d2);
        const float query[3] = {q.x, q.y, q.z};
        index.findNeighbors(result, query, nanoflann::SearchParams());
        unsigned int j = 0;
        float fDistance2 = 0.0f;
        const bool bFound = tree.FindNearest(q, j, fDistance2);
        ASSERT_EQ(bFound, result.size() == 1 && std::isfinite(q.y)) << i;
        if (bFound) {
          ASSERT_EQ(j, idx[0]) << i;
        }
      }
    }
  }
}

TEST(CyKdTree, ExcludeSelfSkipsEveryPointAtTheQuery) {
  const std::vector<CbVector3f> points = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, 3, 0}, {5, 5, 5}};
  const CyKdTree tree(points.data(), sizeof(CbVector3f), 5);
  CyKdTreeInterface query(tree, true);
  ASSERT_EQ(query.QueryNeighbors(CbVector3f(0, 0, 0), 2), 2u);
  EXPECT_EQ(query.GetNeighborPositionIndex(0), 2u);
  EXPECT_EQ(query.GetNeighborPositionIndex(1), 3u);
  EXPECT_EQ(query.GetNeighborDistance2(1), 9.0f);
  EXPECT_EQ(query.QueryNeighbors(CbVector3f(0, 0, 0), 10), 3u);  // all there is
}

TEST(CyKdTree, EmptyTreeOrNonFiniteQueryFindsNothing) {
  const std::vector<CbVector3f> points = LatticePoints(5000, 4);
  const CyKdTree full(points.data(), sizeof(CbVector3f), 5000);
  const CyKdTree empty(nullptr, sizeof(CbVector3f), 0);
  unsigned int j = 0;
  float d2 = 0.0f;
  EXPECT_FALSE(empty.FindNearest(CbVector3f(), j, d2));
  EXPECT_EQ(CyKdTreeInterface(empty, false).QueryNeighbors(CbVector3f(), 4), 0u);
  for (const CbVector3f& q :
       {CbVector3f(NAN, 1, 1), CbVector3f(1, INFINITY, 1), CbVector3f(1, 1, -INFINITY)}) {
    EXPECT_FALSE(full.FindNearest(q, j, d2));
  }
}

TEST(CyKdTree, ConcurrentQueriesAgreeWithOneThread) {
  const std::vector<CbVector3f> points = LatticePoints(20000, 9);
  const std::vector<CbVector3f> queries = LatticePoints(4000, 10);
  const CyKdTree tree(points.data(), sizeof(CbVector3f), 20000);
  const auto nearest = [&](std::vector<unsigned int>& found) {
    CyKdTreeInterface query(tree, false);
    for (const CbVector3f& q : queries) {
      query.QueryNeighbors(q, 1);
      found.push_back(query.GetNeighborPositionIndex(0));
    }
  };
  std::vector<unsigned int> expected;
  nearest(expected);
  std::vector<std::vector<unsigned int>> found(4);
  std::vector<std::thread> threads;
  for (auto& f : found) threads.emplace_back(nearest, std::ref(f));
  for (std::thread& th : threads) th.join();
  for (const auto& f : found) EXPECT_EQ(f, expected);
}

}  // namespace
