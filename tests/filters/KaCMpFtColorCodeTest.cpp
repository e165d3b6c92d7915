#include <limits>
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

constexpr float c_fMissing = 3.4028235e38f;
const KaCCompressedColor c_grey(128, 128, 128);

KaCCompressedColor Expected(float v, float lo, float hi) {
  const KaCColorCoder coder(lo, hi);
  float rgb[3];
  coder.SetColor(v, rgb);
  return KaCCompressedColor(rgb[0], rgb[1], rgb[2]);
}

std::vector<KaCCompressedColor> Colors(const KaCSurfelCollectionCCT& c) {
  std::vector<KaCCompressedColor> out;
  for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) out.push_back(c.GetColor(i));
  return out;
}

TEST(KaCMpFtColorCode, MarkerIsGreyAndStrideReachesOnlyItsSurfels) {
  static_assert(c_fMissing == std::numeric_limits<float>::max());
  KaCSurfelCollectionCCT c = MakeCollection(7);
  const std::vector<KaCCompressedColor> before = Colors(c);
  std::vector<float> values = {c_fMissing, 0.25f, 7.0f};
  const KaCColorCoder coder(5.0f, 9.0f);  // 0.25 lies below this range: still coloured
  const KaCMpFtColorCode filter(5.0f, 9.0f, values, &coder, 2);
  filter(c);
  EXPECT_EQ(c.GetColor(0), c_grey);
  EXPECT_EQ(c.GetColor(2), Expected(0.25f, 5.0f, 9.0f));
  EXPECT_EQ(c.GetColor(4), Expected(7.0f, 5.0f, 9.0f));
  for (unsigned int i : {1u, 3u, 5u, 6u}) EXPECT_EQ(c.GetColor(i), before[i]) << i;

  // Values are read through the kept address at each call; an empty vector changes nothing.
  values.clear();
  KaCSurfelCollectionCCT d = MakeCollection(3);
  filter(d);
  EXPECT_EQ(Colors(d), Colors(MakeCollection(3)));
}

TEST(KaCMpFtColorCode, NullCoderFollowsTheSharedCoderSetByLaterFilters) {
  std::vector<float> values = {1.0f};
  const KaCMpFtColorCode first(0.0f, 1.0f, values, nullptr, 1);
  KaCSurfelCollectionCCT c = MakeCollection(1);
  first(c);
  EXPECT_EQ(c.GetColor(0), Expected(1.0f, 0.0f, 1.0f));
  const KaCMpFtColorCode copyAfterSwitch(first);

  const KaCMpFtColorCode second(0.0f, 4.0f, values, nullptr, 1);
  second(c);  // sets the shared coder to 0..4
  EXPECT_EQ(c.GetColor(0), Expected(1.0f, 0.0f, 4.0f));
  KaCSurfelCollectionCCT d = MakeCollection(1);
  first(d);
  EXPECT_EQ(d.GetColor(0), Expected(1.0f, 0.0f, 4.0f));
  KaCSurfelCollectionCCT e = MakeCollection(1);
  copyAfterSwitch(e);
  EXPECT_EQ(e.GetColor(0), Expected(1.0f, 0.0f, 4.0f));
  EXPECT_NE(Expected(1.0f, 0.0f, 1.0f), Expected(1.0f, 0.0f, 4.0f));
}

TEST(KaCMpFtColorCode, MapLeavesItsInputUnchanged) {
  const KaCSurfelCollectionCCT input = MakeCollection(5);
  std::vector<float> values = {0.0f, 0.5f, 1.0f, c_fMissing, 0.1f};
  const KaCColorCoder coder;
  const KaCMpFtColorCode filter(0.0f, 1.0f, values, &coder, 1);
  std::unique_ptr<KaCSurfelCollectionCCT> out(filter(input));
  EXPECT_EQ(Colors(input), Colors(MakeCollection(5)));
  for (unsigned int i = 0; i < 5; ++i) {
    EXPECT_EQ(out->GetColor(i), i == 3 ? c_grey : Expected(values[i], 0.0f, 1.0f));
    EXPECT_EQ(out->GetPosition(i), input.GetPosition(i));
  }
}

class KaCMpFtColorCodeByQualityTest : public ::testing::Test {
 protected:
  void TearDown() override { KaCMpFtColorCodeByQuality::SetColorCodedEntity(0); }
};

TEST_F(KaCMpFtColorCodeByQualityTest, EntitySelectsTheValueAndTheRange) {
  KaCMpFtColorCodeByQuality::SetColorCodedEntity(3);
  EXPECT_EQ(KaCTolvaneSettings::GetColorCodedEntity(), 3);
  KaCTolvaneSettings::SetColorCodedEntity(8);
  EXPECT_EQ(KaCMpFtColorCodeByQuality::GetColorCodedEntity(), 8);

  const KaCSurfelCollectionCCT input = MakeCollection(12);
  auto run = [&](int entity, const KaCMpFtColorCodeByQuality& filter) {
    KaCMpFtColorCodeByQuality::SetColorCodedEntity(entity);
    return std::unique_ptr<KaCSurfelCollectionCCT>(filter(input));
  };
  const KaCMpFtColorCodeByQuality defaultPlane;
  const KaCMpFtColorCodeByQuality plane(1.0f, 1.0f, 0.0f, 0.0f);  // x - 1

  const auto quality = run(0, defaultPlane);
  const auto tooth = run(3, defaultPlane);
  const auto flags = run(6, defaultPlane);
  const auto boundary = run(7, defaultPlane);
  const auto zero = run(8, defaultPlane);
  const auto distance = run(8, plane);
  for (unsigned int i = 0; i < input.GetNrSurfels(); ++i) {
    EXPECT_EQ(quality->GetColor(i), Expected(input.GetQualityAccessor()[i], 0.0f, 1.0f));
    EXPECT_EQ(tooth->GetColor(i), Expected(i % 4 == 0 ? 1.0f : 0.0f, 0.0f, 1.0f));
    const float byte = input.GetAccessor<unsigned char>(eSurfelAttributeFlags)[i];
    EXPECT_EQ(flags->GetColor(i), Expected(byte / 255.0f, 0.0f, 1.0f));
    EXPECT_EQ(boundary->GetColor(i), Expected(i % 3 == 0 ? 1.0f : 0.0f, 0.0f, 1.0f));
    EXPECT_EQ(zero->GetColor(i), Expected(0.0f, 0.0f, 20.0f));
    EXPECT_EQ(distance->GetColor(i), Expected(input.GetPosition(i).x - 1.0f, 0.0f, 20.0f));
  }
  // The low end of 0..20 is the low end of the scale; surfel 11 lies 10 units off the plane.
  EXPECT_EQ(zero->GetColor(0), Expected(0.0f, 0.0f, 1.0f));
  EXPECT_NE(distance->GetColor(11), Expected(0.5f, 0.0f, 1.0f));

  for (int unknown : {1, 2, 4, 5, -1, 9}) {
    const auto out = run(unknown, plane);
    for (unsigned int i = 0; i < input.GetNrSurfels(); ++i) {
      EXPECT_EQ(out->GetColor(i), Expected(0.0f, 0.0f, 1.0f)) << unknown << " " << i;
    }
  }
}

TEST_F(KaCMpFtColorCodeByQualityTest, CompactQualitiesAreColouredAsTheyReadBack) {
  KaCMpFtColorCodeByQuality::SetColorCodedEntity(0);
  KaCSurfelCollectionCCT c = MakeCollection(16, eSurfelAttributeSetCompact);
  KaCMpFtColorCodeByQuality filter;
  KaCMpFtColorCodeByQuality assigned(5.0f);
  assigned = filter;
  assigned(c);
  for (unsigned int i = 0; i < 16; ++i) {
    EXPECT_EQ(c.GetColor(i), Expected(static_cast<float>(i) / 15.0f, 0.0f, 1.0f)) << i;
  }
}

}  // namespace
