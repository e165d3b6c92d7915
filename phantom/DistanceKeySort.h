#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/RadixSort.h"

namespace tolvane {

/// Sorts samples by a float distance key, ascending and stable, for the outlier removal of the
/// phantom analysis: the order is exactly that of a stable comparison sort in which numbers
/// ascend, -0 equals +0, and every NaN equals every other NaN and follows all numbers (+inf
/// included). A least-significant-digit radix sort over an order-preserving 32-bit image of the
/// key (RadixSortByKey), so that sorting a few million samples costs a few linear passes. No
/// state; any thread.
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

inline void DistanceKeySort::Sort(std::vector<Entry>& entries, std::vector<Entry>& scratch) {
  RadixSortByKey(entries, scratch, [](const Entry& e) noexcept { return e.nKey; });
}

}  // namespace tolvane
