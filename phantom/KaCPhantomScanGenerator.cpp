#include <tolvane/KaCPhantomScanGenerator.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "base/CbException.h"
#include "container/KaCNormalCodec.h"
#include "container/KaSurfelAttributes.h"
#include "geometry/KaCCorrMath.h"

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

// The nominal corners A to H of the phantom's frame, millimetres.
const V3 c_nominal[8] = {{-2.804922, -4.246745, -3.405958}, {3.829352, -4.374752, -2.989024},
                         {-2.644028, 2.911513, -3.571816},  {3.978025, 2.784213, -3.155661},
                         {-1.626094, -1.887896, -0.385802}, {2.301943, -1.963814, -0.1391},
                         {-1.569108, 0.621682, -0.442371},  {2.353263, 0.5464, -0.196037}};

// The three faces that meet at each corner A to H: the rim or floor, a y wall, an x wall.
const int c_cornerFaces[8][3] = {{0, 1, 3}, {0, 1, 4}, {0, 2, 3}, {0, 2, 4},
                                 {5, 1, 3}, {5, 1, 4}, {5, 2, 3}, {5, 2, 4}};

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
  double packed[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  for (int i = 0; i < n; ++i) {
    const V3 d = pPoints[i] - centroid;
    packed[0] += d.x * d.x;
    packed[1] += d.y * d.x;
    packed[2] += d.y * d.y;
    packed[3] += d.z * d.x;
    packed[4] += d.z * d.y;
    packed[5] += d.z * d.z;
  }
  double vectors[9];
  double values[3];
  KaCCorrMath::semi_definite_symmetric(packed, 3, vectors, values);
  normal = Unit({vectors[6], vectors[7], vectors[8]});
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

KaCPhantomScanGenerator::KaCPhantomScanGenerator(const Parameters& parameters)
    : m_parameters(parameters) {
  const char* pFunction = "KaCPhantomScanGenerator::KaCPhantomScanGenerator";
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

  // Planes of the nominal phantom: the rim through A to D, the floor parallel to it through the
  // centre of E to H, each wall through its four corners, the base plate below the floor.
  V3 normals[7];
  V3 points[7];
  const V3 rim[4] = {c_nominal[0], c_nominal[1], c_nominal[2], c_nominal[3]};
  FitPlane(rim, 4, normals[0], points[0]);
  if (normals[0].z < 0.0) normals[0] = normals[0] * -1.0;  // away from the scanner
  const V3 floor[4] = {c_nominal[4], c_nominal[5], c_nominal[6], c_nominal[7]};
  V3 unused;
  FitPlane(floor, 4, unused, points[5]);
  normals[5] = normals[0];
  for (int w = 0; w < 4; ++w) {
    V3 corners[4];
    for (int k = 0; k < 4; ++k) corners[k] = c_nominal[c_wallCorners[w][k]];
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
    const int* f = c_cornerFaces[k];
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
}

CbSmartPointer<KaCSurfelCollectionCCT> KaCPhantomScanGenerator::Generate() const {
  const auto toV3 = [](const Vec3d& v) { return V3{v.x, v.y, v.z}; };
  V3 corners[8];
  for (int k = 0; k < 8; ++k) corners[k] = toV3(m_unscaledCorners[k]);

  // The field of view: fixed on the nominal opening, so a deformation shows as a change.
  const double centerX = (c_nominal[0].x + c_nominal[1].x + c_nominal[2].x + c_nominal[3].x) / 4.0;
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
    const double fArea = std::fmax(f.x1 - f.x0, 0.0) * std::fmax(f.y1 - f.y0, 0.0);
    f.fWeight = fArea / std::fabs(f.normal.z);
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
  for (unsigned int s = 0; s < prm.nNrSurfels;) {
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
    positions[s] =
        CbVector3f(static_cast<float>(px * prm.scale.x), static_cast<float>(py * prm.scale.y),
                   static_cast<float>(pz * prm.scale.z));
    V3 n = scaledNormals[i];
    if (fNormalSigma > 0.0) {
      n = Unit(n +
               V3{fNormalSigma * gauss(rng), fNormalSigma * gauss(rng), fNormalSigma * gauss(rng)});
    }
    normalCodes[s] = KaCNormalCodec::Encode(
        CbVector3f(static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z)));
    labels[s] = static_cast<unsigned int>(i);
    ++s;
  }
  return spScan;
}

CbVector3f KaCPhantomScanGenerator::GetCorner(int k) const {
  const Vec3d& c = m_corners[k];
  return {static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z)};
}

CbVector3f KaCPhantomScanGenerator::GetNormal(int i) const {
  const Vec3d& n = m_normals[i];
  return {static_cast<float>(n.x), static_cast<float>(n.y), static_cast<float>(n.z)};
}

CbVector3f KaCPhantomScanGenerator::GetPoint(int i) const {
  const Vec3d& p = m_points[i];
  return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
}

double KaCPhantomScanGenerator::GetDepth(int k) const {
  const Vec3d& top = m_corners[k];
  const Vec3d& bottom = m_corners[k + 4];
  const Vec3d& n = m_normals[0];
  // The rim normal away from the scanner.
  return -((bottom.x - top.x) * n.x + (bottom.y - top.y) * n.y + (bottom.z - top.z) * n.z);
}

double KaCPhantomScanGenerator::GetMeanDepth() const {
  return (GetDepth(1) + GetDepth(0) + GetDepth(2) + GetDepth(3)) * 0.25;
}

double KaCPhantomScanGenerator::GetShearing(int k) const {
  const Vec3d& a = m_corners[k];
  const Vec3d& e = m_corners[k + 4];
  const V3 v = {a.x - e.x, a.y - e.y, a.z - e.z};
  const V3 n = {m_normals[0].x, m_normals[0].y, m_normals[0].z};
  return Length(v - n * Dot(v, n));
}

double KaCPhantomScanGenerator::GetWidth(int k) const {
  // A-C, B-D, E-G, F-H.
  const int pairs[4][2] = {{0, 2}, {1, 3}, {4, 6}, {5, 7}};
  const Vec3d& a = m_corners[pairs[k][0]];
  const Vec3d& b = m_corners[pairs[k][1]];
  return Length({a.x - b.x, a.y - b.y, a.z - b.z});
}

double KaCPhantomScanGenerator::GetHeight(int k) const {
  // A-B, C-D, E-F, G-H.
  const int pairs[4][2] = {{0, 1}, {2, 3}, {4, 5}, {6, 7}};
  const Vec3d& a = m_corners[pairs[k][0]];
  const Vec3d& b = m_corners[pairs[k][1]];
  return Length({a.x - b.x, a.y - b.y, a.z - b.z});
}
