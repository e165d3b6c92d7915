#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <tolvane/KaCMpDeleteSamples.h>
#include <tolvane/KaCMpFtFlipSurfelNormals.h>
#include <tolvane/KaCMpFtScaleSurfels.h>
#include <tolvane/KaCMpRemoveOutliersByWeight.h>

#include "support/TestSupport.h"
#include "SurfelSnapshot.h"

namespace {

using tolvane_test::MakeCollection;
using tolvane_test::Snapshot;
using tolvane_test::SurfelSnapshot;

// A collection whose normals point in varied directions, so that flipping and scaling them shows.
KaCSurfelCollectionCCT MakeTilted(unsigned int n) {
  KaCSurfelCollectionCCT c = MakeCollection(n);
  for (unsigned int i = 0; i < n; ++i) {
    c.SetNormal(i, CbVector3f(1.0f + static_cast<float>(i), -2.0f, 0.5f * static_cast<float>(i)));
    c.SetPosition(i, CbVector3f(1.5f * static_cast<float>(i), -0.25f, 3.0f));
  }
  return c;
}

TEST(KaCMpFtFlipSurfelNormals, MapFlipsACopyAndLeavesTheInput) {
  const KaCSurfelCollectionCCT input = MakeTilted(6);
  const std::vector<SurfelSnapshot> before = Snapshot(input);
  const std::unique_ptr<KaCSurfelCollectionCCT> out(KaCMpFtFlipSurfelNormals()(input));
  EXPECT_EQ(Snapshot(input), before);
  for (unsigned int i = 0; i < 6; ++i) {
    const CbVector3f n = input.GetNormal(i), f = out->GetNormal(i);
    EXPECT_EQ(f, CbVector3f(-n.x, -n.y, -n.z)) << i;
    EXPECT_EQ(out->GetPosition(i), input.GetPosition(i));
  }
}

TEST(KaCMpFtScaleSurfels, ScalesPerAxisAndPassesTheFlagOn) {
  const KaCSurfelCollectionCCT input = MakeTilted(6);
  const std::vector<SurfelSnapshot> before = Snapshot(input);
  const std::unique_ptr<KaCSurfelCollectionCCT> doubled(KaCMpFtScaleSurfels(2.0f, false)(input));
  EXPECT_EQ(Snapshot(input), before);
  for (unsigned int i = 0; i < 6; ++i) {
    const CbVector3f p = input.GetPosition(i);
    EXPECT_EQ(doubled->GetPosition(i), CbVector3f(2.0f * p.x, 2.0f * p.y, 2.0f * p.z));
    EXPECT_EQ(doubled->GetNormalAccessor()[i], input.GetNormalAccessor()[i]);
  }

  // Per axis, with the flag: the same as the collection's own operation.
  const CbVector3f scale(1.0f, -3.0f, 0.5f);
  KaCMpFtScaleSurfels filter(scale, true);
  KaCMpFtScaleSurfels assigned(7.0f, false);
  assigned = filter;
  KaCSurfelCollectionCCT viaFilter(input, false), direct(input, false);
  assigned(viaFilter);
  direct.ScaleSurfels(scale, true);
  EXPECT_EQ(Snapshot(viaFilter), Snapshot(direct));
  EXPECT_NE(Snapshot(direct)[1].normal, before[1].normal);
}

class RayImage : public KaIRayImage {
 public:
  [[nodiscard]] const CbReferenceCounter<unsigned int>& getReferenceCounter() const override {
    return m_counter;
  }

 private:
  CbReferenceCounter<unsigned int> m_counter;
};

TEST(KaCMpDeleteSamples, FlagOneDeletesOtherValuesKeep) {
  CbSmartPointer<const KaIRayImage> spRay(new RayImage);
  KaCSurfelCollectionCCT input = MakeCollection(4, eSurfelAttributeSetCompact);
  input.SetRayImage(spRay);
  const std::vector<SurfelSnapshot> before = Snapshot(input);

  std::vector<unsigned int> flags = {1, 0, 1, 0};
  const KaCMpDeleteSamples map(flags);
  std::unique_ptr<KaCSurfelCollectionCCT> out(map(input));
  EXPECT_EQ(Snapshot(input), before);
  EXPECT_EQ(Snapshot(*out), (std::vector<SurfelSnapshot>{before[1], before[3]}));
  EXPECT_EQ(out->GetRayImage().Get(), spRay.Get());

  // The flags are read through the kept address; only the value 1 deletes.
  flags = {2, 3, 0xFFFFFFFFu, 0};
  out.reset(KaCMpDeleteSamples(map)(input));
  EXPECT_EQ(Snapshot(*out), before);
  flags = {1, 1, 1, 1};
  out.reset(map(input));
  EXPECT_EQ(out->GetNrSurfels(), 0u);

  KaCSurfelCollectionCCT empty(0);
  empty.SetRayImage(spRay);
  out.reset(map(empty));
  EXPECT_EQ(out->GetNrSurfels(), 0u);
  EXPECT_EQ(out->GetRayImage().Get(), spRay.Get());
}

class ThresholdOutliers : public KaCMpRemoveOutliersByWeight {
 public:
  using KaCMpRemoveOutliersByWeight::KaCMpRemoveOutliersByWeight;
  KaCSurfelCollectionCCT* operator()(const KaCSurfelCollectionCCT& input) const override {
    return new KaCSurfelCollectionCCT(input, false);
  }
  [[nodiscard]] double Translation() const { return GetTransformation()[12]; }
  [[nodiscard]] float Sum() const {
    return GetValue1() + 10.0f * GetValue2() + 100.0f * GetValue3();
  }
};

TEST(KaCMpRemoveOutliersByWeight, KeepsTheTransformationByAddressAndTheValues) {
  CbMatrix4Rd m;
  m[12] = 1.0;
  const ThresholdOutliers map(m, 1.0f, 2.0f, 3.0f);
  const ThresholdOutliers copy(map);
  m[12] = 5.0;
  EXPECT_EQ(map.Translation(), 5.0);
  EXPECT_EQ(copy.Translation(), 5.0);
  EXPECT_EQ(copy.Sum(), 321.0f);
}

}  // namespace
