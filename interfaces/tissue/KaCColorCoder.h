#pragma once

/// Maps a float value to a false colour on a continuous scale between a low and a high end.
///
/// The scale is viridis (nine published stops, interpolated linearly in sRGB): dark violet at
/// the low end through blue and green to yellow at the high end. Its lightness rises
/// monotonically, so the order of values reads at a glance, and every colour on it keeps a hue,
/// so it stays readable on, and apart from, a neutral grey background.
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
class KaCColorCoder {
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
    if (m_iIntegerMode == 0) {
      const float t = (fValue - m_fMinValue) / (m_fMaxValue - m_fMinValue);
      if (t >= 0.0f && t <= 1.0f) {
        Interpolate(t, rgb);
        return;
      }
    }
    SetColorGeneral(fValue, rgb);
  }

 private:
  /// The nine published stops of viridis (S. van der Walt and N. Smith, 2015, public domain) as
  /// sRGB bytes at t = 0, 1/8, ..., 1.
  static constexpr int c_nStops = 9;
  static constexpr float c_afStops[c_nStops][3] = {
      {68.0f, 1.0f, 84.0f},    {71.0f, 45.0f, 123.0f},  {59.0f, 82.0f, 139.0f},
      {44.0f, 114.0f, 142.0f}, {33.0f, 144.0f, 140.0f}, {39.0f, 173.0f, 129.0f},
      {93.0f, 200.0f, 99.0f},  {170.0f, 220.0f, 50.0f}, {253.0f, 231.0f, 37.0f}};

  /// Linear interpolation between the stops, t in 0..1.
  static void Interpolate(float t, float rgb[3]) noexcept {
    const float x = t * static_cast<float>(c_nStops - 1);
    int i = static_cast<int>(x);
    if (i > c_nStops - 2) i = c_nStops - 2;
    const float f = x - static_cast<float>(i);
    const float* a = c_afStops[i];
    const float* b = c_afStops[i + 1];
    constexpr float c_fByte = 1.0f / 255.0f;
    rgb[0] = (a[0] + (b[0] - a[0]) * f) * c_fByte;
    rgb[1] = (a[1] + (b[1] - a[1]) * f) * c_fByte;
    rgb[2] = (a[2] + (b[2] - a[2]) * f) * c_fByte;
  }
  void SetColorGeneral(float fValue, float rgb[3]) const;

  float m_fMinValue;
  float m_fMaxValue;
  int m_iIntegerMode = 0;
};
