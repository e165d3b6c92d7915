#pragma once

#include <random>

#include "container/KaCSurfelCollectionCCT.h"
#include "tissue/KaCToothTissueMath.h"

namespace tolvane_test {

/// Ivory tooth colour, hue 42 (shifted by 120: 162), and pink gingiva, hue 353 (shifted: 113).
constexpr KaCCompressedColor c_toothColor(225, 210, 175);
constexpr KaCCompressedColor c_gingivaColor(185, 95, 105);

/// The hue shifted as the classifier and the training statistics see it.
inline int ShiftedHue(const KaCCompressedColor& c) {
  return (KaCToothTissueMath::GetHue(c.GetPacked()) + 120) % 360;
}

/// A frame of n surfels, each tooth-coloured with probability fToothShare and gingiva-coloured
/// otherwise, every channel jittered by up to 8 units; quality 1, tissue type 1.
inline KaCSurfelCollectionCCT MakeTissueFrame(unsigned int n, double fToothShare, unsigned int seed,
                                              ESurfelAttributeSet eSet = eSurfelAttributeSetFull) {
  KaCSurfelCollectionCCT c(n, true, eSet);
  std::mt19937 rng(seed);
  std::bernoulli_distribution tooth(fToothShare);
  std::uniform_int_distribution<int> jitter(-8, 8);
  auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  for (unsigned int i = 0; i < n; ++i) {
    const KaCCompressedColor base = tooth(rng) ? c_toothColor : c_gingivaColor;
    colors[i] =
        KaCCompressedColor(base.r + jitter(rng), base.g + jitter(rng), base.b + jitter(rng));
    c.GetTissueTypeAccessor().Set(i, 1);
  }
  return c;
}

}  // namespace tolvane_test
