#pragma once

#include <tolvane/Export.h>

#include "base/CbArray.h"
#include "base/CbMatrix4.h"
#include "base/CbVector3f.h"
#include "geometry/CyAlgorithm.h"
#include "geometry/CyTransformation.h"

/// Least-squares rigid fit (rotation and translation, no scale) of two corresponding point
/// sets: the transformation T that minimises sum |T(nominal[i]) - measured[i]|^2. Solved in
/// double precision by the SVD method of Umeyama (IEEE PAMI 13(4), 1991), which also rules out
/// reflections. Units are those of the points.
///
/// SetInput copies both sets; nothing is kept by address. Not synchronised.
class TOLVANE_API CyProcrustes : public CyAlgorithm {
 public:
  CyProcrustes() = default;
  ~CyProcrustes() override = default;

  /// measured and nominal in matching order.
  void SetInput(const CbArray<CbVector3f>& measured, const CbArray<CbVector3f>& nominal);
  /// The transformation of the last Compute: the fit after a successful one; a matrix of NaN
  /// after one that failed; the identity before any.
  void GetOutput(CyTransformation& transformation) const;

 protected:
  /// Fails (false) when the sets differ in size, hold fewer than three points, or hold a
  /// value that is not finite.
  bool DoCompute() override;

 private:
  CbArray<CbVector3f> m_measured;
  CbArray<CbVector3f> m_nominal;
  CbMatrix4Rf m_output;
};
