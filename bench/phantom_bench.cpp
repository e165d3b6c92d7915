// The phantom analysis on generated scans: the whole Compute, one k-means pass, and the
// sample-plane distance (vectorised acosf) against the scalar formula and a plain pass over
// the same bytes.
#include <cmath>
#include <cstdlib>
#include <vector>

#include <benchmark/benchmark.h>

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include <tolvane/KaCPhantomScanGenerator.h>

#include "tests/phantom/AnalyzerProbe.h"
#include "phantom/KaCPlaneDistanceKernel.h"

namespace {

using Probe = KaCCalibrationPhantomCCTAnalyzerProbe;

Probe::Collection Scan(unsigned int n) {
  KaCPhantomScanGenerator::Parameters p;
  p.nNrSurfels = n;
  p.fNoiseSigma = 0.01f;
  return KaCPhantomScanGenerator(p).Generate();
}

// Positions and normals of a scan as separate coordinate arrays, and the planes of an analysis.
struct Soa {
  std::vector<float> px, py, pz, mx, my, mz;
  std::vector<CyPlane> planes;
  explicit Soa(unsigned int n) {
    Probe::Collection scan = Scan(n);
    for (unsigned int s = 0; s < n; ++s) {
      const CbVector3f p = scan->GetPosition(s), m = scan->GetNormal(s);
      px.push_back(p.x), py.push_back(p.y), pz.push_back(p.z);
      mx.push_back(m.x), my.push_back(m.y), mz.push_back(m.z);
    }
    KaCCalibrationPhantomCCTAnalyzer a(scan, scan, 7);
    std::srand(1);
    (void)a.Compute();
    planes = Probe(a).Planes();
  }
};

void BM_KaCCalibrationPhantomCCTAnalyzer_Compute(benchmark::State& state) {
  Probe::Collection scan = Scan(static_cast<unsigned int>(state.range(0)));
  std::srand(1);
  size_t nPasses = 0;
  for (auto _ : state) {
    KaCCalibrationPhantomCCTAnalyzer a(scan, scan, 7);
    benchmark::DoNotOptimize(a.Compute());
    nPasses += a.GetNrIterations();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["passes_last_restart"] =
      benchmark::Counter(static_cast<double>(nPasses), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_KaCCalibrationPhantomCCTAnalyzer_Compute)->Arg(200000)->Unit(benchmark::kMillisecond);

// One k-means pass: assignment of every sample to its nearest of seven planes, then the refit.
void BM_KaCCalibrationPhantomCCTAnalyzer_KMeansPass(benchmark::State& state) {
  Probe::Collection scan = Scan(static_cast<unsigned int>(state.range(0)));
  KaCCalibrationPhantomCCTAnalyzer a(scan, scan, 7);
  std::srand(1);
  (void)a.Compute();
  Probe probe(a);
  Probe::Clusters clusters(7);
  for (auto _ : state) {
    for (auto& c : clusters) c.clear();
    probe.Distribute(scan, clusters);
    probe.EstimatePlanes(scan, clusters);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_KaCCalibrationPhantomCCTAnalyzer_KMeansPass)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond);

// Sample-plane distances; items are sample-plane pairs.
void BM_KaCPlaneDistanceKernel_Distances(benchmark::State& state) {
  const Soa soa(static_cast<unsigned int>(state.range(0)));
  std::vector<float> d(soa.px.size());
  for (auto _ : state) {
    for (const CyPlane& plane : soa.planes) {
      KaCPlaneDistanceKernel::Distances(soa.px.data(), soa.py.data(), soa.pz.data(), soa.mx.data(),
                                        soa.my.data(), soa.mz.data(), d.size(), plane, d.data());
      benchmark::DoNotOptimize(d.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 7);
}
BENCHMARK(BM_KaCPlaneDistanceKernel_Distances)->Arg(200000);

// The same formula with the scalar acosf, one call per pair.
void BM_KaCPlaneDistanceKernel_ScalarDistances(benchmark::State& state) {
  const Soa soa(static_cast<unsigned int>(state.range(0)));
  std::vector<float> d(soa.px.size());
  for (auto _ : state) {
    for (const CyPlane& plane : soa.planes) {
      const CbVector3f& n = plane.GetNormal();
      for (size_t k = 0; k < d.size(); ++k) {
        const CbVector3f p(soa.px[k], soa.py[k], soa.pz[k]);
        const float c = (soa.mx[k] * n.x + soa.my[k] * n.y) + soa.mz[k] * n.z;
        d[k] = std::acos(std::fabs(c)) / 3.1415927f * 0.5f + plane.GetDistance(p);
      }
      benchmark::DoNotOptimize(d.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 7);
}
BENCHMARK(BM_KaCPlaneDistanceKernel_ScalarDistances)->Arg(200000);

// Floor: read the six input arrays and write one float per pair, no arithmetic to speak of.
void BM_KaCPlaneDistanceKernel_Floor(benchmark::State& state) {
  const Soa soa(static_cast<unsigned int>(state.range(0)));
  std::vector<float> d(soa.px.size());
  for (auto _ : state) {
    for (size_t j = 0; j < soa.planes.size(); ++j) {
      for (size_t k = 0; k < d.size(); ++k) {
        d[k] = soa.px[k] + soa.py[k] + soa.pz[k] + soa.mx[k] + soa.my[k] + soa.mz[k];
      }
      benchmark::DoNotOptimize(d.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 7);
}
BENCHMARK(BM_KaCPlaneDistanceKernel_Floor)->Arg(200000);

}  // namespace

BENCHMARK_MAIN();
