#pragma once

#include <tolvane/Export.h>

#include <cstddef>
#include <string>
#include <vector>

#include "base/CbSmartPointer.h"
#include "base/CbVector3f.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyPlane.h"

/// Analyses a scan of the calibration phantom, a body with seven flat faces: a wide rim face
/// around a frustum-shaped cavity, four walls, the cavity floor and a seventh face beyond the
/// floor. Compute clusters the samples onto planes, fits and cleans the planes, orders them
/// into their roles (0 rim, 1 and 2 the walls on the -y and +y sides, 3 and 4 those on the -x
/// and +x sides, 5 floor, 6 seventh face), intersects them into the eight corners A to H of the
/// frustum and measures depth, shearing, width and height against the nominal phantom (lengths
/// in millimetres, deviations in micrometres). The results are read through the getters.
///
/// Ownership: the analyzer shares both collections through counted pointers (one reference
/// each) and only reads them; the caller must not change them while Compute runs. A copy of the
/// analyzer shares them too.
///
/// Randomness: the plane initialisation draws from the C library's rand(), which the library
/// never seeds, so results depend on the state in which the process's generator is found.
///
/// Threads: one thread at a time per analyzer; nothing is locked. rand() is shared with the
/// rest of the process.
class TOLVANE_API KaCCalibrationPhantomCCTAnalyzer {
 public:
  /// Holds both collections and nNrPlanes default planes, unset centres and empty clusters.
  /// Throws CbException when a collection pointer is null or nNrPlanes is 0. Compute needs at
  /// least seven planes (it refuses fewer); the stages work with any positive number.
  KaCCalibrationPhantomCCTAnalyzer(CbSmartPointer<const KaCSurfelCollectionCCT> pClusteringSamples,
                                   CbSmartPointer<const KaCSurfelCollectionCCT> pSamples,
                                   size_t nNrPlanes);
  /// Copies every member; the collections are shared.
  KaCCalibrationPhantomCCTAnalyzer(const KaCCalibrationPhantomCCTAnalyzer& other);
  /// Takes over the collections, planes, centres, clusters and lines, leaving them null and
  /// empty in other; copies the counts, durations and texts (other keeps its texts).
  KaCCalibrationPhantomCCTAnalyzer(KaCCalibrationPhantomCCTAnalyzer&& other) noexcept;
  KaCCalibrationPhantomCCTAnalyzer& operator=(const KaCCalibrationPhantomCCTAnalyzer&) = delete;
  KaCCalibrationPhantomCCTAnalyzer& operator=(KaCCalibrationPhantomCCTAnalyzer&&) = delete;
  ~KaCCalibrationPhantomCCTAnalyzer();

  /// Runs the analysis: three random restarts of initialisation and k-means on the clustering
  /// collection (the one with the smallest average error wins), assignment of the samples
  /// collection to the planes, three outlier passes that keep trunc(n * 0.85) + 1 samples per
  /// plane, ordering, measurement. Returns a new copy of the samples collection coloured by
  /// plane (value i + 1 for plane i, 0 for outliers, on the range 0 to GetNrPlanes()); the
  /// caller shares its ownership.
  ///
  /// Throws CbException, before changing anything, when the analyzer has fewer than seven
  /// planes or no collections (moved from). A clustering collection with fewer surfels than
  /// planes leaves the initial planes as they are, and the results come out NaN; no exception.
  /// Exceptions of the collection (no positions, no normals) pass through. The two durations
  /// add up over calls; everything else is replaced.
  CbSmartPointer<KaCSurfelCollectionCCT> Compute();

  [[nodiscard]] size_t GetNrPlanes() { return m_nNrPlanes; }
  /// The number of samples in cluster i (i < GetNrPlanes(), unchecked).
  [[nodiscard]] size_t GetNrSamples(size_t i) { return m_vecClusters[i].size(); }
  /// The normal of plane i (i < GetNrPlanes(), unchecked).
  [[nodiscard]] CbVector3f GetNormal(size_t i) { return m_vecPlanes[i].GetNormal(); }
  /// k-means passes of the last clustering run whose assignment changed (at most 100).
  [[nodiscard]] size_t GetNrIterations() { return m_nNrIterations; }
  /// Seconds of processor time spent in plane initialisation, summed over all restarts of all
  /// Compute calls.
  [[nodiscard]] float GetInitializationDuration() { return m_fInitializationDuration; }
  /// Seconds spent in initialisation and k-means, summed like GetInitializationDuration.
  [[nodiscard]] float GetOverallDuration() { return m_fOverallDuration; }
  /// 40 points read in pairs after a measurement: the eight corners A to H, each with its
  /// deviation from the fitted nominal corner magnified 100 times, then the twelve edges of
  /// the measured frustum. Valid while the analyzer lives.
  [[nodiscard]] const std::vector<CbVector3f>& GetLines() { return m_vecLines; }

  /// The mean over the planes of GetAverageError(i, pSamples); NaN when a plane has no
  /// samples or there are no clusters. pSamples must be the collection the clusters index.
  [[nodiscard]] float GetAverageError(CbSmartPointer<const KaCSurfelCollectionCCT> pSamples);
  /// The mean distance of plane i's clustered samples from the plane, in millimetres. A null
  /// pSamples means the samples collection.
  [[nodiscard]] float GetAverageError(size_t i,
                                      CbSmartPointer<const KaCSurfelCollectionCCT> pSamples);

  /// "Depth: ..." text of the last measurement (empty before the first).
  [[nodiscard]] std::wstring GetDepthStatistics() { return m_strDepthStatistics; }
  /// "Width: ..." text of the last measurement.
  [[nodiscard]] std::wstring GetWidthStatistics() { return m_strWidthStatistics; }
  /// "Height: ..." text of the last measurement.
  [[nodiscard]] std::wstring GetHeightStatistics() { return m_strHeightStatistics; }
  /// "Shearing: ..." text of the last measurement.
  [[nodiscard]] std::wstring GetShearingStatistics() { return m_strShearingStatistics; }

 private:
  void InitPlanes();
  void InitPlanes2();
  void SortPlanes(const CbVector3f& direction, size_t first, size_t last,
                  std::vector<std::vector<unsigned int>>& clusters);
  void SortPlanes(const CbVector3f& normal, std::vector<std::vector<unsigned int>>& clusters);

  void ComputeKMeansClustering();
  void DistributeSamplesToClusters(CbSmartPointer<const KaCSurfelCollectionCCT> pSamples,
                                   std::vector<std::vector<unsigned int>>& clusters);
  void ClearClusters(std::vector<std::vector<unsigned int>>& clusters);
  [[nodiscard]] float GetDistanceToCluster(size_t i, const CbVector3f& position,
                                           const CbVector3f& normal);
  [[nodiscard]] float GetDistanceToCluster(size_t i,
                                           CbSmartPointer<const KaCSurfelCollectionCCT> pSamples,
                                           unsigned int nSample);

  void EstimatePlane(CbSmartPointer<const KaCSurfelCollectionCCT> pSamples,
                     const std::vector<unsigned int>& cluster, size_t i);
  void EstimatePlanes(CbSmartPointer<const KaCSurfelCollectionCCT> pSamples,
                      const std::vector<std::vector<unsigned int>>& clusters);
  void RemoveOutliers(float fFraction, CbSmartPointer<const KaCSurfelCollectionCCT> pSamples,
                      std::vector<std::vector<unsigned int>>& clusters);
  [[nodiscard]] CbVector3f GetAverageNormal();

  void MeasurePhantom();

  size_t m_nNrPlanes;
  CbSmartPointer<const KaCSurfelCollectionCCT> m_pClusteringSamples;
  CbSmartPointer<const KaCSurfelCollectionCCT> m_pSamples;
  std::vector<CyPlane> m_vecPlanes;
  std::vector<CbVector3f> m_vecCenters;
  std::vector<std::vector<unsigned int>> m_vecClusters;
  size_t m_nNrIterations;
  float m_fInitializationDuration;
  float m_fOverallDuration;
  std::wstring m_strDepthStatistics;
  std::wstring m_strShearingStatistics;
  std::wstring m_strWidthStatistics;
  std::wstring m_strHeightStatistics;
  std::vector<CbVector3f> m_vecLines;
};
