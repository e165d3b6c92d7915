#pragma once

#include <tolvane/Export.h>

#include <cmath>

/// Three 32-bit floats: a position or a direction. A plain value type of exactly 12 bytes, so
/// arrays of it can be read through a pointer and a byte stride.
struct TOLVANE_API CbVector3f {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  constexpr CbVector3f() noexcept = default;
  constexpr CbVector3f(float fx, float fy, float fz) noexcept : x(fx), y(fy), z(fz) {}

  float& operator[](int i) noexcept { return i == 0 ? x : (i == 1 ? y : z); }
  float operator[](int i) const noexcept { return i == 0 ? x : (i == 1 ? y : z); }

  constexpr CbVector3f operator+(const CbVector3f& o) const noexcept {
    return {x + o.x, y + o.y, z + o.z};
  }
  constexpr CbVector3f operator-(const CbVector3f& o) const noexcept {
    return {x - o.x, y - o.y, z - o.z};
  }
  constexpr CbVector3f operator-() const noexcept { return {-x, -y, -z}; }
  constexpr CbVector3f operator*(float f) const noexcept { return {x * f, y * f, z * f}; }
  constexpr CbVector3f operator/(float f) const noexcept { return {x / f, y / f, z / f}; }
  CbVector3f& operator+=(const CbVector3f& o) noexcept {
    x += o.x;
    y += o.y;
    z += o.z;
    return *this;
  }
  CbVector3f& operator-=(const CbVector3f& o) noexcept {
    x -= o.x;
    y -= o.y;
    z -= o.z;
    return *this;
  }
  CbVector3f& operator*=(float f) noexcept {
    x *= f;
    y *= f;
    z *= f;
    return *this;
  }
  /// Exact comparison of all three components.
  constexpr bool operator==(const CbVector3f& o) const noexcept {
    return x == o.x && y == o.y && z == o.z;
  }
  constexpr bool operator!=(const CbVector3f& o) const noexcept { return !(*this == o); }

  /// Dot product, summed as (x*x' + y*y') + z*z'.
  [[nodiscard]] constexpr float Dot(const CbVector3f& o) const noexcept {
    return x * o.x + y * o.y + z * o.z;
  }
  [[nodiscard]] constexpr CbVector3f Cross(const CbVector3f& o) const noexcept {
    return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
  }
  [[nodiscard]] float Length() const noexcept { return std::sqrt(Dot(*this)); }
  [[nodiscard]] constexpr float SquaredLength() const noexcept { return Dot(*this); }
  /// The unit vector in the same direction; the zero vector stays zero.
  [[nodiscard]] CbVector3f Normalized() const noexcept {
    const float len = Length();
    return len > 0.0f ? CbVector3f(x / len, y / len, z / len) : CbVector3f();
  }
};

inline constexpr CbVector3f operator*(float f, const CbVector3f& v) noexcept { return v * f; }

static_assert(sizeof(CbVector3f) == 12, "CbVector3f must be three packed floats");
