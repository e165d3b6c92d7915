#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyPlane.h"
#include "phantom/PlaneFit.h"

/// The hot loop of the phantom clustering: the distance of every sample to every plane and the
/// assignment of each sample to its nearest plane. Private to the phantom analyzer.
///
/// The distance of a sample with position p and unit normal m from plane j is
/// acosf(|c|) / 3.1415927f * 0.5f + |d|, with d the plane's GetSignedDistance(p) and
/// c = (m.x * n.x + m.y * n.y) + m.z * n.z, all in float in this order. Samples are processed
/// in blocks; the float arithmetic per sample is exactly that of the scalar formula, and acosf
/// runs through glibc's vector variant (libmvec) where the compiler vectorises the loop.
class KaCPlaneDistanceKernel {
 public:
  /// Appends every sample index s of the collection, in increasing order, to clusters[j] of
  /// the plane j < nPlanes with the smallest distance. Ties go to the lower plane; a distance
  /// that is NaN or not below the largest finite float never wins, and a sample that no plane
  /// wins goes to plane 0. clusters must hold at least nPlanes entries and nPlanes must be at
  /// least 1. Reads positions (attribute 0) and normal codes; their accessors' exceptions pass
  /// through.
  ///
  /// With AVX2, at most eight planes and enough samples, the angle terms are computed once per
  /// normal code present rather than once per sample (AngleRows), with the same acosf lanes, so
  /// that the result is that of AssignToNearestPlanesInBlocks.
  static void AssignToNearestPlanes(const KaCSurfelCollectionCCT& samples, const CyPlane* pPlanes,
                                    std::size_t nPlanes,
                                    std::vector<std::vector<unsigned int>>& clusters);

  /// The same assignment, always in blocks of 256 samples with every distance computed per
  /// sample.
  static void AssignToNearestPlanesInBlocks(const KaCSurfelCollectionCCT& samples,
                                            const CyPlane* pPlanes, std::size_t nPlanes,
                                            std::vector<std::vector<unsigned int>>& clusters);

  /// The distances of n samples, given as separate coordinate arrays of positions (px, py, pz)
  /// and unit normals (mx, my, mz), from one plane, by the loop that the assignment uses; for
  /// benchmarks and for tests that compare it with the scalar formula.
  static void Distances(const float* px, const float* py, const float* pz, const float* mx,
                        const float* my, const float* mz, std::size_t n, const CyPlane& plane,
                        float* pDistances);

  /// The largest number of planes KMeansSweeps handles (labels are bytes).
  static constexpr std::size_t c_nMaxFusedPlanes = 256;

  /// Angle terms acosf(|c|) / 3.1415927f * 0.5f of every normal code present in a collection:
  /// a row of eight floats per code present, one per plane (NaN beyond the planes), 32-byte
  /// aligned.
  /// The terms are computed by an eight-lane loop like the distance loop's, over the present
  /// codes padded to whole vectors. AVX2 only.
  class AngleRows {
   public:
    explicit AngleRows(const KaCSurfelCollectionCCT& samples);
    AngleRows(const AngleRows&) = delete;
    AngleRows& operator=(const AngleRows&) = delete;
    /// Computes the rows for these planes (nPlanes <= 8).
    void Fill(const CyPlane* pPlanes, std::size_t nPlanes);
    [[nodiscard]] const float* Row(unsigned short code) const noexcept {
      return m_pRows + static_cast<std::size_t>(m_rowOfCode[code]) * 8u;
    }

   private:
    std::vector<unsigned short> m_rowOfCode;  // row of each code present
    std::unique_ptr<float[]> m_storage;
    float* m_pRows = nullptr;
    std::vector<unsigned short> m_codes;
    std::vector<float> m_mx, m_my, m_mz, m_terms;
  };

  /// The passes of a k-means clustering over one collection, each in two sweeps instead of one
  /// sweep plus a gather per plane, with the clusters kept as one byte per sample (the plane
  /// index) and built as index lists only when asked for. Assign gives every sample the plane
  /// that AssignToNearestPlanes would append it to and adds its position to pSums[plane]
  /// (PlaneFit::Sums::Add, in increasing sample order, that is in each cluster's order) and 1
  /// to pCounts[plane]; both hold nPlanes entries that start at 0. AddScatter then adds every
  /// position to pScatter[plane] about pCentroids[plane] (PlaneFit::Scatter::Add, in the same
  /// order). Keeps the collection by reference and two bytes per sample; one thread.
  class KMeansSweeps {
   public:
    /// nPlanes <= c_nMaxFusedPlanes.
    KMeansSweeps(const KaCSurfelCollectionCCT& samples, std::size_t nPlanes);
    KMeansSweeps(const KMeansSweeps&) = delete;
    KMeansSweeps& operator=(const KMeansSweeps&) = delete;
    ~KMeansSweeps();
    void Assign(const CyPlane* pPlanes, tolvane::PlaneFit::Sums* pSums, std::size_t* pCounts);
    void AddScatter(const CbVector3f* pCentroids, tolvane::PlaneFit::Scatter* pScatter) const;
    /// Whether the last Assign gave every sample the plane of the one before (after two).
    [[nodiscard]] bool SameAsPreviousPass() const;
    /// Empties the clusters (at least nPlanes) and fills them from the last Assign, each in
    /// increasing sample order.
    void GetClusters(std::vector<std::vector<unsigned int>>& clusters) const;

   private:
    const KaCSurfelCollectionCCT& m_samples;
    std::size_t m_nPlanes;
    std::vector<unsigned char> m_labels;
    std::vector<unsigned char> m_previousLabels;
    std::unique_ptr<AngleRows> m_pRows;  // null where the block loop serves
  };

 private:
  [[nodiscard]] static bool UsesAngleRows(const KaCSurfelCollectionCCT& samples,
                                          std::size_t nPlanes);
};
