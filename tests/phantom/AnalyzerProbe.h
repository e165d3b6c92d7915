#pragma once

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>

#include <vector>

/// White-box access to the analyzer's stages and members for the tests.
struct KaCCalibrationPhantomCCTAnalyzerProbe {
  using Clusters = std::vector<std::vector<unsigned int>>;
  using Collection = CbSmartPointer<const KaCSurfelCollectionCCT>;

  explicit KaCCalibrationPhantomCCTAnalyzerProbe(KaCCalibrationPhantomCCTAnalyzer& a) : m(a) {}

  std::vector<CyPlane>& Planes() { return m.m_vecPlanes; }
  std::vector<CbVector3f>& Centers() { return m.m_vecCenters; }
  Clusters& ClustersOf() { return m.m_vecClusters; }
  size_t Iterations() { return m.m_nNrIterations; }
  Collection Clustering() { return m.m_pClusteringSamples; }
  Collection Samples() { return m.m_pSamples; }

  float Distance(size_t i, const CbVector3f& p, const CbVector3f& n) {
    return m.GetDistanceToCluster(i, p, n);
  }
  float Distance(size_t i, Collection c, unsigned int s) { return m.GetDistanceToCluster(i, c, s); }
  void Distribute(Collection c, Clusters& clusters) { m.DistributeSamplesToClusters(c, clusters); }
  void KMeans() { m.ComputeKMeansClustering(); }
  void EstimatePlanes(Collection c, const Clusters& clusters) { m.EstimatePlanes(c, clusters); }
  void RemoveOutliers(float f, Collection c, Clusters& clusters) {
    m.RemoveOutliers(f, c, clusters);
  }
  CbVector3f AverageNormal() { return m.GetAverageNormal(); }
  void InitPlanes() { m.InitPlanes(); }
  void InitPlanes2() { m.InitPlanes2(); }
  void Sort(const CbVector3f& d, size_t first, size_t last, Clusters& clusters) {
    m.SortPlanes(d, first, last, clusters);
  }
  void Measure() { m.MeasurePhantom(); }

  KaCCalibrationPhantomCCTAnalyzer& m;
};
