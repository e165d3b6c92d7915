#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/Shares.h"

namespace tolvane {

/// Runs work on the calling thread alone: RadixSortByKey's default, which starts no thread (so
/// code that sorts with it instantiates no thread code).
struct OneThread {
  [[nodiscard]] unsigned int Shares(std::size_t /*n*/) const noexcept { return 1; }
  template <class Share>
  void Run(unsigned int /*nShares*/, std::size_t n, const Share& share) const {
    share(0u, std::size_t{0}, n);
  }
};

/// Sorts items by a 32-bit unsigned key, ascending and stable (items of equal keys keep their
/// order), in linear time. First a counting pass over the top 10 bits moves the items into runs
/// of equal top bits; then each run is sorted by the remaining 22 bits, least significant 11
/// first, while it is small enough to stay in cache (a pass is skipped when every key of the
/// run shares its digit). Runs of fewer than 256 items, and inputs that small, are sorted by a
/// stable comparison sort, which gives the same order. keyOf(item) returns the key; an
/// order-preserving image of a float (its bits turned so that unsigned order is numeric order)
/// sorts by that float. scratch is working storage, resized as needed; its content is not
/// kept. No state; any thread.
///
/// runner.Shares(n) tells into how many contiguous shares the items are cut (at ShareBegin),
/// and runner.Run(nShares, n, share) runs share(k, begin, end) for each (see ThreadShares for
/// threads): each share counts and moves its own items, after those of the same top bits in
/// earlier shares, then sorts the runs that start in its share, so the order is the same.
/// Neither keyOf nor copying an item may throw.
template <class T, class KeyOf, class Runner = OneThread>
void RadixSortByKey(std::vector<T>& items, std::vector<T>& scratch, KeyOf keyOf,
                    const Runner& runner = Runner()) {
  constexpr int c_nLowBits = 11;
  constexpr std::size_t c_nLow = std::size_t{1} << c_nLowBits;  // values of a low digit
  constexpr int c_nTopShift = 2 * c_nLowBits;                   // the top digit: bits 22..31
  constexpr std::size_t c_nTop = std::size_t{1} << (32 - c_nTopShift);
  constexpr std::size_t c_nSmall = 256;  // below this a comparison sort is as fast
  const auto byKey = [&keyOf](const T& a, const T& b) { return keyOf(a) < keyOf(b); };
  const std::size_t n = items.size();
  if (n < c_nSmall) {
    std::stable_sort(items.begin(), items.end(), byKey);
    return;
  }
  scratch.resize(n);
  const unsigned int nShares = std::max(1u, runner.Shares(n));

  // The runs of equal top digits: counted by share, then each share's items placed after those
  // of the same digit in earlier shares. With a single digit among all keys nothing moves.
  std::vector<std::size_t> counts(std::size_t{nShares} * c_nTop, 0);
  runner.Run(nShares, n, [&](unsigned int s, std::size_t nBegin, std::size_t nEnd) {
    std::size_t* const pCount = counts.data() + std::size_t{s} * c_nTop;
    for (std::size_t k = nBegin; k < nEnd; ++k) ++pCount[keyOf(items[k]) >> c_nTopShift];
  });
  std::vector<std::size_t> runStart(c_nTop + 1, 0);
  for (std::size_t b = 0; b < c_nTop; ++b) {
    std::size_t nRun = 0;
    for (unsigned int s = 0; s < nShares; ++s) nRun += counts[std::size_t{s} * c_nTop + b];
    runStart[b + 1] = runStart[b] + nRun;
  }
  const bool bOneRun =
      runStart[(keyOf(items[0]) >> c_nTopShift) + 1] - runStart[keyOf(items[0]) >> c_nTopShift] ==
      n;
  T* const pRuns = bOneRun ? items.data() : scratch.data();  // where the runs lie
  if (!bOneRun) {
    for (std::size_t b = 0; b < c_nTop; ++b) {
      std::size_t nOffset = runStart[b];
      for (unsigned int s = 0; s < nShares; ++s) {
        std::size_t& nCount = counts[std::size_t{s} * c_nTop + b];
        const std::size_t nHere = nCount;
        nCount = nOffset;
        nOffset += nHere;
      }
    }
    const T* const pItems = items.data();
    runner.Run(nShares, n,
               [&, pItems, pRuns](unsigned int s, std::size_t nBegin, std::size_t nEnd) {
                 std::size_t* const pNext = counts.data() + std::size_t{s} * c_nTop;
                 for (std::size_t k = nBegin; k < nEnd; ++k) {
                   pRuns[pNext[keyOf(pItems[k]) >> c_nTopShift]++] = pItems[k];
                 }
               });
  }

  // Each run by its low 22 bits, ending in items, through a buffer of the share's own (or
  // scratch, when the runs lie in items): the runs that start in a share are that share's.
  // Everything a share needs is allocated here, before any share runs.
  const auto firstRunOf = [&](unsigned int s) {
    return static_cast<std::size_t>(
        std::lower_bound(runStart.begin(), runStart.end() - 1, ShareBegin(n, nShares, s)) -
        runStart.begin());
  };
  std::vector<std::size_t> lows(std::size_t{nShares} * 2 * c_nLow);
  std::vector<std::vector<T>> buffers(pRuns == items.data() ? 0 : nShares);
  for (unsigned int s = 0; s < buffers.size(); ++s) {
    std::size_t nLongest = 0;
    for (std::size_t b = firstRunOf(s); b < firstRunOf(s + 1); ++b) {
      nLongest = std::max(nLongest, runStart[b + 1] - runStart[b]);
    }
    buffers[s].resize(nLongest);
  }
  runner.Run(nShares, n, [&, pRuns](unsigned int s, std::size_t, std::size_t) {
    std::size_t* const pLow = lows.data() + std::size_t{s} * 2 * c_nLow;
    for (std::size_t b = firstRunOf(s); b < firstRunOf(s + 1); ++b) {
      const std::size_t nFirst = runStart[b];
      const std::size_t nRun = runStart[b + 1] - nFirst;
      if (nRun == 0) continue;
      const T* pFrom = pRuns + nFirst;
      T* const pFinal = items.data() + nFirst;
      if (nRun < c_nSmall) {
        if (pFrom != pFinal) std::copy(pFrom, pFrom + nRun, pFinal);
        std::stable_sort(pFinal, pFinal + nRun, byKey);
        continue;
      }
      T* const pBuffer = buffers.empty() ? scratch.data() + nFirst : buffers[s].data();
      std::fill_n(pLow, 2 * c_nLow, 0);
      for (std::size_t k = 0; k < nRun; ++k) {
        const std::uint32_t nKey = keyOf(pFrom[k]);
        ++pLow[nKey & (c_nLow - 1)];
        ++pLow[c_nLow + ((nKey >> c_nLowBits) & (c_nLow - 1))];
      }
      // Digit 0 into the buffer, digit 1 from there into items; a digit that all keys of the
      // run share moves nothing.
      for (int d = 0; d < 2; ++d) {
        std::size_t* const pCount = pLow + static_cast<std::size_t>(d) * c_nLow;
        const int nShift = d * c_nLowBits;
        T* const pTo = d == 0 || pFrom == pFinal ? pBuffer : pFinal;
        if (pCount[(keyOf(pFrom[0]) >> nShift) & (c_nLow - 1)] == nRun) continue;
        std::size_t nOffset = 0;
        for (std::size_t v = 0; v < c_nLow; ++v) {
          const std::size_t nHere = pCount[v];
          pCount[v] = nOffset;
          nOffset += nHere;
        }
        for (std::size_t k = 0; k < nRun; ++k) {
          pTo[pCount[(keyOf(pFrom[k]) >> nShift) & (c_nLow - 1)]++] = pFrom[k];
        }
        pFrom = pTo;
      }
      if (pFrom != pFinal) std::copy(pFrom, pFrom + nRun, pFinal);
    }
  });
}

}  // namespace tolvane
