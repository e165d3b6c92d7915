#include <cmath>
#include <random>

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

// Defers to the plain decision, so the filter takes the surfel-by-surfel path through the
// virtual slot: the reference for the block path of a plain classifier.
class SameDecision : public Classifier {
 public:
  using Classifier::Classifier;
  using Classifier::operator();
  void operator()(KaCCompressedColor& c, unsigned char& tissue, float& quality) const override {
    Classifier::operator()(c, tissue, quality);
  }
};

// The block path of a plain classifier writes exactly what the surfel-by-surfel path writes,
// in both storages, for random colours and qualities (NaN, negative and above one included),
// negative offsets and negative factors, and counts that do not fill the last block.
TEST(KaCMpFtSegmentTeethClassifier, BlockPathMatchesSurfelBySurfelPath) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_real_distribution<float> quality(-0.5f, 1.5f);
  const struct {
    int threshold, offset;
    float factor;
  } cases[] = {{140, 120, 0.5f}, {0, -200, 0.3f}, {300, 400, -1.0f}, {-1, 0, 1.0f}};
  for (ESurfelAttributeSet set : {eSurfelAttributeSetFull, eSurfelAttributeSetCompact}) {
    for (const auto& tc : cases) {
      KaCSurfelCollectionCCT fast(1000, true, set);
      for (unsigned int i = 0; i < fast.GetNrSurfels(); ++i) {
        fast.SetColor(i, KaCCompressedColor(byte(rng), byte(rng), byte(rng)));
        fast.GetQualityAccessor().Set(i, i % 97 == 0 ? NAN : quality(rng));
        fast.GetTissueTypeAccessor().Set(i, static_cast<unsigned char>(i % 4));
        fast.GetBoundaryFlagAccessor().Set(i, i % 3 == 0);
      }
      KaCSurfelCollectionCCT slow(fast);
      Classifier(tc.threshold, tc.offset, tc.factor, 0.0f, false)(fast);
      SameDecision(tc.threshold, tc.offset, tc.factor, 0.0f, false)(slow);
      const auto f = fast.GetAccessor<unsigned char>(eSurfelAttributeFlags);
      const auto s = slow.GetAccessor<unsigned char>(eSurfelAttributeFlags);
      for (unsigned int i = 0; i < fast.GetNrSurfels(); ++i) {
        ASSERT_EQ(f[i], s[i]) << i;
        const float qf = fast.GetQualityAccessor().Get(i);
        const float qs = slow.GetQualityAccessor().Get(i);
        ASSERT_TRUE(qf == qs || (std::isnan(qf) && std::isnan(qs))) << i;
        ASSERT_EQ(std::signbit(qf), std::signbit(qs)) << i;
      }
    }
  }
}

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
