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

// Every value's place on the coder's scale (c_iMarker for the marker value): a branch-free loop
// that compiles to vector instructions, eight values at a time where AVX2 is there (the same
// IEEE operations on wider registers, so the same indices). Where the range allows it, the
// division by the range is a multiplication (the same indices, see the coder).
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

__attribute__((target("avx2"))) void ScaleIndicesAvx2(const KaCColorCoder& coder,
                                                      const float* pBlock, int n, int* pIndex) {
  ScaleIndices(coder, pBlock, n, pIndex);
}

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

}  // namespace

// First every value's place on the coder's scale; then one table read per value inside the
// range. The marker and values that the
// scale does not cover (outside the range, NaN, integer mode) take the grey or the coder's own
// colour.
void ColorBlock(const KaCColorCoder& coder, const float* pBlock, int n, int k0,
                unsigned int nSurfelStride, const ColorBytes& colors) {
  static const KaCCompressedColor s_grey(
      static_cast<unsigned long>(CyColorRGBA::ConvertToUInt32(0.5f, 0.5f, 0.5f, 1.0f)));
  const unsigned char aGrey[3] = {s_grey.r, s_grey.g, s_grey.b};
  int aIndex[c_nBlock];
  if (tolvane::HasAvx2()) {
    ScaleIndicesAvx2(coder, pBlock, n, aIndex);
  } else {
    ScaleIndices(coder, pBlock, n, aIndex);
  }
  // Bytes from one value's surfel to the next, and the block's first byte offset; surfel index
  // and byte offset in 32 bits.
  const unsigned int nStep = nSurfelStride * colors.nStride;
  const unsigned int nOffset = static_cast<unsigned int>(k0) * nSurfelStride * colors.nStride;
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
    // R and G in one 16-bit store, then B.
    unsigned char* p = colors.pData + nOffset + static_cast<unsigned int>(k) * nStep;
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
    unsigned char* pFirst = colors.pData + nOffset;
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
  const auto nSurfelStride = static_cast<unsigned int>(m_iStride);
  for (int k0 = 0; k0 < nValues; k0 += c_nBlock) {
    const int n = nValues - k0 < c_nBlock ? nValues - k0 : c_nBlock;
    ColorBlock(coder, pValues + k0, n, k0, nSurfelStride, colors);
  }
}
