#include <tolvane/CMpComputeSurfelCollectionDistance.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyMathConstants.h"
#include "support/TestSupport.h"

namespace {

using tolvane_test::MakeCollection;
constexpr float c_fMarker = 3.4028235e38f;
const unsigned short c_nUp = KaCNormalCodec::Encode(CbVector3f(0.0f, 0.0f, 1.0f));
// Lattice point a = b = 40 of the normal code: the decoded normal has x == y exactly.
constexpr unsigned short c_nDiagonal = 40 * 128 + 40;

// The 10 x 10 grid of the given step at height z, every surfel with the normal code.
KaCSurfelCollectionCCT Grid(float z, float step, unsigned short code) {
  KaCSurfelCollectionCCT c(100, true);
  for (unsigned int i = 0; i < 100; ++i) {
    c.SetPosition(
        i, CbVector3f(static_cast<float>(i % 10) * step, static_cast<float>(i / 10) * step, z));
    c.GetNormalAccessor()[i] = code;
  }
  return c;
}

std::vector<float> Distances(const KaCSurfelCollectionCCT& reference,
                             const KaCSurfelCollectionCCT& moving, const CbMatrix4Rd& m,
                             float fMax) {
  CMpComputeSurfelCollectionDistance distance;
  distance.SetInput(reference, moving, m, fMax);
  EXPECT_TRUE(distance.Compute());
  return distance.GetResult();
}

CbMatrix4Rd Shift(double z) {
  CbMatrix4Rd m = c_matIdentityD;
  m[14] = z;
  return m;
}

TEST(CMpComputeSurfelCollectionDistance, SignedDistanceAlongTheReferenceNormal) {
  const KaCSurfelCollectionCCT c = MakeCollection(2000);
  EXPECT_EQ(Distances(c, c, c_matIdentityD, 0.0f), std::vector<float>(2000, 0.0f));

  // Moved along z by +-0.25: d = 0.25 nz exactly, its sign following the reference normal.
  const KaCSurfelCollectionCCT grid = Grid(0.0f, 1.0f, c_nUp);
  KaCSurfelCollectionCCT flipped(grid, false);
  flipped.FlipNormals();
  const float nz = KaCNormalCodec::Decode(c_nUp).z;
  EXPECT_EQ(Distances(grid, grid, Shift(0.25), 1.0f), std::vector<float>(100, 0.25f * nz));
  EXPECT_EQ(Distances(grid, grid, Shift(-0.25), 1.0f), std::vector<float>(100, -0.25f * nz));
  EXPECT_EQ(Distances(flipped, grid, Shift(0.25), 1.0f), std::vector<float>(100, -0.25f * nz));
}

TEST(CMpComputeSurfelCollectionDistance, UnsetNormalOnEitherSideGivesMarker) {
  KaCSurfelCollectionCCT reference = Grid(0.0f, 1.0f, c_nUp);
  KaCSurfelCollectionCCT moving = Grid(0.0f, 1.0f, c_nUp);
  moving.GetNormalAccessor()[3] = KaCNormalCodec::c_nUnsetCode;
  reference.GetNormalAccessor()[7] = KaCNormalCodec::c_nUnsetCode | 0xE000u;  // any octant
  std::vector<float> expected(100, 0.0f);
  expected[3] = expected[7] = c_fMarker;
  EXPECT_EQ(Distances(reference, moving, c_matIdentityD, 1.0f), expected);
}

TEST(CMpComputeSurfelCollectionDistance, LateralOffsetAtTheLimitIsAccepted) {
  // The moved surfel sits at (2.5, -2.5, 0) from the only reference surfel, whose normal has
  // x == y: d is exactly 0 and the squared lateral offset exactly 12.5 = sqrtf(12.5)^2.
  KaCSurfelCollectionCCT reference(1, true);
  reference.GetNormalAccessor()[0] = c_nDiagonal;
  KaCSurfelCollectionCCT moving(reference, false);
  moving.SetPosition(0, CbVector3f(2.5f, -2.5f, 0.0f));
  const float fLimit = std::sqrt(12.5f);
  ASSERT_EQ(fLimit * fLimit, 12.5f);
  EXPECT_EQ(Distances(reference, moving, c_matIdentityD, fLimit)[0], 0.0f);
  EXPECT_EQ(Distances(reference, moving, c_matIdentityD, std::nextafter(fLimit, 0.0f))[0],
            c_fMarker);
}

TEST(CMpComputeSurfelCollectionDistance, NonPositiveLimitFallsBackToTwiceTheDensity) {
  const KaCSurfelCollectionCCT reference = Grid(0.0f, 0.5f, c_nUp);
  ASSERT_EQ(reference.GetAvgDensity(), 0.5f);
  CMpComputeSurfelCollectionDistance distance;
  EXPECT_EQ(distance.GetMaxDistance(), -1.0f);
  for (float f : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), 0.125f}) {
    distance.SetInput(reference, reference, c_matIdentityD, f);
    EXPECT_EQ(distance.GetMaxDistance(), f == 0.125f ? 0.125f : 1.0f) << f;
  }
}

TEST(CMpComputeSurfelCollectionDistance, EmptyCollectionsAndMissingInput) {
  const KaCSurfelCollectionCCT empty(0, true);
  const KaCSurfelCollectionCCT c = MakeCollection(50);
  EXPECT_TRUE(Distances(c, empty, c_matIdentityD, 1.0f).empty());
  EXPECT_EQ(Distances(empty, c, c_matIdentityD, 0.0f), std::vector<float>(50, c_fMarker));
  CMpComputeSurfelCollectionDistance distance;
  EXPECT_THROW(distance.Compute(), CbException);
}

TEST(CMpComputeSurfelCollectionDistance, ProjectiveLastRowDividesByW) {
  // w' = 0.5 z + 1 = 2 at z = 2: only with the division do the moved surfels meet the grid of
  // half the step at z = 1. With w' = 0 nothing is finite and nothing is found.
  const KaCSurfelCollectionCCT reference = Grid(1.0f, 0.5f, c_nUp);
  const KaCSurfelCollectionCCT moving = Grid(2.0f, 1.0f, c_nUp);
  CbMatrix4Rd m = c_matIdentityD;
  m[11] = 0.5;
  EXPECT_EQ(Distances(reference, moving, m, 0.01f), std::vector<float>(100, 0.0f));
  m[15] = -1.0;
  EXPECT_EQ(Distances(reference, moving, m, 0.01f), std::vector<float>(100, c_fMarker));
}

TEST(CMpComputeSurfelCollectionDistance, CopiesShareInputAndMovesTakeTheResult) {
  const KaCSurfelCollectionCCT c = MakeCollection(30);
  CMpComputeSurfelCollectionDistance a;
  a.SetInput(c, c, Shift(0.5), 0.75f);
  a.Compute();
  const std::vector<float> result = a.GetResult();
  CMpComputeSurfelCollectionDistance copy(a);
  CMpComputeSurfelCollectionDistance moved(std::move(copy));
  EXPECT_EQ(moved.GetResult(), result);
  EXPECT_TRUE(copy.GetResult().empty());  // NOLINT(bugprone-use-after-move)
  CMpComputeSurfelCollectionDistance assigned;
  assigned = moved;
  CMpComputeSurfelCollectionDistance taken;
  taken = std::move(assigned);
  EXPECT_TRUE(assigned.GetResult().empty());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(taken.GetResult(), result);
  EXPECT_EQ(taken.GetMaxDistance(), 0.75f);
  taken.Compute();  // the input came along
  EXPECT_EQ(taken.GetResult(), result);
}

// Random surfels on a saddle with random normal codes, moved by a rotation and a shift, against
// a brute-force nearest neighbour and the distance formula in its float order; then the moving
// surfels stored in reverse order, which must reverse the result and change nothing else.
TEST(CMpComputeSurfelCollectionDistance, MatchesBruteForceInAnyStorageOrder) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-10.0f, 10.0f);
  const unsigned int n = 1500;
  KaCSurfelCollectionCCT reference(n, true);
  KaCSurfelCollectionCCT moving(n, true);
  KaCSurfelCollectionCCT reversed(n, true);
  for (unsigned int i = 0; i < n; ++i) {
    for (KaCSurfelCollectionCCT* c : {&reference, &moving}) {
      const float x = u(rng);
      const float y = u(rng);
      c->SetPosition(i, CbVector3f(x, y, 0.05f * x * y + 0.01f * u(rng)));
      c->GetNormalAccessor()[i] = static_cast<unsigned short>(rng());
    }
    reversed.SetPosition(n - 1 - i, moving.GetPosition(i));
    reversed.GetNormalAccessor()[n - 1 - i] = moving.GetNormalAccessor()[i];
  }
  CbMatrix4Rd m = c_matIdentityD;
  m(0, 0) = m(1, 1) = std::cos(0.3);
  m(1, 0) = std::sin(0.3);
  m(0, 1) = -m(1, 0);
  m(0, 3) = 0.2;
  const float fLimit = 0.6f;

  std::vector<float> expected(n, c_fMarker);
  for (unsigned int i = 0; i < n; ++i) {
    const CbVector3f p = moving.GetPosition(i);
    const CbVector3f q(static_cast<float>(m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12]),
                       static_cast<float>(m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13]),
                       static_cast<float>(m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]));
    unsigned int j = 0;
    for (unsigned int k = 1; k < n; ++k) {
      const float dk = (reference.GetPosition(k) - q).SquaredLength();
      if (dk < (reference.GetPosition(j) - q).SquaredLength()) j = k;
    }
    const CbVector3f a = reference.GetPosition(j);
    const CbVector3f nR = reference.GetNormal(j);
    if (moving.GetNormal(i) == CbVector3f() || nR == CbVector3f()) continue;
    const float d = ((q.y - a.y) * nR.y + (q.x - a.x) * nR.x) + (q.z - a.z) * nR.z;
    const CbVector3f e = a - (q - nR * d);
    if ((e.y * e.y + e.x * e.x) + e.z * e.z <= fLimit * fLimit) expected[i] = d;
  }
  const auto nMeasured =
      std::count_if(expected.begin(), expected.end(), [](float d) { return d != c_fMarker; });
  ASSERT_GT(nMeasured, n / 4);  // the data exercise both outcomes
  ASSERT_LT(nMeasured, n);

  EXPECT_EQ(Distances(reference, moving, m, fLimit), expected);
  const std::vector<float> r = Distances(reference, reversed, m, fLimit);
  EXPECT_EQ(std::vector<float>(r.rbegin(), r.rend()), expected);
}

}  // namespace
