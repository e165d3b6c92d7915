#include "geometry/CyPlanarRegion.h"

#include <cmath>

namespace {

struct Vec3d {
  double x, y, z;
};

Vec3d ToDouble(const CbVector3f& v) { return {v.x, v.y, v.z}; }
double Dot(const Vec3d& a, const Vec3d& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
bool IsFinite(const Vec3d& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
CbVector3f ToFloat(const Vec3d& v) {
  return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

}  // namespace

int CyPlanarRegion::Intersect(const CyLine& line, CbVector3f& intersection) const {
  if (!line.IsValid()) return 0;
  const Vec3d n = ToDouble(m_normal);
  const Vec3d q = ToDouble(m_point);
  const Vec3d p = ToDouble(line.GetPoint());
  const Vec3d d = ToDouble(line.GetDirection());
  if (!IsFinite(n) || !IsFinite(q)) return 0;
  const double denom = Dot(n, d);
  const double nLen = std::sqrt(Dot(n, n));
  if (!(std::fabs(denom) > 1e-9 * nLen)) return 0;
  // p + t d lies on the plane when n . (p + t d - q) = 0.
  const Vec3d pq = {q.x - p.x, q.y - p.y, q.z - p.z};
  const double t = Dot(n, pq) / denom;
  const Vec3d x = {p.x + t * d.x, p.y + t * d.y, p.z + t * d.z};
  if (!IsFinite(x)) return 0;
  intersection = ToFloat(x);
  return 1;
}
