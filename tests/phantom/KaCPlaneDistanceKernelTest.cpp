// The vectorised assignment (libmvec acosf) against the scalar distance, on generated scans.
#include "phantom/KaCPlaneDistanceKernel.h"

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include <tolvane/KaCPhantomScanGenerator.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "container/KaCNormalCodec.h"
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
  size_t nCompared = 0, nBitDifferences = 0;
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

      // For the record: how often the vector acosf differs from the scalar one in the last bit.
      std::vector<float> px, py, pz, mx, my, mz, d(scan->GetNrSurfels());
      for (unsigned int s = 0; s < scan->GetNrSurfels(); ++s) {
        const CbVector3f q = scan->GetPosition(s), m = scan->GetNormal(s);
        px.push_back(q.x), py.push_back(q.y), pz.push_back(q.z);
        mx.push_back(m.x), my.push_back(m.y), mz.push_back(m.z);
      }
      for (size_t j = 0; j < 7; ++j) {
        KaCPlaneDistanceKernel::Distances(px.data(), py.data(), pz.data(), mx.data(), my.data(),
                                          mz.data(), d.size(), probe.Planes()[j], d.data());
        for (unsigned int s = 0; s < d.size(); ++s, ++nCompared) {
          const float scalar = probe.Distance(j, scan, s);
          if (std::memcmp(&scalar, &d[s], sizeof(float)) != 0) ++nBitDifferences;
        }
      }
    }
  }
  RecordProperty("distances_compared", static_cast<int>(nCompared));
  RecordProperty("distances_differing_in_bits", static_cast<int>(nBitDifferences));
  std::cout << "[ info ] " << nBitDifferences << " of " << nCompared
            << " vector distances differ from the scalar ones in their bits\n";
}
