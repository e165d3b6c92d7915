#pragma once

#include <tolvane/Export.h>

/// A colour as three bytes R, G, B, in this order and without padding, as the colour attribute
/// (108) of a collection stores it.
struct TOLVANE_API KaCCompressedColor {
  unsigned char r = 0;
  unsigned char g = 0;
  unsigned char b = 0;

  constexpr KaCCompressedColor() noexcept = default;
  constexpr KaCCompressedColor(unsigned char red, unsigned char green, unsigned char blue) noexcept
      : r(red), g(green), b(blue) {}
  /// From three integers, each clamped to 0..255 (so that literals need no casts).
  constexpr KaCCompressedColor(int red, int green, int blue) noexcept
      : r(Clamp(red)), g(Clamp(green)), b(Clamp(blue)) {}
  /// From three components in 0..1; each is clamped to 0..1 (NaN gives 0) and rounded to the
  /// nearest of 0..255.
  KaCCompressedColor(float red, float green, float blue) noexcept
      : r(FromUnit(red)), g(FromUnit(green)), b(FromUnit(blue)) {}
  /// From a packed 0xAARRGGBB value as CyColorRGBA::ConvertToUInt32 gives it; alpha is dropped.
  explicit KaCCompressedColor(const unsigned long& rgba) noexcept
      : r(static_cast<unsigned char>((rgba >> 16) & 0xFFu)),
        g(static_cast<unsigned char>((rgba >> 8) & 0xFFu)),
        b(static_cast<unsigned char>(rgba & 0xFFu)) {}

  /// R * 65536 + G * 256 + B.
  [[nodiscard]] constexpr unsigned long GetPacked() const noexcept {
    return (static_cast<unsigned long>(r) << 16) | (static_cast<unsigned long>(g) << 8) | b;
  }
  constexpr bool operator==(const KaCCompressedColor& o) const noexcept {
    return r == o.r && g == o.g && b == o.b;
  }
  constexpr bool operator!=(const KaCCompressedColor& o) const noexcept { return !(*this == o); }

 private:
  static constexpr unsigned char Clamp(int v) noexcept {
    return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
  static unsigned char FromUnit(float f) noexcept {
    if (!(f > 0.0f)) return 0;
    if (f >= 1.0f) return 255;
    return static_cast<unsigned char>(f * 255.0f + 0.5f);
  }
};

static_assert(sizeof(KaCCompressedColor) == 3, "a compressed colour is three bytes");
