#include <gtest/gtest.h>

#include <tolvane/KaCFtAlgorithmsListCCTAcquisition.h>
#include <tolvane/KaCMpFtColorCompensate.h>
#include <tolvane/KaCMpFtToothTissueTrainingDuringAcquisition.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "filters/AcquisitionFrames.h"

namespace {

using Training = KaCMpFtToothTissueTrainingDuringAcquisition;

class Pipeline : public KaCFtAlgorithmsListCCTAcquisition {
 public:
  [[nodiscard]] const KaIFtSurfelCollection* Entry(std::size_t k) const {
    auto it = getFilterAlgorithms().begin();
    for (; k > 0; --k) ++it;
    return it->Get();
  }
  [[nodiscard]] const Training& Trainer() const { return dynamic_cast<const Training&>(*Entry(0)); }
};

class KaCFtAlgorithmsListCCTAcquisitionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    KaCTolvaneSettings::SetColorCompensate(true);
    KaCTolvaneSettings::SetTrainToothTissueAtStart(false);
    KaCTolvaneSettings::SetGingivaQualityBeforeClassification(0.5f);
    KaCToothTissueMath::SetToothTissueThreshold(KaCToothTissueMath::c_iDefaultToothTissueThreshold);
  }
};

TEST_F(KaCFtAlgorithmsListCCTAcquisitionTest, EntriesFollowTheSettingsAtConstruction) {
  KaCTolvaneSettings::SetColorCompensate(false);
  KaCTolvaneSettings::SetGingivaQualityBeforeClassification(0.25f);
  KaCToothTissueMath::SetToothTissueThreshold(150);
  const Pipeline without;
  KaCTolvaneSettings::SetColorCompensate(true);
  ASSERT_EQ(without.GetCount(), 1u);
  const KaCMpFtSegmentTeethClassifier* pClassifier = without.Trainer().GetClassifier();
  EXPECT_EQ(pClassifier->GetToothTissueThreshold(), 150);
  EXPECT_EQ(pClassifier->GetHueOffset(), 120);
  EXPECT_EQ(pClassifier->GetGingivaQuality(), 0.25f);
  EXPECT_EQ(pClassifier->getReferenceCounter().GetCount(), 1u);

  const Pipeline with;
  ASSERT_EQ(with.GetCount(), 2u);
  EXPECT_NE(dynamic_cast<const KaCMpFtColorCompensate*>(with.Entry(1)), nullptr);
  EXPECT_NE(&with.Trainer(), &without.Trainer());
  EXPECT_NE(with.Trainer().GetClassifier(), pClassifier);
}

TEST_F(KaCFtAlgorithmsListCCTAcquisitionTest, ClassifiesTheAcquiredColourThenCompensates) {
  const Pipeline pipeline;
  // (60, 40, 30): hue 20, shifted 140, gingiva at the default threshold. Compensated as seen
  // edge-on (no normal) it becomes (255, 173, 129), shifted 141, which would be tooth.
  KaCSurfelCollectionCCT c(1, true);
  c.SetColor(0, KaCCompressedColor(60, 40, 30));
  pipeline(c);
  EXPECT_EQ(c.GetTissueTypeAccessor()[0], 3);
  EXPECT_EQ(c.GetColor(0), KaCCompressedColor(255, 173, 129));
}

TEST_F(KaCFtAlgorithmsListCCTAcquisitionTest, TrainingStateIsPerPipelineAndCopiesAreEmpty) {
  KaCTolvaneSettings::SetTrainToothTissueAtStart(true);
  const Pipeline first;
  const Pipeline second;
  KaCSurfelCollectionCCT frame = tolvane_test::MakeTissueFrame(600, 0.5, 4);
  first(frame);
  EXPECT_EQ(first.Trainer().GetNrGoodFrames(), 1u);
  EXPECT_EQ(second.Trainer().GetNrGoodFrames(), 0u);

  const KaCFtAlgorithmsListCCTAcquisition copy(first);
  EXPECT_EQ(copy.GetCount(), 0u);
  const KaCSurfelCollectionCCT before(frame);
  copy(frame);
  for (unsigned int i = 0; i < 600; ++i) {
    ASSERT_EQ(frame.GetAccessor<unsigned char>(eSurfelAttributeFlags)[i],
              before.GetAccessor<unsigned char>(eSurfelAttributeFlags)[i]);
  }
}

}  // namespace
