#pragma once

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>

#include <vector>

#include "synth/PhantomScanGenerator.h"

// White-box access to the analyzer's stages and members for the tests and benchmarks. The
// analyzer's header declares no test hook: AnalyzerProbe.cpp takes the member pointers through
// explicit template instantiations, where the language does not check access.

/// The analyzer's private stages and members, by reference to one analyzer.
struct KaCCalibrationPhantomCCTAnalyzerProbe {
  using Clusters = std::vector<std::vector<unsigned int>>;
  using Collection = CbSmartPointer<const KaCSurfelCollectionCCT>;

  explicit KaCCalibrationPhantomCCTAnalyzerProbe(KaCCalibrationPhantomCCTAnalyzer& a) : m(a) {}

  std::vector<CyPlane>& Planes();
  std::vector<CbVector3f>& Centers();
  Clusters& ClustersOf();
  size_t Iterations();
  Collection Clustering();
  Collection Samples();

  float Distance(size_t i, const CbVector3f& p, const CbVector3f& n);
  float Distance(size_t i, Collection c, unsigned int s);
  void Distribute(Collection c, Clusters& clusters);
  void KMeans();
  void EstimatePlanes(Collection c, const Clusters& clusters);
  void RemoveOutliers(float f, Collection c, Clusters& clusters);
  CbVector3f AverageNormal();
  void InitPlanes();
  void InitPlanes2();
  void Sort(const CbVector3f& d, size_t first, size_t last, Clusters& clusters);
  void Measure();

  KaCCalibrationPhantomCCTAnalyzer& m;
};

/// Generator parameters of an n-surfel scan with Gaussian position noise of fNoise mm.
inline tolvane::synth::PhantomScanGenerator::Parameters ScanParameters(unsigned int n,
                                                                       float fNoise) {
  tolvane::synth::PhantomScanGenerator::Parameters p;
  p.nNrSurfels = n;
  p.fNoiseSigma = fNoise;
  return p;
}
