#pragma once

#include <tolvane/Export.h>

#include "base/CbMatrix4.h"
#include "base/CbVector3f.h"

/// A transformation of 3D points by a 4 x 4 single-precision matrix (column-major, acting on
/// column vectors), applied as a homogeneous transform. Starts as the identity. A value type;
/// no locking.
class TOLVANE_API CyTransformation {
 public:
  CyTransformation() = default;
  explicit CyTransformation(const CbMatrix4Rf& matrix) noexcept : m_matrix(matrix) {}

  [[nodiscard]] const CbMatrix4Rf& GetMatrix() const noexcept { return m_matrix; }
  void SetMatrix(const CbMatrix4Rf& matrix) noexcept { m_matrix = matrix; }

  /// M * (x, y, z, 1), divided by its fourth component.
  [[nodiscard]] CbVector3f Apply(const CbVector3f& p) const noexcept;

 private:
  CbMatrix4Rf m_matrix;
};
