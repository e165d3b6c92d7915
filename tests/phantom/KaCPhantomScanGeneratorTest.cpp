// End to end: generated phantom scans analysed, against the generator's true geometry.
#include <tolvane/KaCPhantomScanGenerator.h>

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <iostream>
#include <vector>

#include <gtest/gtest.h>

#include "container/KaSurfelAttributes.h"
#include "tests/phantom/AnalyzerProbe.h"

namespace {

using Probe = KaCCalibrationPhantomCCTAnalyzerProbe;

struct GeneratedScan {
  KaCPhantomScanGenerator generator;
  Probe::Collection scan;
  explicit GeneratedScan(const KaCPhantomScanGenerator::Parameters& p)
      : generator(p), scan(generator.Generate()) {}
};

KaCPhantomScanGenerator::Parameters Params(unsigned int n, float fNoise) {
  KaCPhantomScanGenerator::Parameters p;
  p.nNrSurfels = n;
  p.fNoiseSigma = fNoise;
  return p;
}

// The largest difference, in micrometres, between the analysed and the true depths (four and
// mean), widths and heights, with the analysed values taken from the corners in GetLines.
double WorstErrorMicrons(KaCCalibrationPhantomCCTAnalyzer& a, const KaCPhantomScanGenerator& g) {
  const std::vector<CbVector3f>& lines = a.GetLines();
  CbVector3f c[8];
  for (int k = 0; k < 8; ++k) c[k] = lines[2 * k];
  const CbVector3f n = a.GetNormal(0);
  const auto len = [](const CbVector3f& v) { return static_cast<double>(v.Length()); };
  double depth[4], worst = 0.0;
  for (int k = 0; k < 4; ++k) {
    depth[k] = (c[k + 4] - c[k]).Dot(n);
    worst = std::max(worst, std::fabs(depth[k] - g.GetDepth(k)));
  }
  const double mean = (depth[1] + depth[0] + depth[2] + depth[3]) * 0.25;
  worst = std::max(worst, std::fabs(mean - g.GetMeanDepth()));
  const double width[4] = {len(c[0] - c[2]), len(c[1] - c[3]), len(c[4] - c[6]), len(c[5] - c[7])};
  const double height[4] = {len(c[0] - c[1]), len(c[2] - c[3]), len(c[4] - c[5]), len(c[6] - c[7])};
  for (int k = 0; k < 4; ++k) {
    worst = std::max(worst, std::fabs(width[k] - g.GetWidth(k)));
    worst = std::max(worst, std::fabs(height[k] - g.GetHeight(k)));
  }
  return worst * 1000.0;
}

// Whether every plane lies on its true face: normal within 2.6 degrees, centre within 50 µm.
bool FacesFound(KaCCalibrationPhantomCCTAnalyzer& a, const KaCPhantomScanGenerator& g) {
  Probe probe(a);
  for (int i = 0; i < 7; ++i) {
    const CbVector3f n = g.GetNormal(i);
    if (!(std::fabs(probe.Planes()[i].GetNormal().Dot(n)) > 0.999f)) return false;
    if (!(std::fabs((probe.Centers()[i] - g.GetPoint(i)).Dot(n)) < 0.05f)) return false;
  }
  return true;
}

}  // namespace

TEST(KaCPhantomScanGenerator, AnalyzerGivesEachFaceItsRole) {
  GeneratedScan run(Params(20000, 0.01f));
  const auto labels = run.scan->GetAccessor<unsigned int>(eSurfelAttributeValue);
  KaCCalibrationPhantomCCTAnalyzer a(run.scan, run.scan, 7);
  std::srand(1);
  (void)a.Compute();
  Probe probe(a);
  for (unsigned int i = 0; i < 7; ++i) {
    const std::vector<unsigned int>& cluster = probe.ClustersOf()[i];
    ASSERT_GT(cluster.size(), 500u) << i;
    const auto nRight = std::count_if(cluster.begin(), cluster.end(),
                                      [&](unsigned int s) { return labels[s] == i; });
    EXPECT_GT(static_cast<double>(nRight), 0.99 * static_cast<double>(cluster.size())) << i;
  }
}

TEST(KaCPhantomScanGenerator, ShapeInitialisationFindsWallsByFacing) {
  GeneratedScan run(Params(20000, 0.0f));
  KaCCalibrationPhantomCCTAnalyzer a(run.scan, run.scan, 7);
  Probe probe(a);
  probe.InitPlanes2();
  const CbVector3f mean = probe.AverageNormal();
  // Facing planes: the mean normal through a rim, a floor and a base plate sample.
  for (int i : {0, 5, 6}) {
    EXPECT_EQ(probe.Planes()[i].GetNormal(), mean);
    const CyPlane face(run.generator.GetNormal(i), run.generator.GetPoint(i));
    EXPECT_LT(face.GetDistance(probe.Planes()[i].GetPoint()), 1e-4f) << i;
  }
  // Buckets +x, -x, +y, -y facing: the walls on the -x, +x, -y and +y sides.
  const int walls[4] = {3, 4, 1, 2};
  for (int j = 0; j < 4; ++j) {
    const CbVector3f n = run.generator.GetNormal(walls[j]);
    EXPECT_GT(std::fabs(probe.Planes()[j + 1].GetNormal().Dot(n)), 0.99999f) << j;
    EXPECT_LT(std::fabs((probe.Centers()[j + 1] - run.generator.GetPoint(walls[j])).Dot(n)), 1e-4f);
  }
}

TEST(KaCPhantomScanGenerator, MeasuresTrueGeometryAcrossNoiseAndDeformations) {
  // Noise levels in mm and the error bound each must meet (none for 5 and 20 µm: reported).
  const float noises[4] = {0.0f, 0.005f, 0.01f, 0.02f};
  const double bounds[4] = {1.0, 1e9, 2.0, 1e9};
  for (int k = 0; k < 4; ++k) {
    GeneratedScan run(Params(100000, noises[k]));
    KaCCalibrationPhantomCCTAnalyzer a(run.scan, run.scan, 7);
    std::srand(11);
    (void)a.Compute();
    const double worst = WorstErrorMicrons(a, run.generator);
    std::cout << "[ info ] noise " << noises[k] * 1000.0f << " um: worst depth/width/height error "
              << worst << " um\n";
    EXPECT_LE(worst, bounds[k]);
    if (k != 0) continue;

    // The texts have the exact formats and carry the measured values.
    double v[8];
    EXPECT_EQ(std::swscanf(a.GetDepthStatistics().c_str(),
                           L"Depth: %lf mm (%lf, %lf, %lf, %lf), Deviation: %lf \u00B5m (%lf "
                           L"percent)",
                           &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]),
              7);
    EXPECT_NEAR(v[0], run.generator.GetMeanDepth(), 0.0015);
    EXPECT_NEAR(v[6], v[5] * 0.1 / 2.998553, 0.006);
    const wchar_t* formats[3] = {
        L"Shearing: %lf mm (%lf \u00B5m), %lf mm (%lf \u00B5m), %lf mm (%lf \u00B5m), %lf mm "
        L"(%lf \u00B5m)",
        L"Width: %lf mm (%lf \u00B5m), %lf mm (%lf \u00B5m), %lf mm (%lf \u00B5m), %lf mm (%lf "
        L"\u00B5m)",
        L"Height: %lf mm (%lf \u00B5m), %lf mm (%lf \u00B5m), %lf mm (%lf \u00B5m), %lf mm (%lf "
        L"\u00B5m)"};
    const std::wstring texts[3] = {a.GetShearingStatistics(), a.GetWidthStatistics(),
                                   a.GetHeightStatistics()};
    for (int t = 0; t < 3; ++t) {
      EXPECT_EQ(std::swscanf(texts[t].c_str(), formats[t], &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                             &v[6], &v[7]),
                8)
          << t;
    }
    EXPECT_NEAR(v[0], run.generator.GetHeight(0), 0.0015);
  }

  // Known deformations: 1 % longer in x, and wall 3 tilted by 2 degrees.
  KaCPhantomScanGenerator::Parameters scaled = Params(100000, 0.0f);
  scaled.scale = CbVector3f(1.01f, 1.0f, 1.0f);
  KaCPhantomScanGenerator::Parameters tilted = Params(100000, 0.0f);
  tilted.iTiltedWall = 3;
  tilted.fTiltDegrees = 2.0f;
  const KaCPhantomScanGenerator nominal(Params(1, 0.0f));
  for (const auto& p : {scaled, tilted}) {
    GeneratedScan run(p);
    KaCCalibrationPhantomCCTAnalyzer a(run.scan, run.scan, 7);
    std::srand(5);
    (void)a.Compute();
    EXPECT_LE(WorstErrorMicrons(a, run.generator), 1.0);
  }
  // The heights span x and grow by nearly the full 1 %, the widths span y and barely change.
  const KaCPhantomScanGenerator g(scaled);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(g.GetHeight(k) / nominal.GetHeight(k), 1.01, 0.0006) << k;
    EXPECT_NEAR(g.GetWidth(k) / nominal.GetWidth(k), 1.0, 0.0006) << k;
  }
}

TEST(KaCPhantomScanGenerator, NinetyNineOfHundredRandStatesFindTheFaces) {
  GeneratedScan run(Params(3000, 0.01f));
  int nFound = 0;
  for (unsigned int state = 0; state < 100; ++state) {
    std::srand(state);
    KaCCalibrationPhantomCCTAnalyzer a(run.scan, run.scan, 7);
    (void)a.Compute();
    if (FacesFound(a, run.generator)) ++nFound;
  }
  RecordProperty("faces_found", nFound);
  EXPECT_GE(nFound, 99);
}
