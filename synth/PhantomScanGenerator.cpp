#include "synth/PhantomScanGenerator.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "base/CbException.h"
#include "container/KaCNormalCodec.h"
#include "container/KaSurfelAttributes.h"
#include "geometry/CentredScatter.h"

namespace tolvane::synth {
namespace {

struct V3 {
  double x, y, z;
};
V3 operator+(const V3& a, const V3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(const V3& a, const V3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(const V3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(const V3& a, const V3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 Cross(const V3& a, const V3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
V3 Unit(const V3& a) { return a * (1.0 / std::sqrt(Dot(a, a))); }
double Length(const V3& a) { return std::sqrt(Dot(a, a)); }

namespace phantom = tolvane::phantom;

V3 NominalCorner(int k) {
  const double* c = phantom::c_nominalCorners[k];
  return {c[0], c[1], c[2]};
}

// Corners of each wall and of the floor, in order around the face.
const int c_wallCorners[4][4] = {{0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
const int c_floorCorners[4] = {4, 5, 7, 6};

// Scanner model: the field of view spans this half-width across x around the centre of the
// cavity opening; the rim face shows this far beyond the opening along y, and the base plate
// this wide beyond the rim, 1 mm below the floor.
constexpr double c_fHalfFieldX = 3.0;
constexpr double c_fRimMarginY = 1.5;
constexpr double c_fBasePlateWidthY = 2.0;
constexpr double c_fBasePlateBelowFloor = 1.0;

// The least-squares plane through points: unit normal (smallest scatter direction) and
// centroid.
void FitPlane(const V3* pPoints, int n, V3& normal, V3& centroid) {
  centroid = {0.0, 0.0, 0.0};
  for (int i = 0; i < n; ++i) centroid = centroid + pPoints[i];
  centroid = centroid * (1.0 / n);
  tolvane::CentredScatter scatter;
  for (int i = 0; i < n; ++i) {
    const V3 d = pPoints[i] - centroid;
    scatter.Add(d.x, d.y, d.z);
  }
  Eigen::MatrixXd a(3, 3);
  for (int r = 0, k = 0; r < 3; ++r) {
    for (int c = 0; c <= r; ++c, ++k) a(r, c) = a(c, r) = scatter.packed[k];
  }
  // The eigenvector of the smallest eigenvalue (the solver sorts them ascending).
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(a);
  const auto v = solver.eigenvectors().col(0);
  normal = Unit({v(0), v(1), v(2)});
}

// The point where three planes meet (Cramer's rule).
V3 Meet(const V3& n1, const V3& p1, const V3& n2, const V3& p2, const V3& n3, const V3& p3) {
  const double h1 = Dot(n1, p1), h2 = Dot(n2, p2), h3 = Dot(n3, p3);
  const V3 c23 = Cross(n2, n3), c31 = Cross(n3, n1), c12 = Cross(n1, n2);
  const double det = Dot(n1, c23);
  return (c23 * h1 + c31 * h2 + c12 * h3) * (1.0 / det);
}

// Rotation of v by angle (radians) about the unit axis k (Rodrigues).
V3 Rotate(const V3& v, const V3& k, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  return v * c + Cross(k, v) * s + k * (Dot(k, v) * (1.0 - c));
}

// Whether (x, y) lies inside the convex polygon given by the xy of its corners, in order.
bool InsideXY(const std::vector<V3>& polygon, double x, double y) {
  int sign = 0;
  for (std::size_t i = 0; i < polygon.size(); ++i) {
    const V3& a = polygon[i];
    const V3& b = polygon[(i + 1) % polygon.size()];
    const double c = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
    const int s = c > 0.0 ? 1 : (c < 0.0 ? -1 : 0);
    if (s == 0) continue;
    if (sign == 0) {
      sign = s;
    } else if (s != sign) {
      return false;
    }
  }
  return true;
}

// A face as seen from the scanner: its plane and the region of the xy-plane it covers.
struct Face {
  V3 normal;  // unit, towards the scanner
  V3 point;
  std::vector<V3> polygon;  // convex region (xy used)
  bool bMinusOpening = false;
  double x0 = 0.0, x1 = 0.0, y0 = 0.0, y1 = 0.0;  // bounding box, clipped to the field of view
  double fWeight = 0.0;                           // bounding box area per unit of true surface
};

}  // namespace

PhantomScanGenerator::PhantomScanGenerator(const Parameters& parameters)
    : m_parameters(parameters) {
  const char* pFunction = "PhantomScanGenerator::PhantomScanGenerator";
  if (!(parameters.fNoiseSigma >= 0.0f) || !std::isfinite(parameters.fNoiseSigma) ||
      !(parameters.fNormalNoiseDegrees >= 0.0f) || !std::isfinite(parameters.fNormalNoiseDegrees)) {
    throw CbException(pFunction, __FILE__, __LINE__, "noise must be finite and not negative");
  }
  for (int k = 0; k < 3; ++k) {
    if (!(parameters.scale[k] != 0.0f) || !std::isfinite(parameters.scale[k])) {
      throw CbException(pFunction, __FILE__, __LINE__, "scale factors must be finite, not 0");
    }
  }
  if (parameters.iTiltedWall < 0 || parameters.iTiltedWall > 4 ||
      !std::isfinite(parameters.fTiltDegrees)) {
    throw CbException(pFunction, __FILE__, __LINE__,
                      "tilted wall " + std::to_string(parameters.iTiltedWall) + " is not 0 to 4");
  }
  if (!(parameters.fStrayFraction >= 0.0f && parameters.fStrayFraction <= 0.5f)) {
    throw CbException(pFunction, __FILE__, __LINE__, "the stray share must lie in 0 to 0.5");
  }
  float fDensities = 0.0f;
  for (float d : parameters.faceDensity) {
    if (!(d >= 0.0f && d <= 1.0f)) {
      throw CbException(pFunction, __FILE__, __LINE__, "face densities must lie in 0 to 1");
    }
    fDensities += d;
  }
  if (!(fDensities > 0.0f) || parameters.iHalfScannedFace < -1 || parameters.iHalfScannedFace > 6) {
    throw CbException(pFunction, __FILE__, __LINE__,
                      "no face to scan, or the half-scanned face is not -1 to 6");
  }
  for (int k = 0; k < 3; ++k) {
    if (!std::isfinite(parameters.poseRotationDegrees[k]) ||
        !std::isfinite(parameters.poseTranslation[k])) {
      throw CbException(pFunction, __FILE__, __LINE__, "the pose must be finite");
    }
  }

  // Planes of the nominal phantom: the rim through A to D, the floor parallel to it through the
  // centre of E to H, each wall through its four corners, the base plate below the floor.
  V3 normals[7];
  V3 points[7];
  const V3 rim[4] = {NominalCorner(0), NominalCorner(1), NominalCorner(2), NominalCorner(3)};
  FitPlane(rim, 4, normals[0], points[0]);
  if (normals[0].z < 0.0) normals[0] = normals[0] * -1.0;  // away from the scanner
  const V3 floor[4] = {NominalCorner(4), NominalCorner(5), NominalCorner(6), NominalCorner(7)};
  V3 unused;
  FitPlane(floor, 4, unused, points[5]);
  normals[5] = normals[0];
  for (int w = 0; w < 4; ++w) {
    V3 corners[4];
    for (int k = 0; k < 4; ++k) corners[k] = NominalCorner(c_wallCorners[w][k]);
    FitPlane(corners, 4, normals[w + 1], points[w + 1]);
    if (normals[w + 1].z > 0.0) normals[w + 1] = normals[w + 1] * -1.0;  // towards the scanner
  }
  normals[6] = normals[0];
  points[6] = points[5] + normals[0] * c_fBasePlateBelowFloor;

  if (parameters.iTiltedWall != 0) {
    const int w = parameters.iTiltedWall;
    const V3 axis = Unit(Cross(normals[0], normals[w]));
    // A point on the wall's edge with the rim: the foot of the rim's point on both planes.
    const V3 onEdge = Meet(normals[0], points[0], normals[w], points[w], axis, points[w]);
    normals[w] = Rotate(normals[w], axis, parameters.fTiltDegrees * 3.14159265358979323846 / 180.0);
    points[w] = onEdge;
  }

  // Faces 0, 5 and 6 are stored towards the scanner like the walls.
  for (int i : {0, 5, 6}) normals[i] = normals[i] * -1.0;
  for (int i = 0; i < 7; ++i) {
    m_unscaledNormals[i] = {normals[i].x, normals[i].y, normals[i].z};
    m_unscaledPoints[i] = {points[i].x, points[i].y, points[i].z};
  }
  for (int k = 0; k < 8; ++k) {
    const int* f = phantom::c_cornerFaces[k];
    const V3 c =
        Meet(normals[f[0]], points[f[0]], normals[f[1]], points[f[1]], normals[f[2]], points[f[2]]);
    m_unscaledCorners[k] = {c.x, c.y, c.z};
  }

  // The deformation by scale: points scale, normals take the inverse factors.
  const V3 s = {parameters.scale.x, parameters.scale.y, parameters.scale.z};
  for (int i = 0; i < 7; ++i) {
    const V3 n = Unit({normals[i].x / s.x, normals[i].y / s.y, normals[i].z / s.z});
    m_normals[i] = {n.x, n.y, n.z};
    m_points[i] = {points[i].x * s.x, points[i].y * s.y, points[i].z * s.z};
  }
  for (int k = 0; k < 8; ++k) {
    const Vec3d& c = m_unscaledCorners[k];
    m_corners[k] = {c.x * s.x, c.y * s.y, c.z * s.z};
  }
  m_quantities =
      phantom::Measure<double>(m_corners, Vec3d{-m_normals[0].x, -m_normals[0].y, -m_normals[0].z});

  // The pose's rotation matrix (Rodrigues).
  const CbVector3f& r = parameters.poseRotationDegrees;
  const V3 axisAngle = V3{r.x, r.y, r.z} * (3.14159265358979323846 / 180.0);
  const double fAngle = Length(axisAngle);
  const V3 k = fAngle > 0.0 ? axisAngle * (1.0 / fAngle) : V3{0.0, 0.0, 1.0};
  const V3 e[3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  for (int c = 0; c < 3; ++c) {
    const V3 column = Rotate(e[c], k, fAngle);
    m_pose[0][c] = column.x;
    m_pose[1][c] = column.y;
    m_pose[2][c] = column.z;
  }
  m_bPosed = fAngle > 0.0 || parameters.poseTranslation != CbVector3f(0.0f, 0.0f, 0.0f);
}

PhantomScanGenerator::Vec3d PhantomScanGenerator::Posed(const Vec3d& p, bool bDirection) const {
  if (!m_bPosed) return p;
  const CbVector3f& t = m_parameters.poseTranslation;
  const double w = bDirection ? 0.0 : 1.0;
  return {m_pose[0][0] * p.x + m_pose[0][1] * p.y + m_pose[0][2] * p.z + w * t.x,
          m_pose[1][0] * p.x + m_pose[1][1] * p.y + m_pose[1][2] * p.z + w * t.y,
          m_pose[2][0] * p.x + m_pose[2][1] * p.y + m_pose[2][2] * p.z + w * t.z};
}

CbSmartPointer<KaCSurfelCollectionCCT> PhantomScanGenerator::Generate() const {
  const auto toV3 = [](const Vec3d& v) { return V3{v.x, v.y, v.z}; };
  V3 corners[8];
  for (int k = 0; k < 8; ++k) corners[k] = toV3(m_unscaledCorners[k]);

  // The field of view: fixed on the nominal opening, so a deformation shows as a change.
  const double centerX =
      (NominalCorner(0).x + NominalCorner(1).x + NominalCorner(2).x + NominalCorner(3).x) / 4.0;
  const double fovX0 = centerX - c_fHalfFieldX;
  const double fovX1 = centerX + c_fHalfFieldX;
  double openY0 = corners[0].y, openY1 = corners[0].y;
  for (int k = 0; k < 4; ++k) {
    openY0 = std::fmin(openY0, corners[k].y);
    openY1 = std::fmax(openY1, corners[k].y);
  }

  std::vector<Face> faces(7);
  for (int i = 0; i < 7; ++i) {
    faces[i].normal = toV3(m_unscaledNormals[i]);
    faces[i].point = toV3(m_unscaledPoints[i]);
  }
  faces[0].polygon = {corners[0], corners[1], corners[3], corners[2]};  // the opening
  faces[0].bMinusOpening = true;
  faces[0].y0 = openY0 - c_fRimMarginY;
  faces[0].y1 = openY1 + c_fRimMarginY;
  for (int w = 0; w < 4; ++w) {
    for (int k = 0; k < 4; ++k) faces[w + 1].polygon.push_back(corners[c_wallCorners[w][k]]);
  }
  for (int k = 0; k < 4; ++k) faces[5].polygon.push_back(corners[c_floorCorners[k]]);
  faces[6].y0 = openY1 + c_fRimMarginY;
  faces[6].y1 = faces[6].y0 + c_fBasePlateWidthY;
  double fTotalWeight = 0.0;
  for (int i = 0; i < 7; ++i) {
    Face& f = faces[i];
    if (i >= 1 && i <= 5) {
      f.x0 = f.x1 = f.polygon[0].x;
      f.y0 = f.y1 = f.polygon[0].y;
      for (const V3& c : f.polygon) {
        f.x0 = std::fmin(f.x0, c.x);
        f.x1 = std::fmax(f.x1, c.x);
        f.y0 = std::fmin(f.y0, c.y);
        f.y1 = std::fmax(f.y1, c.y);
      }
      f.x0 = std::fmax(f.x0, fovX0);
      f.x1 = std::fmin(f.x1, fovX1);
    } else {
      f.x0 = fovX0;
      f.x1 = fovX1;
    }
    // Sampling the xy box uniformly and lifting onto the plane gives a density per unit of
    // true area of 1 / |n.z| times that per unit of box; weighting the box by area / |n.z|
    // makes the density per true area equal on every face.
    if (i == m_parameters.iHalfScannedFace) f.x1 = 0.5 * (f.x0 + f.x1);
    const double fArea = std::fmax(f.x1 - f.x0, 0.0) * std::fmax(f.y1 - f.y0, 0.0);
    f.fWeight = fArea / std::fabs(f.normal.z) * m_parameters.faceDensity[i];
    fTotalWeight += f.fWeight;
  }

  const Parameters& prm = m_parameters;
  CbSmartPointer<KaCSurfelCollectionCCT> spScan(
      new KaCSurfelCollectionCCT(prm.nNrSurfels, true, eSurfelAttributeSetFull));
  auto positions = spScan->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  auto normalCodes = spScan->GetNormalAccessor();
  auto labels = spScan->GetAccessor<unsigned int>(eSurfelAttributeValue);

  V3 scaledNormals[7];
  for (int i = 0; i < 7; ++i) {
    scaledNormals[i] = Unit({faces[i].normal.x / prm.scale.x, faces[i].normal.y / prm.scale.y,
                             faces[i].normal.z / prm.scale.z});
  }
  const double fNormalSigma = prm.fNormalNoiseDegrees * 3.14159265358979323846 / 180.0;

  std::mt19937 rng(prm.nSeed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double fSigma = prm.fNoiseSigma;
  const auto nStrays = static_cast<unsigned int>(
      std::lround(static_cast<double>(prm.nNrSurfels) * static_cast<double>(prm.fStrayFraction)));
  const unsigned int nOnFaces = prm.nNrSurfels - nStrays;
  // Writes surfel s from a point and a normal of the unscaled frame; scale and pose follow.
  const auto put = [&](unsigned int s, double px, double py, double pz, const V3& normal,
                       unsigned int nLabel) {
    const Vec3d p = Posed({px * prm.scale.x, py * prm.scale.y, pz * prm.scale.z}, false);
    positions[s] =
        CbVector3f(static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z));
    const Vec3d n = Posed({normal.x, normal.y, normal.z}, true);
    normalCodes[s] = KaCNormalCodec::Encode(
        CbVector3f(static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z)));
    labels[s] = nLabel;
  };
  for (unsigned int s = 0; s < nOnFaces;) {
    double pick = unit(rng) * fTotalWeight;
    int i = 0;
    while (i < 6 && pick >= faces[i].fWeight) pick -= faces[i].fWeight, ++i;
    const Face& f = faces[i];
    const double x = f.x0 + (f.x1 - f.x0) * unit(rng);
    const double y = f.y0 + (f.y1 - f.y0) * unit(rng);
    if (i >= 1 && i <= 5 && !InsideXY(f.polygon, x, y)) continue;
    if (f.bMinusOpening && InsideXY(f.polygon, x, y)) continue;
    // Lift (x, y) onto the face's plane.
    const double z =
        f.point.z - (f.normal.x * (x - f.point.x) + f.normal.y * (y - f.point.y)) / f.normal.z;
    double px = x, py = y, pz = z;
    if (prm.fNoiseSigma > 0.0f) {
      px += fSigma * gauss(rng);
      py += fSigma * gauss(rng);
      pz += fSigma * gauss(rng);
    }
    V3 n = scaledNormals[i];
    if (fNormalSigma > 0.0) {
      n = Unit(n +
               V3{fNormalSigma * gauss(rng), fNormalSigma * gauss(rng), fNormalSigma * gauss(rng)});
    }
    put(s, px, py, pz, n, static_cast<unsigned int>(i));
    ++s;
  }

  // Stray points: the box of what the scanner sees, grown by 1 mm.
  double z0 = faces[6].point.z, z1 = z0;
  for (const V3& c : corners) {
    z0 = std::fmin(z0, c.z);
    z1 = std::fmax(z1, c.z);
  }
  const double box[3][2] = {
      {fovX0 - 1.0, fovX1 + 1.0}, {faces[0].y0 - 1.0, faces[6].y1 + 1.0}, {z0 - 1.0, z1 + 1.0}};
  for (unsigned int s = nOnFaces; s < prm.nNrSurfels; ++s) {
    double q[3];
    for (int k = 0; k < 3; ++k) q[k] = box[k][0] + (box[k][1] - box[k][0]) * unit(rng);
    V3 n = Unit({gauss(rng), gauss(rng), gauss(rng)});
    if (n.z > 0.0) n.z = -n.z;  // towards the scanner
    // The box lies in the scaled frame; put() applies the scale again.
    put(s, q[0] / prm.scale.x, q[1] / prm.scale.y, q[2] / prm.scale.z, n, c_nStrayLabel);
  }
  return spScan;
}

CbVector3f PhantomScanGenerator::GetCorner(int k) const {
  const Vec3d c = Posed(m_corners[k], false);
  return {static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z)};
}

CbVector3f PhantomScanGenerator::GetNormal(int i) const {
  const Vec3d n = Posed(m_normals[i], true);
  return {static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z)};
}

CbVector3f PhantomScanGenerator::GetPoint(int i) const {
  const Vec3d p = Posed(m_points[i], false);
  return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
}

}  // namespace tolvane::synth
