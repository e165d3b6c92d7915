#include <vector>

#include <gtest/gtest.h>

#include <tolvane/KaCFtAlgorithmsListCCTAcquisition.h>
#include <tolvane/KaCMpFtColorCompensate.h>
#include <tolvane/KaCMpFtToothTissueTrainingDuringAcquisition.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "filters/AcquisitionFrames.h"

namespace {

using Training = KaCMpFtToothTissueTrainingDuringAcquisition;

// Exposes the entries.
class Pipeline : public KaCFtAlgorithmsListCCTAcquisition {
 public:
  [[nodiscard]] std::vector<const KaIFtSurfelCollection*> Entries() const {
    std::vector<const KaIFtSurfelCollection*> entries;
    for (const auto& sp : getFilterAlgorithms()) entries.push_back(sp.Get());
    return entries;
  }
  [[nodiscard]] const Training& Trainer() const {
    return dynamic_cast<const Training&>(*Entries().at(0));
  }
};

class KaCFtAlgorithmsListCCTAcquisitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_bColorCompensate = KaCTolvaneSettings::IsColorCompensate();
    m_bTrain = KaCTolvaneSettings::IsTrainToothTissueAtStart();
    m_fGingivaQuality = KaCTolvaneSettings::GetGingivaQualityBeforeClassification();
    KaCTolvaneSettings::SetQualityFromColor(true);
    KaCTolvaneSettings::SetToothTissueBeforeSequentialRegistration(true);
  }
  void TearDown() override {
    KaCTolvaneSettings::SetColorCompensate(m_bColorCompensate);
    KaCTolvaneSettings::SetTrainToothTissueAtStart(m_bTrain);
    KaCTolvaneSettings::SetGingivaQualityBeforeClassification(m_fGingivaQuality);
    KaCToothTissueMath::SetToothTissueThreshold(KaCToothTissueMath::c_iDefaultToothTissueThreshold);
  }
  bool m_bColorCompensate = true;
  bool m_bTrain = false;
  float m_fGingivaQuality = 0.5f;
};

TEST_F(KaCFtAlgorithmsListCCTAcquisitionTest, EntriesFollowTheSettingsAtConstruction) {
  KaCTolvaneSettings::SetColorCompensate(false);
  KaCTolvaneSettings::SetGingivaQualityBeforeClassification(0.25f);
  KaCToothTissueMath::SetToothTissueThreshold(150);
  const Pipeline without;
  ASSERT_EQ(without.Entries().size(), 1u);
  const KaCMpFtSegmentTeethClassifier* pClassifier = without.Trainer().GetClassifier();
  ASSERT_NE(pClassifier, nullptr);
  EXPECT_EQ(pClassifier->GetToothTissueThreshold(), 150);
  EXPECT_EQ(pClassifier->GetHueOffset(), 120);
  EXPECT_EQ(pClassifier->GetGingivaQuality(), 0.25f);
  EXPECT_EQ(pClassifier->getReferenceCounter().GetCount(), 1u);

  KaCTolvaneSettings::SetColorCompensate(true);
  EXPECT_EQ(without.Entries().size(), 1u);
  const Pipeline with;
  ASSERT_EQ(with.Entries().size(), 2u);
  EXPECT_NE(dynamic_cast<const Training*>(with.Entries()[0]), nullptr);
  EXPECT_NE(dynamic_cast<const KaCMpFtColorCompensate*>(with.Entries()[1]), nullptr);
  // Two pipelines share no filter and no classifier.
  EXPECT_NE(with.Entries()[0], without.Entries()[0]);
  EXPECT_NE(with.Trainer().GetClassifier(), pClassifier);
}

TEST_F(KaCFtAlgorithmsListCCTAcquisitionTest, ClassifiesTheAcquiredColourThenCompensates) {
  KaCTolvaneSettings::SetColorCompensate(true);
  const Pipeline pipeline;
  // (60, 40, 30) has hue 20, shifted 140: gingiva at the default threshold. Compensated
  // edge-on (no normal) it becomes (255, 173, 129), shifted 141, which would count as tooth.
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
  EXPECT_TRUE(second.Trainer().IsTraining());

  const KaCFtAlgorithmsListCCTAcquisition copy(first);
  EXPECT_EQ(copy.GetCount(), 0u);
  const KaCSurfelCollectionCCT before(frame);
  copy(frame);
  for (unsigned int i = 0; i < frame.GetNrSurfels(); ++i) {
    ASSERT_EQ(frame.GetColor(i), before.GetColor(i));
    ASSERT_EQ(frame.GetTissueTypeAccessor()[i], before.GetTissueTypeAccessor()[i]);
  }
}

}  // namespace
