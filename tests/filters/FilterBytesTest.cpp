// The filters tuned for speed give the same bytes as before: every attribute of seeded
// collections (both storages, every normal code and colour kind) is hashed after each filter
// and compared with the hash recorded from these filters before they were last tuned for speed.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include <tolvane/KaCFtAlgorithmsListCCTAcquisition.h>
#include <tolvane/KaCMpDiscardCheek.h>
#include <tolvane/KaCMpDiscardQualityRange.h>
#include <tolvane/KaCMpFtColorCodeByQuality.h>
#include <tolvane/KaCMpFtColorCompensate.h>
#include <tolvane/KaCMpFtSegmentTeethClassifier.h>
#include <tolvane/KaCMpFtToothTissueTrainingDuringAcquisition.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "container/CySurfelCollectionBase.h"
#include "container/KaCSurfelCollectionCCT.h"

namespace {

// 20011 surfels (not a multiple of any vector width) with random positions, normal codes (the
// unset one among them), colours (a fifth of them near white), qualities (0, 1 and NaN among
// them), tissue types, boundary flags and attributes 103 and 105.
KaCSurfelCollectionCCT Seeded(ESurfelAttributeSet eSet, unsigned int seed) {
  const unsigned int n = 20011;
  KaCSurfelCollectionCCT c(n, true, eSet);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-5.0f, 5.0f);
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto value = c.GetAccessor<std::uint32_t>(eSurfelAttributeValue);
  for (unsigned int i = 0; i < n; ++i) {
    c.SetPosition(i, CbVector3f(u(rng), u(rng), u(rng)));
    c.GetNormalAccessor()[i] =
        i % 97 == 0 ? KaCNormalCodec::c_nUnsetCode : static_cast<unsigned short>(rng());
    const unsigned int base = rng() % 5 == 0 ? 200 : 0;
    colors[i] = KaCCompressedColor(static_cast<int>(base + rng() % (256 - base)),
                                   static_cast<int>(base + rng() % (256 - base)),
                                   static_cast<int>(base + rng() % (256 - base)));
    const unsigned int q = rng() % 20;
    c.GetQualityAccessor().Set(i, q == 0 ? 0.0f : q == 1 ? 1.0f : q == 2 ? NAN : (q - 2) / 17.0f);
    c.GetTissueTypeAccessor().Set(i, static_cast<unsigned char>(rng() % 4));
    c.GetBoundaryFlagAccessor().Set(i, rng() % 2 == 0);
    value[i] = static_cast<std::uint32_t>(rng());
  }
  return c;
}

// FNV-1a over the count and every attribute's bytes, attribute by attribute in id order.
std::string Hash(const KaCSurfelCollectionCCT& c) {
  std::uint64_t h = 1469598103934665603ull;
  const auto add = [&h](const void* p, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
      h = (h ^ static_cast<const unsigned char*>(p)[k]) * 1099511628211ull;
    }
  };
  const unsigned int n = c.GetNrSurfels();
  add(&n, sizeof n);
  const CyAttributeContainer& attributes = c.GetCySurfelCollection()->GetAttributeContainer();
  for (unsigned int id : attributes.GetIds()) {
    const CyAttributeContainer::View v = attributes.Get(id);
    for (unsigned int i = 0; i < n; ++i) {
      add(static_cast<const unsigned char*>(v.pData) + std::size_t{i} * v.nStride, v.nElementSize);
    }
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

template <class Apply>
std::string After(ESurfelAttributeSet eSet, Apply apply) {
  KaCSurfelCollectionCCT c = Seeded(eSet, 3);
  apply(c);
  return Hash(c);
}

struct Case {
  const char* name;
  void (*apply)(KaCSurfelCollectionCCT&);
  const char* full;     // recorded hash in the full attribute set
  const char* compact;  // and in the compact one
};

void Pipeline(KaCSurfelCollectionCCT& c, bool bTrain) {
  KaCTolvaneSettings::SetTrainToothTissueAtStart(bTrain);
  KaCTolvaneSettings::SetQualityFromColor(true);
  KaCTolvaneSettings::SetToothTissueBeforeSequentialRegistration(true);
  KaCTolvaneSettings::SetColorCompensate(true);
  KaCFtAlgorithmsListCCTAcquisition pipeline;
  pipeline(c);
}

const Case c_cases[] = {
    {"compensate", [](KaCSurfelCollectionCCT& c) { KaCMpFtColorCompensate()(c); },
     "5f1577ab2d17990b", "42d4559b27742dc6"},
    {"classify",
     [](KaCSurfelCollectionCCT& c) {
       KaCMpFtSegmentTeethClassifier(140, 120, 0.5f, 0.0f, false)(c);
     },
     "5bc5ed27ac7676f3", "883f91c5287f2cd9"},
    {"pipeline", [](KaCSurfelCollectionCCT& c) { Pipeline(c, false); }, "cf24e79af7371278",
     "f1a6861ee88d6dee"},
    {"pipeline training", [](KaCSurfelCollectionCCT& c) { Pipeline(c, true); }, "63520026b813dd00",
     "ce2b0119868a5c50"},
    {"colour by quality",
     [](KaCSurfelCollectionCCT& c) {
       for (int entity : {0, 3, 6, 7, 8}) {
         KaCMpFtColorCodeByQuality::SetColorCodedEntity(entity);
         KaCMpFtColorCodeByQuality(0.5f, 0.6f, 0.0f, 0.8f)(c);
         c.GetQualityAccessor().Set(static_cast<unsigned int>(entity), 0.25f);  // vary the input
       }
     },
     "65dbc52e620d77f2", "96ef6ddf966c5ec3"},
    {"discard quality range",
     [](KaCSurfelCollectionCCT& c) { KaCMpDiscardQualityRange(0.2f, 0.7f)(c); }, "4dfba08315365ec2",
     "5cbdb427930ba95a"},
    {"discard cheek", [](KaCSurfelCollectionCCT& c) { KaCMpDiscardCheek()(c); }, "b6a3e4c722309aaf",
     "25204c5d56d81519"},
};

TEST(FilterBytes, EqualThoseOfTheStraightforwardFilters) {
  for (const Case& k : c_cases) {
    EXPECT_EQ(After(eSurfelAttributeSetFull, k.apply), k.full) << k.name << ", full";
    EXPECT_EQ(After(eSurfelAttributeSetCompact, k.apply), k.compact) << k.name << ", compact";
  }
}

}  // namespace
