// The analyzer's stages on hand-made data, and its driver's bookkeeping.
#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include <tolvane/KaCMpFtColorCode.h>
#include "synth/PhantomScanGenerator.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "container/KaCNormalCodec.h"
#include "tissue/KaCColorCoder.h"
#include "tests/phantom/AnalyzerProbe.h"

namespace {

using Probe = KaCCalibrationPhantomCCTAnalyzerProbe;
using Collection = CbSmartPointer<const KaCSurfelCollectionCCT>;
using tolvane::synth::PhantomScanGenerator;

Collection Make(const std::vector<CbVector3f>& positions, const std::vector<CbVector3f>& normals) {
  CbSmartPointer<KaCSurfelCollectionCCT> c(
      new KaCSurfelCollectionCCT(static_cast<unsigned int>(positions.size())));
  for (unsigned int i = 0; i < positions.size(); ++i) {
    c->SetPosition(i, positions[i]);
    c->SetNormal(i, normals[i]);
  }
  return c;
}

const CbVector3f c_z(0.0f, 0.0f, 1.0f);
const CbVector3f c_x(1.0f, 0.0f, 0.0f);

}  // namespace

TEST(KaCCalibrationPhantomCCTAnalyzer, DistanceAddsAngleTermOfNormalLines) {
  Collection c = Make({CbVector3f()}, {c_z});
  KaCCalibrationPhantomCCTAnalyzer a(c, c, 1);
  Probe probe(a);
  probe.Planes()[0] = CyPlane(c_z, CbVector3f(0.0f, 0.0f, 0.0f));
  const CbVector3f p(1.0f, 2.0f, -0.5f);
  EXPECT_EQ(probe.Distance(0, p, c_x), 0.75f);   // right angle: 0.25 + |-0.5|
  EXPECT_EQ(probe.Distance(0, p, -c_x), 0.75f);  // orientation does not matter
  EXPECT_EQ(probe.Distance(0, p, -c_z), 0.5f);
}

TEST(KaCCalibrationPhantomCCTAnalyzer, DistributionTiesGoLowNaNGoesToPlaneZeroAndAppends) {
  const float fNaN = std::numeric_limits<float>::quiet_NaN();
  Collection c =
      Make({{0.0f, 0.0f, 20.0f}, {fNaN, 0.0f, 0.0f}, {0.0f, 0.0f, 30.0f}}, {c_z, c_z, c_z});
  KaCCalibrationPhantomCCTAnalyzer a(c, c, 7);
  Probe probe(a);
  for (int j = 0; j < 7; ++j) probe.Planes()[j] = CyPlane(c_z, CbVector3f(0, 0, 10.0f * j));
  probe.Planes()[5] = probe.Planes()[2];  // sample 0 is as far from plane 2 as from plane 5
  Probe::Clusters clusters(7);
  clusters[2] = {99};
  probe.Distribute(c, clusters);
  EXPECT_EQ(clusters[0], std::vector<unsigned int>({1}));
  EXPECT_EQ(clusters[2], std::vector<unsigned int>({99, 0}));
  EXPECT_EQ(clusters[3], std::vector<unsigned int>({2}));
}

// Samples S (even) lie in z = 0 with normals along x, samples T (odd) in x = 0 with normals
// along z. Each set is nearer to the plane fitted to the other set, so the assignment flips
// every pass unless the first pass already starts from the flipped one.
TEST(KaCCalibrationPhantomCCTAnalyzer, KMeansCountsHundredWhenOscillatingZeroWhenRepeating) {
  std::vector<CbVector3f> positions, normals;
  for (float y : {-1.0f, 0.0f, 1.0f}) {
    for (float u : {-0.2f, 0.2f}) {
      positions.insert(positions.end(), {{u, y, 0.0f}, {0.0f, y, u}});
      normals.insert(normals.end(), {c_x, c_z});
    }
  }
  const Collection c = Make(positions, normals);
  const std::vector<unsigned int> s = {0, 2, 4, 6, 8, 10}, t = {1, 3, 5, 7, 9, 11};
  for (const bool bRepeating : {false, true}) {
    KaCCalibrationPhantomCCTAnalyzer a(c, c, 2);
    Probe probe(a);
    probe.Planes()[0] = CyPlane(c_z, CbVector3f());
    probe.Planes()[1] = CyPlane(c_x, CbVector3f());
    if (bRepeating) probe.ClustersOf() = {t, s};
    probe.KMeans();
    if (!bRepeating) {
      EXPECT_EQ(probe.Iterations(), 100u);
      EXPECT_EQ(probe.ClustersOf()[0], s);  // odd passes give (T, S), even ones (S, T)
      continue;
    }
    EXPECT_EQ(probe.Iterations(), 0u);
    EXPECT_EQ(probe.Planes()[0].GetNormal(), c_x);  // refitted to T once
    EXPECT_EQ(probe.Planes()[1].GetNormal(), c_z);
    EXPECT_EQ(probe.Centers()[1], CbVector3f(0.0f, 0.0f, 0.0f));
  }
}

TEST(KaCCalibrationPhantomCCTAnalyzer, OutlierRemovalKeepsTruncPlusOneInOrder) {
  // 16 samples on z = 0 and four off it at 0.5, 1, 2 and -3: of 20, 18 stay and the two
  // farthest on either side go.
  std::vector<CbVector3f> positions, normals;
  for (int i = 0; i < 16; ++i) positions.emplace_back(float(i % 4), float(i / 4), 0.0f);
  for (float z : {0.5f, 1.0f, 2.0f, -3.0f}) positions.emplace_back(1.5f, 1.5f, z);
  normals.assign(positions.size(), c_z);
  Collection c = Make(positions, normals);
  KaCCalibrationPhantomCCTAnalyzer a(c, c, 1);
  Probe probe(a);
  probe.Planes()[0] = CyPlane(c_z, CbVector3f());
  Probe::Clusters clusters(1);
  for (unsigned int i = 0; i < 20; ++i) clusters[0].push_back(19 - i);
  probe.RemoveOutliers(0.85f, c, clusters);
  ASSERT_EQ(clusters[0].size(), 18u);
  for (unsigned int s : clusters[0]) EXPECT_TRUE(s != 18 && s != 19) << s;

  // Equal keys: seven samples on the plane, K = 5, the first six in stored order stay.
  Probe::Clusters equal = {{6, 3, 5, 0, 1, 4, 2}};
  probe.RemoveOutliers(0.85f, c, equal);
  EXPECT_EQ(equal[0], std::vector<unsigned int>({6, 3, 5, 0, 1, 4}));
}

TEST(KaCCalibrationPhantomCCTAnalyzer, SortPlanesMovesAllThreeTogetherAndKeepsTies) {
  Collection c = Make({CbVector3f()}, {c_z});
  KaCCalibrationPhantomCCTAnalyzer a(c, c, 7);
  Probe probe(a);
  const float x[7] = {9.0f, 2.0f, 1.0f, 2.0f, 0.0f, 1.0f, -9.0f};
  Probe::Clusters clusters(7);
  for (unsigned int i = 0; i < 7; ++i) {
    probe.Centers()[i] = CbVector3f(x[i], float(i), 0.0f);
    probe.Planes()[i] = CyPlane(c_z, probe.Centers()[i]);
    clusters[i] = {i};
  }
  probe.Sort(c_x, 1, 5, clusters);
  const unsigned int expected[7] = {0, 4, 2, 5, 1, 3, 6};
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(clusters[k], std::vector<unsigned int>({expected[k]}));
    EXPECT_EQ(probe.Centers()[k].y, float(expected[k]));
    EXPECT_EQ(probe.Planes()[k].GetPoint().y, float(expected[k]));
  }
}

TEST(KaCCalibrationPhantomCCTAnalyzer, InitPlanesStopsEarlyOrAfterThousandAttempts) {
  // With seven surfels every attempt draws seven numbers (ranges 7 down to 1, no rejections
  // possible for the last and practically none for the others).
  const auto drawsAfter = [](KaCCalibrationPhantomCCTAnalyzer& a) {
    std::srand(42);
    Probe(a).InitPlanes();
    const int next = std::rand();
    std::srand(42);
    for (int n = 0;; ++n) {
      if (std::rand() == next) return n;
    }
  };
  std::vector<CbVector3f> apart, same(7, CbVector3f(1.0f, 2.0f, 3.0f));
  for (int i = 0; i < 7; ++i) apart.emplace_back(0.0f, 0.0f, 10.0f * i);
  Collection cApart = Make(apart, std::vector<CbVector3f>(7, c_z));
  Collection cSame = Make(same, std::vector<CbVector3f>(7, c_z));
  KaCCalibrationPhantomCCTAnalyzer aApart(cApart, cApart, 7);
  KaCCalibrationPhantomCCTAnalyzer aSame(cSame, cSame, 7);
  EXPECT_EQ(drawsAfter(aApart), 7);
  EXPECT_EQ(drawsAfter(aSame), 7000);
  // No attempt scored above 0: the last one stays, and every plane and centre is set.
  Probe probe(aSame);
  ASSERT_EQ(probe.Planes().size(), 7u);
  for (const CbVector3f& center : probe.Centers()) EXPECT_EQ(center, same[0]);
}

TEST(KaCCalibrationPhantomCCTAnalyzer, AverageNormalOfOpposedNormalsIsZero) {
  CbSmartPointer<KaCSurfelCollectionCCT> c(new KaCSurfelCollectionCCT(2));
  const unsigned short code = KaCNormalCodec::Encode(c_z);
  c->GetNormalAccessor()[0] = code;
  c->GetNormalAccessor()[1] = KaCNormalCodec::Flip(code);  // exactly opposed
  KaCCalibrationPhantomCCTAnalyzer a(c, c, 1);
  EXPECT_EQ(Probe(a).AverageNormal(), CbVector3f(0.0f, 0.0f, 0.0f));
}

// A frustum with the rim at z = 0 (corners 10 mm apart) and the floor at z = 3, each floor
// corner shifted by (1.62, 2.16) towards the centre: depth 3 mm, shearing 2.7 mm.
TEST(KaCCalibrationPhantomCCTAnalyzer, MeasurementTextsAndLines) {
  Collection c = Make({CbVector3f()}, {c_z});
  KaCCalibrationPhantomCCTAnalyzer a(c, c, 7);
  Probe probe(a);
  EXPECT_TRUE(a.GetDepthStatistics().empty());
  EXPECT_TRUE(a.GetLines().empty());
  // Walls through a rim edge and the matching floor edge.
  const auto through = [](const CbVector3f& p, const CbVector3f& q, const CbVector3f& along) {
    return CyPlane((q - p).Cross(along).Normalized(), p);
  };
  const CbVector3f A(0, 0, 0), B(10, 0, 0), C(0, 10, 0), D(10, 10, 0);
  const CbVector3f E(1.62f, 2.16f, 3), F(8.38f, 2.16f, 3), G(1.62f, 7.84f, 3), H(8.38f, 7.84f, 3);
  probe.Planes()[0] = CyPlane(c_z, A);
  probe.Planes()[1] = through(A, E, c_x);
  probe.Planes()[2] = through(C, G, c_x);
  probe.Planes()[3] = through(A, E, CbVector3f(0, 1, 0));
  probe.Planes()[4] = through(B, F, CbVector3f(0, 1, 0));
  probe.Planes()[5] = CyPlane(c_z, E);
  const float fNaN = std::numeric_limits<float>::quiet_NaN();
  probe.Planes()[6] = CyPlane(CbVector3f(fNaN, fNaN, fNaN), A);  // not used
  probe.Measure();
  EXPECT_EQ(a.GetDepthStatistics(),
            L"Depth: 3.000 mm (3.000, 3.000, 3.000, 3.000), Deviation: 1.4 \u00B5m (0.05 percent)");
  EXPECT_EQ(a.GetShearingStatistics(),
            L"Shearing: 2.700 mm (11.0 \u00B5m), 2.700 mm (32.0 \u00B5m), 2.700 mm (10.0 \u00B5m), "
            L"2.700 mm (36.0 \u00B5m)");
  EXPECT_EQ(a.GetWidthStatistics(),
            L"Width: 10.000 mm (2838.0 \u00B5m), 10.000 mm (2837.6 \u00B5m), 5.680 mm (3169.1 "
            L"\u00B5m), 5.680 mm (3168.6 \u00B5m)");
  EXPECT_EQ(a.GetHeightStatistics(),
            L"Height: 10.000 mm (3351.4 \u00B5m), 10.000 mm (3363.7 \u00B5m), 6.760 mm (2823.5 "
            L"\u00B5m), 6.760 mm (2829.2 \u00B5m)");

  const std::vector<CbVector3f>& lines = a.GetLines();
  ASSERT_EQ(lines.size(), 40u);
  const CbVector3f corners[8] = {A, B, C, D, E, F, G, H};
  const auto near = [](const CbVector3f& p, const CbVector3f& q) {
    return (p - q).Length() < 1e-5f;
  };
  for (int k = 0; k < 8; ++k) EXPECT_TRUE(near(lines[2 * k], corners[k])) << k;
  const int edges[12][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0}, {4, 5}, {5, 7},
                            {7, 6}, {6, 4}, {0, 4}, {1, 5}, {3, 7}, {2, 6}};
  for (int e = 0; e < 12; ++e) {
    EXPECT_TRUE(near(lines[16 + 2 * e], corners[edges[e][0]])) << e;
    EXPECT_TRUE(near(lines[17 + 2 * e], corners[edges[e][1]])) << e;
  }
}

TEST(KaCCalibrationPhantomCCTAnalyzer, ComputeRefusesBadSetupsAndLeavesInputsAlone) {
  Collection scan = PhantomScanGenerator(ScanParameters(3000, 0.0f)).Generate();
  Collection tiny = Make({CbVector3f()}, {c_z});
  EXPECT_THROW(KaCCalibrationPhantomCCTAnalyzer(scan, nullptr, 7), CbException);
  EXPECT_THROW(KaCCalibrationPhantomCCTAnalyzer(scan, scan, 6).Compute(), CbException);
  // Fewer surfels than planes: the initialisation leaves the default planes, nothing throws,
  // and every sample is still coloured (here as an outlier or by plane 0).
  for (const Collection& few : {tiny, Make({}, {})}) {
    KaCCalibrationPhantomCCTAnalyzer small(few, few, 7);
    CbSmartPointer<KaCSurfelCollectionCCT> coloured = small.Compute();
    ASSERT_TRUE(coloured);
    EXPECT_EQ(coloured->GetNrSurfels(), few->GetNrSurfels());
    EXPECT_EQ(small.GetLines().size(), 40u);
    EXPECT_NE(small.GetDepthStatistics().find(L"nan"), std::wstring::npos);
    for (size_t i = 1; i < 7; ++i) EXPECT_EQ(small.GetNrSamples(i), 0u);
  }

  const CbVector3f first = scan->GetPosition(0);
  KaCCalibrationPhantomCCTAnalyzer a(scan, scan, 7);
  CbSmartPointer<KaCSurfelCollectionCCT> result = a.Compute();
  ASSERT_TRUE(result);
  EXPECT_NE(result.Get(), scan.Get());
  EXPECT_EQ(result->GetNrSurfels(), scan->GetNrSurfels());
  EXPECT_EQ(scan->GetPosition(0), first);
  EXPECT_EQ(scan->GetColor(0), KaCSurfelCollectionCCT(1).GetColor(0));
  size_t nKept = 0;
  for (size_t i = 0; i < 7; ++i) nKept += a.GetNrSamples(i);
  EXPECT_LT(nKept, scan->GetNrSurfels());
  EXPECT_GT(nKept, scan->GetNrSurfels() * 85 / 100);

  // Colours: value i + 1 for plane i, 0 for outliers, on the range 0 to 7.
  std::vector<float> values(scan->GetNrSurfels(), 0.0f);
  for (size_t i = 0; i < 7; ++i) {
    for (unsigned int s : Probe(a).ClustersOf()[i]) values[s] = float(i + 1);
  }
  KaCColorCoder coder(0.0f, 7.0f);
  KaCSurfelCollectionCCT expected(*scan, false);
  KaCMpFtColorCode(0.0f, 7.0f, values, &coder, 1)(expected);
  for (unsigned int s = 0; s < scan->GetNrSurfels(); ++s) {
    ASSERT_EQ(result->GetColor(s), expected.GetColor(s)) << s;
  }
}

TEST(KaCCalibrationPhantomCCTAnalyzer, DurationsAddUpAndMoveLeavesTextsInSource) {
  Collection scan = PhantomScanGenerator(ScanParameters(20000, 0.0f)).Generate();
  KaCCalibrationPhantomCCTAnalyzer a(scan, scan, 7);
  std::srand(7);
  (void)a.Compute();
  const float fOnce = a.GetOverallDuration();
  ASSERT_GT(fOnce, 0.0f);
  (void)a.Compute();
  (void)a.Compute();
  EXPECT_GT(a.GetOverallDuration(), 1.5f * fOnce);
  EXPECT_LE(a.GetInitializationDuration(), a.GetOverallDuration());

  const std::wstring depth = a.GetDepthStatistics();
  const size_t nIterations = a.GetNrIterations();
  KaCCalibrationPhantomCCTAnalyzer copy(a);
  EXPECT_EQ(Probe(copy).Clustering().Get(), scan.Get());
  KaCCalibrationPhantomCCTAnalyzer moved(std::move(a));
  Probe source(a);
  EXPECT_FALSE(source.Clustering());
  EXPECT_FALSE(source.Samples());
  EXPECT_TRUE(source.Planes().empty() && source.Centers().empty() && source.ClustersOf().empty());
  EXPECT_TRUE(a.GetLines().empty());
  EXPECT_EQ(a.GetDepthStatistics(), depth);
  EXPECT_EQ(a.GetNrIterations(), nIterations);
  EXPECT_EQ(a.GetNrPlanes(), 7u);
  EXPECT_EQ(moved.GetDepthStatistics(), depth);
  EXPECT_EQ(moved.GetLines().size(), 40u);
  EXPECT_EQ(Probe(moved).Samples().Get(), scan.Get());
  EXPECT_THROW((void)a.Compute(), CbException);
}

TEST(KaCCalibrationPhantomCCTAnalyzer, AverageErrorPerPlaneAndOverPlanesWithEmptyClusters) {
  const Collection c = Make({{0, 0, 1}, {0, 0, -3}, {5, 0, 2}, {1, 1, 0}}, std::vector(4, c_z));
  const Collection other = Make({{0, 0, 7}, {0, 0, 7}, {0, 0, 7}, {0, 0, 7}}, std::vector(4, c_z));
  KaCCalibrationPhantomCCTAnalyzer a(other, c, 3);
  Probe probe(a);
  probe.Planes()[0] = CyPlane(c_z, CbVector3f(0, 0, 0));
  probe.Planes()[1] = CyPlane(c_z, CbVector3f(0, 0, 1));
  probe.Planes()[2] = CyPlane(c_z, CbVector3f(0, 0, 0.5f));
  probe.ClustersOf() = {{0, 1}, {2, 3}, {}};
  EXPECT_EQ(a.GetAverageError(0, c), 2.0f);  // (1 + 3) / 2
  EXPECT_EQ(a.GetAverageError(1, c), 1.0f);
  EXPECT_EQ(a.GetAverageError(1, nullptr), 1.0f);  // null: the samples collection
  EXPECT_EQ(a.GetAverageError(1, other), 6.0f);
  EXPECT_TRUE(std::isnan(a.GetAverageError(2, c)));  // empty: 0 / 0
  EXPECT_TRUE(std::isnan(a.GetAverageError(c)));     // one NaN plane spoils the mean
  probe.ClustersOf()[2] = {3};
  EXPECT_EQ(a.GetAverageError(c), (2.0f + 1.0f + 0.5f) / 3.0f);
  EXPECT_EQ(a.GetAverageError(nullptr), (2.0f + 1.0f + 0.5f) / 3.0f);

  KaCCalibrationPhantomCCTAnalyzer moved(std::move(a));
  EXPECT_TRUE(std::isnan(a.GetAverageError(c)));  // no clusters at all: 0 / 0
  EXPECT_EQ(moved.GetAverageError(c), (2.0f + 1.0f + 0.5f) / 3.0f);
}

// Eight samples on a line through (k, 2k, 3k), normals along x, and eight planes: every restart
// seeds one plane per sample, each sample keeps its plane, and every error is exactly 0. Plane
// 7 is beyond the ordering, so it shows which restart's seeds Compute kept.
TEST(KaCCalibrationPhantomCCTAnalyzer, FirstOfTiedRestartsSuppliesThePlanes) {
  std::vector<CbVector3f> positions;
  for (int k = 0; k < 8; ++k) positions.emplace_back(float(k), float(2 * k), float(3 * k));
  const Collection c = Make(positions, std::vector<CbVector3f>(8, c_x));
  ASSERT_LE(c->GetNormal(0).Dot(c->GetNormal(0)), 1.0f);  // no NaN angle term

  const auto restartSeeds = [&](unsigned int state) {
    KaCCalibrationPhantomCCTAnalyzer a(c, c, 8);
    Probe probe(a);
    std::srand(state);
    std::vector<CbVector3f> seeds;
    for (int r = 0; r < 3; ++r) {
      probe.InitPlanes();
      seeds.push_back(probe.Centers()[7]);
      probe.KMeans();
      EXPECT_EQ(a.GetAverageError(c), 0.0f);
      EXPECT_EQ(probe.Centers()[7], seeds.back());
    }
    return seeds;
  };
  unsigned int state = 0;
  std::vector<CbVector3f> seeds = restartSeeds(state);
  while (seeds[0] == seeds[1] || seeds[0] == seeds[2] || seeds[1] == seeds[2]) {
    ASSERT_LT(++state, 100u);
    seeds = restartSeeds(state);
  }
  KaCCalibrationPhantomCCTAnalyzer a(c, c, 8);
  std::srand(state);
  (void)a.Compute();
  EXPECT_EQ(Probe(a).Centers()[7], seeds[0]);
}
