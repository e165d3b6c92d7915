// Compaction by quality range and by tissue type against the floor of a plain copy of the same
// collection's attribute arrays (into arrays allocated once), and colour coding by quality
// against one read pass over the quality and colour arrays; both floors measured in the run.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <tolvane/KaCMpDiscardCheek.h>
#include <tolvane/KaCMpDiscardQualityRange.h>
#include <tolvane/KaCMpFtColorCodeByQuality.h>

#include "BenchFloor.h"
#include "container/CySurfelCollectionBase.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "filters/CompactionKernels.h"

namespace {

// n surfels on a grid with varied colours, tissue types and boundary flags; qualities run
// through k/15 for k = 0..15 in order, or with bScattered take those values at random (so that
// removed and kept surfels alternate unpredictably).
KaCSurfelCollectionCCT MakeCollection(unsigned int n, bool bScattered = false) {
  KaCSurfelCollectionCCT c(n, true);
  std::mt19937 rng(7);
  const auto pos = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  for (unsigned int i = 0; i < n; ++i) {
    pos[i] = CbVector3f(static_cast<float>(i % 1000), static_cast<float>(i / 1000), 0.0f);
    colors[i] = KaCCompressedColor(static_cast<int>(rng() & 0xFFu), static_cast<int>(rng() & 0xFFu),
                                   static_cast<int>(rng() & 0xFFu));
    const unsigned int k = bScattered ? static_cast<unsigned int>(rng() % 16) : i % 16;
    c.GetQualityAccessor().Set(i, static_cast<float>(k) / 15.0f);
    c.GetTissueTypeAccessor().Set(i, static_cast<unsigned char>(i % 4));
    c.GetBoundaryFlagAccessor().Set(i, i % 3 == 0);
  }
  return c;
}

// 0..7/15 holds exactly half of the qualities.
constexpr float c_fHalf = 7.5f / 15.0f;

// Every attribute array of the collection, as the floors see it.
std::vector<tolvane_bench::FloorArray> AttributeArrays(const KaCSurfelCollectionCCT& c,
                                                       bool bWritten) {
  const CyAttributeContainer& attributes = c.GetCySurfelCollection()->GetAttributeContainer();
  std::vector<tolvane_bench::FloorArray> arrays;
  for (unsigned int id : attributes.GetIds()) {
    arrays.push_back({std::size_t{c.GetNrSurfels()} * attributes.Get(id).nElementSize, bWritten});
  }
  return arrays;
}

// The same copy into freshly allocated arrays, as a compaction must make: it adds what the
// allocator and the first touch of new pages cost on this machine.
void BM_Floor_AllocateAndCopyCollectionBytes(benchmark::State& state) {
  const auto n = static_cast<unsigned int>(state.range(0));
  const KaCSurfelCollectionCCT c = MakeCollection(n);
  const CyAttributeContainer& attributes = c.GetCySurfelCollection()->GetAttributeContainer();
  std::vector<CyAttributeContainer::View> views;
  for (unsigned int id : attributes.GetIds()) views.push_back(attributes.Get(id));
  for (auto _ : state) {
    std::vector<std::vector<unsigned char>> copies;
    copies.reserve(views.size());
    for (const CyAttributeContainer::View& v : views) {
      const auto* p = static_cast<const unsigned char*>(v.pData);
      copies.emplace_back(p, p + static_cast<std::size_t>(n) * v.nElementSize);
    }
    benchmark::DoNotOptimize(copies.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  tolvane_bench::ReportFloorRatio(state, tolvane_bench::CopySeconds(AttributeArrays(c, true)));
}
BENCHMARK(BM_Floor_AllocateAndCopyCollectionBytes)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// Times the filter on fresh copies of the source (the copy itself untimed) and checks that
// nExpected surfels stay.
template <class Filter>
void TimeCompaction(benchmark::State& state, const KaCSurfelCollectionCCT& source,
                    const Filter& filter, unsigned int nExpected) {
  KaCSurfelCollectionCCT work(0);
  for (auto _ : state) {
    state.PauseTiming();
    work = source;
    state.ResumeTiming();
    filter(work);
    benchmark::DoNotOptimize(work.GetNrSurfels());
  }
  if (work.GetNrSurfels() != nExpected) state.SkipWithError("kept the wrong surfels");
  state.SetItemsProcessed(state.iterations() * state.range(0));
  tolvane_bench::ReportFloorRatio(state, tolvane_bench::CopySeconds(AttributeArrays(source, true)));
}

// state.range(1): 0 for qualities in order (runs of eight kept and eight removed surfels),
// 1 for scattered qualities. state.range(2): 0 switches the compaction's vector kernels off, as
// on a processor without them.
void BM_KaCMpDiscardQualityRange_RemoveHalf(benchmark::State& state) {
  const auto n = static_cast<unsigned int>(state.range(0));
  const KaCSurfelCollectionCCT source = MakeCollection(n, state.range(1) != 0);
  unsigned int nExpected = 0;
  for (unsigned int i = 0; i < n; ++i) nExpected += source.GetQualityAccessor()[i] > c_fHalf;
  SetCompactionVectorsEnabled(state.range(2) != 0);
  TimeCompaction(state, source, KaCMpDiscardQualityRange(0.0f, c_fHalf), nExpected);
  SetCompactionVectorsEnabled(true);
}
BENCHMARK(BM_KaCMpDiscardQualityRange_RemoveHalf)
    ->ArgsProduct({{100000, 1000000}, {0, 1}, {1}})
    ->Args({1000000, 0, 0})
    ->Args({1000000, 1, 0})
    ->ArgNames({"n", "scattered", "vectors"})
    ->Unit(benchmark::kMillisecond);

// Tissue types run through 0..3, so codes 2 and 3 take half of the surfels.
void BM_KaCMpDiscardCheek_RemoveHalf(benchmark::State& state) {
  const auto n = static_cast<unsigned int>(state.range(0));
  TimeCompaction(state, MakeCollection(n), KaCMpDiscardCheek(), n / 2);
}
BENCHMARK(BM_KaCMpDiscardCheek_RemoveHalf)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_KaCMpFtColorCodeByQuality_Quality(benchmark::State& state) {
  const auto n = static_cast<unsigned int>(state.range(0));
  KaCSurfelCollectionCCT c = MakeCollection(n);
  KaCMpFtColorCodeByQuality::SetColorCodedEntity(0);
  const KaCMpFtColorCodeByQuality filter;
  for (auto _ : state) {
    filter(c);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  // The filter reads every quality and writes every colour: x_floor is one read pass over those
  // arrays at full width, x_surfel_pass the same read surfel by surfel through pointer and stride.
  const std::size_t nQualityBytes = c.HasAttribute(eSurfelAttributeQuality) ? 4 : 1;
  tolvane_bench::ReportFloorRatio(
      state,
      tolvane_bench::ReadPassSeconds({{nQualityBytes * n, false}, {3 * std::size_t{n}, false}}));
  const auto quality = c.GetAccessor<unsigned int>(eSurfelAttributeQuality);
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  tolvane_bench::ReportFloorRatio(
      state,
      tolvane_bench::CustomFloorSeconds("surfel read " + std::to_string(n),
                                        [&] {
                                          unsigned int sum = 0;
                                          unsigned int bytes = 0;
                                          for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) {
                                            sum += quality[i];
                                            bytes += colors[i].r + colors[i].g + colors[i].b;
                                          }
                                          benchmark::DoNotOptimize(sum);
                                          benchmark::DoNotOptimize(bytes);
                                        }),
      "x_surfel_pass");
}
BENCHMARK(BM_KaCMpFtColorCodeByQuality_Quality)
    ->Arg(100000)
    ->Arg(1000000)
    ->Arg(10000000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
