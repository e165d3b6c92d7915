#include <gtest/gtest.h>

#include <tolvane/KaCMpFtToothTissueTrainingDuringAcquisition.h>

#include "filters/AcquisitionFrames.h"

namespace {

using Training = KaCMpFtToothTissueTrainingDuringAcquisition;
using tolvane_test::MakeTissueFrame;

class KaCMpFtToothTissueTrainingTest : public ::testing::Test {
 protected:
  void TearDown() override {
    KaCToothTissueMath::SetToothTissueThreshold(KaCToothTissueMath::c_iDefaultToothTissueThreshold);
  }
  // A good frame (half tooth, half gingiva) through the filter; its hues also go to pSum.
  void Good(const Training& filter, KaCToothTissueMath* pSum = nullptr) {
    KaCSurfelCollectionCCT c = MakeTissueFrame(600, 0.5, m_nSeed++);
    for (unsigned int i = 0; pSum != nullptr && i < c.GetNrSurfels(); ++i)
      pSum->AddToData(c.GetHue(i));
    filter(c);
    for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) {
      ASSERT_EQ(c.GetTissueTypeAccessor()[i], 3);
      ASSERT_EQ(c.GetQualityAccessor()[i], 0.0f);
    }
  }
  CbSmartPointer<KaCMpFtSegmentTeethClassifier> m_spClassifier{
      new KaCMpFtSegmentTeethClassifier(140, 120, 0.5f, 0.0f, false)};
  unsigned int m_nSeed = 1;
};

TEST_F(KaCMpFtToothTissueTrainingTest, LearnsAtTheEarliestInTheTenthGoodFrame) {
  const Training filter(m_spClassifier, true, true, true);
  KaCToothTissueMath sum;
  for (unsigned int k = 1; k <= 9; ++k) {
    Good(filter, &sum);
    // Frames of tooth alone, and empty frames, are not good: not counted, not resetting.
    KaCSurfelCollectionCCT toothOnly = MakeTissueFrame(600, 1.0, 100 + k);
    KaCSurfelCollectionCCT empty(0);
    filter(toothOnly);
    filter(empty);
    EXPECT_EQ(toothOnly.GetTissueTypeAccessor()[0], 3);
    EXPECT_EQ(filter.GetNrGoodFrames(), k);
    EXPECT_TRUE(filter.IsTraining());
  }
  EXPECT_EQ(KaCToothTissueMath::GetToothTissueThreshold(), 140);
  Good(filter, &sum);  // the tenth good frame is still treated as training
  EXPECT_FALSE(filter.IsTraining());
  EXPECT_EQ(filter.GetNrGoodFrames(), 10u);
  sum.PrepareData();
  const int iLearnt = KaCToothTissueMath::GetToothTissueThreshold();
  EXPECT_EQ(iLearnt, sum.GetOtsuThreshold());
  EXPECT_GE(iLearnt, tolvane_test::ShiftedHue(tolvane_test::c_gingivaColor) + 10);
  EXPECT_LT(iLearnt, tolvane_test::ShiftedHue(tolvane_test::c_toothColor) - 10);

  // Afterwards frames are classified with the classifier's own threshold.
  KaCSurfelCollectionCCT next = MakeTissueFrame(2, 0.0, 5);
  next.SetColor(0, tolvane_test::c_toothColor);
  filter(next);
  EXPECT_EQ(next.GetTissueTypeAccessor()[0], 0);
  EXPECT_EQ(next.GetQualityAccessor()[0], 1.0f);
  EXPECT_EQ(next.GetTissueTypeAccessor()[1], 3);
  EXPECT_EQ(next.GetQualityAccessor()[1], 0.5f);
  EXPECT_EQ(filter.GetNrGoodFrames(), 10u);
}

TEST_F(KaCMpFtToothTissueTrainingTest, WithoutTrainingClassifiesOnlyWhenBothFlagsAreOn) {
  for (const bool bQualityFromColor : {false, true}) {
    for (const bool bBeforeRegistration : {false, true}) {
      const Training filter(m_spClassifier, bQualityFromColor, bBeforeRegistration, false);
      const bool bClassify = bQualityFromColor && bBeforeRegistration;
      KaCSurfelCollectionCCT c = MakeTissueFrame(600, 0.5, 9);
      filter(c);
      for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) {
        const bool bGingiva = bClassify && c.GetColor(i).b < 140;
        ASSERT_EQ(c.GetTissueTypeAccessor()[i], bGingiva ? 3 : 0);
        ASSERT_EQ(c.GetQualityAccessor()[i], bGingiva ? 0.5f : 1.0f);
      }
      EXPECT_EQ(filter.GetNrGoodFrames(), 0u);
      EXPECT_FALSE(filter.IsTraining());
    }
  }
  EXPECT_EQ(KaCToothTissueMath::GetToothTissueThreshold(), 140);
}

TEST_F(KaCMpFtToothTissueTrainingTest, CopyTrainsOnIndependentlyWithTheSameClassifier) {
  const Training original(m_spClassifier, true, true, true);
  for (int k = 0; k < 5; ++k) Good(original);
  const Training copy(original);
  EXPECT_EQ(copy.GetClassifier(), m_spClassifier.Get());
  EXPECT_EQ(m_spClassifier->getReferenceCounter().GetCount(), 3u);
  for (int k = 0; k < 5; ++k) Good(copy);
  EXPECT_FALSE(copy.IsTraining());
  EXPECT_TRUE(original.IsTraining());
  EXPECT_EQ(original.GetNrGoodFrames(), 5u);
}

}  // namespace
