#pragma once

#include <tolvane/Export.h>

#include <cstddef>
#include <vector>

namespace tolvane {

/// Summary figures of a distance result (one signed distance per surfel, the largest finite
/// float, 3.4028235e38, where a surfel has none), in the distances' unit.
///
/// Entries equal to the marker or not a number count as "no distance" and take no part in any
/// figure. Mean, standard deviation (of the population) and RMS are summed in double;
/// percentiles interpolate linearly between the closest ranks. With no distance at all every
/// figure is NaN.
///
/// The object keeps a sorted copy of the distances (4 bytes per surfel with a distance); it does
/// not keep the caller's vector. Immutable after construction; may be read from several threads.
class TOLVANE_API DistanceStatistics {
 public:
  /// Counts of a histogram over [lower, upper]: nBins equal bins, the last one closed, and the
  /// distances below lower and above upper counted apart.
  struct Histogram {
    double fLower = 0.0;
    double fUpper = 0.0;
    std::vector<std::size_t> vecCounts;
    std::size_t nBelow = 0;
    std::size_t nAbove = 0;
  };

  explicit DistanceStatistics(const std::vector<float>& distances);
  /// The same figures, the distances gathered and sorted by up to nThreads threads (0: one).
  DistanceStatistics(const std::vector<float>& distances, unsigned int nThreads);

  [[nodiscard]] std::size_t GetNrSurfels() const noexcept { return m_nSurfels; }
  [[nodiscard]] std::size_t GetNrWithDistance() const noexcept { return m_vecSorted.size(); }
  [[nodiscard]] double GetMean() const noexcept { return m_fMean; }
  [[nodiscard]] double GetStandardDeviation() const noexcept { return m_fStandardDeviation; }
  [[nodiscard]] double GetRms() const noexcept { return m_fRms; }
  [[nodiscard]] double GetMinimum() const noexcept;
  [[nodiscard]] double GetMaximum() const noexcept;
  /// The p-quantile (p in [0, 1]) of the distances.
  [[nodiscard]] double GetPercentile(double p) const noexcept;
  /// The p-quantile of the distances' magnitudes.
  [[nodiscard]] double GetAbsolutePercentile(double p) const;
  /// nBins (at least 1) bins over [fLower, fUpper] (fLower < fUpper).
  [[nodiscard]] Histogram GetHistogram(double fLower, double fUpper, std::size_t nBins) const;

 private:
  std::size_t m_nSurfels = 0;
  std::vector<float> m_vecSorted;
  double m_fMean;
  double m_fStandardDeviation;
  double m_fRms;
};

}  // namespace tolvane
