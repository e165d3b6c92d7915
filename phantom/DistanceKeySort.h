#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tolvane {

/// Sorts samples by a float distance key, ascending and stable, for the outlier removal of the
/// phantom analysis: the order is exactly that of a stable comparison sort in which numbers
/// ascend, -0 equals +0, and every NaN equals every other NaN and follows all numbers (+inf
/// included). A least-significant-digit radix sort over an order-preserving 32-bit image of the
/// key, so that sorting a few million samples costs a few linear passes. No state; any thread.
class DistanceKeySort {
 public:
  struct Entry {
    std::uint32_t nKey;    // OrderedKey of the distance
    std::uint32_t nIndex;  // what the key belongs to
  };

  /// An unsigned image of f whose integer order is the order described above.
  [[nodiscard]] static std::uint32_t OrderedKey(float f) noexcept {
    if (f != f) return 0xFFFFFFFFu;     // every NaN alike, after +inf (0xFF800000)
    if (f == 0.0f) return 0x80000000u;  // -0 as +0
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return (u & 0x80000000u) != 0 ? ~u : (u | 0x80000000u);
  }

  /// Sorts entries by nKey, keeping the given order among equal keys. scratch is working
  /// storage (resized as needed; its content is not kept).
  static void Sort(std::vector<Entry>& entries, std::vector<Entry>& scratch);
};

namespace detail {

// Three digits of 11, 11 and 10 bits cover the 32-bit key.
constexpr int c_nDigits = 3;
constexpr int c_nDigitBits = 11;
constexpr std::size_t c_nBuckets = std::size_t{1} << c_nDigitBits;
// Below this size a comparison sort is as fast and needs no histograms.
constexpr std::size_t c_nSmall = 256;

inline std::uint32_t Digit(std::uint32_t nKey, int iDigit) noexcept {
  return (nKey >> (iDigit * c_nDigitBits)) & (c_nBuckets - 1);
}

}  // namespace detail

inline void DistanceKeySort::Sort(std::vector<Entry>& entries, std::vector<Entry>& scratch) {
  const std::size_t n = entries.size();
  if (n < detail::c_nSmall) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.nKey < b.nKey; });
    return;
  }
  std::vector<std::size_t> counts(detail::c_nDigits * detail::c_nBuckets, 0);
  for (const Entry& e : entries) {
    for (int d = 0; d < detail::c_nDigits; ++d)
      ++counts[d * detail::c_nBuckets + detail::Digit(e.nKey, d)];
  }
  scratch.resize(n);
  Entry* pFrom = entries.data();
  Entry* pTo = scratch.data();
  for (int d = 0; d < detail::c_nDigits; ++d) {
    std::size_t* pCount = counts.data() + d * detail::c_nBuckets;
    // A digit that all keys share leaves the order as it is.
    if (pCount[detail::Digit(pFrom[0].nKey, d)] == n) continue;
    std::size_t nOffset = 0;
    for (std::size_t b = 0; b < detail::c_nBuckets; ++b) {
      const std::size_t nCount = pCount[b];
      pCount[b] = nOffset;
      nOffset += nCount;
    }
    for (std::size_t k = 0; k < n; ++k) pTo[pCount[detail::Digit(pFrom[k].nKey, d)]++] = pFrom[k];
    std::swap(pFrom, pTo);
  }
  if (pFrom != entries.data()) entries.swap(scratch);
}

}  // namespace tolvane
