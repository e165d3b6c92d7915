#pragma once

#include <array>
#include <vector>

#include <tolvane/PhantomGeometry.h>

#include "base/CbVector3f.h"

namespace tolvane::cli {

/// The numbers behind the phantom analyzer's four statistics texts, taken from its results:
/// the corners A to H (display points 0, 2, ..., 14) and the normal of plane 0. Each quantity
/// is computed as the analyzer computes it, in single precision, and compared with the same
/// nominal values; lengths in millimetres, deviations in micrometres.
///
/// Index k of the per-corner arrays is 0 to 3 for A to D (depth, shearing), and 0 to 3 for
/// width 1 to 4 and height 1 to 4. A plain value; holds no references.
class PhantomMeasurements {
 public:
  // The nominal values of tolvane/PhantomGeometry.h as arrays.
  static constexpr float c_fNominalDepth = phantom::c_fNominalDepth;
  static constexpr std::array<float, 4> c_fNominalShearing = {
      phantom::c_fNominalShearing[0], phantom::c_fNominalShearing[1],
      phantom::c_fNominalShearing[2], phantom::c_fNominalShearing[3]};
  static constexpr std::array<float, 4> c_fNominalWidth = {
      phantom::c_fNominalWidth[0], phantom::c_fNominalWidth[1], phantom::c_fNominalWidth[2],
      phantom::c_fNominalWidth[3]};
  static constexpr std::array<float, 4> c_fNominalHeight = {
      phantom::c_fNominalHeight[0], phantom::c_fNominalHeight[1], phantom::c_fNominalHeight[2],
      phantom::c_fNominalHeight[3]};

  /// vecLines must hold at least the 16 points of the eight corner segments; throws
  /// InputError otherwise.
  PhantomMeasurements(const std::vector<CbVector3f>& vecLines, const CbVector3f& rimNormal);

  [[nodiscard]] float GetMeanDepth() const noexcept { return m_fMeanDepth; }
  [[nodiscard]] const std::array<float, 4>& GetDepths() const noexcept { return m_depth; }
  [[nodiscard]] const std::array<float, 4>& GetShearings() const noexcept { return m_shearing; }
  [[nodiscard]] const std::array<float, 4>& GetWidths() const noexcept { return m_width; }
  [[nodiscard]] const std::array<float, 4>& GetHeights() const noexcept { return m_height; }

  /// False when any quantity is not a number or infinite (degenerate planes).
  [[nodiscard]] bool IsFinite() const noexcept;

  /// |nominal - value| x 1000.
  [[nodiscard]] static float Deviation(float fNominal, float fValue) noexcept {
    return phantom::DeviationMicrons(fNominal, fValue);
  }
  [[nodiscard]] float GetDepthDeviation() const noexcept {
    return Deviation(c_fNominalDepth, m_fMeanDepth);
  }
  /// The depth deviation in percent of the nominal depth.
  [[nodiscard]] float GetDepthDeviationPercent() const noexcept {
    return phantom::DepthDeviationPercent(GetDepthDeviation());
  }

 private:
  std::array<float, 4> m_depth{};
  float m_fMeanDepth = 0.0f;
  std::array<float, 4> m_shearing{};
  std::array<float, 4> m_width{};
  std::array<float, 4> m_height{};
};

}  // namespace tolvane::cli
