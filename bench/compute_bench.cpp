// The distance between two collections of 1,000,000 surfels each: kd-tree build and Compute
// reported apart, against the same single-nearest queries made straight on nanoflann. Each runs
// on collections stored in a spatially coherent order (Morton order of the sampling grid) and
// on the same collections stored in random order.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <nanoflann.hpp>

#include <tolvane/CMpComputeSurfelCollectionDistance.h>
#include <tolvane/ParallelSurfelDistance.h>

#include "BenchFloor.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyKdTree.h"
#include "geometry/CyKdTreeInterface.h"

namespace {

constexpr unsigned int c_nGrid = 1000;  // 1000 x 1000 surfels per collection
constexpr float c_fSpacing = 0.05f;     // mm, as on a scanned tooth

// A smooth wavy surface z = h(x, y) and its unit normal.
float Height(float x, float y) { return 2.0f * std::sin(x * 0.3f) * std::cos(y * 0.2f); }
CbVector3f SurfaceNormal(float x, float y) {
  const float dx = 0.6f * std::cos(x * 0.3f) * std::cos(y * 0.2f);
  const float dy = -0.4f * std::sin(x * 0.3f) * std::sin(y * 0.2f);
  return CbVector3f(-dx, -dy, 1.0f).Normalized();
}

std::uint64_t Interleave2(std::uint32_t a, std::uint32_t b) {
  std::uint64_t r = 0;
  for (int bit = 0; bit < 16; ++bit) {
    r |= static_cast<std::uint64_t>((a >> bit) & 1u) << (2 * bit);
    r |= static_cast<std::uint64_t>((b >> bit) & 1u) << (2 * bit + 1);
  }
  return r;
}

// Surfel k of the result is grid sample order[k]; the offset shifts the sampling grid so that
// the moving collection does not sit exactly on the reference's samples.
std::unique_ptr<KaCSurfelCollectionCCT> MakeSurface(const std::vector<unsigned int>& order,
                                                    float fOffset, unsigned int seed) {
  const auto n = static_cast<unsigned int>(order.size());
  auto c = std::make_unique<KaCSurfelCollectionCCT>(n, true);
  auto pos = c->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  auto normals = c->GetNormalAccessor();
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> jitter(-0.2f * c_fSpacing, 0.2f * c_fSpacing);
  for (unsigned int k = 0; k < n; ++k) {
    const unsigned int g = order[k];
    const float x = (static_cast<float>(g % c_nGrid) + fOffset) * c_fSpacing + jitter(rng);
    const float y = (static_cast<float>(g / c_nGrid) + fOffset) * c_fSpacing + jitter(rng);
    pos[k] = CbVector3f(x, y, Height(x, y));
    normals[k] = KaCNormalCodec::Encode(SurfaceNormal(x, y));
  }
  return c;
}

// A small rigid motion: 0.5 degree about z, then a shift of 0.02 mm.
CbMatrix4Rd Motion() {
  CbMatrix4Rd m;
  const double a = 0.5 * 3.14159265358979 / 180.0;
  m(0, 0) = std::cos(a);
  m(0, 1) = -std::sin(a);
  m(1, 0) = std::sin(a);
  m(1, 1) = std::cos(a);
  m(0, 3) = 0.01;
  m(1, 3) = 0.01;
  m(2, 3) = 0.02;
  return m;
}

struct Scene {
  std::unique_ptr<KaCSurfelCollectionCCT> spReference;
  std::unique_ptr<KaCSurfelCollectionCCT> spMoving;
  std::vector<CbVector3f> vecQueries;  // the moved positions, in the moving storage order
};

// Arg 0: coherent storage order; 1: random storage order. Built once per order.
const Scene& GetScene(int iRandom) {
  static std::unique_ptr<Scene> scenes[2];
  if (!scenes[iRandom]) {
    std::vector<unsigned int> order(c_nGrid * c_nGrid);
    std::iota(order.begin(), order.end(), 0u);
    if (iRandom != 0) {
      std::shuffle(order.begin(), order.end(), std::mt19937(7));
    } else {
      std::sort(order.begin(), order.end(), [](unsigned int a, unsigned int b) {
        return Interleave2(a % c_nGrid, a / c_nGrid) < Interleave2(b % c_nGrid, b / c_nGrid);
      });
    }
    auto scene = std::make_unique<Scene>();
    scene->spReference = MakeSurface(order, 0.0f, 1);
    scene->spMoving = MakeSurface(order, 0.5f, 2);
    const CbMatrix4Rd m = Motion();
    const auto pos = scene->spMoving->GetAccessor<CbVector3f>(eSurfelAttributePosition);
    scene->vecQueries.resize(order.size());
    for (unsigned int i = 0; i < order.size(); ++i) {
      const double x = pos[i].x, y = pos[i].y, z = pos[i].z;
      scene->vecQueries[i] =
          CbVector3f(static_cast<float>(m[0] * x + m[4] * y + m[8] * z + m[12]),
                     static_cast<float>(m[1] * x + m[5] * y + m[9] * z + m[13]),
                     static_cast<float>(m[2] * x + m[6] * y + m[10] * z + m[14]));
    }
    scenes[iRandom] = std::move(scene);
  }
  return *scenes[iRandom];
}

// The floor: nanoflann used directly on the reference positions in their storage order, the
// same queries in the same order.
struct RawCloud {
  std::vector<CbVector3f> points;
  [[nodiscard]] std::size_t kdtree_get_point_count() const { return points.size(); }
  [[nodiscard]] float kdtree_get_pt(std::size_t i, std::size_t dim) const {
    return points[i][static_cast<int>(dim)];
  }
  template <class BBox>
  bool kdtree_get_bbox(BBox& /*bb*/) const {
    return false;
  }
};
using RawIndex = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, RawCloud>,
                                                     RawCloud, 3, unsigned int>;

// The reference positions copied into a RawCloud, once per storage order.
const RawCloud& GetRawCloud(int iRandom) {
  static std::unique_ptr<RawCloud> clouds[2];
  if (!clouds[iRandom]) {
    const Scene& s = GetScene(iRandom);
    clouds[iRandom] = std::make_unique<RawCloud>();
    const auto pos = s.spReference->GetAccessor<CbVector3f>(eSurfelAttributePosition);
    for (unsigned int i = 0; i < s.spReference->GetNrSurfels(); ++i) {
      clouds[iRandom]->points.push_back(pos[i]);
    }
  }
  return *clouds[iRandom];
}

// One single-nearest query per moved surfel, in storage order, straight on nanoflann.
unsigned int RawQueries(const RawIndex& index, const std::vector<CbVector3f>& queries) {
  unsigned int sum = 0;
  for (const CbVector3f& q : queries) {
    // Two slots where one is used: GCC's bounds warning cannot see that a result set of
    // capacity 1 never writes the second.
    unsigned int idx[2] = {0, 0};
    float d2[2] = {0.0f, 0.0f};
    nanoflann::KNNResultSet<float, unsigned int, unsigned int> result(1);
    result.init(idx, d2);
    const float p[3] = {q.x, q.y, q.z};
    index.findNeighbors(result, p, nanoflann::SearchParams());
    sum += idx[0];
  }
  return sum;
}

// The floors of the distance: nanoflann's queries alone, its build alone, and both.
double RawQueryFloor(int iRandom) {
  const RawCloud& cloud = GetRawCloud(iRandom);
  const RawIndex index(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
  return tolvane_bench::CustomFloorSeconds("nanoflann query " + std::to_string(iRandom), [&] {
    benchmark::DoNotOptimize(RawQueries(index, GetScene(iRandom).vecQueries));
  });
}
double RawBuildFloor(int iRandom) {
  const RawCloud& cloud = GetRawCloud(iRandom);
  return tolvane_bench::CustomFloorSeconds("nanoflann build " + std::to_string(iRandom), [&] {
    const RawIndex index(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    benchmark::DoNotOptimize(&index);
  });
}
double RawBuildAndQueryFloor(int iRandom) {
  const RawCloud& cloud = GetRawCloud(iRandom);
  return tolvane_bench::CustomFloorSeconds("nanoflann build+query " + std::to_string(iRandom), [&] {
    const RawIndex index(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    benchmark::DoNotOptimize(RawQueries(index, GetScene(iRandom).vecQueries));
  });
}

void Label(benchmark::State& state) { state.SetLabel(state.range(0) == 0 ? "coherent" : "random"); }

// Building the reference's kd-tree (on first use of GetKdTree) with state.range(1) threads, in
// wall time; the floor is nanoflann's build of the same points on one thread.
void BM_CyKdTree_Build(benchmark::State& state) {
  const Scene& s = GetScene(static_cast<int>(state.range(0)));
  const auto nThreads = static_cast<unsigned int>(state.range(1));
  for (auto _ : state) {
    s.spReference->ResetSupportStructures();
    benchmark::DoNotOptimize(&s.spReference->GetKdTree(nThreads));
  }
  state.SetItemsProcessed(state.iterations() * s.spReference->GetNrSurfels());
  tolvane_bench::ReportFloorRatio(state, RawBuildFloor(static_cast<int>(state.range(0))));
  Label(state);
}
BENCHMARK(BM_CyKdTree_Build)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"random", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Compute with the reference's kd-tree already built.
void BM_CMpComputeSurfelCollectionDistance_Compute(benchmark::State& state) {
  const Scene& s = GetScene(static_cast<int>(state.range(0)));
  (void)s.spReference->GetKdTree();
  CMpComputeSurfelCollectionDistance distance;
  distance.SetInput(*s.spReference, *s.spMoving, Motion(), 0.1f);
  for (auto _ : state) {
    distance.Compute();
    benchmark::DoNotOptimize(distance.GetResult().data());
  }
  state.SetItemsProcessed(state.iterations() * s.spMoving->GetNrSurfels());
  // The share of surfels that got a distance (the rest got the marker).
  const std::vector<float>& r = distance.GetResult();
  state.counters["measured"] =
      static_cast<double>(std::count_if(
          r.begin(), r.end(),
          [](float d) { return d != CMpComputeSurfelCollectionDistance::c_fNoDistance; })) /
      static_cast<double>(r.size());
  tolvane_bench::ReportFloorRatio(state, RawQueryFloor(static_cast<int>(state.range(0))));
  Label(state);
}
BENCHMARK(BM_CMpComputeSurfelCollectionDistance_Compute)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// The same over several threads (state.range(1)) against the one-threaded raw queries: wall time,
// so the ratio falls as threads are added (ideally to 1/threads of the one-threaded ratio).
// "speedup" is the median wall time of one thread over the median of this one's, the one-thread
// runs taken between this one's iterations (outside their timing) so that both see the machine
// in the same state; a result that differs from one thread's bit for bit is an error.
void BM_ParallelSurfelDistance_Compute(benchmark::State& state) {
  const int random = static_cast<int>(state.range(0));
  const Scene& s = GetScene(random);
  (void)s.spReference->GetKdTree();
  tolvane::ParallelSurfelDistance one(1);
  one.SetInput(*s.spReference, *s.spMoving, Motion(), 0.1f);
  tolvane::ParallelSurfelDistance distance(static_cast<unsigned int>(state.range(1)));
  distance.SetInput(*s.spReference, *s.spMoving, Motion(), 0.1f);
  const auto wallSeconds = [](tolvane::ParallelSurfelDistance& d) {
    const auto start = std::chrono::steady_clock::now();
    d.Compute();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  std::vector<double> oneTimes;
  std::vector<double> times;
  for (auto _ : state) {
    state.PauseTiming();
    oneTimes.push_back(wallSeconds(one));
    state.ResumeTiming();
    times.push_back(wallSeconds(distance));
    benchmark::DoNotOptimize(distance.GetResult().data());
  }
  const std::vector<float>& a = one.GetResult();
  const std::vector<float>& b = distance.GetResult();
  if (a.size() != b.size() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) != 0) {
    state.SkipWithError("results differ from one thread's");
  }
  state.SetItemsProcessed(state.iterations() * s.spMoving->GetNrSurfels());
  tolvane_bench::ReportFloorRatio(state, RawQueryFloor(random));
  const auto median = [](std::vector<double>& v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  };
  state.counters["speedup"] = median(oneTimes) / median(times);
  Label(state);
}
BENCHMARK(BM_ParallelSurfelDistance_Compute)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"random", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The whole measurement as a host without a built tree sees it: kd-tree build and Compute.
void BM_CMpComputeSurfelCollectionDistance_BuildAndCompute(benchmark::State& state) {
  const Scene& s = GetScene(static_cast<int>(state.range(0)));
  CMpComputeSurfelCollectionDistance distance;
  distance.SetInput(*s.spReference, *s.spMoving, Motion(), 0.1f);
  for (auto _ : state) {
    s.spReference->ResetSupportStructures();
    distance.Compute();
    benchmark::DoNotOptimize(distance.GetResult().data());
  }
  state.SetItemsProcessed(state.iterations() * s.spMoving->GetNrSurfels());
  tolvane_bench::ReportFloorRatio(state, RawBuildAndQueryFloor(static_cast<int>(state.range(0))));
  Label(state);
}
BENCHMARK(BM_CMpComputeSurfelCollectionDistance_BuildAndCompute)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// Our query object alone, queries in storage order.
void BM_CyKdTreeInterface_Query(benchmark::State& state) {
  const Scene& s = GetScene(static_cast<int>(state.range(0)));
  CyKdTreeInterface query(s.spReference->GetKdTree(), false);
  for (auto _ : state) {
    unsigned int sum = 0;
    for (const CbVector3f& q : s.vecQueries) {
      query.QueryNeighbors(q, 1);
      sum += query.GetNeighborPositionIndex(0);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(s.vecQueries.size()));
  tolvane_bench::ReportFloorRatio(state, RawQueryFloor(static_cast<int>(state.range(0))));
  Label(state);
}
BENCHMARK(BM_CyKdTreeInterface_Query)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Nanoflann_Query(benchmark::State& state) {
  const Scene& s = GetScene(static_cast<int>(state.range(0)));
  const RawIndex index(3, GetRawCloud(static_cast<int>(state.range(0))),
                       nanoflann::KDTreeSingleIndexAdaptorParams(10));
  for (auto _ : state) benchmark::DoNotOptimize(RawQueries(index, s.vecQueries));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(s.vecQueries.size()));
  Label(state);
}
BENCHMARK(BM_Nanoflann_Query)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// nanoflann's own build over the same points, the floor of BM_CyKdTree_Build.
void BM_Nanoflann_Build(benchmark::State& state) {
  const RawCloud& cloud = GetRawCloud(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const RawIndex index(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    benchmark::DoNotOptimize(&index);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cloud.points.size()));
  Label(state);
}
BENCHMARK(BM_Nanoflann_Build)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
