// Planes, lines, the rigid fit and the eigen-decomposition, each recovering a known answer.
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "base/CbArray.h"
#include "base/CbException.h"
#include "geometry/CyPlane.h"
#include "geometry/CyProcrustes.h"
#include "geometry/CyTransformation.h"
#include "geometry/KaCCorrMath.h"

namespace {

CbVector3f RandomUnit(std::mt19937& rng) {
  std::normal_distribution<float> g;
  return CbVector3f(g(rng), g(rng), g(rng)).Normalized();
}

}  // namespace

TEST(CyPlane, ThreePlanesMeetInOnePointAndParallelsFail) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-5.0f, 5.0f);
  for (int t = 0; t < 100; ++t) {
    const CbVector3f x(u(rng), u(rng), u(rng));
    const CyPlane p1(RandomUnit(rng), x), p2(RandomUnit(rng), x), p3(RandomUnit(rng), x);
    CyLine line;
    CbVector3f meet;
    ASSERT_EQ(p1.Intersect(p2, line), 1);
    ASSERT_EQ(p3.Intersect(line, meet), 1);
    EXPECT_LT((meet - x).Length(), 2e-4f) << t;  // random planes may meet at a shallow angle
    EXPECT_LT(p1.GetDistance(meet) + p2.GetDistance(meet) + p3.GetDistance(meet), 1e-4f);
  }
  const CyPlane a(CbVector3f(0, 0, 1), CbVector3f(0, 0, 0)), b(CbVector3f(0, 0, -1), {0, 0, 3});
  CyLine line;
  EXPECT_EQ(a.Intersect(b, line), 0);
  EXPECT_FALSE(line.IsValid());
  CbVector3f untouched(7, 7, 7);
  EXPECT_EQ(a.Intersect(CyLine(CbVector3f(0, 0, 1), CbVector3f(1, 1, 0)), untouched), 0);
  EXPECT_EQ(a.Intersect(CyLine(), untouched), 0);
  EXPECT_EQ(untouched, CbVector3f(7, 7, 7));
  EXPECT_EQ(b.GetDistance(CbVector3f(5, 5, 1)), 2.0f);
  EXPECT_EQ(b.GetSignedDistance(CbVector3f(5, 5, 1)), 2.0f);
  EXPECT_EQ(b.GetSignedDistance(CbVector3f(5, 5, 4)), -1.0f);
}

TEST(CyProcrustes, RecoversRandomRigidTransform) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-4.0f, 4.0f);
  for (int t = 0; t < 20; ++t) {
    // A rotation from a random unit quaternion, and a translation.
    std::normal_distribution<double> g;
    double q[4] = {g(rng), g(rng), g(rng), g(rng)};
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& c : q) c /= n;
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                            {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                            {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
    const CbVector3f shift(u(rng), u(rng), u(rng));
    CbArray<CbVector3f> measured, nominal;
    for (int i = 0; i < 8; ++i) {
      const CbVector3f p(u(rng), u(rng), u(rng));
      CbVector3f m = shift;
      for (int row = 0; row < 3; ++row) {
        m[row] += static_cast<float>(r[row][0] * p.x + r[row][1] * p.y + r[row][2] * p.z);
      }
      nominal.Add(p);
      measured.Add(m);
    }
    CyProcrustes fit;
    fit.SetInput(measured, nominal);
    ASSERT_TRUE(fit.Compute(CyAlgorithm::eComputeOutput));
    CyTransformation transformation;
    fit.GetOutput(transformation);
    for (int i = 0; i < 8; ++i) {
      EXPECT_LT((transformation.Apply(nominal[i]) - measured[i]).Length(), 1e-5f);
    }
  }
  CyProcrustes fit;
  CbArray<CbVector3f> two(2);
  fit.SetInput(two, two);
  EXPECT_FALSE(fit.Compute(CyAlgorithm::eComputeNone));
  EXPECT_FALSE(fit.Compute(CyAlgorithm::eComputeOutput));
  CyTransformation transformation;
  fit.GetOutput(transformation);
  EXPECT_TRUE(std::isnan(transformation.GetMatrix()(0, 0)));
}

TEST(CyTransformation, DividesByFourthComponent) {
  CbMatrix4Rf m;
  m(0, 3) = 1.0f;  // translation x by 1
  m(3, 3) = 2.0f;  // w = 2
  EXPECT_EQ(CyTransformation(m).Apply(CbVector3f(3, 4, 6)), CbVector3f(2, 2, 3));
}

TEST(KaCCorrMath, EigenpairsDescendingWithDeterministicSign) {
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int t = 0; t < 50; ++t) {
    double a[3][3];
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c <= r; ++c) a[r][c] = a[c][r] = u(rng);
    }
    const double packed[6] = {a[0][0], a[1][0], a[1][1], a[2][0], a[2][1], a[2][2]};
    double vectors[9], values[3];
    KaCCorrMath::semi_definite_symmetric(packed, 3, vectors, values);
    EXPECT_GE(values[0], values[1]);
    EXPECT_GE(values[1], values[2]);
    for (int i = 0; i < 3; ++i) {
      const double* v = vectors + 3 * i;
      int largest = 0;
      for (int r = 0; r < 3; ++r) {
        const double av = a[r][0] * v[0] + a[r][1] * v[1] + a[r][2] * v[2];
        EXPECT_NEAR(av, values[i] * v[r], 1e-12);
        if (std::fabs(v[r]) > std::fabs(v[largest])) largest = r;
      }
      EXPECT_GT(v[largest], 0.0);
      EXPECT_NEAR(v[0] * v[0] + v[1] * v[1] + v[2] * v[2], 1.0, 1e-12);
    }
  }
  double v[9], l[3];
  EXPECT_THROW(KaCCorrMath::semi_definite_symmetric(nullptr, 3, v, l), CbException);
}
