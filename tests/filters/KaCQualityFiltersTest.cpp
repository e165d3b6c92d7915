#include <cmath>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <tolvane/KaCMpDiscardCheek.h>
#include <tolvane/KaCMpDiscardQualityRange.h>
#include <tolvane/KaCMpFtSetQualitiesToOne.h>
#include <tolvane/KaCMpFtUpdateQualities.h>

#include "base/CbException.h"
#include "filters/RemoveMarkedSurfels.h"
#include "geometry/CyKdTree.h"
#include "support/TestSupport.h"
#include "SurfelSnapshot.h"

namespace {

using tolvane_test::MakeCollection;
using tolvane_test::Snapshot;
using tolvane_test::SurfelSnapshot;

// Both quality storages: floats, and trunc(q x 15) packed into the flag byte.
class Compaction : public ::testing::TestWithParam<ESurfelAttributeSet> {};

// Survivors of a filter, by brute force over the snapshot of the input.
template <class Keep>
std::vector<SurfelSnapshot> Survivors(const std::vector<SurfelSnapshot>& in, Keep keep) {
  std::vector<SurfelSnapshot> out;
  for (const SurfelSnapshot& s : in) {
    if (keep(s)) out.push_back(s);
  }
  return out;
}

TEST_P(Compaction, QualityRangeIsInclusiveAndSurvivorsKeepOrderAndAttributes) {
  KaCSurfelCollectionCCT c = MakeCollection(64, GetParam());
  if (GetParam() == eSurfelAttributeSetFull) c.GetQualityAccessor()[20] = NAN;
  (void)c.GetKdTree();
  const std::vector<SurfelSnapshot> before = Snapshot(c);
  const float lo = 4.0f / 15.0f, hi = 9.0f / 15.0f;  // qualities come in fifteenths

  KaCMpDiscardQualityRange(lo, hi)(c);

  const auto expected = Survivors(before, [&](const SurfelSnapshot& s) {
    return std::isnan(s.quality) || s.quality < lo || s.quality > hi;
  });
  EXPECT_EQ(expected.size(), 64u - 4u * 6u + (GetParam() == eSurfelAttributeSetFull ? 1u : 0u));
  EXPECT_EQ(Snapshot(c), expected);
  EXPECT_EQ(c.GetAttributeSet(), GetParam());
  // The kd-tree was reset and is rebuilt over the survivors.
  EXPECT_EQ(c.GetKdTree().GetNrPoints(), c.GetNrSurfels());
}

TEST_P(Compaction, CheekCodesTwoAndThreeGoZeroAndOneStay) {
  KaCSurfelCollectionCCT c = MakeCollection(30, GetParam());  // tissue type i % 4
  const std::vector<SurfelSnapshot> before = Snapshot(c);
  KaCMpDiscardCheek()(c);
  EXPECT_EQ(Snapshot(c), Survivors(before, [](const SurfelSnapshot& s) { return s.tissue <= 1; }));

  // All kept: the collection is not reassigned and keeps its kd-tree.
  const CyKdTree* pTree = &c.GetKdTree();
  const CySurfelCollectionStatic* pStorage = c.GetCySurfelCollection().Get();
  KaCMpDiscardCheek()(c);
  EXPECT_EQ(c.GetCySurfelCollection().Get(), pStorage);
  EXPECT_EQ(&c.GetKdTree(), pTree);

  // All cheek: nothing is left.
  for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) c.GetTissueTypeAccessor()[i] = 2 + i % 2;
  KaCMpDiscardCheek()(c);
  EXPECT_EQ(c.GetNrSurfels(), 0u);
}

INSTANTIATE_TEST_SUITE_P(KaCMpDiscard, Compaction,
                         ::testing::Values(eSurfelAttributeSetFull, eSurfelAttributeSetCompact));

TEST(KaCMpDiscardQualityRange, NothingOrEverythingInRange) {
  KaCSurfelCollectionCCT c = MakeCollection(16);
  const CyKdTree* pTree = &c.GetKdTree();
  const CySurfelCollectionStatic* pStorage = c.GetCySurfelCollection().Get();
  const std::vector<SurfelSnapshot> before = Snapshot(c);
  KaCMpDiscardQualityRange(0.9f, 0.1f)(c);  // min above max: nothing is marked
  EXPECT_EQ(c.GetCySurfelCollection().Get(), pStorage);
  EXPECT_EQ(&c.GetKdTree(), pTree);
  EXPECT_EQ(Snapshot(c), before);

  KaCSurfelCollectionCCT empty(0);
  const CySurfelCollectionStatic* pEmpty = empty.GetCySurfelCollection().Get();
  KaCMpDiscardQualityRange(0.0f, 1.0f)(empty);
  EXPECT_EQ(empty.GetCySurfelCollection().Get(), pEmpty);

  KaCMpDiscardQualityRange all(-1.0f, 0.5f);
  KaCMpDiscardQualityRange copy(all);
  all = KaCMpDiscardQualityRange(0.0f, 1.0f);
  all(c);
  EXPECT_EQ(c.GetNrSurfels(), 0u);
  KaCSurfelCollectionCCT d = MakeCollection(16);
  copy(d);
  EXPECT_EQ(d.GetNrSurfels(), 8u);  // qualities 0..7/15 lie in -1..0.5
}

TEST(RemoveMarkedSurfels, MoreMarksThanSurfelsIsRefusedAndChangesNothing) {
  KaCSurfelCollectionCCT c = MakeCollection(2);
  const std::vector<SurfelSnapshot> before = Snapshot(c);
  EXPECT_THROW(RemoveMarkedSurfels(c, {1, 1, 1}), CbException);
  EXPECT_EQ(Snapshot(c), before);
}

TEST(KaCMpFtSetQualitiesToOne, EveryQualityReadsOneAndNothingElseChanges) {
  for (ESurfelAttributeSet set : {eSurfelAttributeSetFull, eSurfelAttributeSetCompact}) {
    KaCSurfelCollectionCCT c = MakeCollection(20, set);
    std::vector<SurfelSnapshot> expected = Snapshot(c);
    KaCMpFtSetQualitiesToOne()(c);
    const std::vector<SurfelSnapshot> after = Snapshot(c);
    for (std::size_t i = 0; i < after.size(); ++i) {
      EXPECT_EQ(after[i].quality, 1.0f);
      expected[i].quality = 1.0f;
      expected[i].flags = after[i].flags;  // compact storage keeps the quality in this byte
      EXPECT_EQ(after[i], expected[i]) << i;
    }
  }
}

TEST(KaCMpFtUpdateQualities, FilterAndMapLeaveEverythingAsItWas) {
  KaCSurfelCollectionCCT c = MakeCollection(20, eSurfelAttributeSetCompact);
  const std::vector<SurfelSnapshot> before = Snapshot(c);
  const KaCMpFtUpdateQualities filter;
  filter(c);
  EXPECT_EQ(Snapshot(c), before);
  const std::unique_ptr<KaCSurfelCollectionCCT> copy(
      filter(static_cast<const KaCSurfelCollectionCCT&>(c)));
  EXPECT_NE(copy.get(), &c);
  EXPECT_EQ(Snapshot(*copy), before);
}

}  // namespace
