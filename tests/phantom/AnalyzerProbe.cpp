#include "tests/phantom/AnalyzerProbe.h"

namespace {

using A = KaCCalibrationPhantomCCTAnalyzer;
using Probe = KaCCalibrationPhantomCCTAnalyzerProbe;
using Clusters = Probe::Clusters;
using Collection = Probe::Collection;

// Grant<Tag, M> defines Get(Tag), returning the member pointer M. An explicit instantiation
// may name private members, so each instantiation below hands out one of them.
template <class Tag, typename Tag::type M>
struct Grant {
  friend typename Tag::type Get(Tag) { return M; }
};

#define TOLVANE_PROBE_MEMBER(NAME, TYPE, MEMBER) \
  struct NAME {                                  \
    using type = TYPE;                           \
    friend type Get(NAME);                       \
  };                                             \
  template struct Grant<NAME, &A::MEMBER>;

TOLVANE_PROBE_MEMBER(PlanesTag, std::vector<CyPlane> A::*, m_vecPlanes)
TOLVANE_PROBE_MEMBER(CentersTag, std::vector<CbVector3f> A::*, m_vecCenters)
TOLVANE_PROBE_MEMBER(ClustersTag, Clusters A::*, m_vecClusters)
TOLVANE_PROBE_MEMBER(IterationsTag, size_t A::*, m_nNrIterations)
TOLVANE_PROBE_MEMBER(ClusteringTag, Collection A::*, m_pClusteringSamples)
TOLVANE_PROBE_MEMBER(SamplesTag, Collection A::*, m_pSamples)
TOLVANE_PROBE_MEMBER(DistanceTag, float (A::*)(size_t, const CbVector3f&, const CbVector3f&),
                     GetDistanceToCluster)
TOLVANE_PROBE_MEMBER(SampleDistanceTag, float (A::*)(size_t, Collection, unsigned int),
                     GetDistanceToCluster)
TOLVANE_PROBE_MEMBER(DistributeTag, void (A::*)(Collection, Clusters&), DistributeSamplesToClusters)
TOLVANE_PROBE_MEMBER(KMeansTag, void (A::*)(), ComputeKMeansClustering)
TOLVANE_PROBE_MEMBER(EstimatePlanesTag, void (A::*)(Collection, const Clusters&), EstimatePlanes)
TOLVANE_PROBE_MEMBER(RemoveOutliersTag, void (A::*)(float, Collection, Clusters&), RemoveOutliers)
TOLVANE_PROBE_MEMBER(AverageNormalTag, CbVector3f (A::*)(), GetAverageNormal)
TOLVANE_PROBE_MEMBER(InitPlanesTag, void (A::*)(), InitPlanes)
TOLVANE_PROBE_MEMBER(InitPlanes2Tag, void (A::*)(), InitPlanes2)
TOLVANE_PROBE_MEMBER(SortTag, void (A::*)(const CbVector3f&, size_t, size_t, Clusters&), SortPlanes)
TOLVANE_PROBE_MEMBER(MeasureTag, void (A::*)(), MeasurePhantom)

#undef TOLVANE_PROBE_MEMBER

}  // namespace

std::vector<CyPlane>& Probe::Planes() { return m.*Get(PlanesTag{}); }
std::vector<CbVector3f>& Probe::Centers() { return m.*Get(CentersTag{}); }
Clusters& Probe::ClustersOf() { return m.*Get(ClustersTag{}); }
size_t Probe::Iterations() { return m.*Get(IterationsTag{}); }
Collection Probe::Clustering() { return m.*Get(ClusteringTag{}); }
Collection Probe::Samples() { return m.*Get(SamplesTag{}); }

float Probe::Distance(size_t i, const CbVector3f& p, const CbVector3f& n) {
  return (m.*Get(DistanceTag{}))(i, p, n);
}
float Probe::Distance(size_t i, Collection c, unsigned int s) {
  return (m.*Get(SampleDistanceTag{}))(i, c, s);
}
void Probe::Distribute(Collection c, Clusters& clusters) { (m.*Get(DistributeTag{}))(c, clusters); }
void Probe::KMeans() { (m.*Get(KMeansTag{}))(); }
void Probe::EstimatePlanes(Collection c, const Clusters& clusters) {
  (m.*Get(EstimatePlanesTag{}))(c, clusters);
}
void Probe::RemoveOutliers(float f, Collection c, Clusters& clusters) {
  (m.*Get(RemoveOutliersTag{}))(f, c, clusters);
}
CbVector3f Probe::AverageNormal() { return (m.*Get(AverageNormalTag{}))(); }
void Probe::InitPlanes() { (m.*Get(InitPlanesTag{}))(); }
void Probe::InitPlanes2() { (m.*Get(InitPlanes2Tag{}))(); }
void Probe::Sort(const CbVector3f& d, size_t first, size_t last, Clusters& clusters) {
  (m.*Get(SortTag{}))(d, first, last, clusters);
}
void Probe::Measure() { (m.*Get(MeasureTag{}))(); }
