#pragma once

#include <tolvane/Export.h>

namespace ka_hue_detail {

// Maximum and minimum of two bytes by arithmetic, which the compiler keeps free of branches.
constexpr int Max(int a, int b) noexcept { return a - ((a - b) & ((a - b) >> 31)); }
constexpr int Min(int a, int b) noexcept { return b + ((a - b) & ((a - b) >> 31)); }

// The hue of one colour, shared by KaComputeHue and the block form KaComputeHues. Sixty
// degrees per side of the colour hexagon: hue = base + 60 * num / delta, the quotient rounded
// to the nearest degree with halves away from zero. Written with masks rather than branches,
// since colours of real scans change hue often enough to defeat branch prediction, and with
// the quotient in float so that loops over it vectorise. The float quotient is exact: the
// true quotient never comes closer than 1/255 to an integer, far more than a float's rounding
// error at these sizes.
inline int HueOf(int r, int g, int b) noexcept {
  const int mx = Max(r, Max(g, b));
  const int mn = Min(r, Min(g, b));
  const int delta = mx - mn;
  const int maskR = -static_cast<int>(mx == r);
  const int maskG = ~maskR & -static_cast<int>(mx == g);
  const int maskB = ~maskR & ~maskG;
  const int base = (maskG & 120) | (maskB & 240);
  const int num = (maskR & (g - b)) | (maskG & (b - r)) | (maskB & (r - g));
  const int sign = num >> 31;  // 0 or -1
  const int mag = 60 * ((num ^ sign) - sign) + delta / 2;
  const int q =
      static_cast<int>(static_cast<float>(mag) / static_cast<float>(delta | (delta == 0)));
  int hue = base + ((q ^ sign) - sign);
  hue += 360 & (hue >> 31);
  hue -= 360 & ~((hue - 360) >> 31);
  return hue & -static_cast<int>(delta != 0);
}

}  // namespace ka_hue_detail

/// Hue of a packed colour R * 65536 + G * 256 + B in integer degrees 0..359, the one hue
/// function of the whole code base: the HSV hue 60 x (position on the colour hexagon), rounded
/// to the nearest degree (halves away from zero), 360 folding to 0. Grey, black and white
/// (R = G = B) have no hue and give 0. Inline, because the classification loops call it for
/// every surfel.
[[nodiscard]] inline int KaComputeHue(unsigned long packed) noexcept {
  return ka_hue_detail::HueOf(static_cast<int>((packed >> 16) & 0xFFu),
                              static_cast<int>((packed >> 8) & 0xFFu),
                              static_cast<int>(packed & 0xFFu));
}

/// KaComputeHue of n colours stored as consecutive R, G, B bytes, into pHues, computed in
/// vector registers where the processor has them.
TOLVANE_API void KaComputeHues(const unsigned char* pRgb, unsigned int n, int* pHues) noexcept;
