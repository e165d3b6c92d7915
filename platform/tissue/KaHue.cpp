#include "tissue/KaHue.h"

#include <algorithm>

int KaComputeHue(unsigned long packed) noexcept {
  const int r = static_cast<int>((packed >> 16) & 0xFFu);
  const int g = static_cast<int>((packed >> 8) & 0xFFu);
  const int b = static_cast<int>(packed & 0xFFu);
  const int mx = std::max(r, std::max(g, b));
  const int mn = std::min(r, std::min(g, b));
  const int delta = mx - mn;
  if (delta == 0) return 0;
  // Sixty degrees per side of the colour hexagon, in integer arithmetic rounded to the nearest
  // degree: hue = base + 60 * num / delta.
  int base = 0;
  int num = 0;
  if (mx == r) {
    base = 0;
    num = g - b;
  } else if (mx == g) {
    base = 120;
    num = b - r;
  } else {
    base = 240;
    num = r - g;
  }
  const int scaled = 60 * num;
  const int rounded = scaled >= 0 ? (scaled + delta / 2) / delta : -((-scaled + delta / 2) / delta);
  int hue = base + rounded;
  if (hue < 0) hue += 360;
  if (hue >= 360) hue -= 360;
  return hue;
}
