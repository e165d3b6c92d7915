#include <tolvane/KaCMpFtColorCompensate.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/CpuDispatch.h"
#include "container/KaCNormalCodec.h"

const float KaCMpFtColorCompensate::ms_fSpecularity = 230.0f;

KaCMpFtColorCompensate::KaCMpFtColorCompensate() = default;

KaCMpFtColorCompensate::KaCMpFtColorCompensate(const KaCMpFtColorCompensate& other) = default;

KaCMpFtColorCompensate& KaCMpFtColorCompensate::operator=(const KaCMpFtColorCompensate& other) =
    default;

KaCMpFtColorCompensate::~KaCMpFtColorCompensate() = default;

void KaCMpFtColorCompensate::operator()(KaCSurfelCollectionCCT& collection) const {
  colorCompensateLambert(collection);
}

namespace {

// The brightening factor depends on a normal only through its z component, which the code holds
// in its low 14 bits (bits 14 and 15 negate x and y). The factor 1.3 / (max(0, -z) + 0.3) of
// every such code, from the shared normal table, in 64 KB: a load that stays in cache replaces
// a decode from the 768 KB normal table and a division per surfel.
const float* FactorTable() {
  static const std::vector<float> s_table = [] {
    const CbVector3f* const pNormalTable = KaCNormalCodec::GetTable();
    std::vector<float> t(1u << 14);
    for (unsigned int code = 0; code < t.size(); ++code) {
      const float d = std::max(0.0f, -pNormalTable[code].z);
      t[code] = 1.3f / (d + 0.3f);
    }
    return t;
  }();
  return s_table.data();
}

constexpr unsigned int c_nFactorIndexMask = (1u << 14) - 1;

// Surfels per block: the count is asked again before every block.
constexpr unsigned int c_nBlock = 256;

// Compensates n surfels of tightly packed colours (3 bytes) and normal codes. Every step is in
// 32-bit floats in this order, so results are the same on every build. No branch: a colour that
// would turn specular is written back unchanged, so the loop vectorises (with a gather of the
// factors where the processor has one).
__attribute__((always_inline)) inline void CompensateBlock(unsigned char* __restrict pRgb,
                                                           const unsigned short* __restrict pCodes,
                                                           unsigned int n,
                                                           const float* __restrict pFactors,
                                                           float fSpecularSum) {
  for (std::size_t k = 0; k < n; ++k) {
    unsigned char* const c = pRgb + 3 * k;
    const float r = static_cast<float>(c[0]);
    const float g = static_cast<float>(c[1]);
    const float b = static_cast<float>(c[2]);
    const float sum = r + g + b;
    const float f = pFactors[pCodes[k] & c_nFactorIndexMask];
    // min(x, 255): x is finite and not negative here, so this is "255 unless below 255".
    const float rc = std::min(r * f, 255.0f);
    const float gc = std::min(g * f, 255.0f);
    const float bc = std::min(b * f, 255.0f);
    const bool bKeep = (rc + gc + bc >= fSpecularSum) & (sum < fSpecularSum);
    const auto rNew = static_cast<unsigned char>(rc);
    const auto gNew = static_cast<unsigned char>(gc);
    const auto bNew = static_cast<unsigned char>(bc);
    c[0] = bKeep ? c[0] : rNew;
    c[1] = bKeep ? c[1] : gNew;
    c[2] = bKeep ? c[2] : bNew;
  }
}

__attribute__((target("avx2"))) void CompensateBlockAvx2(unsigned char* pRgb,
                                                         const unsigned short* pCodes,
                                                         unsigned int n, const float* pFactors,
                                                         float fSpecularSum) {
  CompensateBlock(pRgb, pCodes, n, pFactors, fSpecularSum);
}

void CompensateBlockBaseline(unsigned char* pRgb, const unsigned short* pCodes, unsigned int n,
                             const float* pFactors, float fSpecularSum) {
  CompensateBlock(pRgb, pCodes, n, pFactors, fSpecularSum);
}

}  // namespace

void KaCMpFtColorCompensate::colorCompensateLambert(KaCSurfelCollectionCCT& collection) const {
  const KaTAttributeAccessor<KaCCompressedColor> colors =
      collection.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const KaTAttributeAccessor<unsigned short> normals = collection.GetNormalAccessor();
  const float* const pFactors = FactorTable();
  const float fSpecularSum = 3.0f * ms_fSpecularity;

  if (colors.nStride == 3 && normals.nStride == 2) {
    const bool bAvx2 = tolvane::HasAvx2();
    for (unsigned int i0 = 0; i0 < collection.GetNrSurfels(); i0 += c_nBlock) {
      const unsigned int n = std::min(c_nBlock, collection.GetNrSurfels() - i0);
      auto* const pRgb = reinterpret_cast<unsigned char*>(&colors[i0]);
      if (bAvx2) {
        CompensateBlockAvx2(pRgb, &normals[i0], n, pFactors, fSpecularSum);
      } else {
        CompensateBlockBaseline(pRgb, &normals[i0], n, pFactors, fSpecularSum);
      }
    }
    return;
  }
  for (unsigned int i = 0; i < collection.GetNrSurfels(); ++i) {
    CompensateBlockBaseline(reinterpret_cast<unsigned char*>(&colors[i]), &normals[i], 1, pFactors,
                            fSpecularSum);
  }
}
