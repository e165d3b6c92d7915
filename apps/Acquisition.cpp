#include "Acquisition.h"

#include <tolvane/KaCMpFtToothTissueTrainingDuringAcquisition.h>
#include <tolvane/KaCTolvaneSettings.h>

namespace tolvane::cli {

Acquisition::EMode Acquisition::GetNextMode() const {
  // The training filter is the pipeline's first entry.
  for (const auto& spFilter : getFilterAlgorithms()) {
    const auto* pTraining =
        dynamic_cast<const KaCMpFtToothTissueTrainingDuringAcquisition*>(spFilter.Get());
    if (pTraining == nullptr) continue;
    if (pTraining->IsTraining()) return EMode::eTraining;
    break;
  }
  // The settings were read when the pipeline was built; they are unchanged since.
  return KaCTolvaneSettings::IsQualityFromColor() &&
                 KaCTolvaneSettings::IsToothTissueBeforeSequentialRegistration()
             ? EMode::eClassifying
             : EMode::eMarkingTooth;
}

}  // namespace tolvane::cli
