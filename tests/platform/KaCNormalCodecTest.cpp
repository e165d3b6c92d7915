#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "container/KaCNormalCodec.h"

namespace {

void ExpectNormal(unsigned short code, float x, float y, float z) {
  const float len = std::sqrt(x * x + y * y + z * z);
  const CbVector3f n = KaCNormalCodec::Decode(code);
  EXPECT_FLOAT_EQ(n.x, x / len) << code;
  EXPECT_FLOAT_EQ(n.y, y / len) << code;
  EXPECT_FLOAT_EQ(n.z, z / len) << code;
}

float AngleDegrees(const CbVector3f& a, const CbVector3f& b) {
  const double c = static_cast<double>(a.Dot(b)) / (a.Length() * b.Length());
  return static_cast<float>(std::acos(std::min(1.0, std::max(-1.0, c))) * 180.0 / M_PI);
}

TEST(KaCNormalCodec, DecodesTheLatticeWithFoldAndSignBits) {
  ExpectNormal(0, 0.5f, 0.5f, 126.5f);                // a = 0, b = 0
  ExpectNormal(127, 0.5f, 127.5f, -0.5f);             // a + b = 127: not folded
  ExpectNormal(63 * 128 + 100, 64.5f, 27.5f, 35.5f);  // a + b = 163: folded to (64, 27)
  ExpectNormal(0x8000 | (5 * 128 + 7), -5.5f, 7.5f, 114.5f);
  ExpectNormal(0x6000 | (5 * 128 + 7), 5.5f, -7.5f, -114.5f);
  for (unsigned short octant : {0x0000, 0x2000, 0x4000, 0x8000, 0xE000}) {
    const unsigned short code = static_cast<unsigned short>(octant | KaCNormalCodec::c_nUnsetCode);
    EXPECT_EQ(KaCNormalCodec::Decode(code), CbVector3f()) << code;
    EXPECT_TRUE(KaCNormalCodec::IsUnset(code));
  }
}

TEST(KaCNormalCodec, EncodesToTheNearestCodeWithinTheLatticeBound) {
  std::mt19937 rng(7);
  std::normal_distribution<float> g;
  float worst = 0.0f;
  for (int k = 0; k < 200000; ++k) {
    const CbVector3f v(g(rng), g(rng), g(rng));
    if (v.Length() < 1e-3f) continue;
    worst = std::max(worst, AngleDegrees(v, KaCNormalCodec::Decode(KaCNormalCodec::Encode(v))));
  }
  EXPECT_LT(worst, 0.65f);
  // The axes and the viewing direction land on the codes the filters rely on.
  EXPECT_LT(KaCNormalCodec::Decode(KaCNormalCodec::Encode({0, 0, -1})).z, -0.9999f);
  EXPECT_GE(KaCNormalCodec::Decode(KaCNormalCodec::Encode({1, 0, 0})).z, 0.0f);
  // Every decodable code is the nearest code to its own direction, the ones just below the xy
  // plane of their octant included; scaled input is the same.
  for (unsigned int c = 0; c < 65536; ++c) {
    const unsigned short code = static_cast<unsigned short>(c);
    if (KaCNormalCodec::IsUnset(code)) continue;
    const CbVector3f n = KaCNormalCodec::Decode(code);
    const unsigned short again = KaCNormalCodec::Encode(n * 3.0f);
    ASSERT_EQ(again, code) << c;
    // The look-up path finds each code's own direction, the search path gives the same.
    ASSERT_EQ(KaCNormalCodec::EncodeFast(n), code) << c;
    ASSERT_EQ(KaCNormalCodec::Encode(n), code) << c;
  }
  // Off the table, the fast form is the search.
  for (int k = 0; k < 100000; ++k) {
    const CbVector3f v(g(rng), g(rng), g(rng));
    ASSERT_EQ(KaCNormalCodec::EncodeFast(v), KaCNormalCodec::Encode(v)) << k;
  }
  for (const CbVector3f v : {CbVector3f(0, 0, 0), CbVector3f(NAN, 1, 0), CbVector3f(INFINITY, 1, 0),
                             CbVector3f(-0.0f, 0.0f, 1.0f), CbVector3f(1e-30f, 0, 0)}) {
    EXPECT_EQ(KaCNormalCodec::EncodeFast(v), KaCNormalCodec::Encode(v));
  }
}

// Any float triple has a defined code (this test runs under UBSan in the asan preset), and
// the guard that makes it so changes no code of an ordinary normal.
TEST(KaCNormalCodec, EveryFloatTripleHasADefinedCode) {
  using C = KaCNormalCodec;
  std::mt19937 rng(2024);
  // Uniform in [-1, 1) from the generator's bits alone, so the stream is the same everywhere.
  const auto u = [&] {
    return static_cast<float>(static_cast<int>(rng() >> 8) - (1 << 23)) * 0x1p-23f;
  };
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a over the codes
  for (int k = 0; k < 2000000; ++k) {
    const float s = (k & 1) ? 1.0f : 1e-3f;
    const CbVector3f v(u(), u(), u() * s);
    const unsigned short code = C::Encode(v);
    hash = (hash ^ code) * 1099511628211ull;
    // Power-of-two scalings far outside the ordinary range keep the code (down to where a
    // component would turn subnormal and lose bits).
    if (k % 64 == 0 && v.x != 0.0f) {
      for (const float scale : {0x1p-90f, 0x1p-70f, 0x1p70f, 0x1p120f}) {
        ASSERT_EQ(C::Encode(v * scale), code) << k << " " << scale;
      }
    }
  }
  // Codes of the encoder before the guard was added, for the same stream.
  EXPECT_EQ(hash, 0x2866fff30e3a3e5dull);

  const float inf = std::numeric_limits<float>::infinity();
  const float big = std::numeric_limits<float>::max();
  const float tiny = std::numeric_limits<float>::denorm_min();
  EXPECT_EQ(C::Encode({0.0f, -0.0f, 0.0f}), C::c_nUnsetCode);
  EXPECT_EQ(C::Encode({1.0f, NAN, 0.0f}), C::c_nUnsetCode);
  EXPECT_EQ(C::Encode({inf, NAN, 0.0f}), C::c_nUnsetCode);
  EXPECT_EQ(C::Encode({tiny, 0.0f, 0.0f}), C::Encode({1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(C::Encode({0.0f, -tiny, tiny}), C::Encode({0.0f, -1.0f, 1.0f}));
  EXPECT_EQ(C::Encode({big, big, -big}), C::Encode({1.0f, 1.0f, -1.0f}));
  EXPECT_EQ(C::Encode({big, 1.0f, 0.0f}), C::Encode({1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(C::Encode({-inf, 5.0f, 0.0f}), C::Encode({-1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(C::Encode({inf, inf, -inf}), C::Encode({1.0f, 1.0f, -1.0f}));
}

TEST(KaCNormalCodec, FlipReversesAndTableIsSharedAcrossThreads) {
  for (unsigned int c = 0; c < 65536; c += 97) {
    const unsigned short code = static_cast<unsigned short>(c);
    EXPECT_EQ(KaCNormalCodec::Decode(KaCNormalCodec::Flip(code)), -KaCNormalCodec::Decode(code));
  }
  std::vector<const CbVector3f*> seen(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] { seen[t] = KaCNormalCodec::GetTable(); });
  for (auto& t : threads) t.join();
  for (const CbVector3f* p : seen) EXPECT_EQ(p, seen[0]);
}

}  // namespace
