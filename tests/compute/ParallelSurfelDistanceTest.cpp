#include <tolvane/ParallelSurfelDistance.h>

#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tolvane/CMpComputeSurfelCollectionDistance.h>

#include "base/CbException.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyMathConstants.h"

namespace {

// n surfels on a wavy sheet in random storage order, with random normal codes (so some are the
// unset code, and some neighbours lie laterally too far), and every 997th position NaN.
KaCSurfelCollectionCCT Sheet(unsigned int n, unsigned int seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-20.0f, 20.0f);
  KaCSurfelCollectionCCT c(n, true);
  for (unsigned int i = 0; i < n; ++i) {
    const float x = u(rng);
    const float y = u(rng);
    c.SetPosition(i, CbVector3f(x, y, std::sin(0.3f * x) * std::cos(0.2f * y)));
    c.GetNormalAccessor()[i] = static_cast<unsigned short>(rng() % 4 == 0 ? 8128 : rng());
    if (i % 997 == 5) c.SetPosition(i, CbVector3f(NAN, 0.0f, 0.0f));
  }
  return c;
}

CbMatrix4Rd Motion() {
  CbMatrix4Rd m = c_matIdentityD;
  m(0, 0) = m(1, 1) = std::cos(0.05);
  m(1, 0) = std::sin(0.05);
  m(0, 1) = -m(1, 0);
  m(2, 3) = 0.03;
  return m;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Many chunks of visits: every thread count gives the single-threaded class's result bit for
// bit, with the tree built inside Compute or beforehand, and with two objects measuring the same
// pair at once (the first of them building the reference's tree).
TEST(ParallelSurfelDistance, EqualsTheSingleThreadedResultBitForBit) {
  const KaCSurfelCollectionCCT reference = Sheet(30000, 1);
  const KaCSurfelCollectionCCT moving = Sheet(50000, 2);
  CMpComputeSurfelCollectionDistance single;
  single.SetInput(reference, moving, Motion(), 0.3f);
  single.Compute();
  const std::vector<float>& expected = single.GetResult();
  std::size_t nMeasured = 0;
  for (float d : expected) nMeasured += d != CMpComputeSurfelCollectionDistance::c_fNoDistance;
  ASSERT_GT(nMeasured, expected.size() / 4);  // both outcomes occur
  ASSERT_LT(nMeasured, expected.size() * 3 / 4);

  for (unsigned int nThreads : {1u, 2u, 3u, 8u}) {
    reference.ResetSupportStructures();
    tolvane::ParallelSurfelDistance parallel(nThreads);
    parallel.SetInput(reference, moving, Motion(), 0.3f);
    EXPECT_TRUE(parallel.Compute());
    EXPECT_TRUE(SameBits(parallel.GetResult(), expected)) << nThreads << " threads";
    // Again, on the tree now built, reporting progress: rising counts on the calling thread
    // only, below the total, and the same result.
    std::vector<unsigned int> reported;
    const std::thread::id caller = std::this_thread::get_id();
    parallel.SetProgress([&](unsigned int nDone, unsigned int nTotal) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      EXPECT_EQ(nTotal, 50000u);
      EXPECT_LT(nDone, nTotal);
      if (!reported.empty()) {
        EXPECT_GT(nDone, reported.back());
      }
      reported.push_back(nDone);
    });
    EXPECT_TRUE(parallel.Compute());
    EXPECT_TRUE(SameBits(parallel.GetResult(), expected)) << nThreads << " threads, again";
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.front(), 0u);
    if (nThreads == 1) {
      EXPECT_EQ(reported.size(), (50000u + 4095u) / 4096u);
    }
  }

  reference.ResetSupportStructures();
  tolvane::ParallelSurfelDistance a(2);
  tolvane::ParallelSurfelDistance b(3);
  a.SetInput(reference, moving, Motion(), 0.3f);
  b.SetInput(reference, moving, Motion(), 0.3f);
  reference.ResetSupportStructures();
  std::thread other([&] { b.Compute(); });
  a.Compute();
  other.join();
  EXPECT_TRUE(SameBits(a.GetResult(), expected));
  EXPECT_TRUE(SameBits(b.GetResult(), expected));
}

TEST(ParallelSurfelDistance, InputRulesOfTheSingleThreadedClass) {
  const KaCSurfelCollectionCCT reference = Sheet(2000, 3);
  const KaCSurfelCollectionCCT empty(0, true);
  tolvane::ParallelSurfelDistance parallel(4);
  EXPECT_EQ(parallel.GetThreadCount(), 4u);
  EXPECT_GE(tolvane::ParallelSurfelDistance().GetThreadCount(), 1u);
  EXPECT_THROW(parallel.Compute(), CbException);
  EXPECT_TRUE(parallel.GetResult().empty());

  // A limit not above 0 falls back to twice the average spacing, as in the class.
  parallel.SetInput(reference, reference, c_matIdentityD, -1.0f);
  EXPECT_EQ(parallel.GetMaxDistance(), 2.0f * reference.GetAvgDensity());
  // Fewer surfels than threads have chunks: the result is still whole.
  parallel.Compute();
  ASSERT_EQ(parallel.GetResult().size(), 2000u);
  for (unsigned int i = 0; i < 2000; ++i) {
    const bool bMeasurable = reference.GetNormal(i) != CbVector3f() && i % 997 != 5;
    EXPECT_EQ(parallel.GetResult()[i],
              bMeasurable ? 0.0f : CMpComputeSurfelCollectionDistance::c_fNoDistance)
        << i;
  }
  parallel.SetInput(reference, empty, c_matIdentityD, 1.0f);
  EXPECT_TRUE(parallel.Compute());
  EXPECT_TRUE(parallel.GetResult().empty());
}

}  // namespace
