#include "container/KaCNormalCodec.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

CbVector3f DecodeDirect(unsigned int code) {
  const unsigned int i = code & 0x1FFFu;
  if (i == KaCNormalCodec::c_nUnsetCode) return {};
  int a = static_cast<int>(i / 128);
  int b = static_cast<int>(i % 128);
  if (a + b > 127) {
    a = 127 - a;
    b = 127 - b;
  }
  float x = static_cast<float>(a) + 0.5f;
  float y = static_cast<float>(b) + 0.5f;
  float z = 126.5f - static_cast<float>(a) - static_cast<float>(b);
  const float len = std::sqrt(x * x + y * y + z * z);
  x /= len;
  y /= len;
  z /= len;
  if (code & 0x8000u) x = -x;
  if (code & 0x4000u) y = -y;
  if (code & 0x2000u) z = -z;
  return {x, y, z};
}

// The low 13 bits that give the folded lattice point (a, b), or -1 where none does.
int LowBitsFor(int a, int b) {
  if (a < 0 || b < 0) return -1;
  if (a <= 63) {
    if (a + b > 127) return -1;
    const int i = a * 128 + b;
    return i == KaCNormalCodec::c_nUnsetCode ? -1 : i;
  }
  // Reached through the fold: stored (127 - a, 127 - b) with a stored sum above 127.
  if (a > 127 || a + b > 126) return -1;
  return (127 - a) * 128 + (127 - b);
}

// Brings any direction without NaN to a vector whose L1 norm is a normal, finite float, so
// that the projection below never divides by a tiny sum nor converts an infinity to int.
// Infinite components dominate: they become +-1 and the finite ones 0. A vector whose largest
// component lies outside [2^-60, 2^60] is scaled by a power of two, which is exact and leaves
// the nearest code unchanged; ordinary normals pass through untouched.
bool MakeEncodable(CbVector3f& v) {
  if (std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z)) return false;
  if (std::isinf(v.x) || std::isinf(v.y) || std::isinf(v.z)) {
    const auto unit = [](float c) { return std::isinf(c) ? std::copysign(1.0f, c) : 0.0f; };
    v = CbVector3f(unit(v.x), unit(v.y), unit(v.z));
    return true;
  }
  const float largest = std::max(std::fabs(v.x), std::max(std::fabs(v.y), std::fabs(v.z)));
  if (largest == 0.0f) return false;
  if (largest < 0x1p-60f || largest > 0x1p60f) {
    int exponent = 0;
    (void)std::frexp(largest, &exponent);
    v = CbVector3f(std::ldexp(v.x, -exponent), std::ldexp(v.y, -exponent),
                   std::ldexp(v.z, -exponent));
  }
  return true;
}

}  // namespace

const CbVector3f* KaCNormalCodec::GetTable() noexcept {
  // A function-local static is built once, and concurrent first callers wait for it.
  static const std::vector<CbVector3f> s_table = [] {
    std::vector<CbVector3f> t(65536);
    for (unsigned int code = 0; code < 65536; ++code) t[code] = DecodeDirect(code);
    return t;
  }();
  return s_table.data();
}

unsigned short KaCNormalCodec::Encode(const CbVector3f& vIn) noexcept {
  CbVector3f v = vIn;
  if (!MakeEncodable(v)) return c_nUnsetCode;
  const float ax = std::fabs(v.x);
  const float ay = std::fabs(v.y);
  const float az = std::fabs(v.z);
  const float sum = ax + ay + az;
  unsigned int signBits = 0;
  if (v.x < 0.0f) signBits |= 0x8000u;
  if (v.y < 0.0f) signBits |= 0x4000u;
  if (v.z < 0.0f) signBits |= 0x2000u;

  // The lattice points (a + 0.5, b + 0.5, 126.5 - a - b) lie on the plane x + y + z = 127.5:
  // project the direction onto it and search the neighbouring lattice points for the best
  // cosine.
  const float scale = 127.5f / sum;
  const int a0 = static_cast<int>(std::floor(ax * scale - 0.5f));
  const int b0 = static_cast<int>(std::floor(ay * scale - 0.5f));
  // Cosines are taken against the exact lattice directions in double: near the xy plane two
  // codes can lie 0.01 degrees apart, closer than float dot products resolve.
  const double vx = v.x, vy = v.y, vz = v.z;
  double best = -2.0;
  unsigned int bestCode = c_nUnsetCode;
  const auto consider = [&](int a, int b, unsigned int sign) {
    const int low = LowBitsFor(a, b);
    if (low < 0) return;
    double x = a + 0.5, y = b + 0.5, z = 126.5 - a - b;
    if (sign & 0x8000u) x = -x;
    if (sign & 0x4000u) y = -y;
    if (sign & 0x2000u) z = -z;
    const double c = (vx * x + vy * y + vz * z) / std::sqrt(x * x + y * y + z * z);
    if (c > best) {
      best = c;
      bestCode = static_cast<unsigned int>(low) | sign;
    }
  };
  for (int a = a0 - 1; a <= a0 + 2; ++a) {
    for (int b = b0 - 1; b <= b0 + 2; ++b) consider(a, b, signBits);
    // Lattice points with a + b = 127 have z = -0.5: under the other z sign they are the
    // directions closest to the xy plane on this side, so they compete too.
    consider(a, 127 - a, signBits ^ 0x2000u);
  }
  return static_cast<unsigned short>(bestCode);
}

unsigned short KaCNormalCodec::EncodeFast(const CbVector3f& v) noexcept {
  const float ax = std::fabs(v.x);
  const float ay = std::fabs(v.y);
  const float az = std::fabs(v.z);
  const float sum = ax + ay + az;
  // Unit vectors have 1 <= sum <= sqrt(3); anything else (NaN included) is searched.
  if (sum >= 0.5f && sum <= 2.0f) {
    // A code's direction projected onto the lattice plane x + y + z = 127.5 lands within a
    // rounding error of (a + 0.5, b + 0.5): truncation gives a and b back. The candidate is
    // taken only when its table entry is v itself, and Encode maps every code's direction to
    // that code, so the result is Encode's.
    const float scale = 127.5f / sum;
    const int a = static_cast<int>(ax * scale);
    const int b = static_cast<int>(ay * scale);
    if (a + b <= 126) {
      const int low = a <= 63 ? a * 128 + b : (127 - a) * 128 + (127 - b);
      const unsigned int code = static_cast<unsigned int>(low) | (v.x < 0.0f ? 0x8000u : 0u) |
                                (v.y < 0.0f ? 0x4000u : 0u) | (v.z < 0.0f ? 0x2000u : 0u);
      const CbVector3f& t = GetTable()[code];
      if (t.x == v.x && t.y == v.y && t.z == v.z) return static_cast<unsigned short>(code);
    }
  }
  return Encode(v);
}
