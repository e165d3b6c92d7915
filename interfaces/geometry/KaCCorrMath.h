#pragma once

#include <tolvane/Export.h>

/// Small dense linear algebra for fitting.
class TOLVANE_API KaCCorrMath {
 public:
  /// Eigen-decomposition of the symmetric n x n matrix given as its packed lower triangle, row
  /// by row: (0,0), (1,0), (1,1), (2,0), (2,1), (2,2), ... (n(n+1)/2 values). Writes the n
  /// eigenvalues in descending order to pEigenvalues and the n unit eigenvectors as
  /// consecutive n-tuples in the same order to pEigenvectors (n * n values), so for n = 3 the
  /// third triple belongs to the smallest eigenvalue.
  ///
  /// Sign: each eigenvector is oriented so that its component of largest magnitude is positive
  /// (the first such component when several are equally large), which makes the result
  /// independent of the solver's internals. Double precision (Eigen's self-adjoint solver).
  /// Throws CbException for n < 1 or null pointers. Thread-safe (no shared state).
  static void semi_definite_symmetric(const double* pPacked, int n, double* pEigenvectors,
                                      double* pEigenvalues);
};
