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
  // Runs a frame with the given tooth share through the filter; true when all of it was
  // marked as training surfels (gingiva, quality 0). Adds its hues to pSum.
  bool Frame(const Training& filter, double fToothShare, KaCToothTissueMath* pSum = nullptr) {
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
  KaCToothTissueMath goodHues;
  for (unsigned int k = 1; k <= 9; ++k) {
    EXPECT_TRUE(Frame(filter, 0.5, &goodHues));
    // Tooth alone and empty frames are not good: neither counted nor resetting the count.
    EXPECT_TRUE(Frame(filter, 1.0));
    KaCSurfelCollectionCCT empty(0);
    filter(empty);
    EXPECT_EQ(filter.GetNrGoodFrames(), k);
  }
  EXPECT_TRUE(filter.IsTraining());
  EXPECT_EQ(KaCToothTissueMath::GetToothTissueThreshold(), 140);
  EXPECT_TRUE(Frame(filter, 0.5, &goodHues));  // the tenth still trains
  EXPECT_FALSE(filter.IsTraining());
  goodHues.PrepareData();
  EXPECT_EQ(KaCToothTissueMath::GetToothTissueThreshold(), goodHues.GetOtsuThreshold());
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
