#pragma once

#include <tolvane/Export.h>

#include "base/CbVector3f.h"

/// An infinite straight line in 3D: a point on it and a unit direction (millimetres in this
/// library). A default-constructed line is empty (IsValid() false) until a plane intersection
/// fills it. A plain value type; no sharing, no locking.
class TOLVANE_API CyLine {
 public:
  /// An empty line: point and direction are zero, IsValid() is false.
  CyLine() = default;
  /// The line through point along direction; direction is normalised here. A zero or
  /// non-finite direction gives an empty line.
  CyLine(const CbVector3f& point, const CbVector3f& direction);
  ~CyLine() = default;
  CyLine(const CyLine&) = default;
  CyLine& operator=(const CyLine&) = default;

  [[nodiscard]] const CbVector3f& GetPoint() const noexcept { return m_point; }
  /// Unit length when the line is valid.
  [[nodiscard]] const CbVector3f& GetDirection() const noexcept { return m_direction; }
  [[nodiscard]] bool IsValid() const noexcept { return m_bValid; }

 private:
  CbVector3f m_point;
  CbVector3f m_direction;
  bool m_bValid = false;
};
