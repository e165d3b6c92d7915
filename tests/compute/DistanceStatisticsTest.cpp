#include <tolvane/DistanceStatistics.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/CbException.h"

namespace {

using tolvane::DistanceStatistics;
constexpr float c_fMarker = 3.4028235e38f;

TEST(DistanceStatistics, FiguresWorkedOutByHandSkipMarkerAndNaN) {
  // With a distance: -1, 1, 3, 5 (sorted). Mean 2, variance (9 + 1 + 1 + 9) / 4 = 5,
  // RMS sqrt((1 + 1 + 9 + 25) / 4) = 3; quantile p at rank 3p between neighbours.
  const DistanceStatistics s(
      {3.0f, c_fMarker, -1.0f, std::numeric_limits<float>::quiet_NaN(), 5.0f, 1.0f});
  EXPECT_EQ(s.GetNrSurfels(), 6u);
  EXPECT_EQ(s.GetNrWithDistance(), 4u);
  EXPECT_DOUBLE_EQ(s.GetMean(), 2.0);
  EXPECT_DOUBLE_EQ(s.GetStandardDeviation(), std::sqrt(5.0));
  EXPECT_DOUBLE_EQ(s.GetRms(), 3.0);
  EXPECT_EQ(s.GetMinimum(), -1.0);
  EXPECT_EQ(s.GetMaximum(), 5.0);
  EXPECT_DOUBLE_EQ(s.GetPercentile(0.05), -0.7);
  EXPECT_DOUBLE_EQ(s.GetPercentile(0.5), 2.0);
  EXPECT_DOUBLE_EQ(s.GetPercentile(0.95), 4.7);
  EXPECT_EQ(s.GetPercentile(0.0), -1.0);
  EXPECT_EQ(s.GetPercentile(1.0), 5.0);
  // Magnitudes 1, 1, 3, 5.
  EXPECT_DOUBLE_EQ(s.GetAbsolutePercentile(0.5), 2.0);
  EXPECT_DOUBLE_EQ(s.GetAbsolutePercentile(0.95), 4.7);

  // Magnitudes of many seeded values, zeros of both signs among them, against sorting them;
  // also all negative and all positive.
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> value(-2.0f, 3.0f);
  std::vector<float> many(2001);
  for (float& v : many) v = rng() % 5 == 0 ? (rng() % 2 == 0 ? -0.0f : 0.0f) : value(rng);
  std::vector<float> negative(many);
  std::vector<float> positive(many);
  for (std::size_t i = 0; i < many.size(); ++i) {
    negative[i] = -1.0f - std::fabs(many[i]);
    positive[i] = 1.0f + std::fabs(many[i]);
  }
  for (const std::vector<float>* values : {&many, &negative, &positive}) {
    std::vector<float> magnitudes(*values);
    for (float& v : magnitudes) v = std::fabs(v);
    std::sort(magnitudes.begin(), magnitudes.end());
    const DistanceStatistics st(*values);
    for (const double p : {0.0, 0.05, 0.3, 0.5, 0.95, 1.0}) {
      const double h = 2000.0 * p;
      const auto lo = static_cast<std::size_t>(h);
      const std::size_t hi = std::min<std::size_t>(lo + 1, 2000);
      const double expected =
          magnitudes[lo] +
          (h - static_cast<double>(lo)) * (static_cast<double>(magnitudes[hi]) - magnitudes[lo]);
      EXPECT_EQ(st.GetAbsolutePercentile(p), expected) << p;
    }
  }

  const DistanceStatistics none({c_fMarker, c_fMarker});
  EXPECT_EQ(none.GetNrSurfels(), 2u);
  EXPECT_EQ(none.GetNrWithDistance(), 0u);
  for (double v : {none.GetMean(), none.GetStandardDeviation(), none.GetRms(), none.GetMinimum(),
                   none.GetMaximum(), none.GetPercentile(0.5), none.GetAbsolutePercentile(0.95)}) {
    EXPECT_TRUE(std::isnan(v));
  }
}

TEST(DistanceStatistics, HistogramBinsEdgesAndOverflow) {
  const DistanceStatistics s({-3.0f, -2.0f, -1.0f, 0.0f, 1.0f, 3.0f, 4.0f, 4.5f, c_fMarker});
  const DistanceStatistics::Histogram h = s.GetHistogram(-2.0, 4.0, 3);
  // Bins [-2, 0), [0, 2), [2, 4]: the upper bound falls in the last bin.
  EXPECT_EQ(h.vecCounts, (std::vector<std::size_t>{2, 2, 2}));
  EXPECT_EQ(h.nBelow, 1u);
  EXPECT_EQ(h.nAbove, 1u);
  EXPECT_EQ(h.fLower, -2.0);
  EXPECT_EQ(h.fUpper, 4.0);
  EXPECT_THROW((void)s.GetHistogram(0.0, 1.0, 0), CbException);
  EXPECT_THROW((void)s.GetHistogram(1.0, 1.0, 4), CbException);

  // Seeded distances, many of them on bin edges, against counting each into its bin.
  std::mt19937 rng(8);
  std::vector<float> many(30000);
  for (float& v : many) {
    v = rng() % 3 == 0 ? static_cast<float>(static_cast<int>(rng() % 41) - 20) * 0.125f
                       : std::uniform_real_distribution<float>(-3.0f, 3.0f)(rng);
  }
  const DistanceStatistics st(many);
  for (const auto& [lower, upper, nBins] :
       {std::tuple{-2.0, 2.0, std::size_t{32}}, std::tuple{-0.3, 1.7, std::size_t{7}},
        std::tuple{5.0, 6.0, std::size_t{3}}, std::tuple{-1.0, 1.0, std::size_t{1}}}) {
    DistanceStatistics::Histogram want;
    want.vecCounts.assign(nBins, 0);
    for (float d : many) {
      if (d < lower) {
        ++want.nBelow;
      } else if (d > upper) {
        ++want.nAbove;
      } else {
        const auto k =
            static_cast<std::size_t>((d - lower) * (static_cast<double>(nBins) / (upper - lower)));
        ++want.vecCounts[std::min(k, nBins - 1)];
      }
    }
    const DistanceStatistics::Histogram got = st.GetHistogram(lower, upper, nBins);
    EXPECT_EQ(got.vecCounts, want.vecCounts) << lower << ".." << upper;
    EXPECT_EQ(got.nBelow, want.nBelow) << lower << ".." << upper;
    EXPECT_EQ(got.nAbove, want.nAbove) << lower << ".." << upper;
  }
}

// Gathered and sorted by several threads, every figure is the one-thread figure bit for bit.
TEST(DistanceStatistics, ThreadsGiveTheSameFigures) {
  std::mt19937 rng(9);
  std::normal_distribution<float> g(0.0f, 0.02f);
  std::vector<float> d(300001);
  for (float& v : d) {
    const unsigned int k = rng() % 50;
    v = k == 0 ? c_fMarker : k == 1 ? std::numeric_limits<float>::quiet_NaN() : g(rng);
  }
  const DistanceStatistics one(d);
  for (unsigned int nThreads : {0u, 2u, 3u, 8u}) {
    const DistanceStatistics many(d, nThreads);
    EXPECT_EQ(many.GetNrWithDistance(), one.GetNrWithDistance());
    for (const auto& [a, b] :
         {std::pair{many.GetMean(), one.GetMean()},
          std::pair{many.GetStandardDeviation(), one.GetStandardDeviation()},
          std::pair{many.GetRms(), one.GetRms()}, std::pair{many.GetMinimum(), one.GetMinimum()},
          std::pair{many.GetMaximum(), one.GetMaximum()},
          std::pair{many.GetPercentile(0.05), one.GetPercentile(0.05)},
          std::pair{many.GetPercentile(0.5), one.GetPercentile(0.5)},
          std::pair{many.GetAbsolutePercentile(0.95), one.GetAbsolutePercentile(0.95)}}) {
      EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << nThreads << " threads: " << a << " " << b;
    }
  }
}

}  // namespace
