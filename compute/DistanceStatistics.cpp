#include <tolvane/DistanceStatistics.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/CbException.h"
#include "base/Shares.h"
#include "compute/RadixSort.h"

namespace tolvane {

namespace {

constexpr float c_fNoDistance = 3.4028235e38f;
constexpr double c_fNaN = std::numeric_limits<double>::quiet_NaN();

// Linear interpolation between the closest ranks of n sorted values, at(k) the value of rank k.
template <class At>
double Quantile(std::size_t n, double p, const At& at) noexcept {
  if (n == 0) return c_fNaN;
  const double h = static_cast<double>(n - 1) * std::clamp(p, 0.0, 1.0);
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, n - 1);
  const float a = at(lo);
  const float b = at(hi);
  return a + (h - static_cast<double>(lo)) * (static_cast<double>(b) - a);
}

// The magnitude of rank k (from 0) among sorted values whose first nNegative are negative: those
// read backwards and the others forwards are two ascending runs of magnitudes, and the rank-k one
// of their union is found by bisection on how many of the first k + 1 come from the first run.
float MagnitudeOfRank(const std::vector<float>& sorted, std::size_t nNegative, std::size_t k) {
  const auto a = [&](std::size_t i) { return -sorted[nNegative - 1 - i]; };
  const auto b = [&](std::size_t j) { return std::fabs(sorted[nNegative + j]); };
  const std::size_t nB = sorted.size() - nNegative;
  std::size_t lo = k + 1 > nB ? k + 1 - nB : 0;
  std::size_t hi = std::min(k + 1, nNegative);
  while (lo < hi) {
    // With i from the first run, its next one still lies below the last taken from the second.
    const std::size_t i = lo + (hi - lo) / 2;
    if (a(i) < b(k - i)) {
      lo = i + 1;
    } else {
      hi = i;
    }
  }
  if (lo == 0) return b(k);
  if (lo == k + 1) return a(k);
  return std::max(a(lo - 1), b(k - lo));
}

}  // namespace

DistanceStatistics::DistanceStatistics(const std::vector<float>& distances)
    : DistanceStatistics(distances, 1) {}

DistanceStatistics::DistanceStatistics(const std::vector<float>& distances, unsigned int nThreads)
    : m_nSurfels(distances.size()), m_fMean(c_fNaN), m_fStandardDeviation(c_fNaN), m_fRms(c_fNaN) {
  const auto isDistance = [](float d) { return d != c_fNoDistance && !std::isnan(d); };
  // The distances in their order: each share counts its own, then copies them after those of
  // the shares before it.
  const std::size_t nAll = distances.size();
  const unsigned int nShares = ThreadShares{nThreads}.Shares(nAll);
  std::vector<std::size_t> vecFirst(nShares + 1, 0);
  ForShares(nShares, nAll, [&](unsigned int s, std::size_t nBegin, std::size_t nEnd) {
    vecFirst[s + 1] = static_cast<std::size_t>(
        std::count_if(distances.begin() + static_cast<std::ptrdiff_t>(nBegin),
                      distances.begin() + static_cast<std::ptrdiff_t>(nEnd), isDistance));
  });
  for (unsigned int s = 0; s < nShares; ++s) vecFirst[s + 1] += vecFirst[s];
  m_vecSorted.resize(vecFirst[nShares]);
  ForShares(nShares, nAll, [&](unsigned int s, std::size_t nBegin, std::size_t nEnd) {
    float* pOut = m_vecSorted.data() + vecFirst[s];
    for (std::size_t i = nBegin; i < nEnd; ++i) {
      const float d = distances[i];
      if (isDistance(d)) *pOut++ = d;
    }
  });
  detail::RadixSortFloats(m_vecSorted, nThreads);
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
  return Quantile(m_vecSorted.size(), p, [this](std::size_t k) { return m_vecSorted[k]; });
}

double DistanceStatistics::GetAbsolutePercentile(double p) const {
  const auto nNegative =
      static_cast<std::size_t>(std::lower_bound(m_vecSorted.begin(), m_vecSorted.end(), 0.0f,
                                                [](float v, float zero) { return v < zero; }) -
                               m_vecSorted.begin());
  return Quantile(m_vecSorted.size(), p,
                  [&](std::size_t k) { return MagnitudeOfRank(m_vecSorted, nNegative, k); });
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
  // A distance's bin; it never falls as the distance grows, so over the sorted distances each
  // bin, and the runs below and above, is found by bisection.
  const auto bin = [&](float d) {
    const auto k = static_cast<std::size_t>((d - fLower) * scale);
    return std::min(k, nBins - 1);
  };
  const auto first = m_vecSorted.begin();
  const auto inside =
      std::partition_point(first, m_vecSorted.end(), [&](float d) { return d < fLower; });
  const auto above =
      std::partition_point(inside, m_vecSorted.end(), [&](float d) { return !(d > fUpper); });
  h.nBelow = static_cast<std::size_t>(inside - first);
  h.nAbove = static_cast<std::size_t>(m_vecSorted.end() - above);
  auto from = inside;
  for (std::size_t k = 0; k < nBins; ++k) {
    const auto to = std::partition_point(from, above, [&](float d) { return bin(d) <= k; });
    h.vecCounts[k] = static_cast<std::size_t>(to - from);
    from = to;
  }
  return h;
}

}  // namespace tolvane
