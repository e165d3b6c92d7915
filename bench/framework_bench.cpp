// The container's per-surfel building blocks: normal decoding and encoding, and the cost of
// applying a filter list, against a plain pass over the same bytes.
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include <tolvane/KaCFtAlgorithmsList.h>

#include "BenchFloor.h"
#include "container/KaAMpFtSurfelCollection.h"
#include "container/KaCNormalCodec.h"

namespace {

void BM_KaCNormalCodec_Decode(benchmark::State& state) {
  std::vector<unsigned short> codes(1 << 20);
  std::mt19937 rng(1);
  for (auto& c : codes) c = static_cast<unsigned short>(rng());
  for (auto _ : state) {
    float sum = 0.0f;
    for (unsigned short c : codes) sum += KaCNormalCodec::Decode(c).z;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(codes.size()));
  tolvane_bench::ReportFloorRatio(
      state, tolvane_bench::ReadPassSeconds(tolvane_bench::Bytes(2 * codes.size())));
}
BENCHMARK(BM_KaCNormalCodec_Decode);

void BM_KaCNormalCodec_Encode(benchmark::State& state) {
  std::vector<CbVector3f> normals(1 << 18);
  std::mt19937 rng(2);
  std::normal_distribution<float> g;
  for (auto& n : normals) n = CbVector3f(g(rng), g(rng), g(rng));
  for (auto _ : state) {
    unsigned int sum = 0;
    for (const CbVector3f& n : normals) sum += KaCNormalCodec::Encode(n);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(normals.size()));
  tolvane_bench::ReportFloorRatio(
      state,
      tolvane_bench::ReadPassSeconds(tolvane_bench::Bytes(sizeof(CbVector3f) * normals.size())));
}
BENCHMARK(BM_KaCNormalCodec_Encode);

class NoOpFilter : public KaAMpFtSurfelCollection {
 public:
  using KaAMpFtSurfelCollection::operator();
  void operator()(KaCSurfelCollectionCCT& c) const override { benchmark::DoNotOptimize(&c); }
};

// The list's own overhead per application: lock, walk, counted reference around each call. The
// floor calls the same filters directly through their interface.
void BM_KaCFtAlgorithmsList_Apply(benchmark::State& state) {
  KaCFtAlgorithmsList list;
  KaCFtAlgorithmsList::FilterList filters(10);
  for (int k = 0; k < state.range(0); ++k) filters.AddTail(new NoOpFilter);
  list.SetFilterAlgorithms(filters);
  KaCSurfelCollectionCCT c(1, true);
  for (auto _ : state) list(c);
  state.SetItemsProcessed(state.iterations() * state.range(0));
  std::vector<CbSmartPointer<KaIFtSurfelCollection>> direct;
  for (int k = 0; k < state.range(0); ++k) direct.emplace_back(new NoOpFilter);
  tolvane_bench::ReportFloorRatio(state, tolvane_bench::CustomFloorSeconds(
                                             "direct calls " + std::to_string(state.range(0)), [&] {
                                               for (const auto& sp : direct) (*sp)(c);
                                             }));
}
BENCHMARK(BM_KaCFtAlgorithmsList_Apply)->Arg(1)->Arg(8);

}  // namespace

BENCHMARK_MAIN();
