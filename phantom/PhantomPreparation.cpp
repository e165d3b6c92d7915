#include "phantom/PhantomPreparation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "container/KaCNormalCodec.h"
#include "container/KaSurfelAttributes.h"
#include "geometry/CyKdTree.h"
#include "geometry/CyKdTreeInterface.h"

namespace tolvane::phantom_preparation {

namespace {

constexpr double c_fPi = 3.14159265358979323846;

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Normalize(double v[3]) {
  const double len = std::sqrt(Dot(v, v));
  if (len > 0.0) {
    for (int k = 0; k < 3; ++k) v[k] /= len;
  }
}

// A copy of the chosen surfels' positions and normal codes.
CbSmartPointer<KaCSurfelCollectionCCT> Subset(const KaCSurfelCollectionCCT& scan,
                                              const std::vector<unsigned int>& kept) {
  const auto n = static_cast<unsigned int>(kept.size());
  CbSmartPointer<KaCSurfelCollectionCCT> sp(
      new KaCSurfelCollectionCCT(n, true, eSurfelAttributeSetFull));
  const auto positions = scan.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = scan.GetNormalAccessor();
  auto outPositions = sp->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  auto outNormals = sp->GetNormalAccessor();
  for (unsigned int i = 0; i < n; ++i) {
    outPositions[i] = positions[kept[i]];
    outNormals[i] = normals[kept[i]];
  }
  return sp;
}

// The dot product of a code's vector with itself, in float, in the analyzer's order.
bool RoundsAboveOne(const CbVector3f& m) { return (m.x * m.x + m.y * m.y) + m.z * m.z > 1.0f; }

// For every code, itself or the nearest code whose vector does not round above 1.
const std::vector<unsigned short>& ClusterableCodes() {
  static const std::vector<unsigned short> table = [] {
    std::vector<unsigned short> t(65536);
    const CbVector3f* pTable = KaCNormalCodec::GetTable();
    for (unsigned int code = 0; code < 65536; ++code) {
      t[code] = static_cast<unsigned short>(code);
      const CbVector3f& v = pTable[code];
      if (!RoundsAboveOne(v)) continue;
      // Step across the vector in eight directions, a little farther each round.
      const CbVector3f u =
          (std::fabs(v.x) < 0.9f ? CbVector3f(1, 0, 0) : CbVector3f(0, 1, 0)).Cross(v).Normalized();
      const CbVector3f w = v.Cross(u);
      bool bFound = false;
      for (float eps = 0.01f; eps < 0.1f && !bFound; eps *= 1.5f) {
        for (int k = 0; k < 8 && !bFound; ++k) {
          const float a = static_cast<float>(k) * 0.7853982f;
          const CbVector3f d = v + (u * std::cos(a) + w * std::sin(a)) * eps;
          const unsigned short other = KaCNormalCodec::Encode(d.Normalized());
          if (!RoundsAboveOne(pTable[other])) {
            t[code] = other;
            bFound = true;
          }
        }
      }
    }
    return t;
  }();
  return table;
}

}  // namespace

CbSmartPointer<const KaCSurfelCollectionCCT> WithClusterableNormals(
    const CbSmartPointer<const KaCSurfelCollectionCCT>& spScan, std::size_t& nChanged) {
  const std::vector<unsigned short>& table = ClusterableCodes();
  const unsigned int n = spScan->GetNrSurfels();
  const auto codes = spScan->GetNormalAccessor();
  nChanged = 0;
  for (unsigned int i = 0; i < n; ++i) nChanged += table[codes[i]] != codes[i] ? 1 : 0;
  if (nChanged == 0) return spScan;
  std::vector<unsigned int> all(n);
  for (unsigned int i = 0; i < n; ++i) all[i] = i;
  CbSmartPointer<KaCSurfelCollectionCCT> sp = Subset(*spScan, all);
  auto outCodes = sp->GetNormalAccessor();
  for (unsigned int i = 0; i < n; ++i) outCodes[i] = table[outCodes[i]];
  return sp;
}

void Frame::ToFrame(const double p[3], double out[3]) const {
  const double d[3] = {p[0] - origin[0], p[1] - origin[1], p[2] - origin[2]};
  for (int r = 0; r < 3; ++r) out[r] = Dot(R[r], d);
}

void Frame::ToScan(const double p[3], double out[3]) const {
  DirectionToScan(p, out);
  for (int k = 0; k < 3; ++k) out[k] += origin[k];
}

void Frame::DirectionToScan(const double d[3], double out[3]) const {
  for (int k = 0; k < 3; ++k) out[k] = R[0][k] * d[0] + R[1][k] * d[1] + R[2][k] * d[2];
}

bool FindPhantomFrame(const KaCSurfelCollectionCCT& scan, Frame& frame) {
  const unsigned int n = scan.GetNrSurfels();
  if (n < 16) return false;
  const auto positions = scan.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto codes = scan.GetNormalAccessor();
  const CbVector3f* pTable = KaCNormalCodec::GetTable();

  double a[3] = {0.0, 0.0, 0.0};
  double centroid[3] = {0.0, 0.0, 0.0};
  for (unsigned int i = 0; i < n; ++i) {
    const CbVector3f& m = pTable[codes[i]];
    const CbVector3f& p = positions[i];
    a[0] += m.x, a[1] += m.y, a[2] += m.z;
    centroid[0] += p.x, centroid[1] += p.y, centroid[2] += p.z;
  }
  Normalize(a);
  if (!(Dot(a, a) > 0.5)) return false;
  // A basis across the viewing axis.
  double e1[3] = {1.0, 0.0, 0.0};
  if (std::fabs(a[0]) > 0.9) e1[0] = 0.0, e1[1] = 1.0;
  const double ea = Dot(e1, a);
  for (int k = 0; k < 3; ++k) e1[k] -= ea * a[k];
  Normalize(e1);
  const double e2[3] = {a[1] * e1[2] - a[2] * e1[1], a[2] * e1[0] - a[0] * e1[2],
                        a[0] * e1[1] - a[1] * e1[0]};

  // Wall samples: normals more than 30 degrees from the mean and not turned away from it.
  // Their directions across the axis gather at four angles 90 degrees apart; the mean of
  // the quadrupled angles finds that cross whatever the share of each wall.
  struct Wall {
    double fAngle;  // across the axis, radians
    double fTilt;   // from the mean normal, degrees
  };
  std::vector<Wall> walls;
  double s4 = 0.0, c4 = 0.0;
  for (unsigned int i = 0; i < n; ++i) {
    const CbVector3f& m = pTable[codes[i]];
    const double v[3] = {m.x, m.y, m.z};
    const double c = Dot(v, a);
    if (!(c < 0.866 && c > -0.2)) continue;
    const double angle = std::atan2(Dot(v, e2), Dot(v, e1));
    walls.push_back({angle, std::acos(c) * 180.0 / c_fPi});
    c4 += std::cos(4.0 * angle);
    s4 += std::sin(4.0 * angle);
  }
  if (walls.size() < 40 || std::hypot(c4, s4) < 0.3 * static_cast<double>(walls.size())) {
    return false;
  }
  const double phi = std::atan2(s4, c4) / 4.0;

  // The median tilt of each of the four directions; the steepest wall is the -x wall.
  std::vector<double> tilts[4];
  for (const Wall& w : walls) {
    double rel = std::remainder(w.fAngle - phi, 2.0 * c_fPi);  // -pi .. pi
    const int k = static_cast<int>(std::lround(rel / (0.5 * c_fPi))) & 3;
    tilts[k].push_back(w.fTilt);
  }
  int kSteepest = -1;
  double fSteepest = -1.0;
  for (int k = 0; k < 4; ++k) {
    if (tilts[k].size() < 10) return false;
    auto mid = tilts[k].begin() + static_cast<std::ptrdiff_t>(tilts[k].size() / 2);
    std::nth_element(tilts[k].begin(), mid, tilts[k].end());
    if (*mid > fSteepest) fSteepest = *mid, kSteepest = k;
  }
  const double angle = phi + kSteepest * 0.5 * c_fPi;
  double x[3];
  for (int k = 0; k < 3; ++k) x[k] = std::cos(angle) * e1[k] + std::sin(angle) * e2[k];
  const double z[3] = {-a[0], -a[1], -a[2]};
  const double y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2],
                       z[0] * x[1] - z[1] * x[0]};
  for (int k = 0; k < 3; ++k) {
    frame.R[0][k] = x[k];
    frame.R[1][k] = y[k];
    frame.R[2][k] = z[k];
    frame.origin[k] = centroid[k] / n;
  }
  return true;
}

CbSmartPointer<KaCSurfelCollectionCCT> InFrame(const KaCSurfelCollectionCCT& scan,
                                               const Frame& frame, unsigned int nStep) {
  nStep = std::max(nStep, 1u);
  const unsigned int n = (scan.GetNrSurfels() + nStep - 1) / nStep;
  CbSmartPointer<KaCSurfelCollectionCCT> sp(
      new KaCSurfelCollectionCCT(n, true, eSurfelAttributeSetFull));
  const auto positions = scan.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto codes = scan.GetNormalAccessor();
  const CbVector3f* pTable = KaCNormalCodec::GetTable();
  auto outPositions = sp->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  auto outCodes = sp->GetNormalAccessor();
  // The turned code depends on the code alone: each distinct code is encoded once (encoding
  // costs far more than the lookup), so a large scan costs at most 65,536 encodings.
  constexpr unsigned int c_nUnknown = 0x10000;
  std::vector<unsigned int> turnedCodes(0x10000, c_nUnknown);
  for (unsigned int i = 0; i < n; ++i) {
    const CbVector3f& p = positions[i * nStep];
    const double q[3] = {p.x, p.y, p.z};
    double r[3];
    frame.ToFrame(q, r);
    outPositions[i] =
        CbVector3f(static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2]));
    const unsigned short code = codes[i * nStep];
    unsigned int& turned = turnedCodes[code];
    if (turned == c_nUnknown) {
      const CbVector3f& m = pTable[code];
      if (m == CbVector3f()) {
        turned = code;  // unset stays unset
      } else {
        const double d[3] = {m.x, m.y, m.z};
        double e[3];
        for (int k = 0; k < 3; ++k) e[k] = Dot(frame.R[k], d);
        turned = KaCNormalCodec::Encode(CbVector3f(
            static_cast<float>(e[0]), static_cast<float>(e[1]), static_cast<float>(e[2])));
      }
    }
    outCodes[i] = static_cast<unsigned short>(turned);
  }
  return sp;
}

unsigned int ThinningStep(unsigned int n, unsigned int nLimit, unsigned int nShare,
                          unsigned int nMinimum) {
  if (nLimit == 0) return 1;
  const unsigned int nTarget =
      std::max(1u, std::min(std::max(n / std::max(nShare, 1u), nMinimum), nLimit));
  return n <= nTarget ? 1 : static_cast<unsigned int>((std::uint64_t{n} + nTarget - 1) / nTarget);
}

CbSmartPointer<const KaCSurfelCollectionCCT> Thinned(
    const CbSmartPointer<const KaCSurfelCollectionCCT>& spScan, unsigned int step) {
  const unsigned int n = spScan->GetNrSurfels();
  if (step <= 1) return spScan;
  std::vector<unsigned int> kept;
  for (unsigned int i = 0; i < n; i += step) kept.push_back(i);
  return Subset(*spScan, kept);
}

CbSmartPointer<const KaCSurfelCollectionCCT> WithBalancedWalls(
    const CbSmartPointer<const KaCSurfelCollectionCCT>& spScan, const Frame& frame,
    std::size_t& nRemoved) {
  nRemoved = 0;
  const unsigned int n = spScan->GetNrSurfels();
  const auto codes = spScan->GetNormalAccessor();
  const CbVector3f* pTable = KaCNormalCodec::GetTable();
  // The wall of each surfel: 0 +x, 1 +y, 2 -x, 3 -y; 4 for none. Per wall, the sum of its
  // normals' components along its own direction.
  constexpr unsigned char c_nNoWall = 4;
  std::vector<unsigned char> walls(n, c_nNoWall);
  double lateral[4] = {0.0, 0.0, 0.0, 0.0};
  for (unsigned int i = 0; i < n; ++i) {
    const CbVector3f& m = pTable[codes[i]];
    const double v[3] = {m.x, m.y, m.z};
    const double x = Dot(frame.R[0], v), y = Dot(frame.R[1], v), c = -Dot(frame.R[2], v);
    if (!(c < 0.866 && c > -0.2)) continue;
    const int k = static_cast<int>(std::lround(std::atan2(y, x) / (0.5 * c_fPi))) & 3;
    walls[i] = static_cast<unsigned char>(k);
    lateral[k] += k == 0 ? x : k == 1 ? y : k == 2 ? -x : -y;
  }
  double keep[4] = {1.0, 1.0, 1.0, 1.0};
  for (int k = 0; k < 2; ++k) {
    const double a = lateral[k], b = lateral[k + 2];
    if (!(std::min(a, b) >= 0.05 * std::max(a, b))) continue;
    if (a > b) keep[k] = b / a;
    if (b > a) keep[k + 2] = a / b;
  }
  // Evenly: the j-th surfel of a wall is kept when floor((j + 1) keep) passes floor(j keep).
  std::vector<unsigned int> kept;
  kept.reserve(n);
  double seen[4] = {0.0, 0.0, 0.0, 0.0};
  for (unsigned int i = 0; i < n; ++i) {
    const unsigned char k = walls[i];
    if (k != c_nNoWall) {
      const double before = std::floor(seen[k] * keep[k]);
      seen[k] += 1.0;
      if (!(std::floor(seen[k] * keep[k]) > before)) continue;
    }
    kept.push_back(i);
  }
  nRemoved = n - kept.size();
  if (nRemoved == 0) return spScan;
  return Subset(*spScan, kept);
}

CbSmartPointer<const KaCSurfelCollectionCCT> WithoutStrayPoints(
    const CbSmartPointer<const KaCSurfelCollectionCCT>& spScan, std::size_t& nRemoved) {
  nRemoved = 0;
  const unsigned int n = spScan->GetNrSurfels();
  constexpr unsigned int c_nNeighbours = 8;
  if (n < 2 * c_nNeighbours) return spScan;
  const auto codes = spScan->GetNormalAccessor();
  const CbVector3f* pTable = KaCNormalCodec::GetTable();

  const CyKdTree& tree = spScan->GetKdTree();
  const unsigned int* pLeafOrder = tree.GetLeafOrder();
  CyKdTreeInterface query(tree, true);
  std::vector<float> reach(n);
  std::vector<unsigned char> turned(n, 0);
  // In the tree's leaf order, so that one query finds the nodes and points of the last one in
  // the cache (in the storage's order the same queries take several times as long).
  for (unsigned int j = 0; j < n; ++j) {
    const unsigned int i = pLeafOrder[j];
    const unsigned int found = query.QueryNeighbors(tree.GetPoint(i), c_nNeighbours);
    reach[i] = found == c_nNeighbours ? query.GetNeighborDistance2(found - 1)
                                      : std::numeric_limits<float>::infinity();
    CbVector3f mean;
    for (unsigned int k = 0; k < found; ++k)
      mean += pTable[codes[query.GetNeighborPositionIndex(k)]];
    const CbVector3f& m = pTable[codes[i]];
    // cos 60 degrees = 0.5; unset normals (zero) are judged by distance alone.
    const float len = mean.Length();
    turned[i] = len > 0.0f && m != CbVector3f() && m.Dot(mean) < 0.5f * len ? 1 : 0;
  }
  std::vector<float> sorted = reach;
  auto mid = sorted.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(sorted.begin(), mid, sorted.end());
  // Squared distances: three times as far is nine times the square.
  const float fLimit = 9.0f * *mid;
  std::vector<unsigned int> kept;
  kept.reserve(n);
  for (unsigned int i = 0; i < n; ++i) {
    if (reach[i] <= fLimit && !turned[i]) kept.push_back(i);
  }
  nRemoved = n - kept.size();
  if (nRemoved == 0) return spScan;
  return Subset(*spScan, kept);
}

}  // namespace tolvane::phantom_preparation
