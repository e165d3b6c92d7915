// End to end: generated phantom scans analysed, against the generator's true geometry; and the
// vectorised assignment (libmvec acosf) against the scalar distance on such scans.
#include "synth/PhantomScanGenerator.h"

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "container/KaSurfelAttributes.h"
#include "tests/phantom/AnalyzerProbe.h"

namespace {

using Probe = KaCCalibrationPhantomCCTAnalyzerProbe;
using tolvane::synth::PhantomScanGenerator;

struct GeneratedScan {
  PhantomScanGenerator generator;
  Probe::Collection scan;
  explicit GeneratedScan(const PhantomScanGenerator::Parameters& p)
      : generator(p), scan(generator.Generate()) {}
};

// The largest difference, in micrometres, between the analysed and the true depths (four and
// mean), widths and heights, with the analysed values taken from the corners in GetLines.
double WorstErrorMicrons(KaCCalibrationPhantomCCTAnalyzer& a, const PhantomScanGenerator& g) {
  const auto c = [&](int k) { return a.GetLines()[2 * k]; };
  const auto len = [](const CbVector3f& v) { return static_cast<double>(v.Length()); };
  const CbVector3f n = a.GetNormal(0);
  double depth[4], worst = 0.0;
  for (int k = 0; k < 4; ++k) depth[k] = (c(k + 4) - c(k)).Dot(n);
  const double mean = (depth[1] + depth[0] + depth[2] + depth[3]) * 0.25;
  worst = std::fabs(mean - g.GetMeanDepth());
  const int w[4][2] = {{0, 2}, {1, 3}, {4, 6}, {5, 7}}, h[4][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}};
  for (int k = 0; k < 4; ++k) {
    worst = std::max({worst, std::fabs(depth[k] - g.GetDepth(k)),
                      std::fabs(len(c(w[k][0]) - c(w[k][1])) - g.GetWidth(k)),
                      std::fabs(len(c(h[k][0]) - c(h[k][1])) - g.GetHeight(k))});
  }
  return worst * 1000.0;
}

// Whether every plane lies on its true face: normal within 2.6 degrees, centre within 50 µm.
bool FacesFound(KaCCalibrationPhantomCCTAnalyzer& a, const PhantomScanGenerator& g) {
  Probe probe(a);
  for (int i = 0; i < 7; ++i) {
    const CbVector3f n = g.GetNormal(i);
    if (!(std::fabs(probe.Planes()[i].GetNormal().Dot(n)) > 0.999f)) return false;
    if (!(std::fabs((probe.Centers()[i] - g.GetPoint(i)).Dot(n)) < 0.05f)) return false;
  }
  return true;
}

// The assignment by the scalar formula, sample by sample.
Probe::Clusters ScalarAssignment(Probe& probe, const Probe::Collection& c) {
  Probe::Clusters clusters(7);
  for (unsigned int s = 0; s < c->GetNrSurfels(); ++s) {
    float best = std::numeric_limits<float>::max();
    size_t bestPlane = 0;
    for (size_t j = 0; j < 7; ++j) {
      const float d = probe.Distance(j, c, s);
      if (best > d) {
        best = d;
        bestPlane = j;
      }
    }
    clusters[bestPlane].push_back(s);
  }
  return clusters;
}

}  // namespace

TEST(KaCPlaneDistanceKernel, AssignmentsEqualScalarOnes) {
  for (float fNoise : {0.0f, 0.01f}) {
    Probe::Collection scan = PhantomScanGenerator(ScanParameters(20000, fNoise)).Generate();
    KaCCalibrationPhantomCCTAnalyzer a(scan, scan, 7);
    Probe probe(a);
    // The random seed planes of ten restarts, then the final planes of an analysis.
    for (int iState = 0; iState <= 10; ++iState) {
      std::srand(static_cast<unsigned int>(iState));
      if (iState < 10) {
        probe.InitPlanes();
      } else {
        (void)a.Compute();
      }
      Probe::Clusters fast(7);
      probe.Distribute(scan, fast);
      ASSERT_EQ(fast, ScalarAssignment(probe, scan)) << "noise " << fNoise << " state " << iState;
    }
  }
}

TEST(KaCCalibrationPhantomCCTAnalyzer, ShapeInitialisationFindsWallsByFacing) {
  GeneratedScan run(ScanParameters(20000, 0.0f));
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

TEST(KaCCalibrationPhantomCCTAnalyzer, MeasuresTrueGeometryAcrossNoiseAndDeformations) {
  // Noise levels in mm and the error bound each must meet, about twice the error measured:
  // 0.013, 0.82, 1.67 and 3.36 µm.
  const float noises[4] = {0.0f, 0.005f, 0.01f, 0.02f};
  const double bounds[4] = {0.05, 1.5, 3.0, 6.0};
  for (int k = 0; k < 4; ++k) {
    GeneratedScan run(ScanParameters(100000, noises[k]));
    KaCCalibrationPhantomCCTAnalyzer a(run.scan, run.scan, 7);
    std::srand(11);
    (void)a.Compute();
    const double worst = WorstErrorMicrons(a, run.generator);
    std::cout << "[ info ] noise " << noises[k] * 1000.0f << " um: worst depth/width/height error "
              << worst << " um\n";
    EXPECT_LE(worst, bounds[k]);
    if (k == 2) {
      // Each face gets its role: the clusters hold the samples generated on their faces.
      const auto labels = run.scan->GetAccessor<unsigned int>(eSurfelAttributeValue);
      for (unsigned int i = 0; i < 7; ++i) {
        const std::vector<unsigned int>& cluster = Probe(a).ClustersOf()[i];
        ASSERT_GT(cluster.size(), 2500u) << i;
        const auto nRight = std::count_if(cluster.begin(), cluster.end(),
                                          [&](unsigned int s) { return labels[s] == i; });
        EXPECT_GT(static_cast<double>(nRight), 0.99 * static_cast<double>(cluster.size())) << i;
      }
    }
  }

  // Known deformations: 1 % longer in x, and wall 3 tilted by 2 degrees.
  PhantomScanGenerator::Parameters scaled = ScanParameters(100000, 0.0f);
  scaled.scale = CbVector3f(1.01f, 1.0f, 1.0f);
  PhantomScanGenerator::Parameters tilted = ScanParameters(100000, 0.0f);
  tilted.iTiltedWall = 3;
  tilted.fTiltDegrees = 2.0f;
  const PhantomScanGenerator nominal(ScanParameters(1, 0.0f));
  for (const auto& p : {scaled, tilted}) {
    GeneratedScan run(p);
    KaCCalibrationPhantomCCTAnalyzer a(run.scan, run.scan, 7);
    std::srand(5);
    (void)a.Compute();
    EXPECT_LE(WorstErrorMicrons(a, run.generator), 1.0);
  }
  // The heights span x and grow by nearly the full 1 %, the widths span y and barely change.
  const PhantomScanGenerator g(scaled);
  for (int k = 0; k < 4; ++k) {
    EXPECT_NEAR(g.GetHeight(k) / nominal.GetHeight(k), 1.01, 0.0006) << k;
    EXPECT_NEAR(g.GetWidth(k) / nominal.GetWidth(k), 1.0, 0.0006) << k;
  }
}

TEST(KaCCalibrationPhantomCCTAnalyzer, NinetyNineOfHundredRandStatesFindTheFaces) {
  GeneratedScan run(ScanParameters(3000, 0.01f));
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

// Restarts are told apart by the rand() states they start from: replaying InitPlanes and the
// k-means for a state gives each restart's error, and the clusters that Compute leaves show
// whether it kept a restart with an empty plane (error NaN).
TEST(KaCCalibrationPhantomCCTAnalyzer, RestartWithNaNErrorIsKeptFirstAndNeverTakenLater) {
  // A scan with a sparse floor: some restarts seed no plane on it and end with an empty one.
  PhantomScanGenerator::Parameters p = ScanParameters(1500, 0.01f);
  p.faceDensity[5] = 0.1f;
  const Probe::Collection scan = PhantomScanGenerator(p).Generate();
  const auto restartErrors = [&](unsigned int state) {
    KaCCalibrationPhantomCCTAnalyzer a(scan, scan, 7);
    Probe probe(a);
    std::srand(state);
    std::vector<float> errors;
    for (int r = 0; r < 3; ++r) {
      probe.InitPlanes();
      probe.KMeans();
      errors.push_back(a.GetAverageError(scan));
    }
    return errors;
  };
  const auto keepsEmptyPlane = [&](unsigned int state) {
    KaCCalibrationPhantomCCTAnalyzer a(scan, scan, 7);
    std::srand(state);
    (void)a.Compute();
    for (size_t i = 0; i < 7; ++i) {
      if (a.GetNrSamples(i) == 0) return true;
    }
    return false;
  };
  int nFirst = 0, nLater = 0;
  for (unsigned int state = 0; state < 400 && (nFirst < 2 || nLater < 2); ++state) {
    const std::vector<float> e = restartErrors(state);
    if (std::isnan(e[0]) && !std::isnan(e[1]) && !std::isnan(e[2]) && nFirst < 2) {
      EXPECT_TRUE(keepsEmptyPlane(state)) << "state " << state;
      ++nFirst;
    } else if (!std::isnan(e[0]) && (std::isnan(e[1]) || std::isnan(e[2])) && nLater < 2) {
      EXPECT_FALSE(keepsEmptyPlane(state)) << "state " << state;
      ++nLater;
    }
  }
  EXPECT_EQ(nFirst, 2);
  EXPECT_EQ(nLater, 2);
}
