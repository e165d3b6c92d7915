#pragma once

#include <tolvane/KaCFtAlgorithmsListCCTAcquisition.h>

namespace tolvane::cli {

/// The acquisition pipeline as the tool runs it: the library's pipeline, built from the
/// persistent settings and the current tooth tissue threshold, with a look at the state of
/// its training filter, so that each frame can be reported as training or classified.
/// One thread only.
class Acquisition : public KaCFtAlgorithmsListCCTAcquisition {
 public:
  /// What the pipeline does with the next frame.
  enum class EMode {
    eTraining,     ///< learns the threshold, marking every surfel gingiva with quality 0
    eClassifying,  ///< classifies every surfel from its colour
    eMarkingTooth  ///< marks every surfel as tooth (classification switched off)
  };

  Acquisition() = default;

  [[nodiscard]] EMode GetNextMode() const;
};

}  // namespace tolvane::cli
