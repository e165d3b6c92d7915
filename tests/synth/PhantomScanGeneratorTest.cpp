// The phantom scan generator's variations against the truth it reports.
#include "synth/PhantomScanGenerator.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "container/KaSurfelAttributes.h"

namespace {

using tolvane::synth::PhantomScanGenerator;

PhantomScanGenerator::Parameters Scan(unsigned int n) {
  PhantomScanGenerator::Parameters p;
  p.nNrSurfels = n;
  return p;
}

// Surfels per label 0 to 7 (7: stray).
std::vector<unsigned int> Counts(const KaCSurfelCollectionCCT& c) {
  std::vector<unsigned int> counts(8, 0);
  const auto labels = c.GetAccessor<unsigned int>(eSurfelAttributeValue);
  for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) ++counts[labels[i]];
  return counts;
}

}  // namespace

TEST(PhantomScanGenerator, PoseMovesSurfelsAndTruthButNotTheQuantities) {
  PhantomScanGenerator::Parameters p = Scan(2000);
  const PhantomScanGenerator plain(p);
  p.poseRotationDegrees = CbVector3f(0.0f, 0.0f, 90.0f);
  p.poseTranslation = CbVector3f(1.0f, 2.0f, 3.0f);
  const PhantomScanGenerator posed(p);
  // A quarter turn about z then the shift: (x, y, z) -> (-y + 1, x + 2, z + 3).
  for (int k = 0; k < 8; ++k) {
    const CbVector3f a = plain.GetCorner(k), b = posed.GetCorner(k);
    EXPECT_NEAR(b.x, -a.y + 1.0f, 1e-5f);
    EXPECT_NEAR(b.y, a.x + 2.0f, 1e-5f);
    EXPECT_NEAR(b.z, a.z + 3.0f, 1e-5f);
  }
  const auto sa = plain.Generate(), sb = posed.Generate();
  for (unsigned int i = 0; i < 2000; i += 97) {
    const CbVector3f a = sa->GetPosition(i), b = sb->GetPosition(i);
    EXPECT_NEAR(b.x, -a.y + 1.0f, 1e-5f);
    EXPECT_NEAR(b.y, a.x + 2.0f, 1e-5f);
    const CbVector3f na = sa->GetNormal(i), nb = sb->GetNormal(i);
    EXPECT_GT(nb.Dot(CbVector3f(-na.y, na.x, na.z)), 0.9998f);  // codes 0.65 degrees apart
  }
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(posed.GetWidth(k), plain.GetWidth(k), 1e-12);
    EXPECT_NEAR(posed.GetDepth(k), plain.GetDepth(k), 1e-12);
  }
  // The nominal phantom's depth and widths from the shared formulas.
  EXPECT_NEAR(plain.GetMeanDepth(), 2.998553, 0.002);
  EXPECT_NEAR(plain.GetWidth(0), 7.161987, 0.00001);
}

TEST(PhantomScanGenerator, StraysDensitiesAndHalfFacesAreWhereAsked) {
  PhantomScanGenerator::Parameters p = Scan(20000);
  p.nSeed = 4;
  const std::vector<unsigned int> uniform = Counts(*PhantomScanGenerator(p).Generate());
  EXPECT_EQ(uniform[7], 0u);
  p.fStrayFraction = 0.1f;
  p.faceDensity[5] = 0.25f;
  p.iHalfScannedFace = 1;
  const PhantomScanGenerator g(p);
  const auto scan = g.Generate();
  const std::vector<unsigned int> counts = Counts(*scan);
  EXPECT_EQ(counts[7], 2000u);
  // Relative to the rim: the floor at a quarter, wall 1 at about half its share.
  const double rim = uniform[0], rimNow = counts[0];
  EXPECT_NEAR(counts[5] / rimNow, 0.25 * uniform[5] / rim, 0.02);
  EXPECT_NEAR(counts[1] / rimNow, 0.5 * uniform[1] / rim, 0.1 * uniform[1] / rim);
  // Strays lie off the faces; face surfels on them.
  const auto labels = scan->GetAccessor<unsigned int>(eSurfelAttributeValue);
  unsigned int nOff = 0;
  for (unsigned int i = 0; i < scan->GetNrSurfels(); ++i) {
    const unsigned int f = labels[i];
    if (f == 7) continue;
    const CbVector3f n = g.GetNormal(static_cast<int>(f));
    nOff += std::fabs((scan->GetPosition(i) - g.GetPoint(static_cast<int>(f))).Dot(n)) > 1e-4f;
  }
  EXPECT_EQ(nOff, 0u);

  p = Scan(10);
  p.fStrayFraction = 0.6f;
  EXPECT_THROW(PhantomScanGenerator{p}, CbException);
  p = Scan(10);
  p.faceDensity[2] = 1.5f;
  EXPECT_THROW(PhantomScanGenerator{p}, CbException);
  p = Scan(10);
  p.iHalfScannedFace = 7;
  EXPECT_THROW(PhantomScanGenerator{p}, CbException);
}
