#include <tolvane/CMpComputeSurfelCollectionDistance.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
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

// Code 40 * 128 + 40: the lattice point a = b = 40, so the decoded normal has x == y exactly.
constexpr unsigned short c_nDiagonalCode = 40 * 128 + 40;

KaCSurfelCollectionCCT MakeSurfels(const std::vector<CbVector3f>& points, unsigned short code) {
  KaCSurfelCollectionCCT c(static_cast<unsigned int>(points.size()), true);
  auto pos = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  auto normals = c.GetNormalAccessor();
  for (unsigned int i = 0; i < points.size(); ++i) {
    pos[i] = points[i];
    normals[i] = code;
  }
  return c;
}

// The surfel grid x, y in 0..9 (step 1) at height z.
std::vector<CbVector3f> Grid(float z, float step = 1.0f) {
  std::vector<CbVector3f> points;
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) points.emplace_back(x * step, y * step, z);
  }
  return points;
}

CbMatrix4Rd Translation(double x, double y, double z) {
  CbMatrix4Rd m = c_matIdentityD;
  m[12] = x;
  m[13] = y;
  m[14] = z;
  return m;
}

TEST(CMpComputeSurfelCollectionDistance, SameCollectionUnderIdentityIsZeroEverywhere) {
  const KaCSurfelCollectionCCT c = MakeCollection(2000);
  CMpComputeSurfelCollectionDistance distance;
  EXPECT_TRUE(distance.GetResult().empty());
  distance.SetInput(c, c, c_matIdentityD, 0.0f);
  EXPECT_TRUE(distance.Compute());
  ASSERT_EQ(distance.GetResult().size(), 2000u);
  for (float d : distance.GetResult()) ASSERT_EQ(d, 0.0f);
}

TEST(CMpComputeSurfelCollectionDistance, TranslationAlongNormalGivesSignedDistance) {
  const unsigned short up = KaCNormalCodec::Encode(CbVector3f(0.0f, 0.0f, 1.0f));
  const KaCSurfelCollectionCCT reference = MakeSurfels(Grid(0.0f), up);
  const KaCSurfelCollectionCCT moving = MakeSurfels(Grid(0.0f), up);
  const float nz = KaCNormalCodec::Decode(up).z;
  KaCSurfelCollectionCCT flipped(reference, false);
  flipped.FlipNormals();

  CMpComputeSurfelCollectionDistance distance;
  // Above the surface along its normal: positive; below: negative; flipped normals: reversed.
  const struct {
    const KaCSurfelCollectionCCT* pReference;
    double dz;
    float expected;
  } cases[] = {{&reference, 0.25, 0.25f * nz},
               {&reference, -0.25, -0.25f * nz},
               {&flipped, 0.25, 0.25f * -nz}};
  for (const auto& c : cases) {
    distance.SetInput(*c.pReference, moving, Translation(0.0, 0.0, c.dz), 1.0f);
    distance.Compute();
    for (float d : distance.GetResult()) ASSERT_EQ(d, c.expected) << c.dz;
  }
}

TEST(CMpComputeSurfelCollectionDistance, UnsetNormalOnEitherSideGivesMarker) {
  const unsigned short up = KaCNormalCodec::Encode(CbVector3f(0.0f, 0.0f, 1.0f));
  KaCSurfelCollectionCCT reference = MakeSurfels(Grid(0.0f), up);
  KaCSurfelCollectionCCT moving = MakeSurfels(Grid(0.0f), up);
  moving.GetNormalAccessor()[3] = KaCNormalCodec::c_nUnsetCode;
  reference.GetNormalAccessor()[7] = KaCNormalCodec::c_nUnsetCode | 0xE000u;  // any octant
  CMpComputeSurfelCollectionDistance distance;
  distance.SetInput(reference, moving, c_matIdentityD, 1.0f);
  distance.Compute();
  const std::vector<float>& r = distance.GetResult();
  for (unsigned int i = 0; i < r.size(); ++i) {
    EXPECT_EQ(r[i], (i == 3 || i == 7) ? c_fMarker : 0.0f) << i;
  }
}

TEST(CMpComputeSurfelCollectionDistance, LateralOffsetAtTheLimitIsAccepted) {
  // The moved surfel sits at (2.5, -2.5, 0) from the only reference surfel, whose normal has
  // equal x and y: d is exactly 0 and the squared lateral offset exactly 12.5, which is
  // sqrtf(12.5) squared in float.
  const KaCSurfelCollectionCCT reference = MakeSurfels({CbVector3f(0, 0, 0)}, c_nDiagonalCode);
  const KaCSurfelCollectionCCT moving = MakeSurfels({CbVector3f(2.5f, -2.5f, 0)}, c_nDiagonalCode);
  const CbVector3f n = KaCNormalCodec::Decode(c_nDiagonalCode);
  ASSERT_EQ(n.x, n.y);
  const float fLimit = std::sqrt(12.5f);
  ASSERT_EQ(fLimit * fLimit, 12.5f);

  CMpComputeSurfelCollectionDistance distance;
  distance.SetInput(reference, moving, c_matIdentityD, fLimit);
  distance.Compute();
  EXPECT_EQ(distance.GetResult()[0], 0.0f);
  distance.SetInput(reference, moving, c_matIdentityD, std::nextafter(fLimit, 0.0f));
  distance.Compute();
  EXPECT_EQ(distance.GetResult()[0], c_fMarker);
}

TEST(CMpComputeSurfelCollectionDistance, NonPositiveLimitFallsBackToTwiceTheDensity) {
  const KaCSurfelCollectionCCT reference = MakeSurfels(Grid(0.0f, 0.5f), c_nDiagonalCode);
  const KaCSurfelCollectionCCT moving = MakeCollection(10);
  ASSERT_EQ(reference.GetAvgDensity(), 0.5f);
  CMpComputeSurfelCollectionDistance distance;
  EXPECT_EQ(distance.GetMaxDistance(), -1.0f);
  for (float f : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    distance.SetInput(reference, moving, c_matIdentityD, f);
    EXPECT_EQ(distance.GetMaxDistance(), 1.0f) << f;
  }
  distance.SetInput(reference, moving, c_matIdentityD, 0.125f);
  EXPECT_EQ(distance.GetMaxDistance(), 0.125f);
}

TEST(CMpComputeSurfelCollectionDistance, EmptyCollections) {
  const KaCSurfelCollectionCCT empty(0, true);
  const KaCSurfelCollectionCCT c = MakeCollection(50);
  CMpComputeSurfelCollectionDistance distance;
  distance.SetInput(c, empty, c_matIdentityD, 1.0f);
  EXPECT_TRUE(distance.Compute());
  EXPECT_TRUE(distance.GetResult().empty());
  // Nothing to find: every entry is the marker.
  distance.SetInput(empty, c, c_matIdentityD, 0.0f);
  EXPECT_TRUE(distance.Compute());
  EXPECT_EQ(distance.GetResult(), std::vector<float>(50, c_fMarker));
}

TEST(CMpComputeSurfelCollectionDistance, ProjectiveLastRowDividesByW) {
  // w' = 0.5 z + 1 = 2 for the moving surfels at z = 2, so they land on the reference grid of
  // half the spacing at z = 1 only when x', y', z' are divided by w'.
  const unsigned short up = KaCNormalCodec::Encode(CbVector3f(0.0f, 0.0f, 1.0f));
  const KaCSurfelCollectionCCT reference = MakeSurfels(Grid(1.0f, 0.5f), up);
  const KaCSurfelCollectionCCT moving = MakeSurfels(Grid(2.0f, 1.0f), up);
  CbMatrix4Rd m = c_matIdentityD;
  m[11] = 0.5;
  CMpComputeSurfelCollectionDistance distance;
  distance.SetInput(reference, moving, m, 0.01f);
  distance.Compute();
  for (float d : distance.GetResult()) ASSERT_EQ(d, 0.0f);
  // w' = 0 everywhere: no moved point is finite, nothing is found.
  CbMatrix4Rd zero;
  for (double& v : zero.m) v = 0.0;
  distance.SetInput(reference, moving, zero, 0.01f);
  distance.Compute();
  for (float d : distance.GetResult()) ASSERT_EQ(d, c_fMarker);
}

TEST(CMpComputeSurfelCollectionDistance, CopiesShareInputAndMovesTakeTheResult) {
  const KaCSurfelCollectionCCT c = MakeCollection(30);
  CMpComputeSurfelCollectionDistance a;
  a.SetInput(c, c, Translation(0, 0, 0.5), 0.75f);
  a.Compute();
  const std::vector<float> result = a.GetResult();
  ASSERT_EQ(result.size(), 30u);

  CMpComputeSurfelCollectionDistance copy(a);
  EXPECT_EQ(copy.GetResult(), result);
  EXPECT_EQ(copy.GetMaxDistance(), 0.75f);
  CMpComputeSurfelCollectionDistance moved(std::move(copy));
  EXPECT_EQ(moved.GetResult(), result);
  EXPECT_TRUE(copy.GetResult().empty());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(copy.GetTransformation(), moved.GetTransformation());

  CMpComputeSurfelCollectionDistance assigned;
  assigned = moved;
  EXPECT_EQ(assigned.GetResult(), result);
  CMpComputeSurfelCollectionDistance taken;
  taken = std::move(assigned);
  EXPECT_EQ(taken.GetResult(), result);
  EXPECT_TRUE(assigned.GetResult().empty());  // NOLINT(bugprone-use-after-move)
  // The input came along: computing again gives the same result.
  taken.Compute();
  EXPECT_EQ(taken.GetResult(), result);
}

TEST(CMpComputeSurfelCollectionDistance, ComputeWithoutInputThrows) {
  CMpComputeSurfelCollectionDistance distance;
  EXPECT_THROW(distance.Compute(), CbException);
}

// A curved, noisy surface with random normals, moved by a random rigid motion, against a
// brute-force nearest neighbour and the stated float formula. The same moving surfels stored
// in shuffled order must give the same results, shuffled alike.
TEST(CMpComputeSurfelCollectionDistance, MatchesBruteForceInAnyStorageOrder) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::uniform_int_distribution<int> code(0, 65535);
  const unsigned int n = 1500;
  KaCSurfelCollectionCCT reference(n, true);
  KaCSurfelCollectionCCT moving(n, true);
  for (KaCSurfelCollectionCCT* c : {&reference, &moving}) {
    auto pos = c->GetAccessor<CbVector3f>(eSurfelAttributePosition);
    auto normals = c->GetNormalAccessor();
    for (unsigned int i = 0; i < n; ++i) {
      const float x = 10.0f * u(rng);
      const float y = 10.0f * u(rng);
      pos[i] = CbVector3f(x, y, 0.05f * x * y + 0.1f * u(rng));
      normals[i] = static_cast<unsigned short>(code(rng));
    }
  }
  const double a = 0.3;
  CbMatrix4Rd m = c_matIdentityD;
  m(0, 0) = std::cos(a);
  m(0, 1) = -std::sin(a);
  m(1, 0) = std::sin(a);
  m(1, 1) = std::cos(a);
  m(0, 3) = 0.2;
  m(2, 3) = -0.1;
  const float fLimit = 0.6f;

  std::vector<float> expected(n, c_fMarker);
  const auto refPos = reference.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  unsigned int nMeasured = 0;
  for (unsigned int i = 0; i < n; ++i) {
    const CbVector3f p = moving.GetPosition(i);
    const double w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
    const CbVector3f q(static_cast<float>((m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12]) / w),
                       static_cast<float>((m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13]) / w),
                       static_cast<float>((m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]) / w));
    unsigned int j = 0;
    for (unsigned int k = 1; k < n; ++k) {
      if ((refPos[k] - q).SquaredLength() < (refPos[j] - q).SquaredLength()) j = k;
    }
    const CbVector3f nM = moving.GetNormal(i);
    const CbVector3f nR = reference.GetNormal(j);
    if (nM == CbVector3f() || nR == CbVector3f()) continue;
    const CbVector3f r = refPos[j];
    const float d = ((q.y - r.y) * nR.y + (q.x - r.x) * nR.x) + (q.z - r.z) * nR.z;
    const CbVector3f e = r - (q - nR * d);
    if ((e.y * e.y + e.x * e.x) + e.z * e.z <= fLimit * fLimit) {
      expected[i] = d;
      ++nMeasured;
    }
  }
  ASSERT_GT(nMeasured, n / 4);  // the data exercise both outcomes
  ASSERT_LT(nMeasured, n);

  CMpComputeSurfelCollectionDistance distance;
  distance.SetInput(reference, moving, m, fLimit);
  distance.Compute();
  EXPECT_EQ(distance.GetResult(), expected);

  std::vector<unsigned int> perm(n);
  std::iota(perm.begin(), perm.end(), 0u);
  std::shuffle(perm.begin(), perm.end(), rng);
  KaCSurfelCollectionCCT shuffled(n, true);
  for (unsigned int k = 0; k < n; ++k) {
    shuffled.SetPosition(k, moving.GetPosition(perm[k]));
    shuffled.GetNormalAccessor()[k] = moving.GetNormalAccessor()[perm[k]];
  }
  distance.SetInput(reference, shuffled, m, fLimit);
  distance.Compute();
  for (unsigned int k = 0; k < n; ++k) ASSERT_EQ(distance.GetResult()[k], expected[perm[k]]);
}

}  // namespace
