#pragma once

#include <vector>

namespace tolvane::detail {

/// Sorts values ascending, as std::sort does for values that are not NaN, in linear time: three
/// counting passes over 11-bit digits of each value's order-preserving unsigned key. Equal
/// values are equal bit for bit, so the result is the one a comparison sort gives, except that
/// -0 comes before +0 (which compare equal). The keys are sorted by RadixSortByKey, with a second
/// buffer of the same size, by up to nThreads threads.
void RadixSortFloats(std::vector<float>& values, unsigned int nThreads = 1);

}  // namespace tolvane::detail
