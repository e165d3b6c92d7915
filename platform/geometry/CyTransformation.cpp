#include "geometry/CyTransformation.h"

CbVector3f CyTransformation::Apply(const CbVector3f& p) const noexcept {
  const CbMatrix4Rf& m = m_matrix;
  const float x = m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2) * p.z + m(0, 3);
  const float y = m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2) * p.z + m(1, 3);
  const float z = m(2, 0) * p.x + m(2, 1) * p.y + m(2, 2) * p.z + m(2, 3);
  const float w = m(3, 0) * p.x + m(3, 1) * p.y + m(3, 2) * p.z + m(3, 3);
  return {x / w, y / w, z / w};
}
