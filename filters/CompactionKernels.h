#pragma once

#include <cstddef>

/// Where the eight carried attributes of a compaction live, in the source and the destination
/// collection: data pointers and byte strides. The quality pointer of the source is null when
/// the source packs its qualities into the flag byte; the destination always keeps floats.
struct CompactionPlan {
  const unsigned char* pSrcPos;
  const unsigned char* pSrcNormal;
  const unsigned char* pSrcColor;
  const unsigned char* pSrcQuality;
  const unsigned char* pSrcFlags;
  const unsigned char* pSrcValue;
  unsigned char* pDstPos;
  unsigned char* pDstNormal;
  unsigned char* pDstColor;
  unsigned char* pDstQuality;
  unsigned char* pDstFlags;
  unsigned char* pDstValue;
  std::size_t nSrcStride[6];  // position, normal, colour, quality, flags, value
  std::size_t nDstStride[6];
};

/// Element sizes of the six arrays, in the order of the strides above.
constexpr std::size_t c_anCompactionElementSize[6] = {12, 2, 3, 4, 1, 4};

/// Number of the marks equal to 1.
std::size_t CountRemovalMarks(const unsigned char* pMarks, std::size_t n) noexcept;

/// How far the vector kernel got: input surfels consumed and destination surfels written.
struct CompactionProgress {
  std::size_t nInput = 0;
  std::size_t nOutput = 0;
};

/// Compacts the leading part of the input with vector instructions, eight surfels at a time,
/// attribute by attribute, when the processor has them and every array is packed (strides equal
/// to the element sizes). It stops early enough that no load or store leaves the arrays; the
/// caller copies the rest surfel by surfel from the returned progress on. Without the
/// instructions it does nothing and returns {0, 0}. The destination arrays may be the source's
/// own (a compaction in place), as long as a packed source quality is not asked for.
CompactionProgress CompactLeadingGroups(const CompactionPlan& plan, const unsigned char* pMarks,
                                        std::size_t nEnd, std::size_t nKept);

/// For tests: switches the vector kernels off (and on again), so that the surfel-by-surfel
/// path can be checked on a machine that has them.
void SetCompactionVectorsEnabled(bool bEnabled) noexcept;
