#include "tissue/KaHue.h"

namespace {

// One colour's hue with the division in float, so the loop around it vectorises.
__attribute__((always_inline)) inline int HueOf(int r, int g, int b) noexcept {
  const int mx = ka_hue_detail::Max(r, ka_hue_detail::Max(g, b));
  const int mn = ka_hue_detail::Min(r, ka_hue_detail::Min(g, b));
  const int delta = mx - mn;
  const int maskR = -static_cast<int>(mx == r);
  const int maskG = ~maskR & -static_cast<int>(mx == g);
  const int maskB = ~maskR & ~maskG;
  const int base = (maskG & 120) | (maskB & 240);
  const int num = (maskR & (g - b)) | (maskG & (b - r)) | (maskB & (r - g));
  const int sign = num >> 31;
  const int mag = 60 * ((num ^ sign) - sign) + delta / 2;
  const int q =
      static_cast<int>(static_cast<float>(mag) / static_cast<float>(delta | (delta == 0)));
  int hue = base + ((q ^ sign) - sign);
  hue += 360 & (hue >> 31);
  hue -= 360 & ~((hue - 360) >> 31);
  return hue & -static_cast<int>(delta != 0);
}

__attribute__((always_inline)) inline void HuesLoop(const unsigned char* __restrict pRgb,
                                                    unsigned int n, int* __restrict pHues) {
  // A signed index: the vectoriser gives up on this loop with an unsigned one.
  const int nn = static_cast<int>(n);
  for (int k = 0; k < nn; ++k) {
    pHues[k] = HueOf(pRgb[3 * k], pRgb[3 * k + 1], pRgb[3 * k + 2]);
  }
}

__attribute__((target("avx2"))) void HuesAvx2(const unsigned char* pRgb, unsigned int n,
                                              int* pHues) {
  HuesLoop(pRgb, n, pHues);
}

void HuesBaseline(const unsigned char* pRgb, unsigned int n, int* pHues) {
  HuesLoop(pRgb, n, pHues);
}

}  // namespace

void KaComputeHues(const unsigned char* pRgb, unsigned int n, int* pHues) noexcept {
  // Asked once; a plain check rather than an ifunc, which sanitizer runtimes cannot take.
  static const bool s_bAvx2 = __builtin_cpu_supports("avx2");
  if (s_bAvx2) {
    HuesAvx2(pRgb, n, pHues);
  } else {
    HuesBaseline(pRgb, n, pHues);
  }
}
