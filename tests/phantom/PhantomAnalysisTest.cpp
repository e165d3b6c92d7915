// The trust layer's parts: preparation steps against known answers, the verdict's text, the
// bare path against the analyzer itself, the refit's precision, the JSON's shape.
#include <tolvane/PhantomAnalysis.h>

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "container/KaCNormalCodec.h"
#include "container/KaSurfelAttributes.h"
#include "phantom/PhantomPreparation.h"
#include "synth/PhantomScanGenerator.h"
#include "tests/phantom/AnalyzerProbe.h"

namespace {

using tolvane::PhantomAnalysis;
using tolvane::PhantomCheck;
using tolvane::PhantomVerdict;
using tolvane::synth::PhantomScanGenerator;
namespace prep = tolvane::phantom_preparation;
using Collection = CbSmartPointer<const KaCSurfelCollectionCCT>;

double AngleDegrees(const double a[3], const CbVector3f& b) {
  const double c = (a[0] * b.x + a[1] * b.y + a[2] * b.z) / b.Length();
  return std::acos(std::fmin(1.0, c)) * 180.0 / 3.14159265358979;
}

}  // namespace

TEST(PhantomVerdict, SummaryNamesTheFirstFailingCheck) {
  PhantomVerdict v;
  v.bPass = true;
  EXPECT_EQ(v.Summary(), "pass");
  v.bPass = false;
  v.vecChecks = {{"finite", 0.0, 0.0, "count", false, true},
                 {"plane share", 0.001, 0.004, "share", true, false},
                 {"lengths", 2.5, 0.25, "mm", false, false}};
  EXPECT_EQ(v.Summary(), "FAIL: plane share: 0.001 share under 0.004 share");
  v.vecChecks[1].bPass = true;
  EXPECT_EQ(v.Summary(), "FAIL: lengths: 2.5 mm over 0.25 mm");
}

// A random rigid pose of the generated phantom: the frame found in the posed scan is the one
// found in the unposed scan, turned by the pose.
TEST(PhantomAnalysis, FrameFollowsARigidPose) {
  PhantomScanGenerator::Parameters p = ScanParameters(20000, 0.01f);
  const Collection unposed = PhantomScanGenerator(p).Generate();
  p.poseRotationDegrees = CbVector3f(20.0f, -30.0f, 25.0f);
  p.poseTranslation = CbVector3f(3.0f, -4.0f, 5.0f);
  const PhantomScanGenerator posedGenerator(p);
  const Collection posed = posedGenerator.Generate();
  prep::Frame a, b;
  ASSERT_TRUE(prep::FindPhantomFrame(*unposed, a));
  ASSERT_TRUE(prep::FindPhantomFrame(*posed, b));
  // Every face normal has the same coordinates in the unposed scan's frame as its posed image
  // in the posed scan's frame.
  for (int i = 0; i < 7; ++i) {
    const CbVector3f n0 = PhantomScanGenerator(ScanParameters(1, 0.0f)).GetNormal(i);
    const CbVector3f n1 = posedGenerator.GetNormal(i);
    // The normal's coordinates in each frame agree.
    for (int r = 0; r < 3; ++r) {
      const double c0 = a.R[r][0] * n0.x + a.R[r][1] * n0.y + a.R[r][2] * n0.z;
      const double c1 = b.R[r][0] * n1.x + b.R[r][1] * n1.y + b.R[r][2] * n1.z;
      EXPECT_NEAR(c0, c1, 0.02) << "face " << i << " axis " << r;
    }
  }
  // Nearly the phantom's own frame when unposed: z along +z, x along +x.
  EXPECT_LT(AngleDegrees(a.R[2], CbVector3f(0, 0, 1)), 6.0);
  EXPECT_LT(AngleDegrees(a.R[0], CbVector3f(1, 0, 0)), 6.0);
  // No walls, no frame.
  CbSmartPointer<KaCSurfelCollectionCCT> flat(new KaCSurfelCollectionCCT(100));
  for (unsigned int i = 0; i < 100; ++i) {
    flat->SetPosition(i, CbVector3f(float(i % 10), float(i / 10), 0.0f));
    flat->SetNormal(i, CbVector3f(0.0f, 0.0f, -1.0f));
  }
  EXPECT_FALSE(prep::FindPhantomFrame(*flat, a));
}

TEST(PhantomAnalysis, ThinningFollowsTheScanWithinMinimumAndLimit) {
  // About one in 25, at least 12,000, at most 200,000; no thinning with limit 0.
  EXPECT_EQ(prep::ThinningStep(5000000, 200000, 25, 12000), 25u);
  EXPECT_EQ(prep::ThinningStep(10000000, 200000, 25, 12000), 50u);
  EXPECT_EQ(prep::ThinningStep(1000000, 200000, 25, 12000), 25u);
  EXPECT_EQ(prep::ThinningStep(200000, 200000, 25, 12000), 17u);  // 11,765 surfels
  EXPECT_EQ(prep::ThinningStep(20000, 200000, 25, 12000), 2u);
  EXPECT_EQ(prep::ThinningStep(12000, 200000, 25, 12000), 1u);
  EXPECT_EQ(prep::ThinningStep(5000000, 0, 25, 12000), 1u);
  EXPECT_EQ(prep::ThinningStep(300000, 10000, 0, 0), 30u);
  const Collection scan = PhantomScanGenerator(ScanParameters(100, 0.0f)).Generate();
  EXPECT_EQ(prep::Thinned(scan, 1).Get(), scan.Get());
  const Collection thin = prep::Thinned(scan, 30);
  ASSERT_EQ(thin->GetNrSurfels(), 4u);
  EXPECT_EQ(thin->GetPosition(3), scan->GetPosition(90));
}

// A sparse wall tilts the mean normal by degrees; the balanced walls bring it back to within
// 1.5 degrees of the full scan's viewing axis, and a full scan loses few of its wall surfels.
TEST(PhantomAnalysis, BalancedWallsKeepTheMeanNormalOnTheViewingAxis) {
  const auto meanNormal = [](const KaCSurfelCollectionCCT& scan) {
    CbVector3f m;
    for (unsigned int i = 0; i < scan.GetNrSurfels(); ++i) m += scan.GetNormal(i);
    return m.Normalized();
  };
  PhantomScanGenerator::Parameters p = ScanParameters(40000, 0.01f);
  const Collection full = PhantomScanGenerator(p).Generate();
  prep::Frame frame;
  ASSERT_TRUE(prep::FindPhantomFrame(*full, frame));
  std::size_t nRemoved = 0;
  const Collection fullBalanced = prep::WithBalancedWalls(full, frame, nRemoved);
  EXPECT_EQ(fullBalanced->GetNrSurfels(), 40000u - nRemoved);
  EXPECT_LT(nRemoved, 40000u / 10);
  const CbVector3f axis = meanNormal(*fullBalanced);
  for (int face : {1, 2, 3, 4}) {
    p.faceDensity[face] = 0.2f;
    const Collection sparse = PhantomScanGenerator(p).Generate();
    p.faceDensity[face] = 1.0f;
    ASSERT_TRUE(prep::FindPhantomFrame(*sparse, frame));
    const Collection balanced = prep::WithBalancedWalls(sparse, frame, nRemoved);
    const double fTilt =
        std::acos(std::fmin(1.0, meanNormal(*sparse).Dot(axis))) * 180.0 / 3.14159265358979;
    const double fBalancedTilt =
        std::acos(std::fmin(1.0, meanNormal(*balanced).Dot(axis))) * 180.0 / 3.14159265358979;
    EXPECT_GT(fTilt, 5.0) << face;
    EXPECT_LT(fBalancedTilt, 1.5) << face;
  }
}

TEST(PhantomAnalysis, CleaningDropsStrayPointsAndKeepsTheFaces) {
  PhantomScanGenerator::Parameters p = ScanParameters(40000, 0.01f);
  p.fStrayFraction = 0.1f;
  const Collection scan = PhantomScanGenerator(p).Generate();
  std::size_t nRemoved = 0;
  const Collection cleaned = prep::WithoutStrayPoints(scan, nRemoved);
  EXPECT_EQ(cleaned->GetNrSurfels(), scan->GetNrSurfels() - nRemoved);
  // 4000 strays; at most 1 % of the face samples may go with them.
  EXPECT_GE(nRemoved, 3600u);
  EXPECT_LE(nRemoved, 4000u + 360u);
  p.fStrayFraction = 0.0f;
  const Collection clean = PhantomScanGenerator(p).Generate();
  EXPECT_LE(prep::WithoutStrayPoints(clean, nRemoved)->GetNrSurfels(), 40000u);
  EXPECT_LE(nRemoved, 400u);
}

TEST(PhantomAnalysis, ClusterableNormalsDoNotRoundAboveOneAndStayClose) {
  // One surfel per normal code: every code whose vector rounds above 1 is replaced by a code
  // within 1.4 degrees, every other code stays.
  CbSmartPointer<KaCSurfelCollectionCCT> all(new KaCSurfelCollectionCCT(65536));
  for (unsigned int code = 0; code < 65536; ++code) {
    all->GetNormalAccessor()[code] = static_cast<unsigned short>(code);
  }
  const Collection scan = all;
  std::size_t nChanged = 0;
  const Collection conditioned = prep::WithClusterableNormals(scan, nChanged);
  std::size_t nAbove = 0;
  for (unsigned int i = 0; i < 65536; ++i) {
    const CbVector3f m = scan->GetNormal(i), c = conditioned->GetNormal(i);
    const bool bAbove = (m.x * m.x + m.y * m.y) + m.z * m.z > 1.0f;
    nAbove += bAbove ? 1 : 0;
    ASSERT_LE((c.x * c.x + c.y * c.y) + c.z * c.z, 1.0f) << i;
    if (bAbove) {
      ASSERT_GT(c.Dot(m), 0.9997f) << i;
    } else {
      ASSERT_EQ(conditioned->GetNormalAccessor()[i], i);
    }
  }
  EXPECT_EQ(nChanged, nAbove);
  EXPECT_GT(nAbove, 1000u);
}

// With every stage off, the texts and display points are those of one bare analyzer run from
// the same rand() state; the refined numbers are closer to the truth.
TEST(PhantomAnalysis, BarePathIsTheAnalyzerAndRefinedIsExact) {
  const PhantomScanGenerator generator(ScanParameters(20000, 0.0f));
  const Collection scan = generator.Generate();
  PhantomAnalysis::Options bare;
  bare.nMaxAttempts = 1;
  bare.nClusteringLimit = 0;
  bare.bAlign = false;
  bare.bClean = false;
  std::vector<std::pair<std::size_t, std::size_t>> steps;
  bare.fnProgress = [&steps](std::size_t nDone, std::size_t nTotal) {
    steps.emplace_back(nDone, nTotal);
  };
  std::srand(3);
  const PhantomAnalysis::Result r = PhantomAnalysis(scan, scan, bare).Run();
  // Preparation, the one attempt, the end (no refinement over the samples as passed, which
  // the analyzer measured itself): three of five steps.
  EXPECT_EQ(steps, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 5}, {2, 5}, {5, 5}}));
  KaCCalibrationPhantomCCTAnalyzer analyzer(scan, scan, 7);
  std::srand(3);
  (void)analyzer.Compute();
  EXPECT_EQ(r.strTexts[0], analyzer.GetDepthStatistics());
  EXPECT_EQ(r.strTexts[3], analyzer.GetHeightStatistics());
  EXPECT_EQ(r.vecDisplayPoints, analyzer.GetLines());
  EXPECT_EQ(r.nAttempts, 1);
  EXPECT_FALSE(r.bAligned);
  ASSERT_TRUE(r.verdict.bPass) << r.verdict.Summary();
  const auto& truth = generator.GetQuantities();
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(r.refined.width[k], truth.width[k], 1e-5);
    EXPECT_NEAR(r.refined.height[k], truth.height[k], 1e-5);
    EXPECT_NEAR(r.refined.depth[k], truth.depth[k], 1e-5);
    EXPECT_NEAR(r.refined.shearing[k], truth.shearing[k], 1e-5);
  }
  std::size_t nSamples = 0;
  for (const auto& plane : r.vecPlanes) nSamples += plane.nSamples;
  EXPECT_EQ(nSamples, [&] {
    std::size_t n = 0;
    for (std::size_t i = 0; i < 7; ++i) n += analyzer.GetNrSamples(i);
    return n;
  }());

  const std::string json = tolvane::PhantomResultToJson(r, "scan \"1\"");
  EXPECT_EQ(json.rfind("{\"source\":\"scan \\\"1\\\"\"", 0), 0u);
  for (const char* key :
       {"\"refined\":{\"depth\"", "\"verdict\":{\"pass\":true", "\"name\":\"orientation\"",
        "\"pipeline\":{\"aligned\":false", "\"corners\":{\"analyzer\"", "\"display_points\""}) {
    EXPECT_NE(json.find(key), std::string::npos) << key;
  }
  EXPECT_EQ(std::count(json.begin(), json.end(), '{'), std::count(json.begin(), json.end(), '}'));
  EXPECT_EQ(std::count(json.begin(), json.end(), '['), std::count(json.begin(), json.end(), ']'));
}

// A posed scan, analysed in the frame: the coloured samples are the scan as passed, and every
// face's samples carry one colour of their own.
TEST(PhantomAnalysis, ColouredSamplesAreTheScanAsPassedColouredByFace) {
  PhantomScanGenerator::Parameters p = ScanParameters(30000, 0.01f);
  p.poseRotationDegrees = CbVector3f(-25.0f, 15.0f, 30.0f);
  p.poseTranslation = CbVector3f(2.0f, 1.0f, -3.0f);
  const Collection scan = PhantomScanGenerator(p).Generate();
  PhantomAnalysis::Options options;
  std::vector<std::size_t> steps;
  options.fnProgress = [&steps](std::size_t nDone, std::size_t nTotal) {
    EXPECT_EQ(nTotal, 12u);
    steps.push_back(nDone);
  };
  std::srand(7);
  const PhantomAnalysis::Result r = PhantomAnalysis(scan, scan, options).Run();
  ASSERT_TRUE(r.verdict.bPass) << r.verdict.Summary();
  ASSERT_TRUE(r.bAligned);
  ASSERT_EQ(r.nAttempts, 1);
  // Preparation, the first attempt, the refinement's two rounds, the end.
  EXPECT_EQ(steps, (std::vector<std::size_t>{1, 2, 10, 11, 12}));
  ASSERT_EQ(r.spColoured->GetNrSurfels(), scan->GetNrSurfels());
  const auto faces = scan->GetAccessor<const unsigned int>(eSurfelAttributeValue);
  const auto colours = r.spColoured->GetAccessor<const KaCCompressedColor>(eSurfelAttributeColor);
  std::vector<std::map<unsigned long, unsigned int>> counts(7);  // per face: colour, count
  for (unsigned int i = 0; i < scan->GetNrSurfels(); ++i) {
    ASSERT_EQ(r.spColoured->GetPosition(i), scan->GetPosition(i));
    ASSERT_EQ(r.spColoured->GetNormal(i), scan->GetNormal(i));
    ++counts[faces[i]][colours[i].GetPacked()];
  }
  std::vector<unsigned long> faceColours;
  for (const auto& c : counts) {
    const auto top = std::max_element(
        c.begin(), c.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    unsigned int nAll = 0;
    for (const auto& e : c) nAll += e.second;
    EXPECT_GE(top->second, 0.9 * nAll);
    EXPECT_EQ(std::count(faceColours.begin(), faceColours.end(), top->first), 0);
    faceColours.push_back(top->first);
  }
}

TEST(PhantomAnalysis, RefusesBadSetupsAndJudgesEmptyScans) {
  const Collection scan = PhantomScanGenerator(ScanParameters(100, 0.0f)).Generate();
  PhantomAnalysis::Options o;
  EXPECT_THROW(PhantomAnalysis(scan, nullptr, o), CbException);
  o.nPlanes = 6;
  EXPECT_THROW(PhantomAnalysis(scan, scan, o), CbException);
  o.nPlanes = 7;
  o.nMaxAttempts = 0;
  EXPECT_THROW(PhantomAnalysis(scan, scan, o), CbException);
  o.nMaxAttempts = 2;
  const Collection empty(new KaCSurfelCollectionCCT(0));
  const PhantomAnalysis::Result r = PhantomAnalysis(empty, empty, o).Run();
  EXPECT_FALSE(r.verdict.bPass);
  EXPECT_EQ(r.nAttempts, 2);
  EXPECT_EQ(r.spColoured->GetNrSurfels(), 0u);
  EXPECT_EQ(r.verdict.vecChecks.front().strName, "finite");
  EXPECT_FALSE(r.verdict.vecChecks.front().bPass);
}
