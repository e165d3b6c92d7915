#include "tissue/KaCColorCoder.h"

#include <cmath>

namespace {

void Fill(float rgb[3], float r, float g, float b) noexcept {
  rgb[0] = r;
  rgb[1] = g;
  rgb[2] = b;
}

}  // namespace

KaCColorCoder::KaCColorCoder() : m_fMinValue(0.0f), m_fMaxValue(1.0f) {}

KaCColorCoder::KaCColorCoder(float fMinValue, float fMaxValue)
    : m_fMinValue(fMinValue), m_fMaxValue(fMaxValue) {}

void KaCColorCoder::SetColorGeneral(float fValue, float rgb[3]) const {
  float v = fValue;
  if (m_iIntegerMode != 0) v = std::round(v);

  const float span = m_fMaxValue - m_fMinValue;
  float t = 0.0f;
  if (span == 0.0f) {
    t = v < m_fMinValue ? -1.0f : (v > m_fMinValue ? 2.0f : 0.5f);
  } else {
    t = (v - m_fMinValue) / span;
  }
  // NaN in the value or the range: neither below nor above, shown as missing.
  if (std::isnan(t) || std::isnan(v)) {
    Fill(rgb, c_fNaNRed, c_fNaNGreen, c_fNaNBlue);
    return;
  }
  if (t < 0.0f) {
    Fill(rgb, 0.0f, 0.0f, 0.0f);
    return;
  }
  if (t > 1.0f) {
    Fill(rgb, 1.0f, 1.0f, 1.0f);
    return;
  }

  GetScaleColor(ScaleIndexOf(t), rgb);
}
