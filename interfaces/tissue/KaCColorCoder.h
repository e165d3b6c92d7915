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
/// - a value that is not a number, or any value when a range end is not a number, is mid grey
///   (0.5, 0.5, 0.5), the colour of a missing value.
/// With equal ends the value at the end is the middle of the scale. With the low end above the
/// high end the scale runs the other way.
///
/// The range and the integer mode are plain settings that callers may change at any time.
/// SetColor is const and keeps no state: one coder may serve several threads as long as no one
/// changes its range or mode meanwhile.
class KaCColorCoder {
 public:
  /// Grey component given for a value that is not a number.
  static constexpr float c_fNaNGrey = 0.5f;

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
  void SetColor(float fValue, float rgb[3]) const;

 private:
  float m_fMinValue;
  float m_fMaxValue;
  int m_iIntegerMode = 0;
};
