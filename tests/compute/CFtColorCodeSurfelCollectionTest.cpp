#include <tolvane/CFtColorCodeSurfelCollection.h>

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "support/TestSupport.h"
#include "tissue/KaCColorCoder.h"

namespace {

using tolvane_test::MakeCollection;
const KaCCompressedColor c_grey(128, 128, 128);

// The colour the scale from fMin to fMax gives v.
KaCCompressedColor Coded(float fMin, float fMax, float v) {
  KaCColorCoder coder(fMin, fMax);
  float rgb[3];
  coder.SetColor(v, rgb);
  return KaCCompressedColor(rgb[0], rgb[1], rgb[2]);
}

std::vector<KaCCompressedColor> Colors(const KaCSurfelCollectionCCT& c) {
  std::vector<KaCCompressedColor> colors;
  for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) colors.push_back(c.GetColor(i));
  return colors;
}

TEST(CFtColorCodeSurfelCollection, GreyForMarkerAndOutOfBoundsOnly) {
  const KaCSurfelCollectionCCT c = MakeCollection(12);
  const std::vector<KaCCompressedColor> before = Colors(c);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Limit 1.5 on the scale -1..1: 1.5 and -1.5 sit on the limit and are coloured (above the
  // scale's end), NaN goes to the scale; the last two surfels get no value.
  const std::vector<float> values = {0.0f,       1.0f,  -1.0f,         1.5f, -1.5f,
                                     1.5000001f, -2.0f, 3.4028235e38f, nan,  0.25f};
  CFtColorCodeSurfelCollection coding;
  coding.SetInput(c, values, 1.5f, 1.0f);
  EXPECT_EQ(coding.GetMinValue(), -1.0f);
  EXPECT_EQ(coding.GetMaxValue(), 1.0f);
  EXPECT_EQ(coding.GetMaxAbsValue(), 1.5f);
  EXPECT_TRUE(coding.Compute());
  for (unsigned int k = 0; k < values.size(); ++k) {
    const bool bGrey = k == 5 || k == 6 || k == 7;
    EXPECT_EQ(c.GetColor(k), bGrey ? c_grey : Coded(-1.0f, 1.0f, values[k])) << k;
  }
  EXPECT_NE(Coded(-1.0f, 1.0f, 0.25f), c_grey);
  EXPECT_EQ(c.GetColor(10), before[10]);
  EXPECT_EQ(c.GetColor(11), before[11]);

  // With limit 0 only zeros of either sign are coloured.
  const std::vector<float> tiny = {0.0f, -0.0f, 1e-30f};
  coding.SetInput(c, tiny, 0.0f, 1.0f);
  coding.Compute();
  EXPECT_EQ(c.GetColor(0), Coded(-1.0f, 1.0f, 0.0f));
  EXPECT_EQ(c.GetColor(1), Coded(-1.0f, 1.0f, 0.0f));
  EXPECT_EQ(c.GetColor(2), c_grey);

  // Without a magnitude limit the marker is still grey; its negative is a value like others.
  const std::vector<float> huge = {3.4028235e38f, -3.4028235e38f};
  coding.SetInput(c, huge, std::numeric_limits<float>::infinity(), 1.0f);
  coding.Compute();
  EXPECT_EQ(c.GetColor(0), c_grey);
  EXPECT_EQ(c.GetColor(1), Coded(-1.0f, 1.0f, -3.4028235e38f));
  EXPECT_NE(c.GetColor(1), c_grey);
}

TEST(CFtColorCodeSurfelCollection, ExplicitRangeTakesTheLimitFirst) {
  const KaCSurfelCollectionCCT c = MakeCollection(3);
  const std::vector<float> values = {-2.0f, 2.0f, 0.5f};
  CFtColorCodeSurfelCollection coding;
  coding.SetInput(c, values, 10.0f, -2.0f, 2.0f);
  EXPECT_EQ(coding.GetMaxAbsValue(), 10.0f);
  coding.Compute();
  const std::vector<KaCCompressedColor> explicitRange = Colors(c);
  EXPECT_EQ(explicitRange[0], Coded(0.0f, 1.0f, 0.0f));  // the low end of the scale
  EXPECT_EQ(explicitRange[1], Coded(0.0f, 1.0f, 1.0f));  // the high end
  EXPECT_NE(explicitRange[0], explicitRange[1]);
  // The symmetric form with range 2 is the same scale.
  coding.SetInput(c, values, 10.0f, 2.0f);
  coding.Compute();
  EXPECT_EQ(Colors(c), explicitRange);
}

TEST(CFtColorCodeSurfelCollection, BadInputChangesNothing) {
  const KaCSurfelCollectionCCT c = MakeCollection(4);
  const std::vector<KaCCompressedColor> before = Colors(c);
  CFtColorCodeSurfelCollection coding;
  EXPECT_THROW(coding.Compute(), CbException);

  const std::vector<float> none;
  coding.SetInput(c, none, 1.0f, 1.0f);
  EXPECT_TRUE(coding.Compute());
  EXPECT_EQ(Colors(c), before);

  const std::vector<float> tooMany(5, 0.0f);
  coding.SetInput(c, tooMany, 1.0f, 1.0f);
  EXPECT_THROW(coding.Compute(), CbException);
  EXPECT_EQ(Colors(c), before);
}

}  // namespace
