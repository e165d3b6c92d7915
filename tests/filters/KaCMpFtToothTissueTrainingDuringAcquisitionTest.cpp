#include <initializer_list>
#include <utility>

#include <gtest/gtest.h>

#include <tolvane/KaCMpFtToothTissueTrainingDuringAcquisition.h>

#include "base/CbException.h"
#include "filters/AcquisitionFrames.h"

namespace {

using Math = KaCToothTissueMath;
using Training = KaCMpFtToothTissueTrainingDuringAcquisition;
using tolvane_test::MakeTissueFrame;

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

// The training filter over streams of synthetic frames.
class KaCMpFtToothTissueTrainingTest : public KaCToothTissueMathTest {
 protected:
  // Runs a frame with the given tooth share through the filter; true when all of it was
  // marked as training surfels (gingiva, quality 0). Adds its hues to pSum.
  bool Frame(const Training& filter, double fToothShare, Math* pSum = nullptr) {
    KaCSurfelCollectionCCT c = MakeTissueFrame(600, fToothShare, m_nSeed++);
    for (unsigned int i = 0; pSum != nullptr && i < 600; ++i) pSum->AddToData(c.GetHue(i));
    filter(c);
    bool bAllTraining = true;
    for (unsigned int i = 0; i < 600; ++i) {
      bAllTraining &= c.GetTissueTypeAccessor()[i] == 3 && c.GetQualityAccessor()[i] == 0.0f;
    }
    return bAllTraining;
  }
  CbSmartPointer<KaCMpFtSegmentTeethClassifier> m_spClassifier{
      new KaCMpFtSegmentTeethClassifier(140, 120, 0.5f, 0.0f, false)};
  unsigned int m_nSeed = 1;
};

TEST_F(KaCMpFtToothTissueTrainingTest, LearnsAtTheEarliestInTheTenthGoodFrame) {
  const Training filter(m_spClassifier, true, true, true);
  Math goodHues;
  for (unsigned int k = 1; k <= 9; ++k) {
    EXPECT_TRUE(Frame(filter, 0.5, &goodHues));
    // Tooth alone and empty frames are not good: neither counted nor resetting the count.
    EXPECT_TRUE(Frame(filter, 1.0));
    KaCSurfelCollectionCCT empty(0);
    filter(empty);
    EXPECT_EQ(filter.GetNrGoodFrames(), k);
  }
  EXPECT_TRUE(filter.IsTraining());
  EXPECT_EQ(Math::GetToothTissueThreshold(), 140);
  EXPECT_TRUE(Frame(filter, 0.5, &goodHues));  // the tenth still trains
  EXPECT_FALSE(filter.IsTraining());
  goodHues.PrepareData();
  EXPECT_EQ(Math::GetToothTissueThreshold(), goodHues.GetOtsuThreshold());
  EXPECT_GT(goodHues.GetOtsuThreshold(), 120);  // between 113 (gingiva) and 162 (tooth)
  EXPECT_LT(goodHues.GetOtsuThreshold(), 155);

  // Then frames are classified with the classifier's own threshold.
  KaCSurfelCollectionCCT next = MakeTissueFrame(1, 0.0, 5);
  filter(next);
  EXPECT_EQ(next.GetTissueTypeAccessor()[0], 3);
  EXPECT_EQ(next.GetQualityAccessor()[0], 0.5f);
  EXPECT_EQ(filter.GetNrGoodFrames(), 10u);
}

TEST_F(KaCMpFtToothTissueTrainingTest, WithoutTrainingClassifiesOnlyWhenBothFlagsAreOn) {
  for (const bool bFromColor : {false, true}) {
    for (const bool bBeforeRegistration : {false, true}) {
      const Training filter(m_spClassifier, bFromColor, bBeforeRegistration, false);
      KaCSurfelCollectionCCT c = MakeTissueFrame(600, 0.5, 9);
      filter(c);
      for (unsigned int i = 0; i < 600; ++i) {
        const bool bGingiva = bFromColor && bBeforeRegistration && c.GetColor(i).b < 140;
        ASSERT_EQ(c.GetTissueTypeAccessor()[i], bGingiva ? 3 : 0);
        ASSERT_EQ(c.GetQualityAccessor()[i], bGingiva ? 0.5f : 1.0f);
      }
      EXPECT_EQ(filter.GetNrGoodFrames(), 0u);
    }
  }
}

TEST_F(KaCMpFtToothTissueTrainingTest, CopyTrainsOnIndependentlyWithTheSameClassifier) {
  const Training original(m_spClassifier, true, true, true);
  for (int k = 0; k < 5; ++k) Frame(original, 0.5);
  const Training copy(original);
  EXPECT_EQ(copy.GetClassifier(), m_spClassifier.Get());
  EXPECT_EQ(m_spClassifier->getReferenceCounter().GetCount(), 3u);
  for (int k = 0; k < 5; ++k) Frame(copy, 0.5);
  EXPECT_FALSE(copy.IsTraining());
  EXPECT_TRUE(original.IsTraining());
  EXPECT_EQ(original.GetNrGoodFrames(), 5u);
}

}  // namespace
