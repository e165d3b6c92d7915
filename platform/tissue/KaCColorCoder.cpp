#include "tissue/KaCColorCoder.h"

#include <cmath>

namespace {

// The viridis map (S. van der Walt and N. Smith, 2015; released to the public domain): nine
// published stops at t = 0, 1/8, ..., 1 as sRGB bytes, interpolated linearly. Its lightness
// rises monotonically from dark violet to yellow and every stop keeps a clear hue, so the scale
// reads in order and stays apart from the neutral grey that marks missing values.
constexpr int c_nStops = 9;
constexpr float c_afStops[c_nStops][3] = {
    {68.0f, 1.0f, 84.0f},    {71.0f, 45.0f, 123.0f},  {59.0f, 82.0f, 139.0f},
    {44.0f, 114.0f, 142.0f}, {33.0f, 144.0f, 140.0f}, {39.0f, 173.0f, 129.0f},
    {93.0f, 200.0f, 99.0f},  {170.0f, 220.0f, 50.0f}, {253.0f, 231.0f, 37.0f}};

void Fill(float rgb[3], float r, float g, float b) noexcept {
  rgb[0] = r;
  rgb[1] = g;
  rgb[2] = b;
}

}  // namespace

KaCColorCoder::KaCColorCoder() : m_fMinValue(0.0f), m_fMaxValue(1.0f) {}

KaCColorCoder::KaCColorCoder(float fMinValue, float fMaxValue)
    : m_fMinValue(fMinValue), m_fMaxValue(fMaxValue) {}

void KaCColorCoder::SetColor(float fValue, float rgb[3]) const {
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
    Fill(rgb, c_fNaNGrey, c_fNaNGrey, c_fNaNGrey);
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

  const float x = t * static_cast<float>(c_nStops - 1);
  int i = static_cast<int>(x);
  if (i > c_nStops - 2) i = c_nStops - 2;
  const float f = x - static_cast<float>(i);
  const float* a = c_afStops[i];
  const float* b = c_afStops[i + 1];
  constexpr float c_fByte = 1.0f / 255.0f;
  Fill(rgb, (a[0] + (b[0] - a[0]) * f) * c_fByte, (a[1] + (b[1] - a[1]) * f) * c_fByte,
       (a[2] + (b[2] - a[2]) * f) * c_fByte);
}
