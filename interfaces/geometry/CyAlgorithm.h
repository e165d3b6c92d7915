#pragma once

#include <tolvane/Export.h>

/// Base of computations that take their input first and deliver their output after Compute.
/// Not synchronised: one thread at a time per object.
class TOLVANE_API CyAlgorithm {
 public:
  /// What Compute is asked to do. eComputeOutput (1) runs the computation.
  enum EComputeFlags : unsigned int { eComputeNone = 0, eComputeOutput = 1 };

  CyAlgorithm() = default;
  CyAlgorithm(const CyAlgorithm&) = default;
  CyAlgorithm& operator=(const CyAlgorithm&) = default;
  virtual ~CyAlgorithm() = default;

  /// Runs the computation when eFlags holds eComputeOutput; true when an output was produced.
  /// With no flag set nothing is done and the result is false.
  bool Compute(EComputeFlags eFlags) {
    if ((eFlags & eComputeOutput) == 0u) return false;
    return DoCompute();
  }

 protected:
  /// The computation itself; true on success.
  virtual bool DoCompute() = 0;
};
