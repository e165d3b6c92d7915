#pragma once

#include <tolvane/Export.h>

#include <tolvane/KaCMpFtSegmentTeethClassifier.h>

#include "base/CbSmartPointer.h"
#include "container/KaAMpFtSurfelCollection.h"
#include "tissue/KaCToothTissueMath.h"

/// The first filter of the acquisition pipeline. It sees every acquired frame and, in this
/// order of precedence, for all surfels of a frame:
///  - trains, while training is wanted and not finished: adds each surfel's hue to the
///    frame's statistics (KaCToothTissueMath) and marks the surfel as gingiva (3) with quality
///    0. After the frame, good frame statistics are added to the accumulated ones; from the
///    tenth good frame on, once the accumulated statistics are good, the threshold is computed
///    and published (KaCToothTissueMath::GetToothTissueThreshold) and training ends. Frames
///    that are not good are not counted and do not reset the count;
///  - classifies, when QualityFromColor and ToothTissueBeforeSequentialRegistration are both
///    on: the classifier's per-colour decision for each surfel;
///  - otherwise marks every surfel as tooth (0), leaving qualities alone.
/// The held classifier keeps the threshold it was built with; a learnt threshold reaches only
/// classifiers built later.
///
/// Shares ownership of the classifier. Its training state changes inside the const filter
/// operator without a lock: apply it from one filter list, whose critical section serialises
/// the calls. A copy continues training independently from the same point with the same
/// classifier.
class TOLVANE_API KaCMpFtToothTissueTrainingDuringAcquisition : public KaAMpFtSurfelCollection {
 public:
  /// spClassifier may be null only if the classification branch can never run.
  KaCMpFtToothTissueTrainingDuringAcquisition(
      CbSmartPointer<KaCMpFtSegmentTeethClassifier> spClassifier, bool bQualityFromColor,
      bool bToothTissueBeforeSequentialRegistration, bool bTrainToothTissueAtStart);
  /// Copies the accumulated statistics, the good-frame count and the flags; shares the
  /// classifier.
  KaCMpFtToothTissueTrainingDuringAcquisition(
      const KaCMpFtToothTissueTrainingDuringAcquisition& other);
  KaCMpFtToothTissueTrainingDuringAcquisition& operator=(
      const KaCMpFtToothTissueTrainingDuringAcquisition&) = delete;
  ~KaCMpFtToothTissueTrainingDuringAcquisition() override;

  /// The map: a copy treated as one frame (which advances the training like the filter).
  using KaAMpFtSurfelCollection::operator();
  /// Treats the collection as the next frame. Throws CbException before any change, in every
  /// mode, when the collection has no colour attribute of three bytes.
  void operator()(KaCSurfelCollectionCCT& collection) const override;

  /// True while training is wanted and has not finished.
  [[nodiscard]] bool IsTraining() const noexcept {
    return m_bTrainToothTissueAtStart && m_bTraining;
  }
  /// Number of frames whose own statistics were good, counted during training.
  [[nodiscard]] unsigned int GetNrGoodFrames() const noexcept { return m_nGoodFrames; }
  /// The classifier called outside training (not owned by the caller; may be null).
  [[nodiscard]] const KaCMpFtSegmentTeethClassifier* GetClassifier() const noexcept {
    return m_pClassifier;
  }

 private:
  mutable KaCToothTissueMath m_ToothTissueMath;
  CbSmartPointer<KaCMpFtSegmentTeethClassifier> m_spClassifier;
  KaCMpFtSegmentTeethClassifier* m_pClassifier;
  mutable unsigned int m_nGoodFrames;
  bool m_bQualityFromColor;
  bool m_bToothTissueBeforeSequentialRegistration;
  bool m_bTrainToothTissueAtStart;
  mutable bool m_bTraining;
};
