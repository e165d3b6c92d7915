#pragma once

#include <tolvane/Export.h>

#include "base/CbVector3f.h"
#include "geometry/CyLine.h"

/// The plane that carries a flat region: a normal and a point on the plane. The normal is kept
/// exactly as given, neither normalised nor oriented; the distance and intersection operations
/// assume it is of unit length, as the normals that the library passes are. A value type with a
/// virtual destructor; no locking.
class TOLVANE_API CyPlanarRegion {
 public:
  /// Normal and point are zero.
  CyPlanarRegion() = default;
  CyPlanarRegion(const CbVector3f& normal, const CbVector3f& point) noexcept
      : m_normal(normal), m_point(point) {}
  CyPlanarRegion(const CyPlanarRegion&) = default;
  CyPlanarRegion& operator=(const CyPlanarRegion&) = default;
  virtual ~CyPlanarRegion() = default;

  [[nodiscard]] const CbVector3f& GetNormal() const noexcept { return m_normal; }
  /// The point the plane was built through.
  [[nodiscard]] const CbVector3f& GetPoint() const noexcept { return m_point; }

  /// Writes the point where line meets this plane into intersection and returns 1. Returns 0
  /// and leaves intersection untouched when the line is empty, runs parallel to the plane
  /// (|cos| of the angle between direction and normal below 1e-9 of the normal's length), or
  /// a value is not finite. Computed in double precision.
  int Intersect(const CyLine& line, CbVector3f& intersection) const;

 protected:
  CbVector3f m_normal;
  CbVector3f m_point;
};
