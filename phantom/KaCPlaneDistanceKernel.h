#pragma once

#include <cstddef>
#include <vector>

#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyPlane.h"

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

  /// The distances of n samples, given as separate coordinate arrays of positions (px, py, pz)
  /// and unit normals (mx, my, mz), from one plane, by the loop that the assignment uses; for
  /// benchmarks and for tests that compare it with the scalar formula.
  static void Distances(const float* px, const float* py, const float* pz, const float* mx,
                        const float* my, const float* mz, std::size_t n, const CyPlane& plane,
                        float* pDistances);
};
