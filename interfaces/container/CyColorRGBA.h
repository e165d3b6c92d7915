#pragma once

#include <tolvane/Export.h>

#include <cstdint>

/// Packing of a floating-point RGBA colour.
class TOLVANE_API CyColorRGBA {
 public:
  /// Packs four components in 0..1 as 0xAARRGGBB. Each is clamped to 0..1 (NaN gives 0) and
  /// rounded to the nearest byte, so (0.5, 0.5, 0.5, 1.0) gives 0xFF808080, mid grey.
  [[nodiscard]] static std::uint32_t ConvertToUInt32(float r, float g, float b, float a) noexcept {
    return (Byte(a) << 24) | (Byte(r) << 16) | (Byte(g) << 8) | Byte(b);
  }

 private:
  static std::uint32_t Byte(float f) noexcept {
    if (!(f > 0.0f)) return 0u;
    if (f >= 1.0f) return 255u;
    return static_cast<std::uint32_t>(f * 255.0f + 0.5f);
  }
};
