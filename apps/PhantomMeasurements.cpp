#include "PhantomMeasurements.h"

#include <cmath>

#include "InputError.h"

namespace tolvane::cli {

PhantomMeasurements::PhantomMeasurements(const std::vector<CbVector3f>& vecLines,
                                         const CbVector3f& n) {
  if (vecLines.size() < 16) throw InputError("the analysis gave no corners");
  CbVector3f c[8];
  for (int k = 0; k < 8; ++k) c[k] = vecLines[static_cast<std::size_t>(2 * k)];
  const phantom::Quantities<float> q = phantom::Measure<float>(c, n);
  m_fMeanDepth = q.meanDepth;
  for (std::size_t k = 0; k < 4; ++k) {
    m_depth[k] = q.depth[k];
    m_shearing[k] = q.shearing[k];
    m_width[k] = q.width[k];
    m_height[k] = q.height[k];
  }
}

bool PhantomMeasurements::IsFinite() const noexcept {
  bool b = std::isfinite(m_fMeanDepth);
  for (const auto* a : {&m_depth, &m_shearing, &m_width, &m_height}) {
    for (float f : *a) b = b && std::isfinite(f);
  }
  return b;
}

}  // namespace tolvane::cli
