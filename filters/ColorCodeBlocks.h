#pragma once

#include "tissue/KaCColorCoder.h"

class KaCSurfelCollectionCCT;

/// The pieces of KaCMpFtColorCode's filter, shared with KaCMpFtColorCodeByQuality, which
/// colours its values block by block as it gathers them instead of through a vector of them.
namespace ka_color_code_detail {

/// The library's one default coder (built on first use, thread-safe).
KaCColorCoder& SharedDefaultColorCoder();

/// The colour attribute's first byte and stride; throws CbException when the collection has no
/// colour attribute of three-byte colours.
struct ColorBytes {
  unsigned char* pData;
  unsigned int nStride;
};
ColorBytes GetColorBytes(KaCSurfelCollectionCCT& collection);

/// Colours n values (at most c_nBlock) through the coder: value k goes to surfel
/// (k0 + k) x nSurfelStride, byte offsets taken in 32 bits. The marker value shows grey.
constexpr int c_nBlock = 256;
void ColorBlock(const KaCColorCoder& coder, const float* pBlock, int n, int k0,
                unsigned int nSurfelStride, const ColorBytes& colors);

/// The same for any number of values stored one after another (value k to surfel
/// k x nSurfelStride): the same colours as block after block, with no work per block where the
/// processor takes the values eight at a time.
void ColorValues(const KaCColorCoder& coder, const float* pValues, int n,
                 unsigned int nSurfelStride, const ColorBytes& colors);

}  // namespace ka_color_code_detail
