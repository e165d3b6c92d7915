#include <tolvane/KaCMpFtToothTissueTrainingDuringAcquisition.h>

#include <utility>

namespace {

// Training may end at the earliest in the frame that brings the good frames above this.
constexpr unsigned int c_nMinGoodFramesBeforeEnd = 9;

}  // namespace

KaCMpFtToothTissueTrainingDuringAcquisition::KaCMpFtToothTissueTrainingDuringAcquisition(
    CbSmartPointer<KaCMpFtSegmentTeethClassifier> spClassifier, bool bQualityFromColor,
    bool bToothTissueBeforeSequentialRegistration, bool bTrainToothTissueAtStart)
    : m_spClassifier(std::move(spClassifier)),
      m_pClassifier(m_spClassifier.Get()),
      m_nGoodFrames(0),
      m_bQualityFromColor(bQualityFromColor),
      m_bToothTissueBeforeSequentialRegistration(bToothTissueBeforeSequentialRegistration),
      m_bTrainToothTissueAtStart(bTrainToothTissueAtStart),
      m_bTraining(true) {}

KaCMpFtToothTissueTrainingDuringAcquisition::KaCMpFtToothTissueTrainingDuringAcquisition(
    const KaCMpFtToothTissueTrainingDuringAcquisition& other)
    : KaAMpFtSurfelCollection(other),
      m_ToothTissueMath(other.m_ToothTissueMath),
      m_spClassifier(other.m_spClassifier),
      m_pClassifier(m_spClassifier.Get()),
      m_nGoodFrames(other.m_nGoodFrames),
      m_bQualityFromColor(other.m_bQualityFromColor),
      m_bToothTissueBeforeSequentialRegistration(other.m_bToothTissueBeforeSequentialRegistration),
      m_bTrainToothTissueAtStart(other.m_bTrainToothTissueAtStart),
      m_bTraining(other.m_bTraining) {}

// Members go in reverse order: the classifier reference, then the statistics.
KaCMpFtToothTissueTrainingDuringAcquisition::~KaCMpFtToothTissueTrainingDuringAcquisition() =
    default;

void KaCMpFtToothTissueTrainingDuringAcquisition::operator()(
    KaCSurfelCollectionCCT& collection) const {
  KaCToothTissueMath frameStatistics;
  const unsigned int n = collection.GetNrSurfels();
  // Local copies of the accessors (pointers and strides), so that the byte stores of the loops
  // do not force their reloading in every iteration.
  KaCTissueTypeAccessor tissueTypes = collection.GetTissueTypeAccessor();
  KaCQualityAccessor qualities = collection.GetQualityAccessor();
  // The colour view is looked up in every mode, so that a collection without usable colours
  // is refused before any surfel changes.
  (void)collection.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);

  const bool bTraining = m_bTrainToothTissueAtStart && m_bTraining;
  const bool bClassify = m_bQualityFromColor && m_bToothTissueBeforeSequentialRegistration;
  if (bTraining) {
    for (unsigned int i = 0; i < n; ++i) {
      frameStatistics.AddToData(collection.GetHue(i));
      KaCQualityAccessor::Proxy quality = qualities[i];
      quality = 0.0f;  // written only where it was not 0 already
      tissueTypes.Set(i, KaCMpFtSegmentTeethClassifier::c_nGingivaTissue);
    }
  } else if (bClassify) {
    // The classifier's decision through its virtual slot, surfel by surfel (or block by block
    // when it is a plain classifier); tissue type written always, quality where it changed.
    m_pClassifier->ClassifySurfels(collection);
  } else {
    for (unsigned int i = 0; i < n; ++i)
      tissueTypes.Set(i, KaCMpFtSegmentTeethClassifier::c_nToothTissue);
  }

  if (!bTraining) return;
  frameStatistics.PrepareData();
  if (frameStatistics.IsDataGood()) {
    m_ToothTissueMath += frameStatistics;
    ++m_nGoodFrames;
  }
  if (m_nGoodFrames > c_nMinGoodFramesBeforeEnd && m_ToothTissueMath.IsDataGood()) {
    m_ToothTissueMath.CalcToothTissueThreshold();
    m_bTraining = false;
  }
}
