#include <gtest/gtest.h>

#include <tolvane/KaCMpFtSegmentTeethClassifier.h>

#include "filters/AcquisitionFrames.h"

namespace {

using Classifier = KaCMpFtSegmentTeethClassifier;

class CountingCollection : public KaCSurfelCollectionCCT {
 public:
  using KaCSurfelCollectionCCT::KaCSurfelCollectionCCT;
  void ResetSupportStructures() const override { ++m_nResets; }
  mutable int m_nResets = 0;
};

class AlwaysTooth : public Classifier {
 public:
  AlwaysTooth() : Classifier(0, 0, 0.0f, 0.0f, false) {}
  using Classifier::operator();
  void operator()(KaCCompressedColor&, unsigned char& tissue, float& quality) const override {
    tissue = 0;
    quality = 0.25f;
  }
};

TEST(KaCMpFtSegmentTeethClassifier, ShiftedHueAboveThresholdIsToothEqualityGingiva) {
  // {colour, threshold, offset, tissue}; red has hue 0, green 120, blue 240.
  const struct {
    KaCCompressedColor color;
    int iThreshold, iOffset;
    unsigned char nTissue;
  } cases[] = {{{255, 0, 0}, 120, 120, 3},   {{255, 0, 0}, 119, 120, 0},
               {{0, 0, 255}, 119, 120, 3},   {{0, 255, 0}, 239, 120, 0},
               {{255, 0, 0}, -301, -300, 0},  // C remainder: -300, not 60
               {{255, 0, 0}, -300, -300, 3}};
  for (const auto& k : cases) {
    KaCCompressedColor color = k.color;
    unsigned char nTissue = 1;
    float fQuality = 0.8f;
    Classifier(k.iThreshold, k.iOffset, 0.5f, 0.0f, false)(color, nTissue, fQuality);
    EXPECT_EQ(nTissue, k.nTissue);
    EXPECT_EQ(fQuality, k.nTissue == 0 ? 0.8f : 0.4f);
    EXPECT_EQ(color, k.color);
  }
}

TEST(KaCMpFtSegmentTeethClassifier, ScalesGingivaQualityAsEachStorageKeepsIt) {
  for (const ESurfelAttributeSet eSet : {eSurfelAttributeSetFull, eSurfelAttributeSetCompact}) {
    CountingCollection c(2, true, eSet);
    c.SetColor(0, tolvane_test::c_gingivaColor);
    c.SetColor(1, tolvane_test::c_toothColor);
    c.GetQualityAccessor()[1] = 0.3f;
    const float fToothQuality = c.GetQualityAccessor()[1];
    Classifier(140, 120, 0.5f, 1.5f, true)(c);  // the rescaling step cannot fire
    EXPECT_EQ(c.GetQualityAccessor()[0], eSet == eSurfelAttributeSetFull ? 0.5f : 7.0f / 15.0f);
    EXPECT_EQ(c.GetQualityAccessor()[1], fToothQuality);
    EXPECT_EQ(c.GetTissueTypeAccessor()[0], 3);
    EXPECT_EQ(c.GetTissueTypeAccessor()[1], 0);
    EXPECT_EQ(c.m_nResets, 1);
  }
  CountingCollection empty(0);
  Classifier(140, 120, 0.5f, 0.0f, false)(empty);
  EXPECT_EQ(empty.m_nResets, 1);
}

TEST(KaCMpFtSegmentTeethClassifier, FilterUsesTheVirtualDecision) {
  KaCSurfelCollectionCCT frame = tolvane_test::MakeTissueFrame(50, 0.5, 2);
  static_cast<const Classifier&>(AlwaysTooth())(frame);
  for (unsigned int i = 0; i < 50; ++i) ASSERT_EQ(frame.GetQualityAccessor()[i], 0.25f);
}

}  // namespace
