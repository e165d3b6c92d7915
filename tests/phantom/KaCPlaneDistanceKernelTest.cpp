// The vectorised assignment (libmvec acosf) against the scalar distance, on generated scans.
#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include <tolvane/KaCPhantomScanGenerator.h>

#include <cstdlib>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "tests/phantom/AnalyzerProbe.h"

namespace {

using Probe = KaCCalibrationPhantomCCTAnalyzerProbe;

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
    KaCPhantomScanGenerator::Parameters p;
    p.nNrSurfels = 20000;
    p.fNoiseSigma = fNoise;
    Probe::Collection scan = KaCPhantomScanGenerator(p).Generate();
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
