#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <tolvane/KaCMpFtColorCode.h>
#include <tolvane/KaCMpFtColorCodeByQuality.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "support/TestSupport.h"
#include "tissue/KaCColorCoder.h"

namespace {

using tolvane_test::MakeCollection;

KaCCompressedColor Expected(float v, float lo, float hi) {
  float rgb[3];
  KaCColorCoder(lo, hi).SetColor(v, rgb);
  return KaCCompressedColor(rgb[0], rgb[1], rgb[2]);
}

TEST(KaCMpFtColorCode, MarkerIsGreyAndStrideTwoColoursSurfelsZeroTwoFour) {
  KaCSurfelCollectionCCT c = MakeCollection(7);
  const KaCSurfelCollectionCCT before(c, false);
  std::vector<float> values = {3.4028235e38f, 0.25f, 7.0f};
  const KaCColorCoder coder(5.0f, 9.0f);
  KaCMpFtColorCode(5.0f, 9.0f, values, &coder, 2)(c);
  EXPECT_EQ(c.GetColor(0), KaCCompressedColor(128, 128, 128));
  EXPECT_EQ(c.GetColor(2), Expected(0.25f, 5.0f, 9.0f));
  EXPECT_EQ(c.GetColor(4), Expected(7.0f, 5.0f, 9.0f));
  for (unsigned int i : {1u, 3u, 5u, 6u}) EXPECT_EQ(c.GetColor(i), before.GetColor(i)) << i;
}

TEST(KaCMpFtColorCode, NullCoderUsesTheRangeTheLastNullCoderFilterSet) {
  std::vector<float> values = {1.0f};
  const KaCMpFtColorCode first(0.0f, 1.0f, values, nullptr, 1);
  KaCSurfelCollectionCCT c = MakeCollection(1);
  first(c);
  EXPECT_EQ(c.GetColor(0), Expected(1.0f, 0.0f, 1.0f));
  KaCMpFtColorCode(0.0f, 4.0f, values, nullptr, 1)(c);
  first(c);
  EXPECT_EQ(c.GetColor(0), Expected(1.0f, 0.0f, 4.0f));
  EXPECT_NE(Expected(1.0f, 0.0f, 1.0f), Expected(1.0f, 0.0f, 4.0f));
}

class KaCMpFtColorCodeByQualityTest : public ::testing::Test {
 protected:
  void TearDown() override { KaCMpFtColorCodeByQuality::SetColorCodedEntity(0); }
  // Colours of MakeCollection(12) (tissue type i % 4, x = i + jitter) under one entity.
  std::vector<KaCCompressedColor> Run(int entity, const KaCMpFtColorCodeByQuality& filter) {
    KaCMpFtColorCodeByQuality::SetColorCodedEntity(entity);
    KaCSurfelCollectionCCT c = MakeCollection(12);
    filter(c);
    std::vector<KaCCompressedColor> out;
    for (unsigned int i = 0; i < 12; ++i) out.push_back(c.GetColor(i));
    return out;
  }
};

TEST_F(KaCMpFtColorCodeByQualityTest, EntitiesThreeEightAndUnknown) {
  KaCTolvaneSettings::SetColorCodedEntity(5);
  EXPECT_EQ(KaCMpFtColorCodeByQuality::GetColorCodedEntity(), 5);
  const KaCSurfelCollectionCCT input = MakeCollection(12);
  const auto tooth = Run(3, KaCMpFtColorCodeByQuality());
  const auto onPlane = Run(8, KaCMpFtColorCodeByQuality());
  const auto plane = Run(8, KaCMpFtColorCodeByQuality(1.0f, 1.0f, 0.0f, 0.0f));  // x - 1
  const auto quality = Run(0, KaCMpFtColorCodeByQuality());
  for (unsigned int i = 0; i < 12; ++i) {
    EXPECT_EQ(tooth[i], Expected(i % 4 == 0 ? 1.0f : 0.0f, 0.0f, 1.0f)) << i;
    EXPECT_EQ(onPlane[i], Expected(0.0f, 0.0f, 1.0f)) << i;  // low end of 0..20
    EXPECT_EQ(plane[i], Expected(input.GetPosition(i).x - 1.0f, 0.0f, 20.0f)) << i;
    EXPECT_EQ(quality[i], Expected(input.GetQualityAccessor()[i], 0.0f, 1.0f)) << i;
  }
  for (int unknown : {1, 2, 4, 5, -1, 9}) {
    EXPECT_EQ(Run(unknown, KaCMpFtColorCodeByQuality(1.0f, 1.0f, 0.0f, 0.0f)),
              std::vector<KaCCompressedColor>(12, Expected(0.0f, 0.0f, 1.0f)))
        << unknown;
  }
}

}  // namespace
