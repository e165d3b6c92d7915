#pragma once

namespace tolvane {

/// The scatter matrix of points about a centre, in double precision and not divided by the
/// count, packed as its lower triangle row by row (xx, yx, yy, zx, zy, zz): the layout that
/// KaCCorrMath::semi_definite_symmetric reads, whose eigenvector of the smallest eigenvalue is
/// the normal of the least-squares plane through the centre. Adding the same deviations in the
/// same order gives the same sums. A plain value; any thread.
struct CentredScatter {
  double packed[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};

  /// Adds one point's deviation from the centre.
  void Add(double dx, double dy, double dz) noexcept {
    packed[0] += dx * dx;
    packed[1] += dy * dx;
    packed[2] += dy * dy;
    packed[3] += dz * dx;
    packed[4] += dz * dy;
    packed[5] += dz * dz;
  }
};

}  // namespace tolvane
