#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <tolvane/KaCMpFtColorCode.h>
#include <tolvane/KaCMpFtColorCodeByQuality.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "support/TestSupport.h"
#include "tissue/KaCColorCoder.h"

namespace {

using tolvane_test::MakeCollection;

KaCCompressedColor Code(const KaCColorCoder& coder, float v) {
  float rgb[3];
  coder.SetColor(v, rgb);
  return KaCCompressedColor(rgb[0], rgb[1], rgb[2]);
}

KaCCompressedColor Expected(float v, float lo, float hi) { return Code(KaCColorCoder(lo, hi), v); }

// Rec. 709 luma of the unquantised components.
float Luma(const KaCColorCoder& coder, float v) {
  float rgb[3];
  coder.SetColor(v, rgb);
  return 0.2126f * rgb[0] + 0.7152f * rgb[1] + 0.0722f * rgb[2];
}

TEST(KaCColorCoder, ViridisScaleIsOrderedContinuousAndApartFromGrey) {
  KaCColorCoder coder(-2.0f, 6.0f);
  EXPECT_EQ(Code(coder, -2.0f), KaCCompressedColor(68, 1, 84));
  EXPECT_EQ(Code(coder, 2.0f), KaCCompressedColor(33, 144, 140));
  EXPECT_EQ(Code(coder, 6.0f), KaCCompressedColor(253, 231, 37));
  for (int k = 1; k <= 800; ++k) {
    const float v = -2.0f + 0.01f * static_cast<float>(k);
    EXPECT_GT(Luma(coder, v), Luma(coder, v - 0.01f)) << v;
    const KaCCompressedColor c = Code(coder, v), p = Code(coder, v - 0.01f);
    EXPECT_LE(std::abs(c.r - p.r) + std::abs(c.g - p.g) + std::abs(c.b - p.b), 6) << v;
    const int dr = c.r - 128, dg = c.g - 128, db = c.b - 128;
    EXPECT_GT(dr * dr + dg * dg + db * db, 40 * 40) << v;  // never near the missing-value grey
  }
  // Below black, above white, NaN magenta; equal ends give the middle; integer mode rounds.
  EXPECT_EQ(Code(coder, -2.01f), KaCCompressedColor(0, 0, 0));
  EXPECT_EQ(Code(coder, 6.01f), KaCCompressedColor(255, 255, 255));
  EXPECT_EQ(Code(coder, std::nanf("")), KaCCompressedColor(255, 0, 255));
  coder.SetIntegerMode(1);
  EXPECT_EQ(Code(coder, 1.5f), Code(coder, 2.0f));
  coder.SetRange(3.0f, 3.0f);
  EXPECT_EQ(Code(coder, 3.0f), KaCCompressedColor(33, 144, 140));
}

// The filter colours blocks of values through the coder's scale table; every colour must be
// the one the coder gives value by value (or the grey marker), whatever the coder's range and
// mode, across block boundaries.
TEST(KaCMpFtColorCode, BlocksGiveTheCodersColourForEveryValue) {
  std::vector<float> values;
  for (int k = 0; k < 700; ++k) values.push_back(-1.5f + 0.01f * static_cast<float>(k));
  values[10] = 3.4028235e38f;
  values[300] = std::nanf("");
  values[301] = INFINITY;
  values[302] = -INFINITY;
  values[303] = 2.0f;  // an end of two of the ranges below
  // Then values at and next to every range's ends, signed zeros, subnormals and seeded values
  // around the ranges, where the index's rounding and the range tests decide.
  for (float end : {-1.0f, 4.0f, 2.0f, 0.0f, 3.0f, 0.5f, 0.75f, -2.0f}) {
    values.insert(values.end(),
                  {end, std::nextafter(end, -INFINITY), std::nextafter(end, INFINITY)});
  }
  values.insert(values.end(), {-0.0f, std::numeric_limits<float>::denorm_min(),
                               -std::numeric_limits<float>::denorm_min(), 1.0f / 2048.0f});
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> around(-2.5f, 5.0f);
  while (values.size() < 4000) values.push_back(around(rng));
  const auto n = static_cast<unsigned int>(values.size());
  struct Setting {
    float lo, hi;
    int mode;
  };
  for (const Setting& setting :
       {Setting{-1.0f, 4.0f, 0}, Setting{4.0f, -1.0f, 0}, Setting{2.0f, 2.0f, 0},
        Setting{-1.0f, 4.0f, 1}, Setting{0.0f, NAN, 0}, Setting{-1.0f, 3.0f, 0},
        Setting{0.5f, 0.75f, 0}, Setting{-2.0f, 2.0f, 1}}) {
    KaCColorCoder coder(setting.lo, setting.hi);
    coder.SetIntegerMode(setting.mode);
    KaCSurfelCollectionCCT c = MakeCollection(n);
    KaCMpFtColorCode(0.0f, 1.0f, values, &coder, 1)(c);
    unsigned int nWrong = 0;
    for (unsigned int i = 0; i < n; ++i) {
      const KaCCompressedColor want =
          i == 10 ? KaCCompressedColor(128, 128, 128) : Code(coder, values[i]);
      if (c.GetColor(i) != want) ++nWrong;
    }
    EXPECT_EQ(nWrong, 0u) << setting.lo << ".." << setting.hi << " mode " << setting.mode;
  }
  // The table's bytes are the coder's components rounded.
  for (int k = 0; k < KaCColorCoder::c_nScaleColors; ++k) {
    const float v = static_cast<float>(k) / static_cast<float>(KaCColorCoder::c_nScaleColors - 1);
    const KaCColorCoder unit;
    ASSERT_EQ(unit.GetScaleIndex(v), k);
    const std::uint8_t* pBytes = KaCColorCoder::GetScaleBytes(k);
    EXPECT_EQ(KaCCompressedColor(pBytes[0], pBytes[1], pBytes[2]), Code(unit, v));
  }
}

// The multiplication by the reciprocal is offered only where it rounds like the division: for
// ranges that are powers of two with a normal reciprocal; there it gives every value's index.
TEST(KaCColorCoder, ExactInverseRangeGivesTheDividedIndex) {
  const auto inverse = [](float lo, float hi) {
    return KaCColorCoder(lo, hi).GetExactInverseRange();
  };
  EXPECT_EQ(inverse(0.0f, 1.0f), 1.0f);
  EXPECT_EQ(inverse(-3.0f, 1.0f), 0.25f);
  EXPECT_EQ(inverse(0.0f, std::ldexp(1.0f, 126)), std::ldexp(1.0f, -126));
  EXPECT_EQ(inverse(0.0f, std::ldexp(1.0f, -126)), std::ldexp(1.0f, 126));
  for (const auto& [lo, hi] : std::vector<std::pair<float, float>>{{0.0f, 3.0f},
                                                                   {1.0f, 0.0f},
                                                                   {2.0f, 2.0f},
                                                                   {0.0f, std::ldexp(1.0f, 127)},
                                                                   {0.0f, std::ldexp(1.0f, -127)},
                                                                   {0.0f, INFINITY},
                                                                   {0.0f, NAN}}) {
    EXPECT_EQ(inverse(lo, hi), 0.0f) << lo << ".." << hi;
  }
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-3.0f, 3.0f);
  for (const auto& [lo, hi] : std::vector<std::pair<float, float>>{{0.0f, 1.0f},
                                                                   {-1.0f, 1.0f},
                                                                   {0.25f, 0.375f},
                                                                   {-3.0f, -2.9921875f},
                                                                   {1000.0f, 1064.0f}}) {
    const KaCColorCoder coder(lo, hi);
    const float fInverse = coder.GetExactInverseRange();
    ASSERT_NE(fInverse, 0.0f) << lo << ".." << hi;
    unsigned int nWrong = 0;
    for (int k = 0; k < 200000; ++k) {
      const float v = lo + (hi - lo) * u(rng);
      nWrong += coder.GetScaleIndex(v, fInverse) != coder.GetScaleIndex(v);
    }
    EXPECT_EQ(nWrong, 0u) << lo << ".." << hi;
  }
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
