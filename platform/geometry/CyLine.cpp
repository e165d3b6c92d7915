#include "geometry/CyLine.h"

#include <cmath>

CyLine::CyLine(const CbVector3f& point, const CbVector3f& direction) : m_point(point) {
  const double dx = direction.x;
  const double dy = direction.y;
  const double dz = direction.z;
  const double len = std::sqrt(dx * dx + dy * dy + dz * dz);
  if (!(len > 0.0) || !std::isfinite(len) || !std::isfinite(point.x) || !std::isfinite(point.y) ||
      !std::isfinite(point.z)) {
    m_point = CbVector3f();
    return;
  }
  m_direction = CbVector3f(static_cast<float>(dx / len), static_cast<float>(dy / len),
                           static_cast<float>(dz / len));
  m_bValid = true;
}
