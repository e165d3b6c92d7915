#pragma once

#include <tolvane/Export.h>

#include <tolvane/KaCFtAlgorithmsList.h>

/// The filter list applied to every frame acquired during a scan. Construction reads the
/// persistent settings (KaCTolvaneSettings) and the current tooth tissue threshold
/// (KaCToothTissueMath::GetToothTissueThreshold) once and fills the list with
///  1. a KaCMpFtToothTissueTrainingDuringAcquisition holding a new
///     KaCMpFtSegmentTeethClassifier(threshold, 120, GingivaQualityBeforeClassification, 0,
///     false), configured by QualityFromColor, ToothTissueBeforeSequentialRegistration and
///     TrainToothTissueAtStart;
///  2. a KaCMpFtColorCompensate, only when ColorCompensate is on.
/// Classification therefore always sees the colours as acquired. Later changes of the settings
/// or the threshold reach only pipelines built afterwards; every pipeline has filters, a
/// classifier and a training state of its own.
///
/// Everything else (applying, locking, replacing the filters) is that of KaCFtAlgorithmsList,
/// including its copy construction, which gives an empty list. Build it in one thread: the
/// settings are read without a lock.
class TOLVANE_API KaCFtAlgorithmsListCCTAcquisition : public KaCFtAlgorithmsList {
 public:
  /// Builds the list as above. If creating a filter throws, nothing is kept and the exception
  /// passes on.
  KaCFtAlgorithmsListCCTAcquisition();
  /// An empty list, as KaCFtAlgorithmsList's copy constructor gives.
  KaCFtAlgorithmsListCCTAcquisition(const KaCFtAlgorithmsListCCTAcquisition& other);
  /// Shares the source's filters (no lock), as KaCFtAlgorithmsList's assignment does.
  KaCFtAlgorithmsListCCTAcquisition& operator=(const KaCFtAlgorithmsListCCTAcquisition& other);
  ~KaCFtAlgorithmsListCCTAcquisition() override;
};
