#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include <tolvane/KaCMpDeleteSamples.h>
#include <tolvane/KaCMpDiscardCheek.h>
#include <tolvane/KaCMpDiscardQualityRange.h>
#include <tolvane/KaCMpFtColorCode.h>
#include <tolvane/KaCMpFtFlipSurfelNormals.h>
#include <tolvane/KaCMpFtScaleSurfels.h>
#include <tolvane/KaCMpFtSetQualitiesToOne.h>
#include <tolvane/KaCMpFtUpdateQualities.h>

#include "base/CbException.h"
#include "filters/CompactionKernels.h"
#include "filters/RemoveMarkedSurfels.h"
#include "geometry/CyKdTree.h"
#include "support/TestSupport.h"

namespace {

using tolvane_test::MakeCollection;

/// The eight carried attributes of one surfel, read back through the collection's accessors.
struct SurfelSnapshot {
  CbVector3f position;
  unsigned short normal;
  KaCCompressedColor color;
  float quality;
  unsigned char tissue, flags;
  bool boundary;
  unsigned int value;

  /// NaN qualities compare equal to each other.
  bool operator==(const SurfelSnapshot& o) const {
    const bool sameQuality = quality == o.quality || (std::isnan(quality) && std::isnan(o.quality));
    return position == o.position && normal == o.normal && color == o.color && sameQuality &&
           tissue == o.tissue && flags == o.flags && boundary == o.boundary && value == o.value;
  }
};

std::vector<SurfelSnapshot> Snapshot(const KaCSurfelCollectionCCT& c) {
  std::vector<SurfelSnapshot> out;
  for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) {
    out.push_back(
        {c.GetPosition(i), c.GetNormalAccessor()[i], c.GetColor(i), c.GetQualityAccessor()[i],
         c.GetTissueTypeAccessor()[i], c.GetAccessor<unsigned char>(eSurfelAttributeFlags)[i],
         c.GetBoundaryFlagAccessor()[i], c.GetAccessor<unsigned int>(eSurfelAttributeValue)[i]});
  }
  return out;
}

// Both quality storages: floats, and trunc(q x 15) packed into the flag byte.
class Compaction : public ::testing::TestWithParam<ESurfelAttributeSet> {};

template <class Keep>
std::vector<SurfelSnapshot> Survivors(const KaCSurfelCollectionCCT& c, Keep keep) {
  std::vector<SurfelSnapshot> out;
  for (const SurfelSnapshot& s : Snapshot(c)) {
    if (keep(s)) out.push_back(s);
  }
  return out;
}

// True when the filter left the collection's storage and kd-tree in place.
template <class Filter>
bool NotReassigned(KaCSurfelCollectionCCT& c, const Filter& filter) {
  const CyKdTree* pTree = &c.GetKdTree();
  const CySurfelCollectionStatic* pStorage = c.GetCySurfelCollection().Get();
  filter(c);
  return c.GetCySurfelCollection().Get() == pStorage && &c.GetKdTree() == pTree;
}

TEST_P(Compaction, QualityRangeInclusiveNaNStaysSurvivorsKeepOrderAndAttributes) {
  KaCSurfelCollectionCCT c = MakeCollection(64, GetParam());  // qualities (i % 16) / 15
  if (GetParam() == eSurfelAttributeSetFull) c.GetQualityAccessor()[20] = NAN;
  (void)c.GetKdTree();
  const float lo = 4.0f / 15.0f, hi = 9.0f / 15.0f;
  const auto expected =
      Survivors(c, [&](const SurfelSnapshot& s) { return !(s.quality >= lo && s.quality <= hi); });
  KaCMpDiscardQualityRange(lo, hi)(c);
  EXPECT_EQ(c.GetNrSurfels(), GetParam() == eSurfelAttributeSetFull ? 41u : 40u);
  EXPECT_EQ(Snapshot(c), expected);
  EXPECT_EQ(c.GetAttributeSet(), GetParam());
  EXPECT_EQ(c.GetKdTree().GetNrPoints(), c.GetNrSurfels());  // rebuilt over the survivors

  EXPECT_TRUE(NotReassigned(c, KaCMpDiscardQualityRange(0.9f, 0.1f)));  // min above max
  EXPECT_EQ(Snapshot(c), expected);
  KaCMpDiscardQualityRange(0.0f, 1.0f)(c);
  EXPECT_EQ(c.GetNrSurfels(), GetParam() == eSurfelAttributeSetFull ? 1u : 0u);  // NaN stays
}

TEST_P(Compaction, CheekCodesTwoAndThreeGoZeroAndOneStay) {
  KaCSurfelCollectionCCT c = MakeCollection(30, GetParam());  // tissue types i % 4
  const auto expected = Survivors(c, [](const SurfelSnapshot& s) { return s.tissue <= 1; });
  KaCMpDiscardCheek()(c);
  EXPECT_EQ(Snapshot(c), expected);
  EXPECT_TRUE(NotReassigned(c, KaCMpDiscardCheek()));
  for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) c.GetTissueTypeAccessor()[i] = 2 + i % 2;
  KaCMpDiscardCheek()(c);
  EXPECT_EQ(c.GetNrSurfels(), 0u);
}

// Runs of kept and removed surfels from 1 to 40 long cross the compaction's groups of eight in
// every phase, and some of 250 to 349 take its long-run copy; some marks are 2 (skipped, not
// counted) and the marks stop before the last surfels, which leaves result surfels without a
// kept input. The result must equal the survivors picked one by one, followed by defaults,
// through the vector kernels and without them; again with marks for every surfel (which a
// collection of float qualities compacts within its own arrays).
TEST_P(Compaction, RunsOfEveryLengthKeepTheSurvivorsInOrder) {
  const KaCSurfelCollectionCCT source = MakeCollection(6000, GetParam(), 5);
  const KaCSurfelCollectionCCT defaults(1, true, GetParam(), nullptr);
  std::mt19937 rng(11);
  std::vector<unsigned char> marks;
  unsigned char mark = 0;
  while (marks.size() < source.GetNrSurfels() - 37) {
    const std::size_t nRun = rng() % 10 == 0 ? 250 + rng() % 100 : 1 + rng() % 40;
    for (std::size_t k = 0; k < nRun && marks.size() < source.GetNrSurfels() - 37; ++k) {
      marks.push_back(mark == 1 && rng() % 50 == 0 ? 2 : mark);
    }
    mark = static_cast<unsigned char>(1 - mark);
  }
  const auto nRemoved = static_cast<std::size_t>(std::count(marks.begin(), marks.end(), 1));
  const auto all = Snapshot(source);
  for (const bool bAllMarked : {false, true}) {
    if (bAllMarked) marks.resize(source.GetNrSurfels(), 0);
    std::vector<SurfelSnapshot> expected;
    for (std::size_t i = 0; i < marks.size(); ++i) {
      if (marks[i] == 0) expected.push_back(all[i]);
    }
    expected.resize(all.size() - nRemoved, Snapshot(defaults)[0]);
    for (const bool bVectors : {true, false}) {
      SetCompactionVectorsEnabled(bVectors);
      KaCSurfelCollectionCCT c = source;
      RemoveMarkedSurfels(c, marks);
      EXPECT_EQ(Snapshot(c), expected) << (bVectors ? "vector kernels" : "surfel by surfel")
                                       << (bAllMarked ? ", all marked" : "");
    }
  }
  SetCompactionVectorsEnabled(true);
}

// Marks that stop early, or that skip a surfel without counting it (a mark of 2), leave
// surfels of the result without a kept input: they take the defaults.
TEST_P(Compaction, SurfelsWithoutAKeptInputTakeTheDefaults) {
  const KaCSurfelCollectionCCT source = MakeCollection(20, GetParam());
  const KaCSurfelCollectionCCT defaults(1, true, GetParam(), nullptr);
  const auto all = Snapshot(source);
  std::vector<unsigned char> marks(12, 0);  // surfels 12..19 have no mark
  marks[3] = 1;
  marks[5] = 2;
  KaCSurfelCollectionCCT c = source;
  RemoveMarkedSurfels(c, marks);
  ASSERT_EQ(c.GetNrSurfels(), 19u);
  const auto out = Snapshot(c);
  for (unsigned int j = 0; j < 19; ++j) {
    // Kept: 0, 1, 2, 4, then 6 to 11.
    const SurfelSnapshot want = j < 3    ? all[j]
                                : j == 3 ? all[4]
                                : j < 10 ? all[j + 2]
                                         : Snapshot(defaults)[0];
    EXPECT_EQ(out[j], want) << "surfel " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(KaCMpDiscard, Compaction,
                         ::testing::Values(eSurfelAttributeSetFull, eSurfelAttributeSetCompact));

TEST(RemoveMarkedSurfels, MoreMarksThanSurfelsIsRefusedAndChangesNothing) {
  KaCSurfelCollectionCCT c = MakeCollection(2);
  const auto before = Snapshot(c);
  EXPECT_THROW(RemoveMarkedSurfels(c, {1, 1, 1}), CbException);
  EXPECT_EQ(Snapshot(c), before);
}

TEST(KaAMpFtSurfelCollection, MapsLeaveTheInputAndReturnTheFilteredCopy) {
  std::vector<float> values = {0.0f, 0.5f, 1.0f};
  const CbSmartPointer<KaAMpFtSurfelCollection> filters[] = {
      new KaCMpFtSetQualitiesToOne,
      new KaCMpFtUpdateQualities,
      new KaCMpDiscardQualityRange(0.2f, 0.6f),
      new KaCMpDiscardCheek,
      new KaCMpFtFlipSurfelNormals,
      new KaCMpFtScaleSurfels(CbVector3f(1.0f, -3.0f, 0.5f), true),
      new KaCMpFtColorCode(0.0f, 1.0f, values, nullptr, 3)};
  KaCSurfelCollectionCCT input = MakeCollection(20, eSurfelAttributeSetCompact);
  for (unsigned int i = 0; i < 20; ++i) input.SetNormal(i, CbVector3f(1.0f, 2.0f, 0.1f * i));
  const auto before = Snapshot(input);
  const KaCSurfelCollectionCCT& constInput = input;
  for (const auto& spFilter : filters) {
    const std::unique_ptr<KaCSurfelCollectionCCT> out((*spFilter)(constInput));
    KaCSurfelCollectionCCT direct(input, false);
    (*spFilter)(direct);
    EXPECT_EQ(Snapshot(input), before);
    EXPECT_EQ(Snapshot(*out), Snapshot(direct));
  }
}

TEST(KaCMpFtScaleSurfels, OneFactorScalesAllAxes) {
  KaCSurfelCollectionCCT c = MakeCollection(5);
  const auto before = Snapshot(c);
  KaCMpFtScaleSurfels(2.0f, false)(c);
  for (unsigned int i = 0; i < 5; ++i) {
    const CbVector3f p = before[i].position;
    EXPECT_EQ(c.GetPosition(i), CbVector3f(2.0f * p.x, 2.0f * p.y, 2.0f * p.z));
  }
  KaCMpFtSetQualitiesToOne()(c);
  for (unsigned int i = 0; i < 5; ++i) EXPECT_EQ(c.GetQualityAccessor()[i], 1.0f);
}

class RayImage : public KaIRayImage {
 public:
  const CbReferenceCounter<unsigned int>& getReferenceCounter() const override { return m_c; }

 private:
  CbReferenceCounter<unsigned int> m_c;
};

TEST(KaCMpDeleteSamples, OnlyFlagOneDeletes) {
  CbSmartPointer<const KaIRayImage> spRay(new RayImage);
  KaCSurfelCollectionCCT input = MakeCollection(4, eSurfelAttributeSetCompact);
  input.SetRayImage(spRay);
  const auto before = Snapshot(input);
  std::vector<unsigned int> flags = {1, 0, 1, 0};
  const KaCMpDeleteSamples map(flags);
  std::unique_ptr<KaCSurfelCollectionCCT> out(map(input));
  EXPECT_EQ(Snapshot(*out), (std::vector<SurfelSnapshot>{before[1], before[3]}));
  EXPECT_EQ(out->GetRayImage().Get(), spRay.Get());
  flags = {2, 3, 0xFFFFFFFFu, 0};  // read through the kept address
  out.reset(map(input));
  EXPECT_EQ(Snapshot(*out), before);
  EXPECT_EQ(Snapshot(input), before);
}

}  // namespace
