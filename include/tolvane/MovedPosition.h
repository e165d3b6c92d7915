#pragma once

#include "base/CbMatrix4.h"
#include "base/CbVector3f.h"

namespace tolvane {

/// The position p moved by the column-major matrix m as the distance computation moves it: the
/// homogeneous point (x, y, z, 1) multiplied in double, divided by its fourth component, then
/// narrowed to float. Shared by the distance computation and everything that shows or exports
/// the moved positions, so that they agree bit for bit.
[[nodiscard]] inline CbVector3f MovedPosition(const CbMatrix4Rd& matrix,
                                              const CbVector3f& p) noexcept {
  const double* const m = matrix.m;
  const double x = p.x;
  const double y = p.y;
  const double z = p.z;
  const double xp = m[0] * x + m[4] * y + m[8] * z + m[12];
  const double yp = m[1] * x + m[5] * y + m[9] * z + m[13];
  const double zp = m[2] * x + m[6] * y + m[10] * z + m[14];
  const double wp = m[3] * x + m[7] * y + m[11] * z + m[15];
  return {static_cast<float>(xp / wp), static_cast<float>(yp / wp), static_cast<float>(zp / wp)};
}

}  // namespace tolvane
