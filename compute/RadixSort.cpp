#include "compute/RadixSort.h"

#include <cstdint>
#include <cstring>

#include "base/RadixSort.h"
#include "base/Shares.h"

namespace tolvane::detail {
namespace {

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

void RadixSortFloats(std::vector<float>& values, unsigned int nThreads) {
  const std::size_t n = values.size();
  if (n < 2) return;
  std::vector<std::uint32_t> keys(n);
  std::vector<std::uint32_t> scratch;
  const unsigned int nShares = ThreadShares{nThreads}.Shares(n);
  ForShares(nShares, n, [&](unsigned int, std::size_t nBegin, std::size_t nEnd) {
    for (std::size_t i = nBegin; i < nEnd; ++i) keys[i] = Key(values[i]);
  });
  RadixSortByKey(
      keys, scratch, [](std::uint32_t k) noexcept { return k; }, ThreadShares{nThreads});
  ForShares(nShares, n, [&](unsigned int, std::size_t nBegin, std::size_t nEnd) {
    for (std::size_t i = nBegin; i < nEnd; ++i) values[i] = Value(keys[i]);
  });
}

}  // namespace tolvane::detail
