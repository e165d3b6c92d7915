#include <algorithm>

#include <gtest/gtest.h>

#include "tissue/KaHue.h"

namespace {

// The textbook HSV hue with integer rounding, halves away from zero.
int ReferenceHue(unsigned long packed) {
  const int r = static_cast<int>((packed >> 16) & 0xFF);
  const int g = static_cast<int>((packed >> 8) & 0xFF);
  const int b = static_cast<int>(packed & 0xFF);
  const int mx = std::max(r, std::max(g, b));
  const int delta = mx - std::min(r, std::min(g, b));
  if (delta == 0) return 0;
  int base = 240;
  int num = r - g;
  if (mx == r) {
    base = 0;
    num = g - b;
  } else if (mx == g) {
    base = 120;
    num = b - r;
  }
  const int s = 60 * num;
  const int q = s >= 0 ? (s + delta / 2) / delta : -((-s + delta / 2) / delta);
  return (base + q + 360) % 360;
}

// Every one of the 2^24 colours against the textbook formula: the reciprocal division and
// the branch-free selects must not change a single hue.
TEST(KaComputeHue, MatchesTheTextbookHueForEveryColour) {
  for (unsigned long c = 0; c < (1ul << 24); ++c) {
    ASSERT_EQ(KaComputeHue(c), ReferenceHue(c)) << std::hex << c;
  }
  EXPECT_EQ(KaComputeHue(0x808080), 0);
  EXPECT_EQ(KaComputeHue(0xFF8000), 30);
  EXPECT_EQ(KaComputeHue(0xFF0080), 330);
}

}  // namespace
