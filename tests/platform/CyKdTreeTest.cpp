#include "geometry/CyKdTree.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "geometry/CyKdTreeInterface.h"

namespace {

// Points with many exact duplicates and equal distances: a coarse lattice, some jittered.
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

// The k smallest squared distances from q, by brute force.
std::vector<float> BruteForce(const std::vector<CbVector3f>& points, const CbVector3f& q,
                              unsigned int k) {
  std::vector<float> d2;
  for (const CbVector3f& p : points) d2.push_back((p - q).SquaredLength());
  std::sort(d2.begin(), d2.end());
  d2.resize(std::min<std::size_t>(k, d2.size()));
  return d2;
}

struct Padded {
  CbVector3f p;
  float pad;
};

TEST(CyKdTree, NearestAndKNearestMatchBruteForce) {
  const std::vector<CbVector3f> points = LatticePoints(3000, 3);
  // Built from a strided array that is overwritten afterwards: the tree keeps its own copy.
  std::vector<Padded> storage(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) storage[i] = {points[i], 7.0f};
  const CyKdTree tree(&storage[0].p, sizeof(Padded), static_cast<unsigned int>(points.size()));
  for (Padded& s : storage) s.p = CbVector3f(1e6f, 1e6f, 1e6f);

  ASSERT_EQ(tree.GetNrPoints(), points.size());
  for (unsigned int i = 0; i < points.size(); ++i) ASSERT_EQ(tree.GetPoint(i), points[i]);

  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-2.0f, 17.0f);
  CyKdTreeInterface query(tree, false);
  for (int t = 0; t < 500; ++t) {
    // Half the queries sit exactly on a stored point (distance 0, often tied).
    const CbVector3f q = t % 2 == 0 ? points[static_cast<unsigned int>(t) * 5u]
                                    : CbVector3f(u(rng), u(rng), u(rng) / 4.0f);
    unsigned int j = 0;
    float d2 = -1.0f;
    ASSERT_TRUE(tree.FindNearest(q, j, d2));
    const std::vector<float> expected = BruteForce(points, q, 7);
    ASSERT_EQ(d2, expected[0]);
    ASSERT_EQ((points[j] - q).SquaredLength(), d2);  // the index names a point that near

    ASSERT_EQ(query.QueryNeighbors(q, 1), 1u);
    ASSERT_EQ(query.GetNrNeighborsFound(), 1u);
    ASSERT_EQ((points[query.GetNeighborPositionIndex(0)] - q).SquaredLength(), expected[0]);

    ASSERT_EQ(query.QueryNeighbors(q, 7), 7u);
    for (unsigned int k = 0; k < 7; ++k) {
      ASSERT_EQ(query.GetNeighborDistance2(k), expected[k]) << k;
      ASSERT_EQ((points[query.GetNeighborPositionIndex(k)] - q).SquaredLength(), expected[k]);
    }
  }
}

TEST(CyKdTree, ExcludeSelfSkipsPointsAtTheQuery) {
  const std::vector<CbVector3f> points = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, 3, 0}, {5, 5, 5}};
  const CyKdTree tree(points.data(), sizeof(CbVector3f), 5);
  CyKdTreeInterface query(tree, true);
  ASSERT_EQ(query.QueryNeighbors(CbVector3f(0, 0, 0), 2), 2u);
  EXPECT_EQ(query.GetNeighborPositionIndex(0), 2u);
  EXPECT_EQ(query.GetNeighborPositionIndex(1), 3u);
  EXPECT_EQ(query.GetNeighborDistance2(1), 9.0f);
  // Asking for more than there are gives what there is.
  EXPECT_EQ(query.QueryNeighbors(CbVector3f(0, 0, 0), 10), 3u);
}

TEST(CyKdTree, NonFiniteQueryFindsNothing) {
  const std::vector<CbVector3f> points = LatticePoints(5000, 4);
  const CyKdTree tree(points.data(), sizeof(CbVector3f), 5000);
  unsigned int j = 0;
  float d2 = 0.0f;
  EXPECT_FALSE(tree.FindNearest(CbVector3f(NAN, 1.0f, 1.0f), j, d2));
  EXPECT_FALSE(tree.FindNearest(CbVector3f(1.0f, INFINITY, 1.0f), j, d2));
  EXPECT_FALSE(tree.FindNearest(CbVector3f(1.0f, 1.0f, -INFINITY), j, d2));
}

TEST(CyKdTree, EmptyTreeFindsNothing) {
  const CyKdTree tree(nullptr, sizeof(CbVector3f), 0);
  unsigned int j = 0;
  float d2 = 0.0f;
  EXPECT_FALSE(tree.FindNearest(CbVector3f(), j, d2));
  CyKdTreeInterface query(tree, false);
  EXPECT_EQ(query.QueryNeighbors(CbVector3f(1, 2, 3), 1), 0u);
  EXPECT_EQ(query.GetNrNeighborsFound(), 0u);
  EXPECT_EQ(query.QueryNeighbors(CbVector3f(1, 2, 3), 4), 0u);
}

TEST(CyKdTree, ConcurrentQueriesAgreeWithOneThread) {
  const std::vector<CbVector3f> points = LatticePoints(20000, 9);
  const CyKdTree tree(points.data(), sizeof(CbVector3f), 20000);
  std::vector<CbVector3f> queries = LatticePoints(4000, 10);
  std::vector<unsigned int> expected(queries.size());
  CyKdTreeInterface single(tree, false);
  for (std::size_t i = 0; i < queries.size(); ++i) {
    single.QueryNeighbors(queries[i], 1);
    expected[i] = single.GetNeighborPositionIndex(0);
  }
  std::vector<std::vector<unsigned int>> found(4, std::vector<unsigned int>(queries.size()));
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < found.size(); ++t) {
    threads.emplace_back([&, t] {
      CyKdTreeInterface query(tree, false);
      for (std::size_t i = 0; i < queries.size(); ++i) {
        query.QueryNeighbors(queries[i], 1);
        found[t][i] = query.GetNeighborPositionIndex(0);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (const auto& f : found) EXPECT_EQ(f, expected);
}

}  // namespace
