#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <tolvane/KaCMpFtColorCompensate.h>

#include "support/TestSupport.h"

namespace {

// A code whose normal lies in the image plane (x about 1) and does not face the viewer.
unsigned short EdgeOnCode() {
  const CbVector3f* pTable = KaCNormalCodec::GetTable();
  for (unsigned int code = 0; code < 65536; ++code) {
    if (pTable[code].x > 0.99f && pTable[code].z >= 0.0f) return static_cast<unsigned short>(code);
  }
  return KaCNormalCodec::c_nUnsetCode;
}

TEST(KaCMpFtColorCompensate, BrightensByViewingAngleButNotIntoFakeHighlights) {
  const unsigned short faceOn = KaCNormalCodec::Encode(CbVector3f(0, 0, -1));
  const unsigned short behind = KaCNormalCodec::Encode(CbVector3f(0, 0, 1));
  const unsigned short edgeOn = EdgeOnCode();
  ASSERT_NE(edgeOn, KaCNormalCodec::c_nUnsetCode);
  struct Case {
    KaCCompressedColor in;
    unsigned short code;
    KaCCompressedColor out;
  };
  const std::vector<Case> cases = {
      {{100, 80, 60}, faceOn, {100, 80, 60}},
      {{100, 80, 60}, behind, {100, 80, 60}},  // 765 >= 690 from a sum of 240: kept
      {{50, 40, 20}, edgeOn, {216, 173, 86}},  // times 1.3 / 0.3, truncated
      {{50, 40, 20}, KaCNormalCodec::c_nUnsetCode, {216, 173, 86}},
      {{240, 235, 230}, behind, {255, 255, 255}},  // bright already: written saturated
      {{240, 235, 230}, faceOn, {240, 235, 230}},
      {{0, 0, 0}, behind, {0, 0, 0}},
  };
  for (ESurfelAttributeSet eSet : {eSurfelAttributeSetFull, eSurfelAttributeSetCompact}) {
    KaCSurfelCollectionCCT c = tolvane_test::MakeCollection(7, eSet);
    for (unsigned int i = 0; i < cases.size(); ++i) {
      c.SetColor(i, cases[i].in);
      c.GetNormalAccessor()[i] = cases[i].code;
    }
    const KaCSurfelCollectionCCT before(c);
    CbSmartPointer<KaIFtSurfelCollection> spFilter(new KaCMpFtColorCompensate);
    const auto& filter = dynamic_cast<const KaCMpFtColorCompensate&>(*spFilter);
    const std::unique_ptr<KaCSurfelCollectionCCT> pMapped(filter(std::as_const(c)));
    EXPECT_EQ(c.GetColor(2), cases[2].in);  // the map leaves its argument alone
    (*spFilter)(c);
    for (unsigned int i = 0; i < cases.size(); ++i) {
      EXPECT_EQ(c.GetColor(i), cases[i].out) << "case " << i;
      EXPECT_EQ(pMapped->GetColor(i), cases[i].out) << "case " << i;
      EXPECT_EQ(c.GetPosition(i), before.GetPosition(i));
      EXPECT_EQ(c.GetAccessor<unsigned char>(eSurfelAttributeFlags)[i],
                before.GetAccessor<unsigned char>(eSurfelAttributeFlags)[i]);
      EXPECT_EQ(c.GetQualityAccessor()[i], before.GetQualityAccessor()[i]);
    }
  }
}

}  // namespace
