#include <initializer_list>
#include <utility>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "filters/AcquisitionFrames.h"

namespace {

using Math = KaCToothTissueMath;

// Prepared statistics of (hue, count) pairs.
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

TEST_F(KaCToothTissueMathTest, OtsuCutsInTheMiddleOfTheGapAndPublishes) {
  // Shifted 120 and 160: every cut from 120 to 159 is as good; the middle one is 139.
  Math gingiva = Hues({{0, 300}});
  EXPECT_FALSE(gingiva.IsDataGood());
  gingiva += Hues({{40, 300}});
  EXPECT_TRUE(gingiva.IsDataGood());
  EXPECT_DOUBLE_EQ(gingiva.GetSeparability(), 1.0);
  EXPECT_EQ(Math::GetToothTissueThreshold(), 140);
  EXPECT_EQ(gingiva.CalcToothTissueThreshold(), 139);
  EXPECT_EQ(Math::GetToothTissueThreshold(), 139);
}

TEST_F(KaCToothTissueMathTest, GoodNeedsSamplesTwoClassesAndSeparation) {
  EXPECT_FALSE(Hues({{0, 250}, {40, 249}}).IsDataGood());  // 499 samples
  EXPECT_TRUE(Hues({{0, 250}, {40, 250}}).IsDataGood());
  EXPECT_FALSE(Hues({{0, 49}, {40, 951}}).IsDataGood());  // 4.9 % in one class
  EXPECT_TRUE(Hues({{0, 50}, {40, 950}}).IsDataGood());
  EXPECT_EQ(Hues({{45, 1000}}).GetOtsuThreshold(), -1);
  Math even;  // 30..59 evenly: no split explains more than 0.75 of the variance
  for (int k = 0; k < 1200; ++k) even.AddToData(30 + k % 30);
  EXPECT_THROW(even.CalcToothTissueThreshold(), CbException);
  EXPECT_NEAR(even.GetSeparability(), 0.75, 0.01);
  EXPECT_EQ(Math::GetToothTissueThreshold(), 140);
  EXPECT_THROW(even.AddToData(360), CbException);
  EXPECT_THROW(even.AddToData(-1), CbException);
  EXPECT_EQ(even.GetNrSamples(), 1200u);
}

TEST_F(KaCToothTissueMathTest, DefaultThresholdSeparatesTheTissues) {
  const int iTooth = (Math::GetHue(tolvane_test::c_toothColor.GetPacked()) + 120) % 360;
  const int iGingiva = (Math::GetHue(tolvane_test::c_gingivaColor.GetPacked()) + 120) % 360;
  EXPECT_GT(iTooth, Math::c_iDefaultToothTissueThreshold);
  EXPECT_LE(iGingiva, Math::c_iDefaultToothTissueThreshold);
  EXPECT_EQ(Math::GetHue(0x808080), 0);
}

}  // namespace
