#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "container/KaCCompressedColor.h"
#include "tissue/KaCColorCoder.h"

namespace {

KaCCompressedColor Code(const KaCColorCoder& coder, float v) {
  float rgb[3] = {-1.0f, -1.0f, -1.0f};
  coder.SetColor(v, rgb);
  return KaCCompressedColor(rgb[0], rgb[1], rgb[2]);
}

// Rec. 709 luma of the unquantised components: the scale must get lighter along the range.
float Luma(const KaCColorCoder& coder, float v) {
  float rgb[3];
  coder.SetColor(v, rgb);
  return 0.2126f * rgb[0] + 0.7152f * rgb[1] + 0.0722f * rgb[2];
}

TEST(KaCColorCoder, EndsAreTheViridisEndsAndTheScaleIsOrderedAndApartFromGrey) {
  const KaCColorCoder coder(-2.0f, 6.0f);
  EXPECT_EQ(Code(coder, -2.0f), KaCCompressedColor(68, 1, 84));
  EXPECT_EQ(Code(coder, 6.0f), KaCCompressedColor(253, 231, 37));
  EXPECT_EQ(Code(coder, 2.0f), KaCCompressedColor(33, 144, 140));  // the middle stop

  KaCCompressedColor previous = Code(coder, -2.0f);
  for (int k = 1; k <= 800; ++k) {
    const float v = -2.0f + 8.0f * static_cast<float>(k) / 800.0f;
    const KaCCompressedColor c = Code(coder, v);
    EXPECT_GT(Luma(coder, v), Luma(coder, v - 0.01f)) << k;
    // Continuous: neighbouring samples differ by a few steps per component at most.
    EXPECT_LE(std::abs(c.r - previous.r) + std::abs(c.g - previous.g) + std::abs(c.b - previous.b),
              6)
        << k;
    // Never close to the mid grey that marks a missing value.
    const int dr = c.r - 128, dg = c.g - 128, db = c.b - 128;
    EXPECT_GT(dr * dr + dg * dg + db * db, 40 * 40) << k;
    previous = c;
  }
}

TEST(KaCColorCoder, OutOfRangeNaNAndDegenerateRanges) {
  KaCColorCoder coder;  // 0..1
  EXPECT_EQ(coder.GetMinValue(), 0.0f);
  EXPECT_EQ(coder.GetMaxValue(), 1.0f);
  EXPECT_EQ(coder.GetIntegerMode(), 0);
  EXPECT_EQ(Code(coder, -0.001f), KaCCompressedColor(0, 0, 0));
  EXPECT_EQ(Code(coder, 1.001f), KaCCompressedColor(255, 255, 255));
  EXPECT_EQ(Code(coder, -std::numeric_limits<float>::infinity()), KaCCompressedColor(0, 0, 0));
  EXPECT_EQ(Code(coder, std::nanf("")), KaCCompressedColor(128, 128, 128));

  coder.SetRange(1.0f, 0.0f);  // reversed scale
  EXPECT_EQ(Code(coder, 1.0f), KaCCompressedColor(68, 1, 84));
  EXPECT_EQ(Code(coder, 0.0f), KaCCompressedColor(253, 231, 37));

  coder.SetRange(3.0f, 3.0f);
  EXPECT_EQ(Code(coder, 3.0f), KaCCompressedColor(33, 144, 140));
  EXPECT_EQ(Code(coder, 2.0f), KaCCompressedColor(0, 0, 0));
  EXPECT_EQ(Code(coder, 4.0f), KaCCompressedColor(255, 255, 255));

  coder.SetRange(0.0f, std::nanf(""));
  EXPECT_EQ(Code(coder, 0.5f), KaCCompressedColor(128, 128, 128));
}

TEST(KaCColorCoder, IntegerModeGivesOneColourPerInteger) {
  KaCColorCoder coder(0.0f, 8.0f);
  coder.SetIntegerMode(1);
  EXPECT_EQ(Code(coder, 2.4f), Code(coder, 2.0f));
  EXPECT_EQ(Code(coder, 2.5f), Code(coder, 3.0f));
  EXPECT_EQ(Code(coder, 4.0f), KaCCompressedColor(33, 144, 140));
  coder.SetIntegerMode(0);
  EXPECT_NE(Code(coder, 2.4f), Code(coder, 2.0f));
}

}  // namespace
