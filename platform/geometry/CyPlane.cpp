#include "geometry/CyPlane.h"

#include <cmath>

namespace {

struct Vec3d {
  double x, y, z;
};

Vec3d ToDouble(const CbVector3f& v) { return {v.x, v.y, v.z}; }
double Dot(const Vec3d& a, const Vec3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3d Cross(const Vec3d& a, const Vec3d& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
bool IsFinite(const Vec3d& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
CbVector3f ToFloat(const Vec3d& v) {
  return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

}  // namespace

int CyPlane::Intersect(const CyPlane& other, CyLine& line) const {
  const Vec3d n1 = ToDouble(m_normal);
  const Vec3d n2 = ToDouble(other.m_normal);
  const Vec3d q1 = ToDouble(m_point);
  const Vec3d q2 = ToDouble(other.m_point);
  if (!IsFinite(n1) || !IsFinite(n2) || !IsFinite(q1) || !IsFinite(q2)) return 0;
  const Vec3d d = Cross(n1, n2);
  const double dd = Dot(d, d);
  const double scale = Dot(n1, n1) * Dot(n2, n2);
  if (!(dd > 1e-18 * scale)) return 0;
  // Relative to the first plane's point, x0 = q1 + h2 (d x n1) / |d|^2 with h2 = n2.(q2 - q1)
  // satisfies n1.(x0 - q1) = 0 and n2.(x0 - q2) = 0; small offsets keep the rounding small.
  const double h2 = Dot(n2, {q2.x - q1.x, q2.y - q1.y, q2.z - q1.z});
  const Vec3d b = Cross(d, n1);
  const Vec3d x0 = {q1.x + h2 * b.x / dd, q1.y + h2 * b.y / dd, q1.z + h2 * b.z / dd};
  if (!IsFinite(x0)) return 0;
  const double len = std::sqrt(dd);
  line = CyLine(ToFloat(x0), ToFloat({d.x / len, d.y / len, d.z / len}));
  return line.IsValid() ? 1 : 0;
}
