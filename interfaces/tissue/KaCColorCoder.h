#pragma once

#include <tolvane/Export.h>

#include <cstdint>
#include <cstring>

namespace ka_color_detail {

/// The nine published stops of viridis (S. van der Walt and N. Smith, 2015, public domain) as
/// sRGB bytes at t = 0, 1/8, ..., 1.
constexpr int c_nStops = 9;
constexpr float c_afStops[c_nStops][3] = {
    {68.0f, 1.0f, 84.0f},    {71.0f, 45.0f, 123.0f},  {59.0f, 82.0f, 139.0f},
    {44.0f, 114.0f, 142.0f}, {33.0f, 144.0f, 140.0f}, {39.0f, 173.0f, 129.0f},
    {93.0f, 200.0f, 99.0f},  {170.0f, 220.0f, 50.0f}, {253.0f, 231.0f, 37.0f}};

/// The scale has c_nSteps + 1 colours, at t = k / c_nSteps; every eighth one is a stop.
constexpr int c_nSteps = 1024;

/// The colours of the scale: components in 0..1, and the same colours rounded to bytes R, G, B
/// (each component c gives the byte nearest c x 255), padded to four bytes.
struct Scale {
  float afRgb[c_nSteps + 1][3];
  std::uint8_t anRgb[c_nSteps + 1][4];
};

constexpr std::uint32_t ToByte(float c) {
  if (!(c > 0.0f)) return 0;
  if (c >= 1.0f) return 255;
  return static_cast<std::uint32_t>(c * 255.0f + 0.5f);
}

/// Linear interpolation between the stops in sRGB, evaluated once, at compile time.
constexpr Scale BuildScale() {
  Scale scale{};
  constexpr int c_nPerStop = c_nSteps / (c_nStops - 1);
  for (int k = 0; k <= c_nSteps; ++k) {
    int i = k / c_nPerStop;
    if (i > c_nStops - 2) i = c_nStops - 2;
    const float f = static_cast<float>(k - i * c_nPerStop) / static_cast<float>(c_nPerStop);
    for (int c = 0; c < 3; ++c) {
      const float a = c_afStops[i][c];
      const float b = c_afStops[i + 1][c];
      scale.afRgb[k][c] = (a + (b - a) * f) / 255.0f;
      scale.anRgb[k][c] = static_cast<std::uint8_t>(ToByte(scale.afRgb[k][c]));
    }
  }
  return scale;
}

inline constexpr Scale c_scale = BuildScale();

}  // namespace ka_color_detail

/// Maps a float value to a false colour on a continuous scale between a low and a high end.
///
/// The scale is viridis (nine published stops, interpolated linearly in sRGB): dark violet at
/// the low end through blue and green to yellow at the high end. Its lightness rises
/// monotonically, so the order of values reads at a glance, and every colour on it keeps a hue,
/// so it stays readable on, and apart from, a neutral grey background. It is held as a table of
/// 1025 colours, at t = k / 1024, and a value takes the colour nearest to its place t: finer
/// than the 8-bit colours it is stored in, and the same table serves whole blocks of values.
///
/// Outside the scale:
/// - a value beyond the low end is black (0, 0, 0), one beyond the high end white (1, 1, 1),
///   extending the scale's lightness order;
/// - a value that is not a number, or any value when a range end is not a number, is magenta
///   (1, 0, 1), kept apart from the mid grey that callers give surfels without a value.
/// With equal ends the value at the end is the middle of the scale. With the low end above the
/// high end the scale runs the other way.
///
/// The range and the integer mode are plain settings that callers may change at any time.
/// SetColor is const and keeps no state: one coder may serve several threads as long as no one
/// changes its range or mode meanwhile.
class TOLVANE_API KaCColorCoder {
 public:
  /// Colour of a value that is not a number: magenta, which the scale never reaches and which
  /// stays apart from the mid grey that callers use for surfels without a value.
  static constexpr float c_fNaNRed = 1.0f;
  static constexpr float c_fNaNGreen = 0.0f;
  static constexpr float c_fNaNBlue = 1.0f;

  /// Range 0..1, integer mode 0.
  KaCColorCoder();
  /// Range fMinValue..fMaxValue, integer mode 0.
  KaCColorCoder(float fMinValue, float fMaxValue);

  void SetRange(float fMinValue, float fMaxValue) noexcept {
    m_fMinValue = fMinValue;
    m_fMaxValue = fMaxValue;
  }
  [[nodiscard]] float GetMinValue() const noexcept { return m_fMinValue; }
  [[nodiscard]] float GetMaxValue() const noexcept { return m_fMaxValue; }
  /// 0: continuous scale. Any other mode first rounds the value to the nearest integer (halves
  /// away from zero), so that labels such as indices each get one colour.
  void SetIntegerMode(int iMode) noexcept { m_iIntegerMode = iMode; }
  [[nodiscard]] int GetIntegerMode() const noexcept { return m_iIntegerMode; }

  /// Writes the colour of the value as three components R, G, B in 0..1.
  void SetColor(float fValue, float rgb[3]) const {
    // Inline for the common case, a value inside the range in mode 0; the rest (integer mode,
    // equal ends, outside the range, NaN) is handled out of line.
    const int k = GetScaleIndex(fValue);
    if (k >= 0) {
      GetScaleColor(k, rgb);
      return;
    }
    SetColorGeneral(fValue, rgb);
  }

  /// For callers that colour blocks of values: the index 0..1024 of the value's colour on the
  /// scale when the value lies inside the range in mode 0, otherwise -1 (SetColor then decides).
  /// Branch-free, so that a loop over a block of values compiles to vector instructions.
  [[nodiscard]] int GetScaleIndex(float fValue) const noexcept {
    return IndexOfPlace((fValue - m_fMinValue) / (m_fMaxValue - m_fMinValue));
  }
  /// The same index with the division by the range replaced by a multiplication by
  /// fInverseRange, as GetExactInverseRange gives it: cheaper, and equal for every value.
  [[nodiscard]] int GetScaleIndex(float fValue, float fInverseRange) const noexcept {
    return IndexOfPlace((fValue - m_fMinValue) * fInverseRange);
  }
  /// 1 / (max - min) when the range is a power of two whose reciprocal is a float too: then
  /// both the quotient and the product are the rounding of the same exact number, so they are
  /// equal. Otherwise 0.
  [[nodiscard]] float GetExactInverseRange() const noexcept {
    const float fRange = m_fMaxValue - m_fMinValue;
    std::uint32_t nBits = 0;
    std::memcpy(&nBits, &fRange, sizeof nBits);
    const std::uint32_t nExponent = (nBits >> 23) & 0xFFu;
    // Positive, normal, no mantissa bits, and at most 2^126 so that the reciprocal is normal.
    const bool bPowerOfTwo =
        (nBits >> 31) == 0 && (nBits & 0x7FFFFFu) == 0 && nExponent >= 1 && nExponent <= 253;
    return bPowerOfTwo ? 1.0f / fRange : 0.0f;
  }
  /// Colour k of the scale as three bytes R, G, B: what SetColor writes for it, each component
  /// rounded to the nearest of 0..255.
  [[nodiscard]] static const std::uint8_t* GetScaleBytes(int k) noexcept {
    return ka_color_detail::c_scale.anRgb[k];
  }
  /// Number of colours on the scale.
  static constexpr int c_nScaleColors = ka_color_detail::c_nSteps + 1;

 private:
  /// The scale index of place t (the value's share of the range), -1 outside 0..1, NaN or in
  /// integer mode. Masks instead of branches, so that a loop of these compiles to vector code:
  /// outside the scale the place is masked to 0 (so that its conversion is always defined) and
  /// the index to -1.
  [[nodiscard]] int IndexOfPlace(float t) const noexcept {
    const int nInside = static_cast<int>((t >= 0.0f) & (t <= 1.0f) & (m_iIntegerMode == 0));
    std::uint32_t nBits = 0;
    std::memcpy(&nBits, &t, sizeof nBits);
    nBits &= static_cast<std::uint32_t>(-nInside);
    float fPlace = 0.0f;
    std::memcpy(&fPlace, &nBits, sizeof fPlace);
    return ScaleIndexOf(fPlace) | (nInside - 1);
  }
  /// Place t in 0..1 to the index of the nearest scale colour.
  static int ScaleIndexOf(float t) noexcept {
    return static_cast<int>(t * static_cast<float>(ka_color_detail::c_nSteps) + 0.5f);
  }
  static void GetScaleColor(int k, float rgb[3]) noexcept {
    const float* c = ka_color_detail::c_scale.afRgb[k];
    rgb[0] = c[0];
    rgb[1] = c[1];
    rgb[2] = c[2];
  }
  void SetColorGeneral(float fValue, float rgb[3]) const;

  float m_fMinValue;
  float m_fMaxValue;
  int m_iIntegerMode = 0;
};
