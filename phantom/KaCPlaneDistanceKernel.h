#pragma once

#include <cstddef>
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
  static void AssignToNearestPlanes(const KaCSurfelCollectionCCT& samples, const CyPlane* pPlanes,
                                    std::size_t nPlanes,
                                    std::vector<std::vector<unsigned int>>& clusters);

  /// The largest number of planes AssignAndSum and AddScatter handle (labels are bytes).
  static constexpr std::size_t c_nMaxFusedPlanes = 256;

  /// One k-means pass over the samples in two sweeps instead of one sweep plus a gather per
  /// plane. AssignAndSum does what AssignToNearestPlanes does and, in the same sweep, writes
  /// the plane of every sample s to pLabels[s] and adds its position to pSums[plane]
  /// (PlaneFit::Sums::Add, in increasing sample order, that is in each cluster's order).
  /// nPlanes <= c_nMaxFusedPlanes; pLabels holds GetNrSurfels() bytes, pSums nPlanes sums that
  /// start at 0.
  static void AssignAndSum(const KaCSurfelCollectionCCT& samples, const CyPlane* pPlanes,
                           std::size_t nPlanes, std::vector<std::vector<unsigned int>>& clusters,
                           unsigned char* pLabels, tolvane::PlaneFit::Sums* pSums);
  /// Adds the position of every sample s, in increasing order, to pScatter[pLabels[s]] about
  /// pCentroids[pLabels[s]] (PlaneFit::Scatter::Add), so that each plane's scatter is summed in
  /// its cluster's order.
  static void AddScatter(const KaCSurfelCollectionCCT& samples, const unsigned char* pLabels,
                         const CbVector3f* pCentroids, tolvane::PlaneFit::Scatter* pScatter);

  /// The distances of n samples, given as separate coordinate arrays of positions (px, py, pz)
  /// and unit normals (mx, my, mz), from one plane, by the loop that the assignment uses; for
  /// benchmarks and for tests that compare it with the scalar formula.
  static void Distances(const float* px, const float* py, const float* pz, const float* mx,
                        const float* my, const float* mz, std::size_t n, const CyPlane& plane,
                        float* pDistances);
};
