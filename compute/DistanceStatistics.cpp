#include <tolvane/DistanceStatistics.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "base/CbException.h"
#include "compute/RadixSort.h"

namespace tolvane {

namespace {

constexpr float c_fNoDistance = 3.4028235e38f;
constexpr double c_fNaN = std::numeric_limits<double>::quiet_NaN();

// Linear interpolation between the closest ranks of sorted values.
double Quantile(const std::vector<float>& sorted, double p) noexcept {
  if (sorted.empty()) return c_fNaN;
  const double h = static_cast<double>(sorted.size() - 1) * std::clamp(p, 0.0, 1.0);
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
  return sorted[lo] +
         (h - static_cast<double>(lo)) * (static_cast<double>(sorted[hi]) - sorted[lo]);
}

}  // namespace

DistanceStatistics::DistanceStatistics(const std::vector<float>& distances)
    : m_nSurfels(distances.size()), m_fMean(c_fNaN), m_fStandardDeviation(c_fNaN), m_fRms(c_fNaN) {
  m_vecSorted.reserve(distances.size());
  for (float d : distances) {
    if (d != c_fNoDistance && !std::isnan(d)) m_vecSorted.push_back(d);
  }
  detail::RadixSortFloats(m_vecSorted);
  if (m_vecSorted.empty()) return;
  double sum = 0.0;
  double sumSquares = 0.0;
  for (float d : m_vecSorted) {
    sum += d;
    sumSquares += static_cast<double>(d) * d;
  }
  const auto n = static_cast<double>(m_vecSorted.size());
  m_fMean = sum / n;
  double variance = 0.0;
  for (float d : m_vecSorted) variance += (d - m_fMean) * (d - m_fMean);
  m_fStandardDeviation = std::sqrt(variance / n);
  m_fRms = std::sqrt(sumSquares / n);
}

double DistanceStatistics::GetMinimum() const noexcept {
  return m_vecSorted.empty() ? c_fNaN : m_vecSorted.front();
}

double DistanceStatistics::GetMaximum() const noexcept {
  return m_vecSorted.empty() ? c_fNaN : m_vecSorted.back();
}

double DistanceStatistics::GetPercentile(double p) const noexcept {
  return Quantile(m_vecSorted, p);
}

double DistanceStatistics::GetAbsolutePercentile(double p) const {
  // The magnitudes in order, merged from the sorted values: the negative ones read backwards
  // and the others forwards are two ascending runs of magnitudes.
  std::vector<float> magnitudes(m_vecSorted.size());
  const auto firstNonNegative = std::lower_bound(m_vecSorted.begin(), m_vecSorted.end(), 0.0f,
                                                 [](float v, float zero) { return v < zero; });
  auto negative = std::make_reverse_iterator(firstNonNegative);
  const auto negativeEnd = m_vecSorted.rend();
  auto positive = firstNonNegative;
  for (float& m : magnitudes) {
    if (positive == m_vecSorted.end() || (negative != negativeEnd && -*negative < *positive)) {
      m = -*negative++;
    } else {
      m = std::fabs(*positive++);
    }
  }
  return Quantile(magnitudes, p);
}

DistanceStatistics::Histogram DistanceStatistics::GetHistogram(double fLower, double fUpper,
                                                               std::size_t nBins) const {
  if (nBins == 0 || !(fLower < fUpper) || !std::isfinite(fUpper - fLower)) {
    throw CbException("tolvane::DistanceStatistics::GetHistogram", __FILE__, __LINE__,
                      "a histogram needs at least one bin and finite bounds lower < upper");
  }
  Histogram h;
  h.fLower = fLower;
  h.fUpper = fUpper;
  h.vecCounts.assign(nBins, 0);
  const double scale = static_cast<double>(nBins) / (fUpper - fLower);
  for (float d : m_vecSorted) {
    if (d < fLower) {
      ++h.nBelow;
    } else if (d > fUpper) {
      ++h.nAbove;
    } else {
      const auto k = static_cast<std::size_t>((d - fLower) * scale);
      ++h.vecCounts[std::min(k, nBins - 1)];
    }
  }
  return h;
}

}  // namespace tolvane
