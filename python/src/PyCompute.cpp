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
#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include <tolvane/ParallelSurfelDistance.h>

#include "DistanceReport.h"
#include "PhantomMeasurements.h"
#include "PhantomReport.h"
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
    spStatistics = std::make_unique<tolvane::DistanceStatistics>(d);
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

py::array_t<float> Four(const std::array<float, 4>& v) { return py::array_t<float>(4, v.data()); }

py::array_t<float> Deviations(const std::array<float, 4>& nominal, const std::array<float, 4>& v) {
  std::array<float, 4> d{};
  for (std::size_t k = 0; k < 4; ++k)
    d[k] = tolvane::cli::PhantomMeasurements::Deviation(nominal[k], v[k]);
  return Four(d);
}

py::dict AnalyzePhantom(const PyCollection& scan, const PyCollection& samples,
                        const py::object& seed, std::size_t nPlanes) {
  const char* const why = "the analysis needs them";
  RequireNormals(scan, "scan", why);
  RequireNormals(samples, "samples", why);
  if (nPlanes < 7 || nPlanes > 1000) PyRaise(EPyError::eValue, "planes: expected 7..1000");
  const bool bSeed = !seed.is_none();
  const unsigned int nSeed = bSeed ? seed.cast<unsigned int>() : 0u;

  KaCCalibrationPhantomCCTAnalyzer analyzer(scan.sp, samples.sp, nPlanes);
  CbSmartPointer<KaCSurfelCollectionCCT> spColoured;
  PyGuard(EPyError::eValue, [&] {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(s_randMutex);
    if (bSeed) std::srand(nSeed);
    spColoured = analyzer.Compute();
  });
  const tolvane::cli::PhantomMeasurements meas = PyGuard(EPyError::eValue, [&] {
    return tolvane::cli::PhantomMeasurements(analyzer.GetLines(), analyzer.GetNormal(0));
  });
  if (!meas.IsFinite()) {
    PyRaise(EPyError::eValue,
            "the analysis found no corners (planes parallel or missing); is it a scan of the "
            "phantom with enough surfels on every face?");
  }
  using M = tolvane::cli::PhantomMeasurements;
  py::dict r;
  r["texts"] =
      std::vector<std::wstring>{analyzer.GetDepthStatistics(), analyzer.GetShearingStatistics(),
                                analyzer.GetWidthStatistics(), analyzer.GetHeightStatistics()};
  std::vector<CbVector3f> normals;
  std::vector<std::string> roles;
  py::array_t<std::int64_t> counts(static_cast<py::ssize_t>(analyzer.GetNrPlanes()));
  for (std::size_t i = 0; i < analyzer.GetNrPlanes(); ++i) {
    normals.push_back(analyzer.GetNormal(i));
    roles.push_back(tolvane::cli::phantom_report::PlaneRole(i));
    counts.mutable_at(static_cast<py::ssize_t>(i)) =
        static_cast<std::int64_t>(analyzer.GetNrSamples(i));
  }
  r["plane_normals"] = Points(normals);
  r["plane_samples"] = counts;
  r["plane_roles"] = roles;
  r["display_points"] = Points(analyzer.GetLines());
  r["iterations"] = analyzer.GetNrIterations();
  r["initialization_duration_s"] = analyzer.GetInitializationDuration();
  r["overall_duration_s"] = analyzer.GetOverallDuration();
  r["samples"] = samples.Get().GetNrSurfels();
  r["mean_depth_mm"] = meas.GetMeanDepth();
  r["depth_deviation_um"] = meas.GetDepthDeviation();
  r["depth_deviation_percent"] = meas.GetDepthDeviationPercent();
  r["depth_mm"] = Four(meas.GetDepths());
  r["shearing_mm"] = Four(meas.GetShearings());
  r["width_mm"] = Four(meas.GetWidths());
  r["height_mm"] = Four(meas.GetHeights());
  r["shearing_deviation_um"] = Deviations(M::c_fNominalShearing, meas.GetShearings());
  r["width_deviation_um"] = Deviations(M::c_fNominalWidth, meas.GetWidths());
  r["height_deviation_um"] = Deviations(M::c_fNominalHeight, meas.GetHeights());
  r["nominal_depth_mm"] = M::c_fNominalDepth;
  r["nominal_shearing_mm"] = Four(M::c_fNominalShearing);
  r["nominal_width_mm"] = Four(M::c_fNominalWidth);
  r["nominal_height_mm"] = Four(M::c_fNominalHeight);
  r["coloured"] = std::make_shared<PyCollection>(spColoured, true);
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
        py::arg("planes"));
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
