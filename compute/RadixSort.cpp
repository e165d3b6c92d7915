#include "compute/RadixSort.h"

#include <cstdint>
#include <cstring>

namespace tolvane::detail {
namespace {

constexpr unsigned int c_nDigitBits = 11;
constexpr unsigned int c_nBuckets = 1u << c_nDigitBits;
constexpr unsigned int c_nPasses = 3;  // 33 bits cover the 32-bit key

// The float's bits turned so that unsigned order is numeric order: negatives reversed below
// the positives.
std::uint32_t Key(float f) noexcept {
  std::uint32_t u = 0;
  std::memcpy(&u, &f, sizeof u);
  return (u & 0x80000000u) != 0 ? ~u : (u | 0x80000000u);
}

float Value(std::uint32_t k) noexcept {
  const std::uint32_t u = (k & 0x80000000u) != 0 ? (k & 0x7FFFFFFFu) : ~k;
  float f = 0.0f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

}  // namespace

void RadixSortFloats(std::vector<float>& values) {
  const std::size_t n = values.size();
  if (n < 2) return;
  std::vector<std::uint32_t> a(n);
  std::vector<std::uint32_t> b(n);
  std::vector<std::size_t> counts(c_nPasses * c_nBuckets, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t k = Key(values[i]);
    a[i] = k;
    for (unsigned int p = 0; p < c_nPasses; ++p) {
      ++counts[p * c_nBuckets + ((k >> (p * c_nDigitBits)) & (c_nBuckets - 1))];
    }
  }
  for (unsigned int p = 0; p < c_nPasses; ++p) {
    std::size_t* const c = counts.data() + p * c_nBuckets;
    // A digit that all keys share moves nothing: skip its pass.
    if (c[(a[0] >> (p * c_nDigitBits)) & (c_nBuckets - 1)] == n) continue;
    std::size_t start = 0;
    for (unsigned int d = 0; d < c_nBuckets; ++d) {
      const std::size_t count = c[d];
      c[d] = start;
      start += count;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t k = a[i];
      b[c[(k >> (p * c_nDigitBits)) & (c_nBuckets - 1)]++] = k;
    }
    a.swap(b);
  }
  for (std::size_t i = 0; i < n; ++i) values[i] = Value(a[i]);
}

}  // namespace tolvane::detail
