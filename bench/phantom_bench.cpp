// The phantom analysis on generated scans: the trust layer around it, the whole Compute, one
// k-means pass, and the sample-plane distance (vectorised acosf) against the scalar formula and a
// plain pass over the same bytes.
#include <malloc.h>

#include <ctime>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include <tolvane/PhantomAnalysis.h>
#include "synth/PhantomScanGenerator.h"

#include "BenchFloor.h"
#include "tests/phantom/AnalyzerProbe.h"
#include "container/CySurfelCollectionBase.h"
#include "phantom/KaCPlaneDistanceKernel.h"

namespace {

using Probe = KaCCalibrationPhantomCCTAnalyzerProbe;

Probe::Collection Scan(unsigned int n) {
  tolvane::synth::PhantomScanGenerator::Parameters p;
  p.nNrSurfels = n;
  p.fNoiseSigma = 0.01f;
  return tolvane::synth::PhantomScanGenerator(p).Generate();
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

// Resident memory of the process, kB, from /proc/self/status ("VmRSS" or "VmHWM").
double ResidentKb(const char* pField) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(pField);
  while (std::getline(status, line)) {
    if (line.compare(0, n, pField) == 0 && line.size() > n && line[n] == ':') {
      return std::strtod(line.c_str() + n + 1, nullptr);
    }
  }
  return 0.0;
}

// Processor time of the process, ns (the analysis runs on one thread).
double ProcessCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// Starts a new peak: the kernel resets VmHWM to the current resident size.
void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

// The smallest size, the reference for the scaling ratio of the larger sizes.
constexpr int c_nSmallestScan = 200000;

// Resident memory before the scan, with it, and the peak while the loop ran (kB), and the
// processor time the loop took (ns).
struct Measured {
  double fBeforeScanKb = 0.0, fWithScanKb = 0.0, fPeakKb = 0.0, fCpuNs = 0.0;
};

// The counters of an analysis at scale (see ComputeAtScale), and the floor ratio.
void ReportAtScale(benchmark::State& state, const Measured& m, double& fSmallestNsPerSurfel) {
  const auto n = static_cast<double>(state.range(0));
  const double fNsPerSurfel = m.fCpuNs / static_cast<double>(state.iterations()) / n;
  if (state.range(0) == c_nSmallestScan) fSmallestNsPerSurfel = fNsPerSurfel;
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["ns_per_surfel"] = fNsPerSurfel;
  state.counters["per_surfel_vs_smallest"] = fNsPerSurfel / fSmallestNsPerSurfel;
  state.counters["scan_B_per_surfel"] = (m.fWithScanKb - m.fBeforeScanKb) * 1024.0 / n;
  state.counters["peak_B_per_surfel"] = (m.fPeakKb - m.fBeforeScanKb) * 1024.0 / n;
  state.counters["analysis_B_per_surfel"] = (m.fPeakKb - m.fWithScanKb) * 1024.0 / n;
  const auto nSurfels = static_cast<std::size_t>(state.range(0));
  tolvane_bench::ReportFloorRatio(
      state, tolvane_bench::ReadPassSeconds({{nSurfels * sizeof(CbVector3f), false},
                                             {nSurfels * sizeof(unsigned short), false}}));
}

// Runs body() once per iteration once the scan (and what the benchmark made beside it) is in
// memory, and measures the process's CPU time and peak resident memory from there;
// fBeforeScanKb is the resident memory before the scan was made.
template <class Body>
Measured MeasureIterations(benchmark::State& state, double fBeforeScanKb, Body body) {
  CyAttributeContainer::ReleaseCachedBlocks();
  malloc_trim(0);
  Measured m;
  m.fBeforeScanKb = fBeforeScanKb;
  m.fWithScanKb = ResidentKb("VmRSS");
  ResetPeak();
  const double fCpu0 = ProcessCpuNs();
  for (auto _ : state) body();
  m.fCpuNs = ProcessCpuNs() - fCpu0;
  m.fPeakKb = ResidentKb("VmHWM");
  return m;
}

// The whole analysis at scale, on one collection used for clustering and measurement; the scan
// is generated outside the timing. Counters:
// - ns_per_surfel: processor time per surfel (the analysis runs on one thread; on a busy
//   machine the turns of other processes are left out, unlike the real time column);
// - per_surfel_vs_smallest: ns_per_surfel over that of the smallest size in the same run;
// - scan_B_per_surfel: resident bytes the scan takes;
// - peak_B_per_surfel: peak resident bytes of scan and analysis together;
// - analysis_B_per_surfel: the peak the analysis adds to the scan, its result copy included;
// - x_floor: the time over one read pass over the positions and normal codes of the scan.
// Freed heap and cached collection blocks are handed back first, so that reused memory does not
// hide what a size needs.
//
// The thinned form clusters on every k-th surfel of the scan (k = n / 200000, at least 1) and
// measures the whole scan, as a caller may do to keep the clustering's cost fixed; the copy is
// made before the timing and counted with the scan.
void ComputeAtScale(benchmark::State& state, bool bThinned, double& fSmallestNsPerSurfel) {
  const auto n = static_cast<unsigned int>(state.range(0));
  CyAttributeContainer::ReleaseCachedBlocks();
  malloc_trim(0);
  const double fBeforeScan = ResidentKb("VmRSS");
  Probe::Collection scan = Scan(n);
  Probe::Collection clustering = scan;
  if (bThinned && n > c_nSmallestScan) {
    const unsigned int nStep = n / c_nSmallestScan;
    CbSmartPointer<KaCSurfelCollectionCCT> thin(new KaCSurfelCollectionCCT(n / nStep));
    const auto from = scan->GetAccessor<CbVector3f>(eSurfelAttributePosition);
    const auto fromCodes = scan->GetNormalAccessor();
    auto to = thin->GetAccessor<CbVector3f>(eSurfelAttributePosition);
    auto toCodes = thin->GetNormalAccessor();
    for (unsigned int i = 0; i < thin->GetNrSurfels(); ++i) {
      to[i] = from[i * nStep];
      toCodes[i] = fromCodes[i * nStep];
    }
    clustering = thin;
  }
  size_t nPasses = 0;
  const Measured m = MeasureIterations(state, fBeforeScan, [&] {
    // The same rand() state every time, so that every iteration does the same work.
    std::srand(1);
    KaCCalibrationPhantomCCTAnalyzer a(clustering, scan, 7);
    benchmark::DoNotOptimize(a.Compute());
    nPasses += a.GetNrIterations();
  });
  ReportAtScale(state, m, fSmallestNsPerSurfel);
  state.counters["passes_last_restart"] =
      benchmark::Counter(static_cast<double>(nPasses), benchmark::Counter::kAvgIterations);
}

// The sizes of the benchmarks at scale.
void AtScale(benchmark::internal::Benchmark* pBenchmark) {
  pBenchmark->Arg(c_nSmallestScan)->Arg(1000000)->Arg(4000000)->Arg(5000000);
  pBenchmark->Unit(benchmark::kMillisecond);
}

void BM_KaCCalibrationPhantomCCTAnalyzer_Compute(benchmark::State& state) {
  static double s_fSmallestNsPerSurfel = 0.0;
  ComputeAtScale(state, false, s_fSmallestNsPerSurfel);
}
BENCHMARK(BM_KaCCalibrationPhantomCCTAnalyzer_Compute)->Apply(AtScale);

void BM_KaCCalibrationPhantomCCTAnalyzer_ComputeThinnedClustering(benchmark::State& state) {
  static double s_fSmallestNsPerSurfel = 0.0;
  ComputeAtScale(state, true, s_fSmallestNsPerSurfel);
}
BENCHMARK(BM_KaCCalibrationPhantomCCTAnalyzer_ComputeThinnedClustering)->Apply(AtScale);

// The whole trust layer (PhantomAnalysis with its default options: thinning, cleaning,
// alignment, balanced walls, attempts, refinement on every sample) on one collection used for
// clustering and measurement, as `tolvane phantom` runs it. Counters as in ComputeAtScale.
void BM_PhantomAnalysis_Run(benchmark::State& state) {
  static double s_fSmallestNsPerSurfel = 0.0;
  const auto n = static_cast<unsigned int>(state.range(0));
  CyAttributeContainer::ReleaseCachedBlocks();
  malloc_trim(0);
  const double fBeforeScan = ResidentKb("VmRSS");
  Probe::Collection scan = Scan(n);
  int nAttempts = 0;
  const Measured m = MeasureIterations(state, fBeforeScan, [&] {
    std::srand(1);
    const tolvane::PhantomAnalysis analysis(scan, scan, tolvane::PhantomAnalysis::Options());
    const tolvane::PhantomAnalysis::Result r = analysis.Run();
    nAttempts += r.nAttempts;
    benchmark::DoNotOptimize(r.spColoured);
  });
  ReportAtScale(state, m, s_fSmallestNsPerSurfel);
  state.counters["attempts"] =
      benchmark::Counter(static_cast<double>(nAttempts), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_PhantomAnalysis_Run)->Apply(AtScale);

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
