#include <tolvane/KaCMpFtSegmentTeethClassifier.h>

#include <typeinfo>

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
  const KaTAttributeAccessor<KaCCompressedColor> colors =
      collection.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  // Local copies of the accessors (pointers and strides), so that the byte stores of the loop
  // do not force their reloading in every iteration.
  KaCTissueTypeAccessor tissueTypes = collection.GetTissueTypeAccessor();
  KaCQualityAccessor qualities = collection.GetQualityAccessor();

  // The decision goes through the virtual slot, so that a subclass's decision is the one
  // applied. When this object is exactly a classifier the slot holds our own decision, which
  // is then called directly so that it can be inlined into the loop.
  const bool bOwnDecision = typeid(*this) == typeid(KaCMpFtSegmentTeethClassifier);
  for (unsigned int i = 0; i < collection.GetNrSurfels(); ++i) {
    KaCQualityAccessor::Proxy quality = qualities[i];
    KaCTissueTypeAccessor::Proxy tissueType = tissueTypes[i];
    float fQuality = quality;
    unsigned char nTissueType = tissueType;
    if (bOwnDecision) {
      KaCMpFtSegmentTeethClassifier::operator()(colors[i], nTissueType, fQuality);
    } else {
      this->operator()(colors[i], nTissueType, fQuality);
    }
    tissueType = nTissueType;
    quality = fQuality;  // the proxy writes only a changed value
  }

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
