#include "geometry/CyProcrustes.h"

#include <cmath>
#include <limits>

#include <Eigen/Dense>
#include <Eigen/Geometry>

void CyProcrustes::SetInput(const CbArray<CbVector3f>& measured,
                            const CbArray<CbVector3f>& nominal) {
  m_measured = measured;
  m_nominal = nominal;
}

void CyProcrustes::GetOutput(CyTransformation& transformation) const {
  transformation.SetMatrix(m_output);
}

bool CyProcrustes::DoCompute() {
  const std::size_t n = m_measured.GetSize();
  bool bOk = n >= 3 && m_nominal.GetSize() == n;
  Eigen::Matrix3Xd src(3, bOk ? static_cast<Eigen::Index>(n) : 0);
  Eigen::Matrix3Xd dst(3, bOk ? static_cast<Eigen::Index>(n) : 0);
  for (std::size_t i = 0; bOk && i < n; ++i) {
    const auto c = static_cast<Eigen::Index>(i);
    for (int k = 0; k < 3; ++k) {
      src(k, c) = m_nominal[i][k];
      dst(k, c) = m_measured[i][k];
    }
    bOk = src.col(c).allFinite() && dst.col(c).allFinite();
  }
  if (!bOk) {
    for (float& v : m_output.m) v = std::numeric_limits<float>::quiet_NaN();
    return false;
  }
  const Eigen::Matrix4d t = Eigen::umeyama(src, dst, false);
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) m_output(r, c) = static_cast<float>(t(r, c));
  }
  return true;
}
