#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tolvane {

/// Runs work on the calling thread alone: RadixSortByKey's default, which starts no thread.
struct OneThread {
  [[nodiscard]] unsigned int Shares(std::size_t /*n*/) const noexcept { return 1; }
  template <class Share>
  void Run(unsigned int /*nShares*/, std::size_t n, const Share& share) const {
    share(0u, std::size_t{0}, n);
  }
};

/// Sorts items by a 32-bit unsigned key, ascending and stable (items of equal keys keep their
/// order), in linear time: a least-significant-digit radix sort, three counting passes over
/// digits of 11, 11 and 10 bits, a pass skipped when every key shares its digit. Fewer than 256
/// items are sorted by a stable comparison sort, which gives the same order. keyOf(item)
/// returns the key; an order-preserving image of a float (its bits turned so that unsigned
/// order is numeric order) sorts by that float. scratch is working storage, resized as needed;
/// its content is not kept. No state; any thread.
///
/// runner.Shares(n) tells into how many contiguous shares the items are cut, and
/// runner.Run(nShares, n, share) runs share(k, begin, end) for each (see ThreadShares for
/// threads): each share counts and moves its own items, after those of the same digit in earlier
/// shares, so the order is the same. keyOf must not throw.
template <class T, class KeyOf, class Runner = OneThread>
void RadixSortByKey(std::vector<T>& items, std::vector<T>& scratch, KeyOf keyOf,
                    const Runner& runner = Runner()) {
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
  const unsigned int nShares = std::max(1u, runner.Shares(n));
  // counts[s][d][b]: the items of share s whose digit d is b. With several shares every pass
  // counts again, on the shares of the order the pass before made.
  std::vector<std::size_t> counts(std::size_t{nShares} * c_nDigits * c_nBuckets, 0);
  const auto countShares = [&](const T* pItems) {
    runner.Run(nShares, n, [&, pItems](unsigned int s, std::size_t nBegin, std::size_t nEnd) {
      std::size_t* pCounts = counts.data() + std::size_t{s} * c_nDigits * c_nBuckets;
      std::fill_n(pCounts, c_nDigits * c_nBuckets, 0);
      for (std::size_t k = nBegin; k < nEnd; ++k) {
        const std::uint32_t nKey = keyOf(pItems[k]);
        for (int d = 0; d < c_nDigits; ++d) ++pCounts[d * c_nBuckets + digit(nKey, d)];
      }
    });
  };
  countShares(items.data());
  scratch.resize(n);
  T* pFrom = items.data();
  T* pTo = scratch.data();
  bool bCounted = true;
  for (int d = 0; d < c_nDigits; ++d) {
    if (!bCounted) countShares(pFrom);
    const auto countOf = [&](unsigned int s) {
      return counts.data() +
             (std::size_t{s} * c_nDigits + static_cast<std::size_t>(d)) * c_nBuckets;
    };
    std::size_t nFirstDigit = 0;
    for (unsigned int s = 0; s < nShares; ++s) nFirstDigit += countOf(s)[digit(keyOf(pFrom[0]), d)];
    if (nFirstDigit == n) continue;
    // Each share's count of a digit becomes where its first item of that digit goes.
    std::size_t nOffset = 0;
    for (std::size_t b = 0; b < c_nBuckets; ++b) {
      for (unsigned int s = 0; s < nShares; ++s) {
        std::size_t& nCount = countOf(s)[b];
        const std::size_t nHere = nCount;
        nCount = nOffset;
        nOffset += nHere;
      }
    }
    const T* const pSource = pFrom;
    T* const pTarget = pTo;
    runner.Run(nShares, n,
               [&, pSource, pTarget, d](unsigned int s, std::size_t nBegin, std::size_t nEnd) {
                 std::size_t* const pNext = countOf(s);
                 for (std::size_t k = nBegin; k < nEnd; ++k) {
                   pTarget[pNext[digit(keyOf(pSource[k]), d)]++] = pSource[k];
                 }
               });
    std::swap(pFrom, pTo);
    bCounted = nShares == 1;
  }
  if (pFrom != items.data()) items.swap(scratch);
}

}  // namespace tolvane
