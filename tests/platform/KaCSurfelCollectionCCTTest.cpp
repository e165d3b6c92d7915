#include <algorithm>
#include <cmath>
#include <utility>

#include <vector>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyKdTree.h"
#include "support/SurfelComparison.h"
#include "support/TestSupport.h"
#include "tissue/KaHue.h"

namespace {

using tolvane_test::MakeCollection;

// The textbook HSV hue with integer rounding, halves away from zero.
int ReferenceHue(unsigned long packed) {
  const int r = static_cast<int>((packed >> 16) & 0xFF);
  const int g = static_cast<int>((packed >> 8) & 0xFF);
  const int b = static_cast<int>(packed & 0xFF);
  const int mx = std::max(r, std::max(g, b));
  const int delta = mx - std::min(r, std::min(g, b));
  if (delta == 0) return 0;
  int base = 240;
  int num = r - g;
  if (mx == r) {
    base = 0;
    num = g - b;
  } else if (mx == g) {
    base = 120;
    num = b - r;
  }
  const int s = 60 * num;
  const int q = s >= 0 ? (s + delta / 2) / delta : -((-s + delta / 2) / delta);
  return (base + q + 360) % 360;
}

// Every one of the 2^24 colours against the textbook formula: the reciprocal division and
// the branch-free selects must not change a single hue.
TEST(KaComputeHue, MatchesTheTextbookHueForEveryColour) {
  // The block form (vector registers, float quotient) gives the same hues, block by block.
  std::vector<unsigned char> rgb(3 * 4096);
  std::vector<int> hues(4096);
  for (unsigned long c = 0; c < (1ul << 24); ++c) {
    ASSERT_EQ(KaComputeHue(c), ReferenceHue(c)) << std::hex << c;
    const std::size_t k = c % 4096;
    rgb[3 * k] = static_cast<unsigned char>(c >> 16);
    rgb[3 * k + 1] = static_cast<unsigned char>(c >> 8);
    rgb[3 * k + 2] = static_cast<unsigned char>(c);
    if (k == 4095) {
      KaComputeHues(rgb.data(), 4096, hues.data());
      for (std::size_t j = 0; j < 4096; ++j) {
        ASSERT_EQ(hues[j], KaComputeHue(c - 4095 + j)) << std::hex << c - 4095 + j;
      }
    }
  }
  EXPECT_EQ(KaComputeHue(0x808080), 0);
  EXPECT_EQ(KaComputeHue(0xFF8000), 30);
  EXPECT_EQ(KaComputeHue(0xFF0080), 330);
}

// Compact storage: q x 15 clamped to 0..15 and truncated (NaN as 0) in bits 3-6, beside the
// boundary bit and the tissue type, each written without disturbing the others.
TEST(KaCSurfelCollectionCCT, CompactFlagByteHoldsBoundaryTissueAndTruncatedQuality) {
  const float in[] = {0.5f, 1.0f, -0.2f, 2.0f, NAN, 0.0666f};  // 0.0666 x 15 = 0.999
  const float out[] = {7.0f / 15.0f, 1.0f, 0.0f, 1.0f, 0.0f, 0.0f};
  KaCSurfelCollectionCCT c(6, true, eSurfelAttributeSetCompact);
  EXPECT_FALSE(c.GetQualityAccessor().IsFloatStorage());
  for (unsigned int i = 0; i < 6; ++i) c.GetQualityAccessor()[i] = in[i];
  for (unsigned int i = 0; i < 6; ++i) EXPECT_EQ(std::as_const(c).GetQualityAccessor()[i], out[i]);

  c.GetTissueTypeAccessor()[0] = 3;
  c.GetBoundaryFlagAccessor()[0] = true;
  c.GetQualityAccessor()[0] = 1.0f;
  c.GetTissueTypeAccessor()[1] = 2;
  c.GetQualityAccessor()[1] = 0.0f;
  const auto flags = c.GetAccessor<unsigned char>(eSurfelAttributeFlags);
  EXPECT_EQ(flags[0], 1 | (3 << 1) | (15 << 3));
  EXPECT_EQ(flags[1], 2 << 1);
  c.GetTissueTypeAccessor()[0] = 0;
  EXPECT_EQ(flags[0], 1 | (15 << 3));
  EXPECT_TRUE(c.GetBoundaryFlagAccessor()[0]);
}

TEST(KaCSurfelCollectionCCT, GetAccessorReportsAbsentAndMistypedAttributes) {
  KaCSurfelCollectionCCT c(3, true, eSurfelAttributeSetCompact);
  const auto expectThrowAt = [](const auto& call, int iLine) {
    try {
      call();
      ADD_FAILURE() << "accepted, line " << iLine;
    } catch (const CbException& e) {
      EXPECT_EQ(e.GetFunction(), "KaCSurfelContainer::GetAccessor");
      EXPECT_EQ(e.GetLine(), iLine);
    }
  };
  expectThrowAt([&] { (void)c.GetAccessor<float>(eSurfelAttributeQuality); }, 364);  // absent
  expectThrowAt([&] { (void)c.GetAccessor<float>(eSurfelAttributeColor); }, 370);    // size
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  EXPECT_EQ(colors.nStride, 3u);
  EXPECT_EQ(colors[2], KaCCompressedColor(128, 128, 128));
}

TEST(KaCSurfelCollectionCCT, SetCountKeepsPrefixAndDefaultsNewSurfelsWhenAsked) {
  KaCSurfelCollectionCCT c = MakeCollection(10);
  const CbVector3f p3 = c.GetPosition(3);
  c.SetCount(4, true);
  ASSERT_EQ(c.GetNrSurfels(), 4u);
  EXPECT_EQ(c.GetPosition(3), p3);
  c.SetCount(6, true);
  EXPECT_EQ(c.GetPosition(3), p3);
  EXPECT_TRUE(KaCNormalCodec::IsUnset(c.GetNormalAccessor()[5]));
  EXPECT_EQ(std::as_const(c).GetQualityAccessor()[5], 1.0f);

  // The same count keeps the storage and the contents, with or without defaults: a view taken
  // before still points at the surfels.
  const auto pos = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  c.SetCount(6, true);
  EXPECT_EQ(c.GetAccessor<CbVector3f>(eSurfelAttributePosition).pData, pos.pData);
  EXPECT_EQ(pos[3], p3);
  c.SetCount(6, false);
  EXPECT_EQ(c.GetAccessor<CbVector3f>(eSurfelAttributePosition).pData, pos.pData);
  EXPECT_EQ(pos[3], p3);

  // Shrinking without defaults, then growing with them, defaults exactly the regrown surfels.
  c.GetQualityAccessor().Set(4, 0.25f);
  c.SetCount(4, false);
  c.SetCount(6, true);
  EXPECT_EQ(pos[3], p3);
  EXPECT_EQ(std::as_const(c).GetQualityAccessor()[4], 1.0f);
  EXPECT_EQ(c.GetColor(4), KaCCompressedColor(128, 128, 128));
}

// Defaults are filled in blocks copied from the first surfel of the range: every surfel of a
// range that is not a whole number of blocks, in both attribute sets, must read the defaults,
// and the surfels before the range must keep their values.
TEST(KaCSurfelCollectionCCT, DefaultsReachEverySurfelOfALargeRange) {
  for (ESurfelAttributeSet eSet : {eSurfelAttributeSetFull, eSurfelAttributeSetCompact}) {
    KaCSurfelCollectionCCT c(3, true, eSet, nullptr);
    c.GetQualityAccessor().Set(2, 0.0f);
    c.GetTissueTypeAccessor().Set(2, 3);
    c.SetCount(40001, true);
    const KaCSurfelCollectionCCT& cc = c;
    EXPECT_EQ(cc.GetQualityAccessor()[2], 0.0f);
    EXPECT_EQ(cc.GetTissueTypeAccessor()[2], 3);
    const auto pos = cc.GetAccessor<CbVector3f>(eSurfelAttributePosition);
    const auto value = cc.GetAccessor<unsigned int>(eSurfelAttributeValue);
    unsigned int nWrong = 0;
    for (unsigned int i = 3; i < 40001; ++i) {
      const bool bDefault = pos[i] == CbVector3f(0.0f, 0.0f, 0.0f) &&
                            KaCNormalCodec::IsUnset(cc.GetNormalAccessor()[i]) &&
                            cc.GetColor(i) == KaCCompressedColor(128, 128, 128) &&
                            cc.GetQualityAccessor()[i] == 1.0f &&
                            cc.GetTissueTypeAccessor()[i] == 0 &&
                            !cc.GetBoundaryFlagAccessor()[i] && value[i] == 0u;
      if (!bDefault) ++nWrong;
    }
    EXPECT_EQ(nWrong, 0u) << "attribute set " << eSet;
  }
}

// Assignment keeps the target's storage: compact to float is exact, float to compact
// truncates, and every other attribute is carried over in order.
TEST(KaCSurfelCollectionCCT, AssignmentKeepsTargetStorageAndAllAttributes) {
  const KaCSurfelCollectionCCT compact = MakeCollection(50, eSurfelAttributeSetCompact, 3);
  KaCSurfelCollectionCCT full(0, true, eSurfelAttributeSetFull);
  full = compact;
  EXPECT_EQ(full.GetAttributeSet(), eSurfelAttributeSetFull);
  tolvane_test::ExpectSameSurfels(compact, full);
  KaCSurfelCollectionCCT back(0, true, eSurfelAttributeSetCompact);
  back = full;
  tolvane_test::ExpectSameSurfels(compact, back);
  full.GetQualityAccessor()[0] = 0.5f;
  EXPECT_EQ(full.GetQualityAccessor().Get(0), 0.5f);
  back = full;
  EXPECT_EQ(back.GetQualityAccessor().Get(0), 7.0f / 15.0f);
}

TEST(KaCSurfelCollectionCCT, CopySurfelMovesPositionAndTurnsNormal) {
  KaCSurfelCollectionCCT src(1, true);
  src.SetPosition(0, {1, 2, 3});
  src.SetNormal(0, {1, 0, 0});
  src.SetColor(0, KaCCompressedColor(10, 20, 30));
  KaCSurfelCollectionCCT dst(2, true, eSurfelAttributeSetCompact);
  CbMatrix4Rf m;  // rotation by 90 degrees about z, then translation (10, 0, 0)
  m(0, 0) = 0;
  m(0, 1) = -1;
  m(1, 0) = 1;
  m(1, 1) = 0;
  m[12] = 10;
  dst.CopySurfel(1, src, 0, &m, &m);
  EXPECT_EQ(dst.GetPosition(1), CbVector3f(8, 1, 3));
  EXPECT_NEAR(dst.GetNormal(1).y, 1.0f, 1e-3f);
  EXPECT_EQ(dst.GetColor(1), KaCCompressedColor(10, 20, 30));
  EXPECT_THROW(dst.CopySurfel(2, src, 0, nullptr, nullptr), CbException);
}

TEST(KaCSurfelCollectionCCT, GeometryOperationsAndHue) {
  KaCSurfelCollectionCCT c(2, true);
  c.SetPosition(0, {1, 2, 3});
  c.SetNormal(0, CbVector3f(1, 0, -1));
  const unsigned short code = c.GetNormalAccessor()[0];
  c.FlipNormals();
  EXPECT_EQ(c.GetNormal(0), -KaCNormalCodec::Decode(code));
  EXPECT_TRUE(KaCNormalCodec::IsUnset(c.GetNormalAccessor()[1]));
  c.FlipNormals();
  EXPECT_EQ(c.GetNormalAccessor()[0], code);

  // The plane z = x scaled by 2 in x becomes z = x / 2, whose normal is along (0.5, 0, -1).
  c.ScaleSurfels(CbVector3f(2, 1, 1), true);
  EXPECT_EQ(c.GetPosition(0), CbVector3f(2, 2, 3));
  EXPECT_GT(c.GetNormal(0).Dot(CbVector3f(0.5f, 0, -1).Normalized()), 0.9999f);
  c.InitQualities(0.25f);
  EXPECT_EQ(c.GetQualityAccessor().Get(1), 0.25f);

  const KaCSurfelCollectionCCT colours = MakeCollection(300);
  for (unsigned int i = 0; i < 300; ++i) {
    EXPECT_EQ(colours.GetHue(i), KaComputeHue(colours.GetColor(i).GetPacked())) << i;
  }
}

TEST(KaCSurfelCollectionCCT, SupportStructuresAreBuiltOnceAndReset) {
  KaCSurfelCollectionCCT c(100, true);
  for (unsigned int i = 0; i < 100; ++i) {
    c.SetPosition(i, CbVector3f(static_cast<float>(i % 10), static_cast<float>(i / 10), 0));
  }
  const CyKdTree* first = &c.GetKdTree();
  EXPECT_EQ(&c.GetKdTree(), first);
  EXPECT_FLOAT_EQ(c.GetAvgDensity(), 1.0f);
  for (unsigned int i = 0; i < 100; ++i) c.SetPosition(i, c.GetPosition(i) * 2.0f);
  EXPECT_FLOAT_EQ(c.GetAvgDensity(), 1.0f);  // cached until reset
  c.ResetSupportStructures();
  EXPECT_FLOAT_EQ(c.GetAvgDensity(), 2.0f);
  EXPECT_EQ(KaCSurfelCollectionCCT(1, true).GetAvgDensity(), 0.0f);

  const KaCSurfelCollectionCCT shared(c, true);
  EXPECT_EQ(&shared.GetKdTree(), &c.GetKdTree());
  const KaCSurfelCollectionCCT fresh(c, false);
  EXPECT_NE(&fresh.GetKdTree(), &c.GetKdTree());
}

}  // namespace
