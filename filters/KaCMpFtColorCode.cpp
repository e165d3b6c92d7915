#include <tolvane/KaCMpFtColorCode.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "base/CbException.h"
#include "base/CpuDispatch.h"
#include "container/CyColorRGBA.h"
#include "container/KaCCompressedColor.h"
#include "container/KaSurfelAttributes.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "filters/ColorCodeBlocks.h"
#include "tissue/KaCColorCoder.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TOLVANE_COLOR_CODE_AVX2 1
#endif

namespace ka_color_code_detail {

// One coder for the whole library, built on first use (function-local statics are initialised
// once, even under concurrent first calls) and destroyed when the library unloads.
KaCColorCoder& SharedDefaultColorCoder() {
  static KaCColorCoder s_coder;
  return s_coder;
}

ColorBytes GetColorBytes(KaCSurfelCollectionCCT& collection) {
  CbSmartPointer<CySurfelCollectionStatic> spStorage = collection.GetCySurfelCollection();
  auto* pBase = dynamic_cast<CySurfelCollectionBase*>(spStorage.Get());
  const CyAttributeContainer& attributes = pBase->GetAttributeContainer();
  if (!attributes.Has(eSurfelAttributeColor)) {
    throw CbException("KaCMpFtColorCode::operator()", __FILE__, __LINE__,
                      "the collection has no colour attribute");
  }
  const CyAttributeContainer::View colors = attributes.Get(eSurfelAttributeColor);
  if (colors.nElementSize != sizeof(KaCCompressedColor)) {
    throw CbException("KaCMpFtColorCode::operator()", __FILE__, __LINE__,
                      "the colour attribute does not hold three-byte colours");
  }
  return {static_cast<unsigned char*>(colors.pData), colors.nStride};
}

namespace {

constexpr int c_iMarker = -2;

// Every value's place on the coder's scale (c_iMarker for the marker value), branch-free so that
// it compiles to vector instructions. Where the range allows it, the division by the range is a
// multiplication (the same indices, see the coder).
template <class IndexOf>
[[gnu::always_inline]] inline void ScaleIndicesBy(const float* pBlock, int n, int* pIndex,
                                                  const IndexOf& indexOf) {
  for (int k = 0; k < n; ++k) {
    const float v = pBlock[k];
    const int iScale = indexOf(v);
    const int nMarker = static_cast<int>(v == std::numeric_limits<float>::max());
    pIndex[k] = (iScale & ~(-nMarker)) | (c_iMarker & -nMarker);
  }
}
[[gnu::always_inline]] inline void ScaleIndices(const KaCColorCoder& coder, const float* pBlock,
                                                int n, int* pIndex) {
  const float fInverse = coder.GetExactInverseRange();
  if (fInverse != 0.0f) {
    ScaleIndicesBy(pBlock, n, pIndex, [&](float v) { return coder.GetScaleIndex(v, fInverse); });
  } else {
    ScaleIndicesBy(pBlock, n, pIndex, [&](float v) { return coder.GetScaleIndex(v); });
  }
}

#ifdef TOLVANE_COLOR_CODE_AVX2
// The same loop on eight values at a time (the same IEEE operations, so the same indices).
__attribute__((target("avx2"))) void ScaleIndicesAvx2(const KaCColorCoder& coder,
                                                      const float* pBlock, int n, int* pIndex) {
  ScaleIndices(coder, pBlock, n, pIndex);
}
#endif

// The scale's colours as four bytes each (R, G, B, 0), for loads of a whole colour at once.
const std::uint32_t* ScaleColorWords() {
  static const std::vector<std::uint32_t> s_words = [] {
    std::vector<std::uint32_t> words(KaCColorCoder::c_nScaleColors);
    for (int k = 0; k < KaCColorCoder::c_nScaleColors; ++k) {
      const std::uint8_t* p = KaCColorCoder::GetScaleBytes(k);
      words[static_cast<std::size_t>(k)] = static_cast<std::uint32_t>(p[0]) |
                                           (static_cast<std::uint32_t>(p[1]) << 8) |
                                           (static_cast<std::uint32_t>(p[2]) << 16);
    }
    return words;
  }();
  return s_words.data();
}

// Colours n values (at most c_nBlock), value k to the colour at pFirst + k x nStep: first every
// value's place on the coder's scale, then one table read per value on the scale. The marker
// and values off the scale (outside the range, NaN, integer mode) take the grey or the coder's
// own colour.
void ColorPortable(const KaCColorCoder& coder, const float* pBlock, int n, unsigned char* pFirst,
                   unsigned int nStep) {
  static const KaCCompressedColor s_grey(
      static_cast<unsigned long>(CyColorRGBA::ConvertToUInt32(0.5f, 0.5f, 0.5f, 1.0f)));
  const unsigned char aGrey[3] = {s_grey.r, s_grey.g, s_grey.b};
  int aIndex[c_nBlock];
#ifdef TOLVANE_COLOR_CODE_AVX2
  if (tolvane::HasAvx2()) {
    ScaleIndicesAvx2(coder, pBlock, n, aIndex);
  } else {
    ScaleIndices(coder, pBlock, n, aIndex);
  }
#else
  ScaleIndices(coder, pBlock, n, aIndex);
#endif
  const auto storeOne = [&](int k) {
    const int iScale = aIndex[k];
    const unsigned char* pColor = aGrey;
    unsigned char aCoded[3];
    if (iScale >= 0) {
      pColor = KaCColorCoder::GetScaleBytes(iScale);
    } else if (iScale != c_iMarker) {
      float rgb[3];
      coder.SetColor(pBlock[k], rgb);
      const KaCCompressedColor color(rgb[0], rgb[1], rgb[2]);
      aCoded[0] = color.r;
      aCoded[1] = color.g;
      aCoded[2] = color.b;
      pColor = aCoded;
    }
    // R and G in one 16-bit store, then B (byte offsets in 32 bits).
    unsigned char* p = pFirst + static_cast<unsigned int>(k) * nStep;
    std::uint16_t nRG = 0;
    std::memcpy(&nRG, pColor, 2);
    std::memcpy(p, &nRG, 2);
    p[2] = pColor[2];
  };
  int k = 0;
  // Packed colours of consecutive surfels, eight at a time when all eight lie on the scale: each
  // as the four bytes of its table word, whose fourth byte the next surfel's colour overwrites
  // (so every group stops before the block's last surfel, which is stored alone).
  if (nStep == 3) {
    const std::uint32_t* pWords = ScaleColorWords();
    for (; k + 8 < n; k += 8) {
      int nAny = 0;
      for (int j = k; j < k + 8; ++j) nAny |= aIndex[j];
      if (nAny < 0) {
        for (int j = k; j < k + 8; ++j) storeOne(j);
        continue;
      }
      for (int j = k; j < k + 8; ++j) std::memcpy(pFirst + 3 * j, pWords + aIndex[j], 4);
    }
  }
  for (; k < n; ++k) storeOne(k);
}

#ifdef TOLVANE_COLOR_CODE_AVX2

// The coder's settings in eight lanes, for IndicesOf8.
struct ScaleLanes {
  __m256 min;
  __m256 range;
  __m256 inverse;
  bool bInverse;
};

__attribute__((target("avx2"))) ScaleLanes LanesOf(const KaCColorCoder& coder) {
  const float fInverse = coder.GetExactInverseRange();
  return {_mm256_set1_ps(coder.GetMinValue()),
          _mm256_set1_ps(coder.GetMaxValue() - coder.GetMinValue()), _mm256_set1_ps(fInverse),
          fInverse != 0.0f};
}

// The scale indices of eight values in integer mode 0, or -1 for a value off the scale (outside
// the range, NaN, the marker): the coder's GetScaleIndex lane by lane, with the same IEEE
// operations in the same order, so the same indices. Its masks are combined by OR, where the
// compiler turns those of the portable loop into blends of three micro-ops each.
__attribute__((target("avx2"), always_inline)) inline __m256i IndicesOf8(const ScaleLanes& lanes,
                                                                         const float* p) {
  const __m256 v = _mm256_loadu_ps(p);
  const __m256 offset = _mm256_sub_ps(v, lanes.min);
  const __m256 t =
      lanes.bInverse ? _mm256_mul_ps(offset, lanes.inverse) : _mm256_div_ps(offset, lanes.range);
  // Outside 0..1, NaN or the marker: all bits set, and the place taken as 0.
  const __m256 off =
      _mm256_or_ps(_mm256_or_ps(_mm256_cmp_ps(t, _mm256_setzero_ps(), _CMP_NGE_UQ),
                                _mm256_cmp_ps(t, _mm256_set1_ps(1.0f), _CMP_NLE_UQ)),
                   _mm256_cmp_ps(v, _mm256_set1_ps(std::numeric_limits<float>::max()), _CMP_EQ_OQ));
  const __m256 place = _mm256_andnot_ps(off, t);
  const __m256i index = _mm256_cvttps_epi32(_mm256_add_ps(
      _mm256_mul_ps(place, _mm256_set1_ps(static_cast<float>(ka_color_detail::c_nSteps))),
      _mm256_set1_ps(0.5f)));
  return _mm256_or_si256(index, _mm256_castps_si256(off));
}

// Packed colours (three bytes apart) of n values in integer mode 0, in groups of eight: their
// indices, the eight table words gathered at once, each lane's four colours packed into its
// first twelve bytes, the two lanes joined into 24 bytes and stored. A group whose store could
// run past the n colours takes an exact 24-byte store; the others store 32 bytes, whose last
// eight the next group or the caller overwrites. A group with a value off the scale is stored
// again by the portable code. Returns where the groups end.
__attribute__((target("avx2"))) int ColorGroupsAvx2(const KaCColorCoder& coder,
                                                    const float* pValues, int n,
                                                    unsigned char* pFirst) {
  const ScaleLanes lanes = LanesOf(coder);
  const int* pWords = reinterpret_cast<const int*>(ScaleColorWords());
  const __m256i pack = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
  const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    __m256i index = IndicesOf8(lanes, pValues + k);
    const bool bOff = _mm256_movemask_ps(_mm256_castsi256_ps(index)) != 0;
    index = _mm256_max_epi32(index, _mm256_setzero_si256());
    __m256i words = _mm256_i32gather_epi32(pWords, index, 4);
    words = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), join);
    unsigned char* p = pFirst + static_cast<unsigned int>(k) * 3u;
    if (k + 11 <= n) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), words);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(words));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm256_extracti128_si256(words, 1));
    }
    if (bOff) ColorPortable(coder, pValues + k, 8, p, 3);
  }
  return k;
}

#endif

// Where the groups of eight apply, the number of values they colour; otherwise 0.
int ColorGroups(const KaCColorCoder& coder, const float* pValues, int n, unsigned char* pFirst,
                unsigned int nStep) {
#ifdef TOLVANE_COLOR_CODE_AVX2
  if (nStep == 3 && coder.GetIntegerMode() == 0 && tolvane::HasAvx2()) {
    return ColorGroupsAvx2(coder, pValues, n, pFirst);
  }
#endif
  static_cast<void>(coder);
  static_cast<void>(pValues);
  static_cast<void>(n);
  static_cast<void>(pFirst);
  static_cast<void>(nStep);
  return 0;
}

}  // namespace

void ColorBlock(const KaCColorCoder& coder, const float* pBlock, int n, int k0,
                unsigned int nSurfelStride, const ColorBytes& colors) {
  const unsigned int nStep = nSurfelStride * colors.nStride;
  unsigned char* pFirst = colors.pData + static_cast<unsigned int>(k0) * nStep;
  const int k = ColorGroups(coder, pBlock, n, pFirst, nStep);
  ColorPortable(coder, pBlock + k, n - k, pFirst + static_cast<unsigned int>(k) * nStep, nStep);
}

void ColorValues(const KaCColorCoder& coder, const float* pValues, int n,
                 unsigned int nSurfelStride, const ColorBytes& colors) {
  const unsigned int nStep = nSurfelStride * colors.nStride;
  for (int k0 = ColorGroups(coder, pValues, n, colors.pData, nStep); k0 < n; k0 += c_nBlock) {
    ColorBlock(coder, pValues + k0, n - k0 < c_nBlock ? n - k0 : c_nBlock, k0, nSurfelStride,
               colors);
  }
}

}  // namespace ka_color_code_detail

using namespace ka_color_code_detail;

KaCMpFtColorCode::KaCMpFtColorCode(float fMinValue, float fMaxValue, std::vector<float>& values,
                                   const KaCColorCoder* pColorCoder, int iStride)
    : m_fMinValue(fMinValue),
      m_fMaxValue(fMaxValue),
      m_iStride(iStride),
      m_pValues(&values),
      m_pColorCoder(pColorCoder) {}

KaCMpFtColorCode::KaCMpFtColorCode(const KaCMpFtColorCode& other)
    : KaAMpFtSurfelCollection(other),
      m_fMinValue(other.m_fMinValue),
      m_fMaxValue(other.m_fMaxValue),
      m_iStride(other.m_iStride),
      m_pValues(other.m_pValues),
      m_pColorCoder(other.m_pColorCoder) {}

KaCMpFtColorCode::~KaCMpFtColorCode() = default;

void KaCMpFtColorCode::operator()(KaCSurfelCollectionCCT& collection) const {
  KaCColorCoder& shared = SharedDefaultColorCoder();
  if (m_pColorCoder == nullptr) {
    shared.SetRange(m_fMinValue, m_fMaxValue);
    shared.SetIntegerMode(0);
    m_pColorCoder = &shared;
  }
  const ColorBytes colors = GetColorBytes(collection);

  // Nothing in the loop changes the coder or the vector: a local copy of the coder and the
  // vector's data and size read once keep the loop free of reloads after each colour store.
  const KaCColorCoder coder = *m_pColorCoder;
  const float* pValues = m_pValues->data();
  const int nValues = static_cast<int>(m_pValues->size());
  ColorValues(coder, pValues, nValues, static_cast<unsigned int>(m_iStride), colors);
}
