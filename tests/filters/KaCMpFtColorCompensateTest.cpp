#include <gtest/gtest.h>

#include <tolvane/KaCMpFtColorCompensate.h>

namespace {

// A normal in the image plane (x about 1) that does not face the viewer.
unsigned short EdgeOnCode() {
  const CbVector3f* pTable = KaCNormalCodec::GetTable();
  unsigned short code = 0;
  while (!(pTable[code].x > 0.99f && pTable[code].z >= 0.0f)) ++code;
  return code;
}

TEST(KaCMpFtColorCompensate, BrightensByViewingAngleButNotIntoFakeHighlights) {
  const unsigned short faceOn = KaCNormalCodec::Encode(CbVector3f(0, 0, -1));
  const unsigned short behind = KaCNormalCodec::Encode(CbVector3f(0, 0, 1));
  const struct {
    KaCCompressedColor in;
    unsigned short code;
    KaCCompressedColor out;
  } cases[] = {
      {{100, 80, 60}, faceOn, {100, 80, 60}},
      {{100, 80, 60}, behind, {100, 80, 60}},        // 765 >= 690 from a sum of 240: kept
      {{50, 40, 20}, EdgeOnCode(), {216, 173, 86}},  // times 1.3 / 0.3, truncated
      {{50, 40, 20}, KaCNormalCodec::c_nUnsetCode, {216, 173, 86}},
      {{240, 235, 230}, behind, {255, 255, 255}},  // bright already: written saturated
      {{0, 0, 0}, behind, {0, 0, 0}},
  };
  KaCSurfelCollectionCCT c(6, true, eSurfelAttributeSetCompact);
  for (unsigned int i = 0; i < 6; ++i) {
    c.SetColor(i, cases[i].in);
    c.GetNormalAccessor()[i] = cases[i].code;
    c.GetTissueTypeAccessor()[i] = 2;
  }
  const CbSmartPointer<KaIFtSurfelCollection> spFilter(new KaCMpFtColorCompensate);
  (*spFilter)(c);
  for (unsigned int i = 0; i < 6; ++i) {
    EXPECT_EQ(c.GetColor(i), cases[i].out) << "case " << i;
    EXPECT_EQ(c.GetNormalAccessor()[i], cases[i].code);
    EXPECT_EQ(c.GetTissueTypeAccessor()[i], 2);
    EXPECT_EQ(c.GetQualityAccessor()[i], 1.0f);
  }
}

}  // namespace
