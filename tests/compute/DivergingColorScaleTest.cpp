#include <tolvane/DivergingColorScale.h>

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "support/TestSupport.h"

namespace {

using tolvane::DivergingColorScale;
using Rgb = DivergingColorScale::Rgb;

const Rgb c_blue = {59, 76, 192};
const Rgb c_neutral = {221, 221, 221};
const Rgb c_red = {180, 4, 38};

// Relative luminance in 0..255 units (Rec. 709 weights on the bytes, good enough to order).
double Luma(const Rgb& c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; }

TEST(DivergingColorScale, SidesCentreEndsAndGrey) {
  const DivergingColorScale scale(2.0f, 5.0f);
  EXPECT_EQ(scale.ColorOf(0.0f), c_neutral);
  EXPECT_EQ(scale.ColorOf(-0.0f), c_neutral);
  EXPECT_EQ(scale.ColorOf(-2.0f), c_blue);
  EXPECT_EQ(scale.ColorOf(2.0f), c_red);
  // Beyond the range up to the limit (inclusive): the end colour of the side.
  for (float v : {-2.0001f, -3.0f, -5.0f}) EXPECT_EQ(scale.ColorOf(v), c_blue) << v;
  for (float v : {2.0001f, 4.9f, 5.0f}) EXPECT_EQ(scale.ColorOf(v), c_red) << v;
  // Beyond the limit, not a number, the marker: grey.
  for (float v : {5.0001f, -5.0001f, std::numeric_limits<float>::quiet_NaN(),
                  std::numeric_limits<float>::infinity(), DivergingColorScale::c_fNoValue}) {
    EXPECT_EQ(scale.ColorOf(v), DivergingColorScale::c_noValue) << v;
  }
  // The marker stays grey even without a limit.
  const DivergingColorScale unlimited(1.0f, std::numeric_limits<float>::infinity());
  EXPECT_EQ(unlimited.ColorOf(DivergingColorScale::c_fNoValue), DivergingColorScale::c_noValue);
  EXPECT_EQ(unlimited.ColorOf(1e30f), c_red);
  EXPECT_EQ(scale.PositionOf(-1.0f), 0.25);
  EXPECT_EQ(scale.PositionOf(-4.0f), 0.0);
  EXPECT_EQ(scale.PositionOf(4.0f), 1.0);
  EXPECT_TRUE(std::isnan(scale.PositionOf(6.0f)));
  // Halfway between two entries the bytes are the rounded mean: entries 16 and 17.
  EXPECT_EQ(scale.ColorOf(2.0f / 32.0f), (Rgb{225, 219, 215}));
}

TEST(DivergingColorScale, BlueBelowRedAboveLighterTowardsZeroGreyNeverUsed) {
  const DivergingColorScale scale(1.0f, 1.0f);
  double lastLuma = 0.0;
  for (int k = -1000; k <= 1000; ++k) {
    const float v = static_cast<float>(k) / 1000.0f;
    const Rgb c = scale.ColorOf(v);
    ASSERT_NE(c, DivergingColorScale::c_noValue) << v;
    // Within 1 % of zero the bytes may round to the neutral centre.
    if (k < -10) {
      EXPECT_GT(c.b, c.r) << v;
    }
    if (k > 10) {
      EXPECT_GT(c.r, c.b) << v;
    }
    // Lightness rises to the centre and falls after it; 8-bit rounding allows a step of 1.
    const double l = Luma(c);
    if (k <= 0 && k > -1000) {
      EXPECT_GE(l, lastLuma - 1.0) << v;
    }
    if (k > 0) {
      EXPECT_LE(l, lastLuma + 1.0) << v;
    }
    lastLuma = l;
    // The only neutral colour of the scale is its light centre, far from the grey.
    if (c.r == c.g && c.g == c.b) {
      EXPECT_EQ(c, c_neutral) << v;
    }
  }
  EXPECT_EQ(DivergingColorScale::At(-1.0), c_blue);
  EXPECT_EQ(DivergingColorScale::At(2.0), c_red);
}

TEST(DivergingColorScale, ApplyColoursTheGivenSurfelsOnly) {
  KaCSurfelCollectionCCT c = tolvane_test::MakeCollection(6);
  const KaCCompressedColor last = c.GetColor(5);
  const float quality = c.GetQualityAccessor()[5];
  const DivergingColorScale scale(1.0f, 2.0f);
  scale.Apply(c, {-1.0f, 0.0f, 1.0f, 3.0f, DivergingColorScale::c_fNoValue});
  EXPECT_EQ(c.GetColor(0), KaCCompressedColor(59, 76, 192));
  EXPECT_EQ(c.GetColor(1), KaCCompressedColor(221, 221, 221));
  EXPECT_EQ(c.GetColor(2), KaCCompressedColor(180, 4, 38));
  EXPECT_EQ(c.GetColor(3), KaCCompressedColor(128, 128, 128));
  EXPECT_EQ(c.GetColor(4), KaCCompressedColor(128, 128, 128));
  EXPECT_EQ(c.GetColor(5), last);
  EXPECT_EQ(c.GetQualityAccessor()[5], quality);

  const KaCCompressedColor first = c.GetColor(0);
  EXPECT_THROW(scale.Apply(c, std::vector<float>(7, 0.0f)), CbException);
  EXPECT_EQ(c.GetColor(0), first);
  EXPECT_THROW(DivergingColorScale(0.0f, 1.0f), CbException);
  EXPECT_THROW(DivergingColorScale(std::numeric_limits<float>::infinity(), 1.0f), CbException);
  EXPECT_THROW(DivergingColorScale(1.0f, -1.0f), CbException);
  EXPECT_THROW(DivergingColorScale(1.0f, std::numeric_limits<float>::quiet_NaN()), CbException);
}

}  // namespace
