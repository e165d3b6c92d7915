#include <tolvane/DistanceStatistics.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
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
}

}  // namespace
