#include <gtest/gtest.h>

#include <tolvane/KaCMpFtSegmentTeethClassifier.h>

#include "filters/AcquisitionFrames.h"

namespace {

using Classifier = KaCMpFtSegmentTeethClassifier;

// Counts how often its support structures are dropped.
class CountingCollection : public KaCSurfelCollectionCCT {
 public:
  using KaCSurfelCollectionCCT::KaCSurfelCollectionCCT;
  void ResetSupportStructures() const override {
    ++m_nResets;
    KaCSurfelCollectionCCT::ResetSupportStructures();
  }
  mutable int m_nResets = 0;
};

// Decides "tooth" for every colour and marks the quality.
class AlwaysTooth : public Classifier {
 public:
  AlwaysTooth() : Classifier(0, 0, 0.0f, 0.0f, false) {}
  using Classifier::operator();
  void operator()(KaCCompressedColor& /*color*/, unsigned char& tissueType,
                  float& quality) const override {
    tissueType = 0;
    quality = 0.25f;
  }
};

TEST(KaCMpFtSegmentTeethClassifier, ShiftedHueAboveThresholdIsToothEqualityGingiva) {
  struct Case {
    KaCCompressedColor color;
    int iThreshold;
    int iOffset;
    unsigned char nExpected;
  };
  // Red has hue 0, green 120, blue 240.
  const Case cases[] = {
      {{255, 0, 0}, 120, 120, 3},   {{255, 0, 0}, 119, 120, 0},
      {{0, 0, 255}, 119, 120, 3},   {{0, 255, 0}, 239, 120, 0},
      {{0, 255, 0}, 240, 120, 3},   {{255, 0, 0}, -301, -300, 0},  // C remainder: -300
      {{255, 0, 0}, -300, -300, 3},
  };
  for (const Case& k : cases) {
    const Classifier classifier(k.iThreshold, k.iOffset, 0.5f, 0.0f, false);
    KaCCompressedColor color = k.color;
    unsigned char nTissue = 1;
    float fQuality = 0.8f;
    classifier(color, nTissue, fQuality);
    EXPECT_EQ(nTissue, k.nExpected);
    EXPECT_EQ(fQuality, k.nExpected == 0 ? 0.8f : 0.4f);
    EXPECT_EQ(color, k.color);
  }
}

TEST(KaCMpFtSegmentTeethClassifier, ScalesGingivaQualityAsEachStorageKeepsIt) {
  for (ESurfelAttributeSet eSet : {eSurfelAttributeSetFull, eSurfelAttributeSetCompact}) {
    CountingCollection c(2, true, eSet);
    c.SetColor(0, tolvane_test::c_gingivaColor);
    c.SetColor(1, tolvane_test::c_toothColor);
    c.GetQualityAccessor()[1] = 0.3f;
    const float fToothQuality = c.GetQualityAccessor()[1];
    // The rescaling step is switched on but can never fire.
    const Classifier classifier(140, 120, 0.5f, 1.5f, true);
    classifier(c);
    const bool bFloat = eSet == eSurfelAttributeSetFull;
    EXPECT_EQ(c.GetQualityAccessor()[0], bFloat ? 0.5f : 7.0f / 15.0f);
    EXPECT_EQ(c.GetQualityAccessor()[1], fToothQuality);
    EXPECT_EQ(c.GetTissueTypeAccessor()[0], 3);
    EXPECT_EQ(c.GetTissueTypeAccessor()[1], 0);
    EXPECT_EQ(c.GetColor(0), tolvane_test::c_gingivaColor);
    EXPECT_EQ(c.m_nResets, 1);
  }
}

TEST(KaCMpFtSegmentTeethClassifier, EveryPathResetsAndTheVirtualDecisionIsUsed) {
  CountingCollection empty(0);
  Classifier(140, 120, 0.5f, 0.0f, false)(empty);
  EXPECT_EQ(empty.m_nResets, 1);

  KaCSurfelCollectionCCT frame = tolvane_test::MakeTissueFrame(50, 0.5, 2);
  const Classifier& subclass = AlwaysTooth();
  subclass(frame);
  for (unsigned int i = 0; i < frame.GetNrSurfels(); ++i) {
    ASSERT_EQ(frame.GetTissueTypeAccessor()[i], 0);
    ASSERT_EQ(frame.GetQualityAccessor()[i], 0.25f);
  }
}

}  // namespace
