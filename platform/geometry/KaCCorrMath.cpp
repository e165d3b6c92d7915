#include "geometry/KaCCorrMath.h"

#include <cmath>
#include <string>

#include <Eigen/Dense>

#include "base/CbException.h"

void KaCCorrMath::semi_definite_symmetric(const double* pPacked, int n, double* pEigenvectors,
                                          double* pEigenvalues) {
  if (n < 1 || pPacked == nullptr || pEigenvectors == nullptr || pEigenvalues == nullptr) {
    throw CbException("KaCCorrMath::semi_definite_symmetric", __FILE__, __LINE__,
                      "dimension " + std::to_string(n) + " or a null pointer");
  }
  Eigen::MatrixXd a(n, n);
  int k = 0;
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c <= r; ++c, ++k) {
      a(r, c) = pPacked[k];
      a(c, r) = pPacked[k];
    }
  }
  // The solver gives ascending eigenvalues; the output runs from the largest down.
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(a);
  const Eigen::VectorXd& values = solver.eigenvalues();
  const Eigen::MatrixXd& vectors = solver.eigenvectors();
  for (int i = 0; i < n; ++i) {
    const int src = n - 1 - i;
    pEigenvalues[i] = values(src);
    int iLargest = 0;
    for (int j = 1; j < n; ++j) {
      if (std::fabs(vectors(j, src)) > std::fabs(vectors(iLargest, src))) iLargest = j;
    }
    const double sign = vectors(iLargest, src) < 0.0 ? -1.0 : 1.0;
    for (int j = 0; j < n; ++j) pEigenvectors[i * n + j] = sign * vectors(j, src);
  }
}
