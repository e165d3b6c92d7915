#include <tolvane/PhantomAnalysis.h>

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include <tolvane/KaCMpFtColorCode.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "base/CbException.h"
#include "container/KaSurfelAttributes.h"
#include "geometry/CentredScatter.h"
#include "geometry/KaCCorrMath.h"
#include "phantom/PhantomPreparation.h"

namespace tolvane {

namespace {

namespace prep = phantom_preparation;

constexpr double c_fNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double c_fDegrees = 180.0 / 3.14159265358979323846;

struct D3 {
  double x = 0.0, y = 0.0, z = 0.0;
};
D3 Sub(const D3& a, const D3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double Dot(const D3& a, const D3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3 Cross(const D3& a, const D3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
D3 Scaled(const D3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
D3 FromFloat(const CbVector3f& v) { return {v.x, v.y, v.z}; }

// The angle between two normal lines (orientation ignored), degrees.
double LineAngle(const D3& a, const D3& b) {
  const double c = std::fabs(Dot(a, b)) / std::sqrt(Dot(a, a) * Dot(b, b));
  return std::acos(std::min(1.0, c)) * c_fDegrees;
}

// A least-squares plane in double precision: centroid first, then the scatter of the
// deviations from it (centred sums), its smallest eigenvector the normal.
struct Fit {
  D3 normal{c_fNaN, c_fNaN, c_fNaN};
  D3 centroid{c_fNaN, c_fNaN, c_fNaN};
  double fRms = c_fNaN;
};

Fit FitPoints(const std::vector<D3>& points) {
  Fit fit;
  if (points.size() < 3) return fit;
  D3 c;
  for (const D3& p : points) c = {c.x + p.x, c.y + p.y, c.z + p.z};
  c = Scaled(c, 1.0 / static_cast<double>(points.size()));
  CentredScatter scatter;
  for (const D3& p : points) {
    const D3 d = Sub(p, c);
    scatter.Add(d.x, d.y, d.z);
  }
  double vectors[9];
  double values[3];
  KaCCorrMath::semi_definite_symmetric(scatter.packed, 3, vectors, values);
  fit.normal = {vectors[6], vectors[7], vectors[8]};
  fit.centroid = c;
  double sum2 = 0.0;
  for (const D3& p : points) {
    const double d = Dot(Sub(p, c), fit.normal);
    sum2 += d * d;
  }
  fit.fRms = std::sqrt(sum2 / static_cast<double>(points.size()));
  return fit;
}

// The label of a sample in no plane.
constexpr unsigned short c_nNoPlane = 0xFFFF;

// FitPoints for every plane at once, on the samples labelled with its index: the same sums in
// the same (sample) order, so the same fits, from three passes over the positions and labels
// instead of a copy of every plane's points. Only planes marked in bRefit are fitted.
void FitLabelled(const KaTAttributeAccessor<const CbVector3f>& positions, unsigned int nSamples,
                 const std::vector<unsigned short>& labels, const std::vector<char>& bRefit,
                 std::vector<Fit>& fits) {
  const std::size_t nPlanes = fits.size();
  std::vector<D3> centroids(nPlanes);
  std::vector<std::size_t> counts(nPlanes, 0);
  for (unsigned int s = 0; s < nSamples; ++s) {
    const unsigned short l = labels[s];
    if (l == c_nNoPlane || !bRefit[l]) continue;
    const D3 p = FromFloat(positions[s]);
    D3& c = centroids[l];
    c = {c.x + p.x, c.y + p.y, c.z + p.z};
    ++counts[l];
  }
  std::vector<CentredScatter> scatter(nPlanes);
  for (std::size_t i = 0; i < nPlanes; ++i) {
    if (bRefit[i]) centroids[i] = Scaled(centroids[i], 1.0 / static_cast<double>(counts[i]));
  }
  for (unsigned int s = 0; s < nSamples; ++s) {
    const unsigned short l = labels[s];
    if (l == c_nNoPlane || !bRefit[l]) continue;
    const D3 d = Sub(FromFloat(positions[s]), centroids[l]);
    scatter[l].Add(d.x, d.y, d.z);
  }
  std::vector<char> bFitted(nPlanes, 0);
  for (std::size_t i = 0; i < nPlanes; ++i) {
    if (!bRefit[i]) continue;
    fits[i] = Fit();
    if (counts[i] < 3) continue;
    double vectors[9];
    double values[3];
    KaCCorrMath::semi_definite_symmetric(scatter[i].packed, 3, vectors, values);
    fits[i].normal = {vectors[6], vectors[7], vectors[8]};
    fits[i].centroid = centroids[i];
    bFitted[i] = 1;
  }
  std::vector<double> sum2(nPlanes, 0.0);
  for (unsigned int s = 0; s < nSamples; ++s) {
    const unsigned short l = labels[s];
    if (l == c_nNoPlane || !bFitted[l]) continue;
    const double d = Dot(Sub(FromFloat(positions[s]), fits[l].centroid), fits[l].normal);
    sum2[l] += d * d;
  }
  for (std::size_t i = 0; i < nPlanes; ++i) {
    if (bFitted[i]) fits[i].fRms = std::sqrt(sum2[i] / static_cast<double>(counts[i]));
  }
}

// The plane of every cluster, refitted twice without the samples beyond three RMS residuals,
// so that stray points the analyzer kept do not tilt it. Labels of dropped samples are cleared.
std::vector<Fit> RefitClusters(const KaTAttributeAccessor<const CbVector3f>& positions,
                               unsigned int nSamples, std::vector<unsigned short>& labels,
                               std::size_t nPlanes) {
  std::vector<Fit> fits(nPlanes);
  std::vector<char> bRefit(nPlanes, 1);
  FitLabelled(positions, nSamples, labels, bRefit, fits);
  for (int round = 0; round < 2; ++round) {
    bool bAny = false;
    for (std::size_t i = 0; i < nPlanes; ++i) {
      bRefit[i] = fits[i].fRms > 0.0 && (round == 0 || bRefit[i]) ? 1 : 0;
    }
    std::vector<char> bDropped(nPlanes, 0);
    for (unsigned int s = 0; s < nSamples; ++s) {
      const unsigned short l = labels[s];
      if (l == c_nNoPlane || !bRefit[l]) continue;
      const Fit& fit = fits[l];
      if (!(std::fabs(Dot(Sub(FromFloat(positions[s]), fit.centroid), fit.normal)) <=
            3.0 * fit.fRms)) {
        labels[s] = c_nNoPlane;
        bDropped[l] = 1;
      }
    }
    for (std::size_t i = 0; i < nPlanes; ++i) {
      bRefit[i] = bRefit[i] && bDropped[i] ? 1 : 0;
      bAny = bAny || bRefit[i];
    }
    if (!bAny) break;
    FitLabelled(positions, nSamples, labels, bRefit, fits);
  }
  return fits;
}

// The point where three planes meet (Cramer's rule); NaN when they do not meet in one point.
D3 Meet(const Fit& a, const Fit& b, const Fit& c) {
  const D3 bc = Cross(b.normal, c.normal), ca = Cross(c.normal, a.normal),
           ab = Cross(a.normal, b.normal);
  const double det = Dot(a.normal, bc);
  if (!(std::fabs(det) > 1e-12)) return {c_fNaN, c_fNaN, c_fNaN};
  const double ha = Dot(a.normal, a.centroid), hb = Dot(b.normal, b.centroid),
               hc = Dot(c.normal, c.centroid);
  const D3 sum = {bc.x * ha + ca.x * hb + ab.x * hc, bc.y * ha + ca.y * hb + ab.y * hc,
                  bc.z * ha + ca.z * hb + ab.z * hc};
  return Scaled(sum, 1.0 / det);
}

D3 NominalCorner(int k) {
  const double* c = phantom::c_nominalCorners[k];
  return {c[0], c[1], c[2]};
}

// The normals of faces 0 to 5 of the nominal phantom: planes fitted to the corners on them.
std::vector<D3> NominalFaceNormals() {
  std::vector<D3> normals;
  for (int f = 0; f < 6; ++f) {
    std::vector<D3> corners;
    for (int k = 0; k < 8; ++k) {
      const int* faces = phantom::c_cornerFaces[k];
      if (faces[0] == f || faces[1] == f || faces[2] == f) corners.push_back(NominalCorner(k));
    }
    normals.push_back(FitPoints(corners).normal);
  }
  return normals;
}

// RMS distance of the corners from the nominal corners after the best rigid fit (Horn's
// quaternion method: the largest eigenvalue of a 4 x 4 matrix gives the fitted residual).
double CornerFitRms(const D3 (&corners)[8]) {
  D3 ca, cb;
  for (int k = 0; k < 8; ++k) {
    const D3 b = NominalCorner(k);
    ca = {ca.x + corners[k].x, ca.y + corners[k].y, ca.z + corners[k].z};
    cb = {cb.x + b.x, cb.y + b.y, cb.z + b.z};
  }
  ca = Scaled(ca, 0.125);
  cb = Scaled(cb, 0.125);
  double s[3][3] = {};
  double sum2 = 0.0;
  for (int k = 0; k < 8; ++k) {
    const D3 a = Sub(corners[k], ca), b = Sub(NominalCorner(k), cb);
    const double av[3] = {a.x, a.y, a.z}, bv[3] = {b.x, b.y, b.z};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) s[r][c] += av[r] * bv[c];
    }
    sum2 += Dot(a, a) + Dot(b, b);
  }
  const double packed[10] = {s[0][0] + s[1][1] + s[2][2], s[1][2] - s[2][1],
                             s[0][0] - s[1][1] - s[2][2], s[2][0] - s[0][2],
                             s[0][1] + s[1][0],           -s[0][0] + s[1][1] - s[2][2],
                             s[0][1] - s[1][0],           s[2][0] + s[0][2],
                             s[1][2] + s[2][1],           -s[0][0] - s[1][1] + s[2][2]};
  for (double v : packed) {
    if (!std::isfinite(v)) return c_fNaN;
  }
  double vectors[16];
  double values[4];
  KaCCorrMath::semi_definite_symmetric(packed, 4, vectors, values);
  return std::sqrt(std::max(0.0, (sum2 - 2.0 * values[0]) / 8.0));
}

PhantomCheck Check(const char* szName, double fValue, double fLimit, const char* szUnit,
                   bool bMinimum) {
  PhantomCheck c;
  c.strName = szName;
  c.fValue = fValue;
  c.fLimit = fLimit;
  c.strUnit = szUnit;
  c.bMinimum = bMinimum;
  c.bPass = bMinimum ? fValue >= fLimit : fValue <= fLimit;
  return c;
}

std::string PlaneRole(std::size_t i) {
  static const char* const c_roles[] = {"rim",     "wall -y", "wall +y",     "wall -x",
                                        "wall +x", "floor",   "seventh face"};
  return i < 7 ? c_roles[i] : "extra";
}

// The colours that Compute gives the values 0 (outliers) to nPlanes (plane nPlanes - 1): the
// same filter on a collection of one surfel per value. Empty when two values share a colour.
std::vector<KaCCompressedColor> PlanePalette(std::size_t nPlanes) {
  const auto n = static_cast<unsigned int>(nPlanes + 1);
  KaCSurfelCollectionCCT probe(n, true, eSurfelAttributeSetFull);
  std::vector<float> values(n);
  for (unsigned int v = 0; v < n; ++v) values[v] = static_cast<float>(v);
  KaCMpFtColorCode(0.0f, static_cast<float>(nPlanes), values, nullptr, 1)(probe);
  std::vector<KaCCompressedColor> palette;
  for (unsigned int v = 0; v < n; ++v) {
    const KaCCompressedColor c = probe.GetColor(v);
    for (const KaCCompressedColor& other : palette) {
      if (other == c) return {};
    }
    palette.push_back(c);
  }
  return palette;
}

// One analyzer run judged. The analyzer's numbers are in the analysis frame; the refined ones
// in the frame of the samples they were refitted on (see Run).
struct Attempt {
  PhantomAnalysis::Result result;
  std::vector<Fit> fits;
  D3 refinedCorners[8];
  CbSmartPointer<KaCSurfelCollectionCCT> spColoured;
  int nFailed = 0;
  bool bTurnedFitsBetter = false;
};

// Twice: every sample joins its nearest plane when within three RMS residuals of it, and the
// planes are refitted. The analyzer kept, per plane, the samples nearest to its own float
// plane, a band that is off centre by the float drift; this centres the band on the plane it
// measures, and carries planes refitted on one collection over to another.
void SettleOnNearestPlanes(const KaTAttributeAccessor<const CbVector3f>& positions,
                           unsigned int nSamples, std::vector<unsigned short>& labels,
                           std::vector<Fit>& fits,
                           const std::function<void(int)>& fnRoundDone = nullptr) {
  const std::size_t nPlanes = fits.size();
  for (int round = 0; round < 2; ++round) {
    std::vector<std::size_t> counts(nPlanes, 0);
    for (unsigned int s = 0; s < nSamples; ++s) {
      const D3 p = FromFloat(positions[s]);
      double best = std::numeric_limits<double>::infinity();
      std::size_t bestPlane = nPlanes;
      for (std::size_t i = 0; i < nPlanes; ++i) {
        const double d = std::fabs(Dot(Sub(p, fits[i].centroid), fits[i].normal));
        if (d < best && d <= std::max(3.0 * fits[i].fRms, 1e-4)) best = d, bestPlane = i;
      }
      labels[s] = bestPlane < nPlanes ? static_cast<unsigned short>(bestPlane) : c_nNoPlane;
      if (bestPlane < nPlanes) ++counts[bestPlane];
    }
    std::vector<char> bRefit(nPlanes, 0);
    for (std::size_t i = 0; i < nPlanes; ++i) {
      bRefit[i] = std::isfinite(fits[i].fRms) && counts[i] >= 3 ? 1 : 0;
    }
    FitLabelled(positions, nSamples, labels, bRefit, fits);
    if (fnRoundDone) fnRoundDone(round + 1);
  }
}

// The analyzer's own results: texts, display points, corners, quantities, planes.
void ReadAnalyzer(KaCCalibrationPhantomCCTAnalyzer& analyzer, PhantomAnalysis::Result& r) {
  r.strTexts[0] = analyzer.GetDepthStatistics();
  r.strTexts[1] = analyzer.GetShearingStatistics();
  r.strTexts[2] = analyzer.GetWidthStatistics();
  r.strTexts[3] = analyzer.GetHeightStatistics();
  r.vecDisplayPoints = analyzer.GetLines();
  r.nIterations = analyzer.GetNrIterations();
  r.fInitializationDuration = analyzer.GetInitializationDuration();
  r.fOverallDuration = analyzer.GetOverallDuration();
  const float fNaN = std::numeric_limits<float>::quiet_NaN();
  for (int k = 0; k < 8; ++k) {
    r.analyzerCorners[k] = 2 * k < static_cast<int>(r.vecDisplayPoints.size())
                               ? r.vecDisplayPoints[static_cast<std::size_t>(2 * k)]
                               : CbVector3f(fNaN, fNaN, fNaN);
  }
  r.analyzer = phantom::Measure<float>(r.analyzerCorners, analyzer.GetNormal(0));
  r.vecPlanes.clear();
  for (std::size_t i = 0; i < analyzer.GetNrPlanes(); ++i) {
    PhantomAnalysis::Plane plane;
    plane.strRole = PlaneRole(i);
    plane.nSamples = analyzer.GetNrSamples(i);
    plane.normal = analyzer.GetNormal(i);
    r.vecPlanes.push_back(plane);
  }
}

// The refined corners and quantities from the attempt's fits, and the checks.
void Judge(const PhantomLimits& limits, Attempt& attempt) {
  PhantomAnalysis::Result& r = attempt.result;
  std::vector<Fit>& fits = attempt.fits;
  // Rim normal from the rim towards the floor; walls keep the fitted sign.
  if (Dot(Sub(fits[5].centroid, fits[0].centroid), fits[0].normal) < 0.0) {
    fits[0].normal = Scaled(fits[0].normal, -1.0);
  }
  if (Dot(fits[5].normal, fits[0].normal) < 0.0) fits[5].normal = Scaled(fits[5].normal, -1.0);
  for (int k = 0; k < 8; ++k) {
    const int* f = phantom::c_cornerFaces[k];
    attempt.refinedCorners[k] = Meet(fits[f[0]], fits[f[1]], fits[f[2]]);
  }
  r.refined = phantom::Measure<double>(attempt.refinedCorners, fits[0].normal);
  std::size_t nKept = 0;
  for (std::size_t i = 0; i < r.vecPlanes.size(); ++i) {
    r.vecPlanes[i].fRmsResidual = fits[i].fRms;
    nKept += r.vecPlanes[i].nSamples;
  }

  // The checks.
  const auto allQuantities = [](const auto& q) {
    std::vector<double> v = {static_cast<double>(q.meanDepth)};
    for (int k = 0; k < 4; ++k) {
      v.insert(v.end(), {static_cast<double>(q.depth[k]), static_cast<double>(q.shearing[k]),
                         static_cast<double>(q.width[k]), static_cast<double>(q.height[k])});
    }
    return v;
  };
  const std::vector<double> analyzed = allQuantities(r.analyzer);
  const std::vector<double> refined = allQuantities(r.refined);
  double nNonFinite = 0.0, fDrift = 0.0;
  for (std::size_t k = 0; k < analyzed.size(); ++k) {
    nNonFinite +=
        (std::isfinite(analyzed[k]) ? 0.0 : 1.0) + (std::isfinite(refined[k]) ? 0.0 : 1.0);
    fDrift = std::max(fDrift, std::fabs(analyzed[k] - refined[k]));
  }
  if (nNonFinite > 0.0) fDrift = c_fNaN;

  double fMinShare = c_fNaN, fMaxRms = c_fNaN, fRmsLimit = c_fNaN;
  if (nKept > 0) {
    std::vector<double> rms;
    fMinShare = 1.0;
    for (std::size_t i = 0; i < 7; ++i) {
      fMinShare = std::min(
          fMinShare, static_cast<double>(r.vecPlanes[i].nSamples) / static_cast<double>(nKept));
      rms.push_back(fits[i].fRms);
    }
    fMaxRms = *std::max_element(rms.begin(), rms.end(),
                                [](double a, double b) { return a < b || std::isnan(b); });
    std::nth_element(rms.begin(), rms.begin() + 3, rms.end());
    fRmsLimit = limits.fResidualFactor * rms[3] + limits.fResidualFloor;
  }
  // Spans and maxima that turn NaN when any of their values is.
  double fLow = r.refined.depth[0], fHigh = fLow, fLength = 0.0;
  for (int k = 0; k < 4; ++k) {
    fLow = std::isnan(fLow) ? fLow : std::min(fLow, r.refined.depth[k]);
    fHigh = std::isnan(fHigh) ? fHigh : std::max(fHigh, r.refined.depth[k]);
    const double dw = std::fabs(r.refined.width[k] - phantom::c_fNominalWidth[k]);
    const double dh = std::fabs(r.refined.height[k] - phantom::c_fNominalHeight[k]);
    fLength = std::isnan(dw) || std::isnan(dh) ? c_fNaN : std::max({fLength, dw, dh});
  }
  const double fDepthSpread = fHigh - fLow;
  static const std::vector<D3> c_nominalNormals = NominalFaceNormals();
  double fAngle = 0.0;
  for (int f = 1; f < 6 && !std::isnan(fAngle); ++f) {
    const double d = std::fabs(LineAngle(fits[f].normal, fits[0].normal) -
                               LineAngle(c_nominalNormals[f], c_nominalNormals[0]));
    fAngle = std::isnan(d) ? c_fNaN : std::max(fAngle, d);
  }
  const double fSeventh = LineAngle(fits[6].normal, fits[0].normal);

  // The phantom is nearly symmetric under a half turn about its viewing axis: its corners
  // relabelled that way (A and D, B and C, E and H, F and G swapped) still fit the nominal ones
  // within 0.034 mm. The labelling must fit clearly better than its half-turned twin.
  const double fCornerFit = CornerFitRms(attempt.refinedCorners);
  static constexpr int c_halfTurn[8] = {3, 2, 1, 0, 7, 6, 5, 4};
  D3 turned[8];
  for (int k = 0; k < 8; ++k) turned[k] = attempt.refinedCorners[c_halfTurn[k]];
  const double fTurnedFit = CornerFitRms(turned);
  attempt.bTurnedFitsBetter = fTurnedFit < fCornerFit;

  PhantomVerdict& verdict = r.verdict;
  verdict.vecChecks = {
      Check("finite", nNonFinite, 0.0, "count", false),
      Check("plane share", fMinShare, limits.fMinPlaneShare, "share", true),
      Check("plane residual", fMaxRms, fRmsLimit, "mm", false),
      Check("corner depths", fDepthSpread, limits.fMaxDepthSpread, "mm", false),
      Check("face angles", fAngle, limits.fMaxAngleError, "deg", false),
      Check("lengths", fLength, limits.fMaxLengthError, "mm", false),
      Check("corner fit", fCornerFit, limits.fMaxCornerFitRms, "mm", false),
      Check("orientation", fTurnedFit - fCornerFit, limits.fMinOrientationMargin, "mm", true),
      Check("seventh face", fSeventh, limits.fMaxAngleError, "deg", false),
      Check("analyzer drift", fDrift, limits.fMaxAnalyzerDrift, "mm", false)};
  attempt.nFailed = 0;
  for (const PhantomCheck& c : verdict.vecChecks) attempt.nFailed += c.bPass ? 0 : 1;
  verdict.bPass = attempt.nFailed == 0;
}

// One analyzer run judged on the samples it measured, in the analysis frame.
void Evaluate(KaCCalibrationPhantomCCTAnalyzer& analyzer,
              const CbSmartPointer<KaCSurfelCollectionCCT>& spColoured,
              const KaCSurfelCollectionCCT& samples, const PhantomLimits& limits,
              const std::vector<KaCCompressedColor>& palette, Attempt& attempt) {
  ReadAnalyzer(analyzer, attempt.result);
  const std::size_t nPlanes = analyzer.GetNrPlanes();
  // The clusters, read back from the colours Compute gave the samples, as a plane label per
  // sample (one pass, no copies of the points).
  const unsigned int nSamples = samples.GetNrSurfels();
  const auto positions = samples.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const bool bLabelled = !palette.empty() && nPlanes < c_nNoPlane;
  std::vector<unsigned short> labels(bLabelled ? nSamples : 0, c_nNoPlane);
  if (bLabelled) {
    const auto colours = spColoured->GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
    for (unsigned int s = 0; s < nSamples; ++s) {
      for (std::size_t v = 1; v < palette.size(); ++v) {
        if (palette[v] == colours[s]) {
          labels[s] = static_cast<unsigned short>(v - 1);
          break;
        }
      }
    }
  }
  attempt.fits = RefitClusters(positions, bLabelled ? nSamples : 0, labels, nPlanes);
  if (bLabelled) SettleOnNearestPlanes(positions, nSamples, labels, attempt.fits);
  Judge(limits, attempt);
  attempt.spColoured = spColoured;
}

// Puts a frame point into the scan's frame.
CbVector3f ToScanFloat(const prep::Frame& frame, const CbVector3f& p) {
  const double q[3] = {p.x, p.y, p.z};
  double r[3];
  frame.ToScan(q, r);
  return {static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2])};
}

}  // namespace

std::string PhantomVerdict::Summary() const {
  if (bPass) return "pass";
  for (const PhantomCheck& c : vecChecks) {
    if (c.bPass) continue;
    char text[256];
    std::snprintf(text, sizeof text, "FAIL: %s: %.4g %s %s %.4g %s", c.strName.c_str(), c.fValue,
                  c.strUnit.c_str(), c.bMinimum ? "under" : "over", c.fLimit, c.strUnit.c_str());
    return text;
  }
  return "FAIL";
}

PhantomAnalysis::PhantomAnalysis(CbSmartPointer<const KaCSurfelCollectionCCT> spClustering,
                                 CbSmartPointer<const KaCSurfelCollectionCCT> spSamples,
                                 const Options& options)
    : m_spClustering(std::move(spClustering)),
      m_spSamples(std::move(spSamples)),
      m_options(options) {
  if (!m_spClustering || !m_spSamples || options.nPlanes < 7 || options.nMaxAttempts < 1) {
    throw CbException("tolvane::PhantomAnalysis::PhantomAnalysis", __FILE__, __LINE__,
                      "the analysis needs two collections, at least 7 planes and 1 attempt");
  }
}

PhantomAnalysis::Result PhantomAnalysis::Run() const {
  using Collection = CbSmartPointer<const KaCSurfelCollectionCCT>;
  // Progress steps: the preparation, each attempt, the two rounds of the refinement on the
  // samples as passed, the coloured samples.
  const auto nAttemptSteps = static_cast<std::size_t>(m_options.nMaxAttempts);
  const std::size_t nSteps = nAttemptSteps + 4;
  const auto report = [&](std::size_t nDone) {
    if (m_options.fnProgress) m_options.fnProgress(nDone, nSteps);
  };
  const std::vector<KaCCompressedColor> palette = PlanePalette(m_options.nPlanes);
  Attempt best;
  prep::Frame frame;
  bool bAligned = false;
  // Whether the analyzer measured the samples as passed (not thinned, not turned); then its
  // coloured copy is the result's, and its planes are in the scan's frame already.
  bool bDirect = false;
  std::size_t nStray = 0;
  std::size_t nClustering = 0;
  int nRun = 0;
  {
    // Preparation, once for all attempts: thinning, cleaning and the frame. The analyzer
    // measures thinned samples too; the samples as passed are measured by the refinement
    // below, in their own frame, so that no turned copy of a large scan is ever made.
    const unsigned int nStep =
        prep::ThinningStep(m_spClustering->GetNrSurfels(), m_options.nClusteringLimit,
                           m_options.nClusteringShare, m_options.nClusteringMinimum);
    const Collection spThinned = prep::Thinned(m_spClustering, nStep);
    Collection spCleaned = spThinned;
    if (m_options.bClean) spCleaned = prep::WithoutStrayPoints(spThinned, nStray);
    bAligned = m_options.bAlign && prep::FindPhantomFrame(*spCleaned, frame);
    // The analyzer orders the faces by the depths of their centres along its mean normal;
    // a wall scanned in part tilts that by degrees, enough to swap two walls' roles. Balanced
    // walls keep the clustering collection's mean normal on the viewing axis.
    Collection spBalanced = spCleaned;
    if (bAligned) {
      std::size_t nBalanced = 0;
      spBalanced = prep::WithBalancedWalls(spCleaned, frame, nBalanced);
    }
    const unsigned int nSampleStep =
        std::min(prep::ThinningStep(m_spSamples->GetNrSurfels(), m_options.nClusteringLimit,
                                    m_options.nClusteringShare, m_options.nClusteringMinimum),
                 std::max(1u, m_options.nMeasuringStep));
    const bool bSameThinning = m_spSamples.Get() == m_spClustering.Get() && nSampleStep == nStep;
    // Unaligned, the analyzer measures the thinned samples as they are; aligned, every
    // nSampleStep-th sample is turned into the frame directly, with no thinned copy between.
    Collection spThinSamples;
    if (!bAligned) {
      spThinSamples = bSameThinning ? spThinned : prep::Thinned(m_spSamples, nSampleStep);
    }
    bDirect = !bAligned && spThinSamples.Get() == m_spSamples.Get();
    // The collections the analyzer gets: in the frame, and the clustering one with normals it
    // can cluster (only there: the samples are measured by their positions).
    Collection spClustering;
    Collection spSamples;
    const auto prepare = [&] {
      spClustering = spBalanced;
      spSamples = spThinSamples;
      if (bAligned) {
        spClustering = prep::InFrame(*spBalanced, frame, 1);
        spSamples = bSameThinning && spBalanced.Get() == spThinned.Get()
                        ? spClustering
                        : prep::InFrame(*m_spSamples, frame, nSampleStep);
      }
      std::size_t nNormals = 0;
      if (m_options.bClean) spClustering = prep::WithClusterableNormals(spClustering, nNormals);
    };
    prepare();
    report(1);

    prep::Frame bestFrame = frame;
    for (int k = 1; k <= m_options.nMaxAttempts; ++k) {
      KaCCalibrationPhantomCCTAnalyzer analyzer(spClustering, spSamples, m_options.nPlanes);
      const CbSmartPointer<KaCSurfelCollectionCCT> spColoured = analyzer.Compute();
      Attempt attempt;
      Evaluate(analyzer, spColoured, *spSamples, m_options.limits, palette, attempt);
      attempt.result.nAttempt = k;
      nRun = k;
      report(1 + static_cast<std::size_t>(k));
      const bool bTurn = bAligned && attempt.bTurnedFitsBetter;
      if (k == 1 || attempt.nFailed < best.nFailed) {
        best = std::move(attempt);
        bestFrame = frame;
      }
      if (best.result.verdict.bPass) break;
      if (bTurn) {
        // The frame was found half a turn off: turn it about its z axis and go on from there.
        for (int c = 0; c < 3; ++c) {
          frame.R[0][c] = -frame.R[0][c];
          frame.R[1][c] = -frame.R[1][c];
        }
        prepare();
      }
    }
    frame = bestFrame;
    nClustering = spClustering->GetNrSurfels();
  }

  CbSmartPointer<KaCSurfelCollectionCCT> spColoured;
  if (bDirect) {
    spColoured = best.spColoured;
  } else {
    // The refinement on the samples as passed: the planes refitted on the analyzer's samples,
    // taken into the scan's frame, settle on every sample, and the result is judged again.
    best.spColoured.Reset();
    for (Fit& fit : best.fits) {
      const double n[3] = {fit.normal.x, fit.normal.y, fit.normal.z};
      const double c[3] = {fit.centroid.x, fit.centroid.y, fit.centroid.z};
      double e[3], d[3];
      frame.DirectionToScan(n, e);
      frame.ToScan(c, d);
      fit.normal = {e[0], e[1], e[2]};
      fit.centroid = {d[0], d[1], d[2]};
    }
    const unsigned int nSamples = m_spSamples->GetNrSurfels();
    std::vector<unsigned short> labels(nSamples, c_nNoPlane);
    SettleOnNearestPlanes(
        m_spSamples->GetAccessor<CbVector3f>(eSurfelAttributePosition), nSamples, labels, best.fits,
        [&](int round) { report(nAttemptSteps + 1 + static_cast<std::size_t>(round)); });
    Judge(m_options.limits, best);
    // The samples as passed, coloured as the analyzer colours: value i + 1 for plane i, 0 for
    // samples of no plane.
    spColoured =
        CbSmartPointer<KaCSurfelCollectionCCT>(new KaCSurfelCollectionCCT(*m_spSamples, false));
    auto colours = spColoured->GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
    if (!palette.empty()) {
      for (unsigned int s = 0; s < nSamples; ++s) {
        colours[s] = palette[labels[s] == c_nNoPlane ? 0 : labels[s] + 1u];
      }
    } else {
      std::vector<float> values(nSamples);
      for (unsigned int s = 0; s < nSamples; ++s) {
        values[s] = labels[s] == c_nNoPlane ? 0.0f : static_cast<float>(labels[s] + 1u);
      }
      KaCMpFtColorCode(0.0f, static_cast<float>(m_options.nPlanes), values, nullptr,
                       1)(*spColoured);
    }
  }
  report(nSteps);

  // The refined planes and corners are in the scan's frame now; the analyzer's results go back
  // into it.
  Result r = std::move(best.result);
  r.spColoured = spColoured;
  r.nAttempts = nRun;
  r.bAligned = bAligned;
  r.nStrayPoints = nStray;
  r.nClusteringSurfels = nClustering;
  r.nSamples = m_spSamples->GetNrSurfels();
  for (int i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) r.rotation[i][k] = frame.R[i][k];
    r.origin[i] = frame.origin[i];
  }
  for (CbVector3f& p : r.vecDisplayPoints) p = ToScanFloat(frame, p);
  for (int k = 0; k < 8; ++k) {
    r.analyzerCorners[k] = ToScanFloat(frame, r.analyzerCorners[k]);
    r.refinedCorners[k][0] = best.refinedCorners[k].x;
    r.refinedCorners[k][1] = best.refinedCorners[k].y;
    r.refinedCorners[k][2] = best.refinedCorners[k].z;
  }
  for (std::size_t i = 0; i < r.vecPlanes.size(); ++i) {
    Plane& plane = r.vecPlanes[i];
    const CbVector3f& n = plane.normal;
    const double d[3] = {n.x, n.y, n.z};
    double e[3];
    frame.DirectionToScan(d, e);
    plane.normal = {static_cast<float>(e[0]), static_cast<float>(e[1]), static_cast<float>(e[2])};
    const Fit& fit = best.fits[i];
    plane.refinedNormal[0] = fit.normal.x;
    plane.refinedNormal[1] = fit.normal.y;
    plane.refinedNormal[2] = fit.normal.z;
    plane.refinedPoint[0] = fit.centroid.x;
    plane.refinedPoint[1] = fit.centroid.y;
    plane.refinedPoint[2] = fit.centroid.z;
  }
  return r;
}

const char* PhantomShearingNote() {
  return "On a perfect phantom the shearing reads 27, 30, 8 and 58 \xC2\xB5m off its nominal "
         "values: the nominal shearings are separate constants and differ from the shearings "
         "of the nominal corners by that much. These offsets are no scanner error.";
}

}  // namespace tolvane
