#pragma once

#include <tolvane/Export.h>

#include <cmath>

#include "base/CbVector3f.h"
#include "geometry/CyLine.h"
#include "geometry/CyPlanarRegion.h"

/// A plane of 3D space, built from a normal and a point on it (see CyPlanarRegion for what is
/// kept). A value type; no locking.
///
/// GetDistance is the unsigned distance. The phantom analyzer orders a plane's samples by this
/// value to drop outliers; with the magnitude it trims both sides of the plane alike, while a
/// signed value would trim one side only and shift every refitted plane by about a quarter of
/// the noise (see docs/phantom.md).
class TOLVANE_API CyPlane : public CyPlanarRegion {
 public:
  CyPlane() = default;
  /// The plane through point with the given normal (kept as given).
  CyPlane(const CbVector3f& normal, const CbVector3f& point) noexcept
      : CyPlanarRegion(normal, point) {}
  CyPlane(const CyPlane&) = default;
  CyPlane& operator=(const CyPlane&) = default;
  ~CyPlane() override = default;

  /// The point where a line meets this plane (see CyPlanarRegion::Intersect).
  using CyPlanarRegion::Intersect;

  /// The signed distance of p along the normal, in float, evaluated exactly as
  /// ((p.x - q.x) * n.x + (p.y - q.y) * n.y) + (p.z - q.z) * n.z with q the plane's point and
  /// n its normal. Vectorised callers rely on this order.
  [[nodiscard]] float GetSignedDistance(const CbVector3f& p) const noexcept {
    return ((p.x - m_point.x) * m_normal.x + (p.y - m_point.y) * m_normal.y) +
           (p.z - m_point.z) * m_normal.z;
  }
  /// The distance of p from the plane: |GetSignedDistance(p)|.
  [[nodiscard]] float GetDistance(const CbVector3f& p) const noexcept {
    return std::fabs(GetSignedDistance(p));
  }

  /// Writes the line where this plane and other meet into line and returns 1. Returns 0 and
  /// leaves line untouched when the planes are parallel (the cross product of the normals is
  /// shorter than 1e-9 of the product of their lengths) or a value is not finite. Computed in
  /// double precision.
  int Intersect(const CyPlane& other, CyLine& line) const;
};
