#pragma once

#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace tolvane {

/// Joins the threads it is given when it goes out of scope, also when the scope is left by an
/// exception, so that no thread outlives the data it works on.
struct ThreadJoiner {
  explicit ThreadJoiner(std::vector<std::thread>& toJoin) noexcept : threads(toJoin) {}
  ThreadJoiner(const ThreadJoiner&) = delete;
  ThreadJoiner& operator=(const ThreadJoiner&) = delete;
  ~ThreadJoiner() {
    for (std::thread& t : threads) {
      if (t.joinable()) t.join();
    }
  }
  std::vector<std::thread>& threads;
};

/// The first item of share k when n items are cut into nShares contiguous shares of sizes that
/// differ by at most one (share nShares ends at n).
[[nodiscard]] inline std::size_t ShareBegin(std::size_t n, unsigned int nShares,
                                            unsigned int k) noexcept {
  // floor(n k / nShares) without forming n k.
  return n / nShares * k + n % nShares * k / nShares;
}

/// Runs share(k, begin, end) for the nShares contiguous shares of items 0..n-1, share 0 on the
/// calling thread and each other on a thread of its own; a share whose thread cannot be started
/// runs on the calling thread after share 0. Returns when every share is done. share must not
/// throw.
template <class Share>
void ForShares(unsigned int nShares, std::size_t n, const Share& share) {
  if (nShares <= 1) {
    share(0u, std::size_t{0}, n);
    return;
  }
  // Both reserved before any thread starts, so that nothing after that can fail.
  std::vector<std::thread> threads;
  threads.reserve(nShares - 1);
  std::vector<unsigned int> left;
  left.reserve(nShares - 1);
  const ThreadJoiner joiner{threads};
  for (unsigned int k = 1; k < nShares; ++k) {
    try {
      threads.emplace_back(share, k, ShareBegin(n, nShares, k), ShareBegin(n, nShares, k + 1));
    } catch (const std::system_error&) {
      left.push_back(k);
    }
  }
  share(0u, std::size_t{0}, ShareBegin(n, nShares, 1));
  for (unsigned int k : left) share(k, ShareBegin(n, nShares, k), ShareBegin(n, nShares, k + 1));
}

/// Runs work on up to nThreads threads (0 counts as 1), one contiguous share each, none smaller
/// than nSmallest items (the runner RadixSortByKey takes).
struct ThreadShares {
  unsigned int nThreads = 1;
  std::size_t nSmallest = std::size_t{1} << 16;

  /// At least 1.
  [[nodiscard]] unsigned int Shares(std::size_t n) const noexcept {
    const std::size_t nMost = n / (nSmallest == 0 ? 1 : nSmallest);
    const std::size_t nShares = nThreads < nMost ? nThreads : nMost;
    return nShares == 0 ? 1u : static_cast<unsigned int>(nShares);
  }
  template <class Share>
  void Run(unsigned int nShares, std::size_t n, const Share& share) const {
    ForShares(nShares, n, share);
  }
};

}  // namespace tolvane
