#include <tolvane/CFtColorCodeSurfelCollection.h>

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
constexpr float c_fMarker = 3.4028235e38f;

// The colour the scale from fMin to fMax gives v.
KaCCompressedColor Coded(float fMin, float fMax, float v) {
  float rgb[3];
  KaCColorCoder(fMin, fMax).SetColor(v, rgb);
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
  // Limit 1.5 on the scale -1..1: +-1.5 sit on the limit and are coloured, NaN goes to the
  // scale; the surfels without a value keep their colours.
  const std::vector<float> values = {0.0f,  1.0f,      -1.0f,
                                     1.5f,  -1.5f,     1.5000001f,
                                     -2.0f, c_fMarker, std::numeric_limits<float>::quiet_NaN(),
                                     0.25f};
  CFtColorCodeSurfelCollection coding;
  coding.SetInput(c, values, 1.5f, 1.0f);
  EXPECT_EQ(coding.GetMinValue(), -1.0f);
  EXPECT_EQ(coding.GetMaxValue(), 1.0f);
  EXPECT_TRUE(coding.Compute());
  for (unsigned int k = 0; k < 12; ++k) {
    const bool bGrey = k == 5 || k == 6 || k == 7;
    EXPECT_EQ(c.GetColor(k), k >= values.size() ? before[k]
                             : bGrey            ? c_grey
                                                : Coded(-1.0f, 1.0f, values[k]))
        << k;
  }
  EXPECT_NE(c.GetColor(8), c_grey);  // NaN reached the coder
  EXPECT_NE(c.GetColor(9), c_grey);

  // With limit 0 only zeros of either sign are coloured; without a limit the marker is still
  // grey while its negative is a value like others.
  const std::vector<float> tiny = {0.0f, -0.0f, 1e-30f};
  coding.SetInput(c, tiny, 0.0f, 1.0f);
  coding.Compute();
  EXPECT_EQ(Colors(c)[0], Coded(-1.0f, 1.0f, 0.0f));
  EXPECT_EQ(Colors(c)[1], Coded(-1.0f, 1.0f, 0.0f));
  EXPECT_EQ(Colors(c)[2], c_grey);
  const std::vector<float> huge = {c_fMarker, -c_fMarker};
  coding.SetInput(c, huge, std::numeric_limits<float>::infinity(), 1.0f);
  coding.Compute();
  EXPECT_EQ(c.GetColor(0), c_grey);
  EXPECT_EQ(c.GetColor(1), Coded(-1.0f, 1.0f, -c_fMarker));
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
  coding.SetInput(c, values, 10.0f, 2.0f);  // the symmetric form, same scale
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
  const std::vector<float> tooMany(5, 0.0f);
  coding.SetInput(c, tooMany, 1.0f, 1.0f);
  EXPECT_THROW(coding.Compute(), CbException);
  EXPECT_EQ(Colors(c), before);
}

}  // namespace
