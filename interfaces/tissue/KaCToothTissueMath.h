#pragma once

#include <tolvane/Export.h>

#include <array>
#include <cstdint>

#include "tissue/KaHue.h"

/// Tooth tissue math: the hue of a colour, the process-wide tooth tissue threshold, and the hue
/// statistics from which a new threshold is learnt during acquisition.
///
/// Hues are integer degrees 0..359 (KaComputeHue: grey, black and white give 0). The threshold
/// is compared with the hue turned by c_iHueOffset degrees, (hue + 120) mod 360: shifted hues
/// above it count as tooth, the others (equality included) as gingiva. The turn puts the cut
/// of the circle at blue (hue 240), far from both tissues: gingiva (red to pink, hues about
/// 340..15) lands at about 100..135, tooth (ivory to yellow, about 30..60) at about 150..180.
///
/// Statistics: AddToData collects the hues of one frame into a histogram of shifted hues;
/// PrepareData evaluates it with Otsu's method (N. Otsu, "A threshold selection method from
/// gray-level histograms", IEEE SMC 9(1), 1979). A histogram is good when
///  - it holds at least c_nMinSamples hues,
///  - its best two-class split leaves at least c_fMinClassShare of them on either side, and
///  - the split explains at least c_fMinSeparability of the variance (between-class variance
///    over total variance), which a single bump (about 0.64 for a normal distribution) or an
///    even spread (0.75) never reaches but two separate bumps do.
/// Good frames are summed with operator+=; CalcToothTissueThreshold publishes the Otsu
/// threshold of the sum as the new GetToothTissueThreshold().
///
/// Threads: the threshold is an atomic that any thread may read and set. A statistics object is
/// a plain value: one thread at a time may change it. Holds no pointers and allocates nothing.
class TOLVANE_API KaCToothTissueMath {
 public:
  /// Degrees added to a hue before it is binned and before it is compared with the threshold.
  static constexpr int c_iHueOffset = 120;
  /// The threshold until one is learnt: shifted 140 is hue 20, between red-pink gingiva and
  /// ivory-yellow tooth.
  static constexpr int c_iDefaultToothTissueThreshold = 140;
  /// Fewest hues a good histogram holds.
  static constexpr std::uint64_t c_nMinSamples = 500;
  /// Smallest share of the hues each class of a good split holds.
  static constexpr double c_fMinClassShare = 0.05;
  /// Smallest between-class over total variance of a good split.
  static constexpr double c_fMinSeparability = 0.8;

  /// Empty statistics, not good.
  KaCToothTissueMath() noexcept;
  KaCToothTissueMath(const KaCToothTissueMath& other) noexcept;
  KaCToothTissueMath& operator=(const KaCToothTissueMath& other) noexcept;
  ~KaCToothTissueMath();

  /// Hue of a packed colour R * 65536 + G * 256 + B in integer degrees 0..359; the same
  /// function as KaComputeHue and the collection's GetHue.
  [[nodiscard]] static int GetHue(unsigned long packed) noexcept { return KaComputeHue(packed); }
  /// The current tooth tissue threshold in shifted degrees: c_iDefaultToothTissueThreshold
  /// until CalcToothTissueThreshold or SetToothTissueThreshold changes it.
  [[nodiscard]] static int GetToothTissueThreshold() noexcept;
  /// Replaces the current threshold, for the host that keeps one across sessions and for tests
  /// that restore the default.
  static void SetToothTissueThreshold(int iThreshold) noexcept;

  /// Adds one hue in degrees 0..359. Throws CbException for a hue outside that range. Clears
  /// the verdict until the next PrepareData.
  void AddToData(int iHue);
  /// Evaluates the histogram: Otsu threshold, class shares, separability and the verdict.
  void PrepareData() noexcept;
  /// The verdict of the last PrepareData (or operator+=); false before any.
  [[nodiscard]] bool IsDataGood() const noexcept { return m_bGood; }
  /// Adds the other statistics' hues to these and evaluates the sum.
  KaCToothTissueMath& operator+=(const KaCToothTissueMath& other) noexcept;
  /// Evaluates the histogram if needed and publishes its Otsu threshold as the new
  /// GetToothTissueThreshold(), which it also returns. Throws CbException when the histogram
  /// is not good; the current threshold then stays.
  int CalcToothTissueThreshold();

  /// Number of hues added.
  [[nodiscard]] std::uint64_t GetNrSamples() const noexcept { return m_nSamples; }
  /// Otsu threshold in shifted degrees found by the last evaluation, -1 when the histogram
  /// does not split (fewer than two occupied bins). Where several thresholds split equally
  /// well (empty bins between the classes), the middle one, rounded down.
  [[nodiscard]] int GetOtsuThreshold() const noexcept { return m_iOtsuThreshold; }
  /// Between-class over total variance of that split, 0 without one.
  [[nodiscard]] double GetSeparability() const noexcept { return m_fSeparability; }

 private:
  std::array<std::uint64_t, 360> m_vecHistogram;
  std::uint64_t m_nSamples;
  int m_iOtsuThreshold;
  double m_fSeparability;
  bool m_bPrepared;
  bool m_bGood;
};
