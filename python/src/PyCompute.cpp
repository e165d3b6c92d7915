#include "PyCompute.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include <tolvane/CMpComputeSurfelCollectionDistance.h>
#include <tolvane/DistanceStatistics.h>
#include <tolvane/PhantomAnalysis.h>
#include <tolvane/ParallelSurfelDistance.h>

#include "DistanceReport.h"
#include "PyCollection.h"
#include "PyErrors.h"
#include "synth/FrameGenerator.h"
#include "synth/PhantomScanGenerator.h"

namespace py = pybind11;

namespace {

// The analyzer draws from the C library's rand(), which the whole process shares: analyses
// run one at a time so that a seed given to one of them decides its restarts.
std::mutex s_randMutex;

void RequireNormals(const PyCollection& c, const char* szRole, const char* szPurpose) {
  if (!c.bHasNormals) {
    PyRaise(EPyError::eValue, std::string(szRole) + " has no normals (nx ny nz); " + szPurpose);
  }
}

// A figure of the summary: None where there is none (no distance at all).
py::object Figure(double f) { return std::isnan(f) ? py::none() : py::object(py::float_(f)); }

// The "summary" object of `tolvane distance --json`: the same keys in the same order.
py::dict Summary(const tolvane::DistanceStatistics& s) {
  py::dict d;
  d["surfels"] = s.GetNrSurfels();
  d["with_distance"] = s.GetNrWithDistance();
  for (const auto& f : tolvane::cli::distance_report::SummaryFigures(s)) {
    d[f.szKey] = Figure(f.fValue);
  }
  return d;
}

py::dict SummaryOf(const py::array_t<float, py::array::c_style | py::array::forcecast>& values) {
  if (values.ndim() != 1) PyRaise(EPyError::eValue, "values: expected a 1-d array");
  std::vector<float> v(values.data(), values.data() + values.size());
  return Summary(tolvane::DistanceStatistics(v));
}

py::tuple Distance(const PyCollection& reference, const PyCollection& moving,
                   const py::object& transform, const py::object& maxDistance,
                   unsigned int nThreads) {
  const char* const why = "signed distances need the normals";
  RequireNormals(reference, "reference", why);
  RequireNormals(moving, "moving", why);
  CbMatrix4Rd m;
  if (!transform.is_none()) {
    const auto t =
        py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(transform);
    if (!t || t.ndim() != 2 || t.shape(0) != 4 || t.shape(1) != 4) {
      PyRaise(EPyError::eValue, "transform: expected a 4x4 matrix");
    }
    auto r = t.unchecked<2>();
    for (int row = 0; row < 4; ++row) {
      for (int col = 0; col < 4; ++col) {
        if (!std::isfinite(r(row, col))) PyRaise(EPyError::eValue, "transform: not finite");
        m(row, col) = r(row, col);
      }
    }
  }
  float fMax = -1.0f;
  if (!maxDistance.is_none()) {
    fMax = maxDistance.cast<float>();
    if (!(fMax > 0.0f) || !std::isfinite(fMax)) {
      PyRaise(EPyError::eValue, "max_distance: expected a positive number");
    }
  }
  py::array_t<float> values(moving.Get().GetNrSurfels());
  float fUsed = 0.0f;
  float* pOut = values.mutable_data();
  std::unique_ptr<tolvane::DistanceStatistics> spStatistics;
  PyGuard(EPyError::eRuntime, [&] {
    py::gil_scoped_release release;
    tolvane::ParallelSurfelDistance distance(nThreads);
    distance.SetInput(reference.Get(), moving.Get(), m, fMax);
    distance.Compute();
    const std::vector<float>& d = distance.GetResult();
    for (std::size_t i = 0; i < d.size(); ++i) {
      pOut[i] = d[i] == CMpComputeSurfelCollectionDistance::c_fNoDistance
                    ? std::numeric_limits<float>::quiet_NaN()
                    : d[i];
    }
    fUsed = distance.GetMaxDistance();
    spStatistics = std::make_unique<tolvane::DistanceStatistics>(d, distance.GetThreadCount());
  });
  return py::make_tuple(values, fUsed, Summary(*spStatistics));
}

py::array_t<float> Points(const std::vector<CbVector3f>& v) {
  py::array_t<float> a({static_cast<py::ssize_t>(v.size()), py::ssize_t{3}});
  auto w = a.mutable_unchecked<2>();
  for (std::size_t i = 0; i < v.size(); ++i) {
    w(i, 0) = v[i].x;
    w(i, 1) = v[i].y;
    w(i, 2) = v[i].z;
  }
  return a;
}

template <class T, std::size_t R, std::size_t C>
py::array_t<T> Matrix(const T (&m)[R][C]) {
  py::array_t<T> a({static_cast<py::ssize_t>(R), static_cast<py::ssize_t>(C)});
  auto w = a.template mutable_unchecked<2>();
  for (std::size_t r = 0; r < R; ++r) {
    for (std::size_t c = 0; c < C; ++c) w(r, c) = m[r][c];
  }
  return a;
}

// Limits given by name override the defaults (docs/phantom.md gives their meaning).
tolvane::PhantomLimits Limits(const py::dict& overrides) {
  tolvane::PhantomLimits l;
  const std::pair<const char*, double*> fields[] = {
      {"min_plane_share", &l.fMinPlaneShare},
      {"residual_factor", &l.fResidualFactor},
      {"residual_floor", &l.fResidualFloor},
      {"max_depth_spread", &l.fMaxDepthSpread},
      {"max_angle_error", &l.fMaxAngleError},
      {"max_length_error", &l.fMaxLengthError},
      {"max_corner_fit_rms", &l.fMaxCornerFitRms},
      {"min_orientation_margin", &l.fMinOrientationMargin},
      {"max_analyzer_drift", &l.fMaxAnalyzerDrift}};
  for (const auto& item : overrides) {
    const auto name = item.first.cast<std::string>();
    double* p = nullptr;
    for (const auto& f : fields) {
      if (name == f.first) p = f.second;
    }
    if (p == nullptr) PyRaise(EPyError::eValue, "limits: unknown limit '" + name + "'");
    *p = item.second.cast<double>();
  }
  return l;
}

py::dict AnalyzePhantom(const PyCollection& scan, const PyCollection& samples,
                        const py::object& seed, std::size_t nPlanes, const py::object& attempts,
                        bool bAlign, bool bClean, const py::object& clusterLimit,
                        const py::dict& limits, const std::string& strSource) {
  const char* const why = "the analysis needs them";
  RequireNormals(scan, "scan", why);
  RequireNormals(samples, "samples", why);
  if (nPlanes < 7 || nPlanes > 1000) PyRaise(EPyError::eValue, "planes: expected 7..1000");
  const bool bSeed = !seed.is_none();
  const unsigned int nSeed = bSeed ? seed.cast<unsigned int>() : 0u;
  tolvane::PhantomAnalysis::Options options;
  options.nPlanes = nPlanes;
  // Without a value the library's defaults hold, as in the tool.
  if (!attempts.is_none()) {
    options.nMaxAttempts = attempts.cast<int>();
    if (options.nMaxAttempts < 1 || options.nMaxAttempts > 100) {
      PyRaise(EPyError::eValue, "attempts: expected 1..100");
    }
  }
  options.bAlign = bAlign;
  options.bClean = bClean;
  if (!clusterLimit.is_none()) options.nClusteringLimit = clusterLimit.cast<unsigned int>();
  options.limits = Limits(limits);

  tolvane::PhantomAnalysis::Result res;
  std::string json;
  PyGuard(EPyError::eValue, [&] {
    py::gil_scoped_release release;
    const tolvane::PhantomAnalysis analysis(scan.sp, samples.sp, options);
    {
      std::lock_guard<std::mutex> lock(s_randMutex);
      if (bSeed) std::srand(nSeed);
      res = analysis.Run();
    }
    json = tolvane::PhantomResultToJson(res, strSource);
  });

  py::dict r;
  r["json"] = json;
  r["texts"] = std::vector<std::wstring>(std::begin(res.strTexts), std::end(res.strTexts));
  std::vector<CbVector3f> normals;
  std::vector<std::string> roles;
  const auto nP = static_cast<py::ssize_t>(res.vecPlanes.size());
  py::array_t<std::int64_t> counts(nP);
  py::array_t<double> refinedNormals({nP, py::ssize_t{3}});
  py::array_t<double> refinedPoints({nP, py::ssize_t{3}});
  py::array_t<double> residuals(nP);
  for (py::ssize_t i = 0; i < nP; ++i) {
    const auto& p = res.vecPlanes[static_cast<std::size_t>(i)];
    normals.push_back(p.normal);
    roles.push_back(p.strRole);
    counts.mutable_at(i) = static_cast<std::int64_t>(p.nSamples);
    residuals.mutable_at(i) = p.fRmsResidual;
    for (py::ssize_t k = 0; k < 3; ++k) {
      refinedNormals.mutable_at(i, k) = p.refinedNormal[k];
      refinedPoints.mutable_at(i, k) = p.refinedPoint[k];
    }
  }
  r["plane_normals"] = Points(normals);
  r["plane_samples"] = counts;
  r["plane_roles"] = roles;
  r["plane_refined_normals"] = refinedNormals;
  r["plane_refined_points"] = refinedPoints;
  r["plane_rms_residuals_mm"] = residuals;
  r["corners"] = Points(
      std::vector<CbVector3f>(std::begin(res.analyzerCorners), std::end(res.analyzerCorners)));
  r["refined_corners"] = Matrix(res.refinedCorners);
  r["display_points"] = Points(res.vecDisplayPoints);
  r["rotation"] = Matrix(res.rotation);
  r["origin"] = py::array_t<double>(3, res.origin);
  r["coloured"] =
      res.spColoured ? py::cast(std::make_shared<PyCollection>(res.spColoured, true)) : py::none();
  return r;
}

CbVector3f Vector3(const std::vector<float>& v, const char* szName) {
  if (v.size() != 3) PyRaise(EPyError::eValue, std::string(szName) + ": expected three numbers");
  return {v[0], v[1], v[2]};
}

PyCollectionPtr GeneratePhantom(unsigned int nCount, float fNoise, float fNormalNoise,
                                unsigned int nSeed, const std::vector<float>& scale,
                                float fStrayFraction, const std::vector<float>& rotation,
                                const std::vector<float>& translation) {
  tolvane::synth::PhantomScanGenerator::Parameters p;
  p.nNrSurfels = nCount;
  p.fNoiseSigma = fNoise;
  p.fNormalNoiseDegrees = fNormalNoise;
  p.nSeed = nSeed;
  p.scale = Vector3(scale, "scale");
  p.fStrayFraction = fStrayFraction;
  p.poseRotationDegrees = Vector3(rotation, "rotation");
  p.poseTranslation = Vector3(translation, "translation");
  return PyGuard(EPyError::eValue, [&] {
    CbSmartPointer<KaCSurfelCollectionCCT> sp;
    {
      py::gil_scoped_release release;
      sp = tolvane::synth::PhantomScanGenerator(p).Generate();
    }
    return std::make_shared<PyCollection>(sp, true);
  });
}

std::vector<PyCollectionPtr> GenerateFrames(unsigned int nFrames, unsigned int nCount,
                                            unsigned int nSeed) {
  std::vector<CbSmartPointer<KaCSurfelCollectionCCT>> frames;
  {
    py::gil_scoped_release release;
    const tolvane::synth::FrameGenerator generator(nCount, nSeed);
    for (unsigned int k = 0; k < nFrames; ++k) frames.push_back(generator.Generate(k));
  }
  std::vector<PyCollectionPtr> out;
  for (auto& sp : frames) out.push_back(std::make_shared<PyCollection>(sp, true));
  return out;
}

}  // namespace

void PyBindCompute(py::module_& m) {
  m.def("_distance", &Distance, py::arg("reference"), py::arg("moving"), py::arg("transform"),
        py::arg("max_distance"), py::arg("threads"));
  m.def("distance_summary", &SummaryOf, py::arg("values"), R"doc(
The "summary" of `tolvane distance --json` for per-surfel distances (NaN where none), with
its keys: surfels, with_distance, mean, standard_deviation (of the population), rms, minimum,
maximum, p5, p50, p95 (percentiles linear between the closest ranks), summed in double
precision. Without any distance the figures are None.)doc");
  m.def("_analyze_phantom", &AnalyzePhantom, py::arg("scan"), py::arg("samples"), py::arg("seed"),
        py::arg("planes"), py::arg("attempts"), py::arg("align"), py::arg("clean"),
        py::arg("cluster_limit"), py::arg("limits"), py::arg("source"));
  m.def("generate_phantom", &GeneratePhantom, py::arg("count") = 100000, py::arg("noise") = 0.005f,
        py::arg("normal_noise") = 2.0f, py::arg("seed") = 1u,
        py::arg("scale") = std::vector<float>{1.0f, 1.0f, 1.0f}, py::arg("stray") = 0.0f,
        py::arg("rotation") = std::vector<float>{0.0f, 0.0f, 0.0f},
        py::arg("translation") = std::vector<float>{0.0f, 0.0f, 0.0f}, R"doc(
A synthetic scan of the calibration phantom (millimetres), as `tolvane generate phantom`
writes it: count surfels on the seven faces, Gaussian position noise of standard deviation
noise (mm) per coordinate, normals scattered by normal_noise degrees, scale factors per axis,
a share `stray` (0..0.5) of stray points around the phantom, and a rigid pose applied last:
rotation as axis times angle in degrees, then translation in mm. values holds each surfel's
face number (7 for stray points). Deterministic for given arguments.)doc");
  m.def("generate_frames", &GenerateFrames, py::arg("frames") = 12u, py::arg("count") = 5000u,
        py::arg("seed") = 1u, R"doc(
Synthetic acquisition frames, as `tolvane generate frames` writes them: patches of a shallow
bowl with tooth- and gingiva-coloured bands, frame k starting at x = 1.5 k mm. A list of
collections; deterministic for given arguments.)doc");
}
