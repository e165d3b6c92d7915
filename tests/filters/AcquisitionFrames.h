#pragma once

#include <random>

#include "container/KaCSurfelCollectionCCT.h"
#include "tissue/KaCToothTissueMath.h"

namespace tolvane_test {

/// Ivory tooth, hue 42 (shifted by 120: 162), and pink gingiva, hue 353 (shifted: 113).
constexpr KaCCompressedColor c_toothColor(225, 210, 175);
constexpr KaCCompressedColor c_gingivaColor(185, 95, 105);

/// n surfels, each tooth-coloured with probability fToothShare, else gingiva-coloured, every
/// channel jittered by up to 8 (tooth blue stays above 160, gingiva blue below 120).
inline KaCSurfelCollectionCCT MakeTissueFrame(unsigned int n, double fToothShare,
                                              unsigned int seed) {
  KaCSurfelCollectionCCT c(n, true);
  std::mt19937 rng(seed);
  std::bernoulli_distribution tooth(fToothShare);
  std::uniform_int_distribution<int> jitter(-8, 8);
  for (unsigned int i = 0; i < n; ++i) {
    const KaCCompressedColor base = tooth(rng) ? c_toothColor : c_gingivaColor;
    c.SetColor(
        i, KaCCompressedColor(base.r + jitter(rng), base.g + jitter(rng), base.b + jitter(rng)));
  }
  return c;
}

}  // namespace tolvane_test
