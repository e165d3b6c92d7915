#include "tissue/KaHue.h"

#include "base/CpuDispatch.h"

namespace {

__attribute__((always_inline)) inline void HuesLoop(const unsigned char* __restrict pRgb,
                                                    unsigned int n, int* __restrict pHues) {
  // A signed index: the vectoriser gives up on this loop with an unsigned one.
  const int nn = static_cast<int>(n);
  for (int k = 0; k < nn; ++k) {
    pHues[k] = ka_hue_detail::HueOf(pRgb[3 * k], pRgb[3 * k + 1], pRgb[3 * k + 2]);
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
  if (tolvane::HasAvx2()) {
    HuesAvx2(pRgb, n, pHues);
  } else {
    HuesBaseline(pRgb, n, pHues);
  }
}
