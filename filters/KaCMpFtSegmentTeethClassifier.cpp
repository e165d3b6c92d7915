#include <tolvane/KaCMpFtSegmentTeethClassifier.h>

#include <algorithm>
#include <typeinfo>

#include "base/CpuDispatch.h"
#include "container/KaSurfelAccessors.h"
#include "tissue/KaHue.h"

namespace {

// Drops a collection's support structures when it goes out of scope, so that a decision that
// throws halfway still leaves no stale kd-tree behind.
class SupportStructureReset {
 public:
  explicit SupportStructureReset(const KaCSurfelCollectionCCT& collection)
      : m_collection(collection) {}
  ~SupportStructureReset() { m_collection.ResetSupportStructures(); }
  SupportStructureReset(const SupportStructureReset&) = delete;
  SupportStructureReset& operator=(const SupportStructureReset&) = delete;

 private:
  const KaCSurfelCollectionCCT& m_collection;
};

constexpr unsigned int c_nBlock = 256;

// Writes a block's decisions (tooth[k] true or false) as the proxies would: the tissue type
// always, the quality only where the product differs from the stored value (compactly stored
// qualities are read as k / 15 and written as trunc(q x 15), clamped). Branch-free, so it
// vectorises.
__attribute__((always_inline)) inline void WriteBlock(const unsigned char* __restrict pTooth,
                                                      unsigned char* __restrict pFlags,
                                                      float* __restrict pQuality, unsigned int n,
                                                      float fGingivaQuality) {
  for (unsigned int k = 0; k < n; ++k) {
    const bool bTooth = pTooth[k] != 0;
    const unsigned int flags = pFlags[k];
    const unsigned int tissue = bTooth ? KaCMpFtSegmentTeethClassifier::c_nToothTissue
                                       : KaCMpFtSegmentTeethClassifier::c_nGingivaTissue;
    const float fFactor = bTooth ? 1.0f : fGingivaQuality;
    if (pQuality != nullptr) {
      const float fOld = pQuality[k];
      const float fNew = fOld * fFactor;
      pQuality[k] = fNew != fOld ? fNew : fOld;
      pFlags[k] = static_cast<unsigned char>(ka_flag_byte::WithTissue(flags, tissue));
    } else {
      const unsigned int code = ka_flag_byte::QualityCode(flags);
      const float fOld = ka_flag_byte::Quality(flags);
      const float fNew = fOld * fFactor;
      const unsigned int storedCode = fNew != fOld ? ka_flag_byte::QualityCodeOf(fNew) : code;
      pFlags[k] = static_cast<unsigned char>(
          ka_flag_byte::WithQualityCode(ka_flag_byte::WithTissue(flags, tissue), storedCode));
    }
  }
}

__attribute__((target("avx2"))) void WriteBlockAvx2(const unsigned char* pTooth,
                                                    unsigned char* pFlags, float* pQuality,
                                                    unsigned int n, float fGingivaQuality) {
  WriteBlock(pTooth, pFlags, pQuality, n, fGingivaQuality);
}

void WriteBlockBaseline(const unsigned char* pTooth, unsigned char* pFlags, float* pQuality,
                        unsigned int n, float fGingivaQuality) {
  WriteBlock(pTooth, pFlags, pQuality, n, fGingivaQuality);
}

}  // namespace

KaCMpFtSegmentTeethClassifier::KaCMpFtSegmentTeethClassifier(int iToothTissueThreshold,
                                                             int iHueOffset, float fGingivaQuality,
                                                             float fTargetQualitySum,
                                                             bool bRescaleGingiva)
    : m_fGingivaQuality(fGingivaQuality),
      m_iToothTissueThreshold(iToothTissueThreshold),
      m_iHueOffset(iHueOffset),
      m_fTargetQualitySum(fTargetQualitySum),
      m_fRescaleGingiva(bRescaleGingiva ? 1.0f : 0.0f),
      m_nToothCount(0),
      m_nGingivaCount(0) {}

KaCMpFtSegmentTeethClassifier::KaCMpFtSegmentTeethClassifier(
    const KaCMpFtSegmentTeethClassifier& other) = default;

KaCMpFtSegmentTeethClassifier& KaCMpFtSegmentTeethClassifier::operator=(
    const KaCMpFtSegmentTeethClassifier& other) = default;

KaCMpFtSegmentTeethClassifier::~KaCMpFtSegmentTeethClassifier() = default;

void KaCMpFtSegmentTeethClassifier::operator()(KaCSurfelCollectionCCT& collection) const {
  const SupportStructureReset reset(collection);
  ClassifySurfels(collection);

  if (m_fRescaleGingiva != 0.0f) rescaleGingiva(collection);
}

void KaCMpFtSegmentTeethClassifier::rescaleGingiva(KaCSurfelCollectionCCT& collection) const {
  const float fTooth = static_cast<float>(m_nToothCount);
  const float fGingiva = static_cast<float>(m_nGingivaCount);
  if (!(fTooth + fGingiva * m_fGingivaQuality < m_fTargetQualitySum &&
        m_fTargetQualitySum <= fTooth + fGingiva)) {
    return;
  }
  const float fFactor = (m_fTargetQualitySum - fTooth) / fGingiva;
  KaCTissueTypeAccessor& tissueTypes = collection.GetTissueTypeAccessor();
  KaCQualityAccessor& qualities = collection.GetQualityAccessor();
  for (unsigned int i = 0; i < collection.GetNrSurfels(); ++i) {
    if (tissueTypes.Get(i) != KaCMpFtSegmentTeethClassifier::c_nGingivaTissue) continue;
    KaCQualityAccessor::Proxy quality = qualities[i];
    quality *= fFactor;
  }
}

void KaCMpFtSegmentTeethClassifier::ClassifySurfels(KaCSurfelCollectionCCT& collection) const {
  const KaTAttributeAccessor<KaCCompressedColor> colors =
      collection.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  // Local copies of the accessors (pointers and strides), so that the byte stores of the loop
  // do not force their reloading in every iteration.
  KaCTissueTypeAccessor tissueTypes = collection.GetTissueTypeAccessor();
  KaCQualityAccessor qualities = collection.GetQualityAccessor();

  // The decision goes through the virtual slot, so that a subclass's decision is the one
  // applied. When this object is exactly a classifier the slot holds our own decision: then
  // blocks of surfels are decided at once (hues in vector registers, the test through a table
  // of the 360 hues) and written back as the proxies would.
  const bool bOwnDecision = typeid(*this) == typeid(KaCMpFtSegmentTeethClassifier);
  const KaTAttributeAccessor<unsigned char> flags =
      collection.GetAccessor<unsigned char>(eSurfelAttributeFlags);
  float* pQuality = nullptr;
  bool bDense = colors.nStride == 3 && flags.nStride == 1;
  if (qualities.IsFloatStorage()) {
    const KaTAttributeAccessor<float> q = collection.GetAccessor<float>(eSurfelAttributeQuality);
    pQuality = q.pData;
    bDense = bDense && q.nStride == 4;
  }
  if (bOwnDecision && bDense) {
    unsigned char toothByHue[360];
    for (int hue = 0; hue < 360; ++hue) {
      // C's remainder keeps the dividend's sign, as in the per-colour decision.
      toothByHue[hue] = (hue + m_iHueOffset) % 360 > m_iToothTissueThreshold ? 1 : 0;
    }
    const bool bAvx2 = tolvane::HasAvx2();
    int hues[c_nBlock];
    unsigned char tooth[c_nBlock];
    for (unsigned int i0 = 0; i0 < collection.GetNrSurfels(); i0 += c_nBlock) {
      const unsigned int n = std::min(c_nBlock, collection.GetNrSurfels() - i0);
      KaComputeHues(reinterpret_cast<const unsigned char*>(&colors[i0]), n, hues);
      for (unsigned int k = 0; k < n; ++k) tooth[k] = toothByHue[hues[k]];
      float* pBlockQuality = pQuality != nullptr ? pQuality + i0 : nullptr;
      if (bAvx2) {
        WriteBlockAvx2(tooth, &flags[i0], pBlockQuality, n, m_fGingivaQuality);
      } else {
        WriteBlockBaseline(tooth, &flags[i0], pBlockQuality, n, m_fGingivaQuality);
      }
    }
    return;
  }

  for (unsigned int i = 0; i < collection.GetNrSurfels(); ++i) {
    KaCQualityAccessor::Proxy quality = qualities[i];
    KaCTissueTypeAccessor::Proxy tissueType = tissueTypes[i];
    float fQuality = quality;
    unsigned char nTissueType = tissueType;
    this->operator()(colors[i], nTissueType, fQuality);
    tissueType = nTissueType;
    quality = fQuality;  // the proxy writes only a changed value
  }
}
