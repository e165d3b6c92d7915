#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tolvane {

/// Sorts items by a 32-bit unsigned key, ascending and stable (items of equal keys keep their
/// order), in linear time: a least-significant-digit radix sort, three counting passes over
/// digits of 11, 11 and 10 bits, a pass skipped when every key shares its digit. Fewer than 256
/// items are sorted by a stable comparison sort, which gives the same order. keyOf(item)
/// returns the key; an order-preserving image of a float (its bits turned so that unsigned
/// order is numeric order) sorts by that float. scratch is working storage, resized as needed;
/// its content is not kept. No state; any thread.
template <class T, class KeyOf>
void RadixSortByKey(std::vector<T>& items, std::vector<T>& scratch, KeyOf keyOf) {
  constexpr int c_nDigits = 3;
  constexpr int c_nDigitBits = 11;
  constexpr std::size_t c_nBuckets = std::size_t{1} << c_nDigitBits;
  constexpr std::size_t c_nSmall = 256;  // below this a comparison sort is as fast
  const auto digit = [](std::uint32_t nKey, int d) noexcept {
    return (nKey >> (d * c_nDigitBits)) & (c_nBuckets - 1);
  };
  const std::size_t n = items.size();
  if (n < c_nSmall) {
    std::stable_sort(items.begin(), items.end(),
                     [&keyOf](const T& a, const T& b) { return keyOf(a) < keyOf(b); });
    return;
  }
  std::vector<std::size_t> counts(c_nDigits * c_nBuckets, 0);
  for (const T& item : items) {
    const std::uint32_t nKey = keyOf(item);
    for (int d = 0; d < c_nDigits; ++d) ++counts[d * c_nBuckets + digit(nKey, d)];
  }
  scratch.resize(n);
  T* pFrom = items.data();
  T* pTo = scratch.data();
  for (int d = 0; d < c_nDigits; ++d) {
    std::size_t* pCount = counts.data() + d * c_nBuckets;
    if (pCount[digit(keyOf(pFrom[0]), d)] == n) continue;
    std::size_t nOffset = 0;
    for (std::size_t b = 0; b < c_nBuckets; ++b) {
      const std::size_t nCount = pCount[b];
      pCount[b] = nOffset;
      nOffset += nCount;
    }
    for (std::size_t k = 0; k < n; ++k) pTo[pCount[digit(keyOf(pFrom[k]), d)]++] = pFrom[k];
    std::swap(pFrom, pTo);
  }
  if (pFrom != items.data()) items.swap(scratch);
}

}  // namespace tolvane
