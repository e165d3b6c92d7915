#pragma once

/// Maps a float value to a false colour on a continuous scale between a low and a high end.
/// The range and the integer mode are plain settings that callers may change at any time.
/// SetColor is const and keeps no state: one coder may serve several threads as long as no one
/// changes its range or mode meanwhile.
class KaCColorCoder {
 public:
  /// Range 0..1, integer mode 0.
  KaCColorCoder();
  KaCColorCoder(float fMinValue, float fMaxValue);

  void SetRange(float fMinValue, float fMaxValue) noexcept {
    m_fMinValue = fMinValue;
    m_fMaxValue = fMaxValue;
  }
  [[nodiscard]] float GetMinValue() const noexcept { return m_fMinValue; }
  [[nodiscard]] float GetMaxValue() const noexcept { return m_fMaxValue; }
  /// 0: continuous scale. Other modes are the implementation's (see its documentation).
  void SetIntegerMode(int iMode) noexcept { m_iIntegerMode = iMode; }
  [[nodiscard]] int GetIntegerMode() const noexcept { return m_iIntegerMode; }

  /// Writes the colour of the value as three components in 0..1.
  void SetColor(float fValue, float rgb[3]) const;

 private:
  float m_fMinValue;
  float m_fMaxValue;
  int m_iIntegerMode = 0;
};
