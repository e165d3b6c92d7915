#include <tolvane/KaCFtAlgorithmsListCCTAcquisition.h>

#include <tolvane/KaCMpFtColorCompensate.h>
#include <tolvane/KaCMpFtSegmentTeethClassifier.h>
#include <tolvane/KaCMpFtToothTissueTrainingDuringAcquisition.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "tissue/KaCToothTissueMath.h"

namespace {

constexpr std::size_t c_nLocalNodeBlockSize = 3;
constexpr int c_iHueOffset = 120;
constexpr float c_fTargetQualitySum = 0.0f;
constexpr bool c_bRescaleGingiva = false;

}  // namespace

KaCFtAlgorithmsListCCTAcquisition::KaCFtAlgorithmsListCCTAcquisition() {
  FilterList filters(c_nLocalNodeBlockSize);

  // The gingiva quality setting is read before the threshold is asked for.
  const float fGingivaQuality = KaCTolvaneSettings::GetGingivaQualityBeforeClassification();
  const int iThreshold = KaCToothTissueMath::GetToothTissueThreshold();
  CbSmartPointer<KaCMpFtSegmentTeethClassifier> spClassifier(new KaCMpFtSegmentTeethClassifier(
      iThreshold, c_iHueOffset, fGingivaQuality, c_fTargetQualitySum, c_bRescaleGingiva));

  const bool bTrainToothTissueAtStart = KaCTolvaneSettings::IsTrainToothTissueAtStart();
  const bool bToothTissueBeforeSequentialRegistration =
      KaCTolvaneSettings::IsToothTissueBeforeSequentialRegistration();
  const bool bQualityFromColor = KaCTolvaneSettings::IsQualityFromColor();
  filters.AddTail(
      CbSmartPointer<KaIFtSurfelCollection>(new KaCMpFtToothTissueTrainingDuringAcquisition(
          spClassifier, bQualityFromColor, bToothTissueBeforeSequentialRegistration,
          bTrainToothTissueAtStart)));

  if (KaCTolvaneSettings::IsColorCompensate()) {
    filters.AddTail(CbSmartPointer<KaIFtSurfelCollection>(new KaCMpFtColorCompensate));
  }

  SetFilterAlgorithms(filters);

  // From here on the list holds each filter once and the training filter the classifier once.
  spClassifier.Reset();
  filters.RemoveAll();
}

KaCFtAlgorithmsListCCTAcquisition::KaCFtAlgorithmsListCCTAcquisition(
    const KaCFtAlgorithmsListCCTAcquisition& other) = default;

KaCFtAlgorithmsListCCTAcquisition& KaCFtAlgorithmsListCCTAcquisition::operator=(
    const KaCFtAlgorithmsListCCTAcquisition& other) = default;

KaCFtAlgorithmsListCCTAcquisition::~KaCFtAlgorithmsListCCTAcquisition() = default;
