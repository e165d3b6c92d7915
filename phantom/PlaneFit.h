#pragma once

#include <cstddef>

#include "base/CbVector3f.h"
#include "geometry/CyPlane.h"
#include "geometry/KaCCorrMath.h"

namespace tolvane {

/// The least-squares plane fit of the phantom analysis, split into its steps so that the
/// analyzer's fit of one cluster and the fused passes of the clustering share one arithmetic:
///
/// 1. the positions of the cluster are summed in float in the cluster's order, from 0;
/// 2. Centroid: the sums times 1.0f / n;
/// 3. Scatter::Add for every position, in the cluster's order: float deviations from the
///    centroid, their float products widened to double and summed;
/// 4. Plane: the eigenvector of the smallest eigenvalue of the scatter matrix is the normal
///    (no normalisation, no orientation), the plane passes through the centroid.
///
/// Every caller that keeps these steps and orders gets bit-identical planes. No state; any
/// thread.
struct PlaneFit {
  /// Sums of x, y and z over the positions, in float.
  struct Sums {
    float x = 0.0f, y = 0.0f, z = 0.0f;
    void Add(const CbVector3f& p) noexcept {
      x += p.x;
      y += p.y;
      z += p.z;
    }
  };

  /// The scatter matrix about the centroid, not divided by the count, packed as its lower
  /// triangle row by row (xx, yx, yy, zx, zy, zz).
  struct Scatter {
    double packed[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    void Add(const CbVector3f& p, const CbVector3f& centroid) noexcept {
      const float dx = p.x - centroid.x;
      const float dy = p.y - centroid.y;
      const float dz = p.z - centroid.z;
      packed[0] += static_cast<double>(dx * dx);
      packed[1] += static_cast<double>(dx * dy);
      packed[2] += static_cast<double>(dy * dy);
      packed[3] += static_cast<double>(dx * dz);
      packed[4] += static_cast<double>(dz * dy);
      packed[5] += static_cast<double>(dz * dz);
    }
  };

  /// The centroid of n positions with these sums (NaN components when n is 0).
  [[nodiscard]] static CbVector3f Centroid(const Sums& sums, std::size_t n) noexcept {
    const float fInv = 1.0f / static_cast<float>(n);
    return CbVector3f(sums.x * fInv, sums.y * fInv, sums.z * fInv);
  }

  /// The plane through the centroid whose normal is the scatter's direction of least spread.
  [[nodiscard]] static CyPlane Plane(const Scatter& scatter, const CbVector3f& centroid) {
    double vectors[9];
    double values[3];
    KaCCorrMath::semi_definite_symmetric(scatter.packed, 3, vectors, values);
    const CbVector3f normal(static_cast<float>(vectors[6]), static_cast<float>(vectors[7]),
                            static_cast<float>(vectors[8]));
    return CyPlane(normal, centroid);
  }
};

}  // namespace tolvane
