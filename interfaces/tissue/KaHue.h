#pragma once

#include <array>
#include <cstdint>

namespace ka_hue_detail {

// ceil(2^24 / d) for d = 1..255: (x * m[d]) >> 24 equals x / d exactly for every
// x * d < 2^24, which covers the numerators below (x <= 60 * 255 + 127).
inline constexpr std::array<std::uint64_t, 256> MakeReciprocals() {
  std::array<std::uint64_t, 256> m{};
  // m[0] is never used for a result (grey has no hue) but keeps the lookup in range.
  for (std::uint64_t d = 1; d < 256; ++d) m[d] = ((std::uint64_t{1} << 24) + d - 1) / d;
  return m;
}
inline constexpr std::array<std::uint64_t, 256> c_reciprocals = MakeReciprocals();

// Maximum and minimum of two bytes by arithmetic, which the compiler keeps free of branches.
constexpr int Max(int a, int b) noexcept { return a - ((a - b) & ((a - b) >> 31)); }
constexpr int Min(int a, int b) noexcept { return b + ((a - b) & ((a - b) >> 31)); }

}  // namespace ka_hue_detail

/// Hue of a packed colour R * 65536 + G * 256 + B in integer degrees 0..359, the one hue
/// function of the whole code base: the HSV hue 60 x (position on the colour hexagon), rounded
/// to the nearest degree (halves away from zero), 360 folding to 0. Grey, black and white
/// (R = G = B) have no hue and give 0. Inline, because the classification loops call it for
/// every surfel.
[[nodiscard]] inline int KaComputeHue(unsigned long packed) noexcept {
  const int r = static_cast<int>((packed >> 16) & 0xFFu);
  const int g = static_cast<int>((packed >> 8) & 0xFFu);
  const int b = static_cast<int>(packed & 0xFFu);
  const int mx = ka_hue_detail::Max(r, ka_hue_detail::Max(g, b));
  const int mn = ka_hue_detail::Min(r, ka_hue_detail::Min(g, b));
  const int delta = mx - mn;
  // Sixty degrees per side of the colour hexagon: hue = base + 60 * num / delta, the quotient
  // rounded to the nearest degree with halves away from zero. Written with masks rather than
  // branches: colours of real scans change hue often enough to defeat branch prediction.
  const int maskR = -static_cast<int>(mx == r);
  const int maskG = ~maskR & -static_cast<int>(mx == g);
  const int maskB = ~maskR & ~maskG;
  const int base = (maskG & 120) | (maskB & 240);
  const int num = (maskR & (g - b)) | (maskG & (b - r)) | (maskB & (r - g));
  const int sign = num >> 31;  // 0 or -1
  const int mag = 60 * ((num ^ sign) - sign) + delta / 2;
  const int q = static_cast<int>((static_cast<std::uint64_t>(mag) *
                                  ka_hue_detail::c_reciprocals[static_cast<unsigned int>(delta)]) >>
                                 24);
  int hue = base + ((q ^ sign) - sign);
  hue += 360 & (hue >> 31);
  hue -= 360 & ~((hue - 360) >> 31);
  return hue & -static_cast<int>(delta != 0);
}

/// KaComputeHue of n colours stored as consecutive R, G, B bytes, into pHues. The same hues,
/// computed in vector registers (the quotient in float, which is exact here: it never comes
/// closer than 1/255 to an integer, far more than a float's rounding error at these sizes).
void KaComputeHues(const unsigned char* pRgb, unsigned int n, int* pHues) noexcept;
