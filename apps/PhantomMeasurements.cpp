#include "PhantomMeasurements.h"

#include <cmath>

#include "InputError.h"

namespace tolvane::cli {

namespace {

float Dot(const CbVector3f& a, const CbVector3f& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// Length of the part of v perpendicular to n.
float LateralLength(const CbVector3f& v, const CbVector3f& n) {
  const float d = Dot(v, n);
  return (v - n * d).Length();
}

}  // namespace

PhantomMeasurements::PhantomMeasurements(const std::vector<CbVector3f>& vecLines,
                                         const CbVector3f& n) {
  if (vecLines.size() < 16) throw InputError("the analysis gave no corners");
  CbVector3f c[8];
  for (int k = 0; k < 8; ++k) c[k] = vecLines[static_cast<std::size_t>(2 * k)];
  const CbVector3f &A = c[0], &B = c[1], &C = c[2], &D = c[3];
  const CbVector3f &E = c[4], &F = c[5], &G = c[6], &H = c[7];
  m_depth = {Dot(E - A, n), Dot(F - B, n), Dot(G - C, n), Dot(H - D, n)};
  // Summed in the analyzer's order: B, A, C, D.
  m_fMeanDepth = (m_depth[1] + m_depth[0] + m_depth[2] + m_depth[3]) * 0.25f;
  m_shearing = {LateralLength(A - E, n), LateralLength(B - F, n), LateralLength(C - G, n),
                LateralLength(D - H, n)};
  m_width = {(A - C).Length(), (B - D).Length(), (E - G).Length(), (F - H).Length()};
  m_height = {(A - B).Length(), (C - D).Length(), (E - F).Length(), (G - H).Length()};
}

float PhantomMeasurements::Deviation(float fNominal, float fValue) noexcept {
  return std::fabs(fNominal - fValue) * 1000.0f;
}

bool PhantomMeasurements::IsFinite() const noexcept {
  bool b = std::isfinite(m_fMeanDepth);
  for (const auto* a : {&m_depth, &m_shearing, &m_width, &m_height}) {
    for (float f : *a) b = b && std::isfinite(f);
  }
  return b;
}

}  // namespace tolvane::cli
