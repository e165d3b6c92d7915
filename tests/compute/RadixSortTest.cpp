#include "compute/RadixSort.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "base/RadixSort.h"
#include "base/Shares.h"

namespace {

// Seeded values of every kind a distance can take (both signs, many magnitudes, subnormals,
// infinities, both zeros, many duplicates) sort as std::sort sorts them, bit for bit, with -0
// before +0; sizes around the digit width included.
TEST(RadixSortFloats, SortsAsAComparisonSortDoes) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  for (std::size_t n : {0u, 1u, 2u, 3u, 2047u, 2049u, 100000u}) {
    std::vector<float> v(n);
    for (float& f : v) {
      switch (kind(rng)) {
        case 0:
          f = 0.0f;
          break;
        case 1:
          f = -0.0f;
          break;
        case 2:
          f = unit(rng) * std::numeric_limits<float>::denorm_min() * 1000.0f;
          break;
        case 3:
          f = unit(rng) > 0 ? INFINITY : -INFINITY;
          break;
        case 4:
          f = std::ldexp(unit(rng), static_cast<int>(rng() % 200) - 100);
          break;
        case 5:
          f = static_cast<float>(static_cast<int>(rng() % 7) - 3);
          break;  // duplicates
        default:
          f = unit(rng) * 0.05f;
          break;
      }
    }
    std::vector<float> expected(v);
    std::sort(expected.begin(), expected.end());
    tolvane::detail::RadixSortFloats(v);
    ASSERT_EQ(v.size(), expected.size());
    for (std::size_t i = 0; i < n; ++i) {
      if (expected[i] == 0.0f) {
        EXPECT_EQ(v[i], 0.0f) << i;
        if (i > 0 && v[i - 1] == 0.0f) {
          EXPECT_FALSE(std::signbit(v[i]) && !std::signbit(v[i - 1])) << "+0 before -0 at " << i;
        }
      } else {
        EXPECT_EQ(std::memcmp(&v[i], &expected[i], sizeof(float)), 0) << i;
      }
    }
  }
}

// The order is by key and stable, and shares on several threads give the same: keys of few
// values (long runs of equal keys, whose items must keep their order), keys all of one top
// digit or of a few large runs or of many small ones, and digits every key shares.
TEST(RadixSortByKey, SharesOnThreadsKeepTheOrder) {
  struct Item {
    std::uint32_t nKey;
    std::uint32_t nPlace;
  };
  std::mt19937 rng(6);
  for (const std::uint32_t nMask : {0x3Fu, 0xFFFFFFFFu, 0x7F000000u, 0x003FF800u, 0x00C00FFFu}) {
    std::vector<Item> items(50000);
    for (std::uint32_t i = 0; i < items.size(); ++i)
      items[i] = {static_cast<std::uint32_t>(rng()) & nMask, i};
    std::vector<Item> one(items);
    std::vector<Item> scratch;
    const auto key = [](const Item& item) noexcept { return item.nKey; };
    tolvane::RadixSortByKey(one, scratch, key);
    for (std::size_t i = 1; i < one.size(); ++i) {
      ASSERT_TRUE(one[i - 1].nKey < one[i].nKey ||
                  (one[i - 1].nKey == one[i].nKey && one[i - 1].nPlace < one[i].nPlace))
          << i;
    }
    for (unsigned int nThreads : {2u, 3u, 7u}) {
      std::vector<Item> many(items);
      tolvane::RadixSortByKey(many, scratch, key, tolvane::ThreadShares{nThreads, 1000});
      bool bSame = true;
      for (std::size_t i = 0; i < many.size(); ++i)
        bSame = bSame && many[i].nPlace == one[i].nPlace;
      EXPECT_TRUE(bSame) << nThreads << " threads, mask " << nMask;
    }
  }
}

}  // namespace
