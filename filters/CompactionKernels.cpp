#include "filters/CompactionKernels.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/CpuDispatch.h"
#include "container/KaSurfelAccessors.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TOLVANE_COMPACTION_AVX2 1
#endif

namespace {

std::atomic<bool> s_bVectorsEnabled{true};

#ifdef TOLVANE_COMPACTION_AVX2

// Shuffle tables indexed by a mask of kept surfels (bit k set: surfel k of the group stays).
// Each moves the kept elements, in order, to the front; what follows them is overwritten by the
// next group or lies beyond the written range.
struct ShuffleTables {
  alignas(32) std::int32_t anPerm32[256][8];      // eight 4-byte elements
  alignas(16) std::uint8_t anShuffle16[256][16];  // eight 2-byte elements
  alignas(16) std::uint8_t anShuffle8[256][16];   // eight bytes (the first 8 entries used)
  alignas(16) std::uint8_t anShuffle24[16][16];   // four 3-byte elements
  alignas(32) std::int32_t anPerm96[4][8];        // two 12-byte elements, as three dwords each
  std::uint8_t anCount[256];                      // kept surfels of the mask
};

ShuffleTables BuildTables() {
  ShuffleTables t{};
  for (int m = 0; m < 256; ++m) {
    int n = 0;
    for (int k = 0; k < 8; ++k) {
      if ((m & (1 << k)) == 0) continue;
      t.anPerm32[m][n] = k;
      t.anShuffle16[m][2 * n] = static_cast<std::uint8_t>(2 * k);
      t.anShuffle16[m][2 * n + 1] = static_cast<std::uint8_t>(2 * k + 1);
      t.anShuffle8[m][n] = static_cast<std::uint8_t>(k);
      if (m < 16) {
        for (int b = 0; b < 3; ++b)
          t.anShuffle24[m][3 * n + b] = static_cast<std::uint8_t>(3 * k + b);
      }
      if (m < 4) {
        for (int d = 0; d < 3; ++d) t.anPerm96[m][3 * n + d] = 3 * k + d;
      }
      ++n;
    }
    t.anCount[m] = static_cast<std::uint8_t>(n);
  }
  return t;
}

const ShuffleTables& Tables() {
  static const ShuffleTables s_tables = BuildTables();
  return s_tables;
}

__attribute__((target("avx2"))) std::size_t CountOnesAvx2(const unsigned char* p, std::size_t n) {
  const __m256i ones = _mm256_set1_epi8(1);
  const __m256i zero = _mm256_setzero_si256();
  std::size_t total = 0;
  std::size_t k = 0;
  while (k + 32 <= n) {
    // At most 255 blocks per byte counter before they are summed.
    __m256i counts = zero;
    const std::size_t nBlocks = std::min<std::size_t>((n - k) / 32, 255);
    for (std::size_t b = 0; b < nBlocks; ++b, k += 32) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k));
      counts = _mm256_sub_epi8(counts, _mm256_cmpeq_epi8(v, ones));
    }
    const __m256i sums = _mm256_sad_epu8(counts, zero);
    total += static_cast<std::size_t>(_mm256_extract_epi64(sums, 0)) +
             static_cast<std::size_t>(_mm256_extract_epi64(sums, 1)) +
             static_cast<std::size_t>(_mm256_extract_epi64(sums, 2)) +
             static_cast<std::size_t>(_mm256_extract_epi64(sums, 3));
  }
  for (; k < n; ++k) total += p[k] == 1 ? 1 : 0;
  return total;
}

// One mask per group of eight marks; bit k set when mark k is 0.
__attribute__((target("avx2"))) void KeptMasksAvx2(const unsigned char* pMarks, std::size_t nGroups,
                                                   std::uint8_t* pMasks) {
  const __m256i zero = _mm256_setzero_si256();
  std::size_t g = 0;
  for (; g + 4 <= nGroups; g += 4) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pMarks + 8 * g));
    const auto bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, zero)));
    pMasks[g] = static_cast<std::uint8_t>(bits);
    pMasks[g + 1] = static_cast<std::uint8_t>(bits >> 8);
    pMasks[g + 2] = static_cast<std::uint8_t>(bits >> 16);
    pMasks[g + 3] = static_cast<std::uint8_t>(bits >> 24);
  }
  for (; g < nGroups; ++g) {
    unsigned int m = 0;
    for (unsigned int k = 0; k < 8; ++k) m |= (pMarks[8 * g + k] == 0 ? 1u : 0u) << k;
    pMasks[g] = static_cast<std::uint8_t>(m);
  }
}

// The register one step of an attribute of nSize-byte elements fills, and its store: 32 bytes
// for 4- and 12-byte elements, 8 for bytes, 16 otherwise.
template <std::size_t nSize>
struct RegisterOf {
  using Type = __m128i;
};
template <>
struct RegisterOf<4> {
  using Type = __m256i;
};
template <>
struct RegisterOf<12> {
  using Type = __m256i;
};

template <std::size_t nSize>
__attribute__((target("avx2"))) void StoreRegister(unsigned char* pOut,
                                                   const typename RegisterOf<nSize>::Type& r) {
  if constexpr (nSize == 4 || nSize == 12) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pOut), r);
  } else if constexpr (nSize == 1) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pOut), r);
  } else {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut), r);
  }
}

// Compacts one attribute of nSize-byte elements. Each group of eight surfels goes in steps of
// eight, four (3-byte colours: 12 bytes fit a 16-byte register) or two (12-byte positions: 24
// bytes fit a 32-byte register) elements. A step loads a whole register at the step's first
// input element, moves the kept elements to its front and stores the whole register at the
// destination index, which then advances by the number kept.
//
// Each store waits until the next step's register is loaded. The destination may then be the
// source itself: a store at index j <= i (the step's first input) ends at most one register
// past element i, which is before the input of the step after next (a register holds at most
// two steps' bytes), and the next step's input is already loaded.
template <std::size_t nSize>
__attribute__((target("avx2"))) void CompactAttributeAvx2(const ShuffleTables& t,
                                                          const std::uint8_t* pMasks,
                                                          std::size_t nGroups,
                                                          const unsigned char* pSrc,
                                                          unsigned char* pDst) {
  constexpr unsigned int nPerStep = nSize == 12 ? 2 : (nSize == 3 ? 4 : 8);
  constexpr unsigned int nStepMask = (1u << nPerStep) - 1;
  using Register = typename RegisterOf<nSize>::Type;
  Register pending{};
  unsigned char* pPendingOut = nullptr;
  std::size_t j = 0;
  for (std::size_t g = 0; g < nGroups; ++g) {
    // Groups with nothing kept are skipped: runs of removed surfels cost no memory traffic.
    if (pMasks[g] == 0) continue;
    for (unsigned int nFirst = 0; nFirst < 8; nFirst += nPerStep) {
      const unsigned int m = (pMasks[g] >> nFirst) & nStepMask;
      const unsigned char* pIn = pSrc + nSize * (8 * g + nFirst);
      Register r;
      if constexpr (nSize == 4 || nSize == 12) {
        const std::int32_t* pPerm = nSize == 4 ? t.anPerm32[m] : t.anPerm96[m];
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pIn));
        const __m256i perm = _mm256_load_si256(reinterpret_cast<const __m256i*>(pPerm));
        r = _mm256_permutevar8x32_epi32(v, perm);
      } else if constexpr (nSize == 1) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pIn));
        const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(t.anShuffle8[m]));
        r = _mm_shuffle_epi8(v, shuffle);
      } else {
        const std::uint8_t* pShuffle = nSize == 2 ? t.anShuffle16[m] : t.anShuffle24[m];
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pIn));
        const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(pShuffle));
        r = _mm_shuffle_epi8(v, shuffle);
      }
      if (pPendingOut != nullptr) StoreRegister<nSize>(pPendingOut, pending);
      pending = r;
      pPendingOut = pDst + nSize * j;
      j += t.anCount[m];
    }
  }
  if (pPendingOut != nullptr) StoreRegister<nSize>(pPendingOut, pending);
}

#endif  // TOLVANE_COMPACTION_AVX2

}  // namespace

std::size_t CountRemovalMarks(const unsigned char* pMarks, std::size_t n) noexcept {
#ifdef TOLVANE_COMPACTION_AVX2
  if (tolvane::HasAvx2()) return CountOnesAvx2(pMarks, n);
#endif
  return static_cast<std::size_t>(std::count(pMarks, pMarks + n, static_cast<unsigned char>(1)));
}

CompactionProgress CompactLeadingGroups(const CompactionPlan& plan, const unsigned char* pMarks,
                                        std::size_t nEnd, std::size_t nKept) {
  CompactionProgress progress;
#ifdef TOLVANE_COMPACTION_AVX2
  if (!tolvane::HasAvx2() || !s_bVectorsEnabled.load(std::memory_order_relaxed)) return progress;
  for (int k = 0; k < 6; ++k) {
    if (plan.nSrcStride[k] != c_anCompactionElementSize[k] ||
        plan.nDstStride[k] != c_anCompactionElementSize[k]) {
      return progress;
    }
  }
  // A group reads at most 16 input surfels' bytes from its start and writes at most 16
  // destination surfels' bytes from its index, so groups run while both stay inside.
  if (nEnd < 16 || nKept < 16) return progress;
  const std::size_t nMaxGroups = (nEnd - 16) / 8 + 1;
  std::vector<std::uint8_t> masks(nMaxGroups);
  KeptMasksAvx2(pMarks, nMaxGroups, masks.data());
  const ShuffleTables& t = Tables();
  std::size_t nGroups = 0;
  std::size_t j = 0;
  while (nGroups < nMaxGroups && j + 16 <= nKept) j += t.anCount[masks[nGroups++]];
  if (nGroups == 0) return progress;

  const std::uint8_t* pMasks = masks.data();
  CompactAttributeAvx2<12>(t, pMasks, nGroups, plan.pSrcPos, plan.pDstPos);
  CompactAttributeAvx2<2>(t, pMasks, nGroups, plan.pSrcNormal, plan.pDstNormal);
  CompactAttributeAvx2<3>(t, pMasks, nGroups, plan.pSrcColor, plan.pDstColor);
  CompactAttributeAvx2<1>(t, pMasks, nGroups, plan.pSrcFlags, plan.pDstFlags);
  CompactAttributeAvx2<4>(t, pMasks, nGroups, plan.pSrcValue, plan.pDstValue);
  if (plan.pSrcQuality != nullptr) {
    CompactAttributeAvx2<4>(t, pMasks, nGroups, plan.pSrcQuality, plan.pDstQuality);
  } else {
    // A packed source quality is read from the flag bytes just compacted, as the quality
    // accessor reads it.
    const unsigned char* pFlags = plan.pDstFlags;
    for (std::size_t k = 0; k < j; ++k) {
      const float q = ka_flag_byte::Quality(pFlags[k]);
      std::memcpy(plan.pDstQuality + 4 * k, &q, sizeof q);
    }
  }
  progress.nInput = 8 * nGroups;
  progress.nOutput = j;
#else
  static_cast<void>(plan);
  static_cast<void>(pMarks);
  static_cast<void>(nEnd);
  static_cast<void>(nKept);
#endif
  return progress;
}

void SetCompactionVectorsEnabled(bool bEnabled) noexcept {
  s_bVectorsEnabled.store(bEnabled, std::memory_order_relaxed);
}
