#include <cmath>

#include <gtest/gtest.h>

#include "container/KaCCompressedColor.h"
#include "tissue/KaCColorCoder.h"

namespace {

KaCCompressedColor Code(const KaCColorCoder& coder, float v) {
  float rgb[3];
  coder.SetColor(v, rgb);
  return KaCCompressedColor(rgb[0], rgb[1], rgb[2]);
}

// Rec. 709 luma of the unquantised components.
float Luma(const KaCColorCoder& coder, float v) {
  float rgb[3];
  coder.SetColor(v, rgb);
  return 0.2126f * rgb[0] + 0.7152f * rgb[1] + 0.0722f * rgb[2];
}

TEST(KaCColorCoder, ViridisScaleIsOrderedContinuousAndApartFromGrey) {
  KaCColorCoder coder(-2.0f, 6.0f);
  EXPECT_EQ(Code(coder, -2.0f), KaCCompressedColor(68, 1, 84));
  EXPECT_EQ(Code(coder, 2.0f), KaCCompressedColor(33, 144, 140));
  EXPECT_EQ(Code(coder, 6.0f), KaCCompressedColor(253, 231, 37));
  for (int k = 1; k <= 800; ++k) {
    const float v = -2.0f + 0.01f * static_cast<float>(k);
    EXPECT_GT(Luma(coder, v), Luma(coder, v - 0.01f)) << v;
    const KaCCompressedColor c = Code(coder, v), p = Code(coder, v - 0.01f);
    EXPECT_LE(std::abs(c.r - p.r) + std::abs(c.g - p.g) + std::abs(c.b - p.b), 6) << v;
    const int dr = c.r - 128, dg = c.g - 128, db = c.b - 128;
    EXPECT_GT(dr * dr + dg * dg + db * db, 40 * 40) << v;  // never near the missing-value grey
  }
  // Below black, above white, NaN grey; equal ends give the middle; integer mode rounds.
  EXPECT_EQ(Code(coder, -2.01f), KaCCompressedColor(0, 0, 0));
  EXPECT_EQ(Code(coder, 6.01f), KaCCompressedColor(255, 255, 255));
  EXPECT_EQ(Code(coder, std::nanf("")), KaCCompressedColor(128, 128, 128));
  coder.SetIntegerMode(1);
  EXPECT_EQ(Code(coder, 1.5f), Code(coder, 2.0f));
  coder.SetRange(3.0f, 3.0f);
  EXPECT_EQ(Code(coder, 3.0f), KaCCompressedColor(33, 144, 140));
}

}  // namespace
