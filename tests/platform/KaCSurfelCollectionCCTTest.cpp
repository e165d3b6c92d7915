#include <cmath>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyKdTree.h"
#include "support/TestSupport.h"

namespace {

using tolvane_test::MakeCollection;

TEST(KaCSurfelCollectionCCT, CompactQualityTruncatesToFifteenths) {
  KaCSurfelCollectionCCT c(6, true, eSurfelAttributeSetCompact);
  auto& q = c.GetQualityAccessor();
  EXPECT_FALSE(q.IsFloatStorage());
  q[0] = 0.5f;     // 7.5 -> 7
  q[1] = 1.0f;     // 15
  q[2] = -0.2f;    // clamped to 0
  q[3] = 2.0f;     // clamped to 15
  q[4] = NAN;      // stored as 0
  q[5] = 0.0666f;  // 0.999 -> 0
  const KaCSurfelCollectionCCT& cc = c;
  EXPECT_FLOAT_EQ(cc.GetQualityAccessor()[0], 7.0f / 15.0f);
  EXPECT_EQ(cc.GetQualityAccessor()[1], 1.0f);
  EXPECT_EQ(cc.GetQualityAccessor()[2], 0.0f);
  EXPECT_EQ(cc.GetQualityAccessor()[3], 1.0f);
  EXPECT_EQ(cc.GetQualityAccessor()[4], 0.0f);
  EXPECT_EQ(cc.GetQualityAccessor()[5], 0.0f);

  KaCSurfelCollectionCCT f(1, true, eSurfelAttributeSetFull);
  f.GetQualityAccessor()[0] = 0.5f;
  EXPECT_EQ(static_cast<const KaCSurfelCollectionCCT&>(f).GetQualityAccessor()[0], 0.5f);
}

TEST(KaCSurfelCollectionCCT, FlagByteHoldsBoundaryTissueAndQualityBits) {
  KaCSurfelCollectionCCT c(2, true, eSurfelAttributeSetCompact);
  c.GetTissueTypeAccessor()[0] = 3;
  c.GetBoundaryFlagAccessor()[0] = true;
  c.GetQualityAccessor()[0] = 1.0f;
  c.GetTissueTypeAccessor()[1] = 2;
  c.GetQualityAccessor()[1] = 0.0f;
  const auto flags = c.GetAccessor<unsigned char>(eSurfelAttributeFlags);
  EXPECT_EQ(flags[0], 1 | (3 << 1) | (15 << 3));
  EXPECT_EQ(flags[1], 2 << 1);
  // Rewriting one field leaves the others alone.
  c.GetTissueTypeAccessor()[0] = 0;
  EXPECT_EQ(flags[0], 1 | (15 << 3));
  EXPECT_TRUE(c.GetBoundaryFlagAccessor()[0]);
}

TEST(KaCSurfelCollectionCCT, GetAccessorReportsAbsentAndMistypedAttributes) {
  KaCSurfelCollectionCCT c(3, true, eSurfelAttributeSetCompact);
  try {
    (void)c.GetAccessor<float>(eSurfelAttributeQuality);
    FAIL() << "absent attribute accepted";
  } catch (const CbException& e) {
    EXPECT_EQ(e.GetFunction(), "KaCSurfelContainer::GetAccessor");
    EXPECT_EQ(e.GetLine(), 364);
  }
  try {
    (void)c.GetAccessor<float>(eSurfelAttributeColor);
    FAIL() << "wrong element size accepted";
  } catch (const CbException& e) {
    EXPECT_EQ(e.GetFunction(), "KaCSurfelContainer::GetAccessor");
    EXPECT_EQ(e.GetLine(), 370);
  }
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  EXPECT_EQ(colors.nStride, 3u);
  EXPECT_EQ(colors[2], KaCCompressedColor(128, 128, 128));
}

TEST(KaCSurfelCollectionCCT, SetCountKeepsPrefixAndDefaultsNewSurfels) {
  KaCSurfelCollectionCCT c = MakeCollection(10);
  const CbVector3f p3 = c.GetPosition(3);
  c.SetCount(4, true);
  ASSERT_EQ(c.GetNrSurfels(), 4u);
  EXPECT_EQ(c.GetPosition(3), p3);
  c.SetCount(6, true);
  EXPECT_EQ(c.GetPosition(3), p3);
  EXPECT_TRUE(KaCNormalCodec::IsUnset(c.GetNormalAccessor()[5]));
  EXPECT_EQ(static_cast<const KaCSurfelCollectionCCT&>(c).GetQualityAccessor()[5], 1.0f);

  // The same count keeps the storage: a view taken before still points at the surfels, which
  // without keeping the contents start again from the defaults.
  const auto pos = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  c.SetCount(6, true);
  EXPECT_EQ(c.GetAccessor<CbVector3f>(eSurfelAttributePosition).pData, pos.pData);
  EXPECT_EQ(pos[3], p3);
  c.SetCount(6, false);
  EXPECT_EQ(c.GetAccessor<CbVector3f>(eSurfelAttributePosition).pData, pos.pData);
  EXPECT_EQ(pos[3], CbVector3f(0.0f, 0.0f, 0.0f));
  EXPECT_TRUE(KaCNormalCodec::IsUnset(c.GetNormalAccessor()[3]));
}

// Assignment keeps the target's storage: compact to float is exact, float to compact
// truncates, and every other attribute is carried over in order.
TEST(KaCSurfelCollectionCCT, AssignmentKeepsTargetStorageAndAllAttributes) {
  const KaCSurfelCollectionCCT compact = MakeCollection(50, eSurfelAttributeSetCompact, 3);
  KaCSurfelCollectionCCT full(0, true, eSurfelAttributeSetFull);
  full = compact;
  ASSERT_EQ(full.GetNrSurfels(), 50u);
  EXPECT_EQ(full.GetAttributeSet(), eSurfelAttributeSetFull);
  const auto v1 = compact.GetAccessor<unsigned int>(eSurfelAttributeValue);
  const auto v2 = static_cast<const KaCSurfelCollectionCCT&>(full).GetAccessor<unsigned int>(
      eSurfelAttributeValue);
  for (unsigned int i = 0; i < 50; ++i) {
    EXPECT_EQ(full.GetPosition(i), compact.GetPosition(i));
    EXPECT_EQ(full.GetColor(i), compact.GetColor(i));
    EXPECT_EQ(full.GetNormalAccessor()[i], compact.GetNormalAccessor()[i]);
    EXPECT_EQ(v2[i], v1[i]);
    EXPECT_EQ(full.GetQualityAccessor().Get(i), compact.GetQualityAccessor().Get(i));
    EXPECT_EQ(full.GetTissueTypeAccessor().Get(i), compact.GetTissueTypeAccessor().Get(i));
    EXPECT_EQ(full.GetBoundaryFlagAccessor().Get(i), compact.GetBoundaryFlagAccessor().Get(i));
  }
  // Quantised qualities survive the way back bit for bit.
  KaCSurfelCollectionCCT back(0, true, eSurfelAttributeSetCompact);
  back = full;
  for (unsigned int i = 0; i < 50; ++i) {
    EXPECT_EQ(back.GetQualityAccessor().Get(i), compact.GetQualityAccessor().Get(i));
  }
  full.GetQualityAccessor()[0] = 0.5f;
  back = full;
  EXPECT_FLOAT_EQ(back.GetQualityAccessor().Get(0), 7.0f / 15.0f);
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

TEST(KaCSurfelCollectionCCT, GeometryOperations) {
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
  const CbVector3f n = c.GetNormal(0);
  const CbVector3f expected = CbVector3f(0.5f, 0, -1).Normalized();
  EXPECT_GT(n.Dot(expected), 0.9999f);

  c.InitQualities(0.25f);
  EXPECT_EQ(c.GetQualityAccessor().Get(1), 0.25f);
}

TEST(KaCSurfelCollectionCCT, HueOfPrimaryAndGreyColours) {
  KaCSurfelCollectionCCT c(6, true);
  const KaCCompressedColor colours[] = {{255, 0, 0},  {0, 255, 0},   {0, 0, 255},
                                        {90, 90, 90}, {255, 128, 0}, {255, 0, 128}};
  const int hues[] = {0, 120, 240, 0, 30, 330};
  for (unsigned int i = 0; i < 6; ++i) c.SetColor(i, colours[i]);
  for (unsigned int i = 0; i < 6; ++i) EXPECT_EQ(c.GetHue(i), hues[i]) << i;
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
