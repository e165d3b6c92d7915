#include <tolvane/DivergingColorScale.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/CbException.h"
#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane {

namespace {

// The cool-warm scale: from (59, 76, 192) through (221, 221, 221) to (180, 4, 38), interpolated
// in Msh space (polar CIELAB) with the hue spun near the neutral centre, sampled at 33 points.
constexpr DivergingColorScale::Rgb c_table[DivergingColorScale::c_nEntries] = {
    {59, 76, 192},   {68, 90, 204},   {78, 104, 215},  {88, 117, 225},  {98, 130, 234},
    {108, 142, 241}, {119, 154, 247}, {130, 165, 251}, {141, 176, 254}, {152, 185, 255},
    {163, 194, 255}, {174, 201, 253}, {184, 208, 249}, {194, 213, 244}, {204, 217, 238},
    {213, 219, 230}, {221, 221, 221}, {229, 216, 209}, {236, 211, 198}, {241, 204, 185},
    {245, 196, 173}, {247, 187, 160}, {247, 177, 148}, {247, 166, 135}, {244, 154, 123},
    {241, 141, 111}, {236, 127, 99},  {229, 112, 87},  {222, 97, 76},   {213, 80, 66},
    {203, 62, 56},   {192, 40, 47},   {180, 4, 38}};

unsigned char Mix(unsigned char a, unsigned char b, double f) {
  return static_cast<unsigned char>(std::lround(a + (b - a) * f));
}

}  // namespace

DivergingColorScale::DivergingColorScale(float fRange, float fMaxAbs)
    : m_fRange(fRange), m_fMaxAbs(fMaxAbs) {
  if (!(fRange > 0.0f) || !std::isfinite(fRange)) {
    throw CbException("tolvane::DivergingColorScale", __FILE__, __LINE__,
                      "the range must be a positive finite number");
  }
  if (!(fMaxAbs >= 0.0f)) {
    throw CbException("tolvane::DivergingColorScale", __FILE__, __LINE__,
                      "the limit must be zero or positive");
  }
}

DivergingColorScale::Rgb DivergingColorScale::At(double t) noexcept {
  if (!(t > 0.0)) return c_table[0];
  if (t >= 1.0) return c_table[c_nEntries - 1];
  const double x = t * (c_nEntries - 1);
  const auto i = static_cast<int>(x);
  const double f = x - i;
  const Rgb& a = c_table[i];
  const Rgb& b = c_table[i + 1];
  return {Mix(a.r, b.r, f), Mix(a.g, b.g, f), Mix(a.b, b.b, f)};
}

double DivergingColorScale::PositionOf(float v) const noexcept {
  if (v == c_fNoValue || !(std::fabs(v) <= m_fMaxAbs)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return std::clamp(0.5 + 0.5 * static_cast<double>(v) / m_fRange, 0.0, 1.0);
}

DivergingColorScale::Rgb DivergingColorScale::ColorOf(float v) const noexcept {
  const double t = PositionOf(v);
  return std::isnan(t) ? c_noValue : At(t);
}

void DivergingColorScale::Apply(KaCSurfelCollectionCCT& collection,
                                const std::vector<float>& values) const {
  if (values.size() > collection.GetNrSurfels()) {
    throw CbException("tolvane::DivergingColorScale::Apply", __FILE__, __LINE__,
                      "more values than surfels");
  }
  const auto colors = collection.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  for (std::size_t k = 0; k < values.size(); ++k) {
    const Rgb c = ColorOf(values[k]);
    colors[static_cast<unsigned int>(k)] = KaCCompressedColor(c.r, c.g, c.b);
  }
}

}  // namespace tolvane
