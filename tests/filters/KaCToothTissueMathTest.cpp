#include <initializer_list>
#include <random>
#include <utility>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "filters/AcquisitionFrames.h"
#include "tissue/KaCToothTissueMath.h"
#include "tissue/KaHue.h"

namespace {

using Math = KaCToothTissueMath;

// Statistics of the given (hue, count) pairs, prepared.
Math Hues(std::initializer_list<std::pair<int, int>> hueCounts) {
  Math m;
  for (const auto& [hue, count] : hueCounts) {
    for (int k = 0; k < count; ++k) m.AddToData(hue);
  }
  m.PrepareData();
  return m;
}

class KaCToothTissueMathTest : public ::testing::Test {
 protected:
  void TearDown() override { Math::SetToothTissueThreshold(Math::c_iDefaultToothTissueThreshold); }
};

TEST_F(KaCToothTissueMathTest, OtsuSplitsBetweenTheBumpsAndPublishes) {
  // Shifted bins 120 and 160: every cut from 120 to 159 splits equally well; the middle is 139.
  Math two = Hues({{0, 300}, {40, 300}});
  EXPECT_TRUE(two.IsDataGood());
  EXPECT_EQ(two.GetOtsuThreshold(), 139);
  EXPECT_DOUBLE_EQ(two.GetSeparability(), 1.0);
  EXPECT_EQ(Math::GetToothTissueThreshold(), Math::c_iDefaultToothTissueThreshold);
  EXPECT_EQ(two.CalcToothTissueThreshold(), 139);
  EXPECT_EQ(Math::GetToothTissueThreshold(), 139);

  // Shifted 100, 110, 170 in equal parts: {100, 110} | {170} explains 8450 / 8600 of the
  // variance, better than {100} | {110, 170}.
  const Math three = Hues({{340, 200}, {350, 200}, {50, 200}});
  EXPECT_EQ(three.GetOtsuThreshold(), 139);
  EXPECT_NEAR(three.GetSeparability(), 8450.0 / 8600.0, 1e-12);
  EXPECT_TRUE(three.IsDataGood());
}

TEST_F(KaCToothTissueMathTest, GoodNeedsSamplesTwoClassesAndSeparation) {
  EXPECT_FALSE(Hues({{0, 250}, {40, 249}}).IsDataGood());  // 499 samples
  EXPECT_TRUE(Hues({{0, 250}, {40, 250}}).IsDataGood());
  EXPECT_FALSE(Hues({{0, 49}, {40, 951}}).IsDataGood());  // 4.9 % gingiva
  EXPECT_TRUE(Hues({{0, 50}, {40, 950}}).IsDataGood());
  const Math one = Hues({{45, 1000}});
  EXPECT_FALSE(one.IsDataGood());
  EXPECT_EQ(one.GetOtsuThreshold(), -1);
  // An even spread over 30..59: a split explains 0.75 of the variance at best.
  Math even;
  for (int k = 0; k < 1200; ++k) even.AddToData(30 + k % 30);
  even.PrepareData();
  EXPECT_NEAR(even.GetSeparability(), 0.75, 0.01);
  EXPECT_FALSE(even.IsDataGood());
  EXPECT_THROW(even.CalcToothTissueThreshold(), CbException);
  EXPECT_EQ(Math::GetToothTissueThreshold(), Math::c_iDefaultToothTissueThreshold);
  EXPECT_THROW(even.AddToData(360), CbException);
  EXPECT_THROW(even.AddToData(-1), CbException);
  EXPECT_EQ(even.GetNrSamples(), 1200u);
}

TEST_F(KaCToothTissueMathTest, SumsOfOneSidedFramesSplitAndCopiesStayApart) {
  Math sum = Hues({{0, 400}});
  const Math tooth = Hues({{40, 400}});
  EXPECT_FALSE(sum.IsDataGood());
  const Math before(sum);
  sum += tooth;
  EXPECT_TRUE(sum.IsDataGood());
  EXPECT_EQ(sum.GetOtsuThreshold(), 139);
  EXPECT_EQ(before.GetNrSamples(), 400u);
  EXPECT_FALSE(before.IsDataGood());
  sum.AddToData(0);  // new data clears the verdict until the next PrepareData
  EXPECT_FALSE(sum.IsDataGood());
}

TEST_F(KaCToothTissueMathTest, HueIsTheSharedOneAndTheDefaultSeparatesTissues) {
  std::mt19937 rng(7);
  for (int k = 0; k < 1000; ++k) {
    const unsigned long packed = rng() & 0xFFFFFFu;
    ASSERT_EQ(Math::GetHue(packed), KaComputeHue(packed));
  }
  const KaCSurfelCollectionCCT frame = tolvane_test::MakeTissueFrame(2000, 0.5, 3);
  const auto colors = frame.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  for (unsigned int i = 0; i < frame.GetNrSurfels(); ++i) {
    const bool bToothLike = colors[i].b > 140;
    EXPECT_EQ(tolvane_test::ShiftedHue(colors[i]) > Math::c_iDefaultToothTissueThreshold,
              bToothLike);
    ASSERT_EQ(frame.GetHue(i), Math::GetHue(colors[i].GetPacked()));
  }
}

}  // namespace
