// The acquisition road per surfel: colour compensation, tooth/gingiva classification and the
// whole pipeline outside training, against a plain read-modify-write pass over the same bytes.
// Every pass starts from the same frame (restored outside the timed region), so repeated
// passes neither saturate colours nor drive qualities into denormals.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <utility>

#include <benchmark/benchmark.h>

#include <tolvane/KaCFtAlgorithmsListCCTAcquisition.h>
#include <tolvane/KaCMpFtColorCompensate.h>
#include <tolvane/KaCMpFtSegmentTeethClassifier.h>
#include <tolvane/KaCMpFtToothTissueTrainingDuringAcquisition.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "BenchFloor.h"
#include "filters/AcquisitionFrames.h"
#include "tissue/KaHue.h"

namespace {

// A frame as the scanner delivers it: surfels in rows of 1000 over a smooth wavy surface that
// faces the scanner, gingiva below a wavy gum line and tooth above, each colour jittered by up
// to 8 units per channel. With bScattered the same colours and normals are shuffled over the
// frame instead, the worst case for caches and branch prediction.
KaCSurfelCollectionCCT MakeFrame(unsigned int n, bool bScattered) {
  KaCSurfelCollectionCCT c(n, true);
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> jitter(-8, 8);
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto normals = c.GetNormalAccessor();
  const unsigned int nWidth = 1000;
  const float fRows = static_cast<float>(n / nWidth + 1);
  for (unsigned int i = 0; i < n; ++i) {
    const float x = static_cast<float>(i % nWidth);
    const float y = static_cast<float>(i / nWidth);
    // Height 30 sin(x / 40) cos(y / 55); the normal is (dz/dx, dz/dy, -1) normalised.
    const CbVector3f n3(0.75f * std::cos(x / 40.0f) * std::cos(y / 55.0f),
                        -0.545f * std::sin(x / 40.0f) * std::sin(y / 55.0f), -1.0f);
    normals[i] = KaCNormalCodec::Encode(n3);
    const bool bGingiva = y < 0.4f * fRows + 30.0f * std::sin(x / 70.0f);
    const KaCCompressedColor base =
        bGingiva ? tolvane_test::c_gingivaColor : tolvane_test::c_toothColor;
    colors[i] =
        KaCCompressedColor(base.r + jitter(rng), base.g + jitter(rng), base.b + jitter(rng));
  }
  if (bScattered) {
    for (unsigned int i = n; i > 1; --i) {
      const unsigned int j = std::uniform_int_distribution<unsigned int>(0, i - 1)(rng);
      std::swap(colors[i - 1], colors[j]);
      std::swap(normals[i - 1], normals[j]);
    }
  }
  return c;
}

// Copies the bytes of one attribute of from over those of to (same count, same attribute set).
template <class T>
void CopyAttribute(const KaCSurfelCollectionCCT& from, KaCSurfelCollectionCCT& to,
                   unsigned int id) {
  const KaTAttributeAccessor<const T> src = from.GetAccessor<T>(id);
  const KaTAttributeAccessor<T> dst = to.GetAccessor<T>(id);
  std::memcpy(dst.pData, src.pData, static_cast<std::size_t>(from.GetNrSurfels()) * src.nStride);
}

// Runs op on the frame in every iteration and restores the attributes the filters change in
// place, outside the timed region (no allocation, so no page faults either).
// Frame sizes in scan order, and the largest also scattered.
void FrameArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"surfels", "scattered"});
  for (int n : {10000, 100000, 1000000}) b->Args({n, 0});
  b->Args({1000000, 1});
}

// One plain pass over the frame as the filters walk it, surfel by surfel through pointer and
// stride: read the colour, normal code, flag byte and quality of every surfel and write the
// colour, flag byte and quality back. The acquisition targets are set against this pass.
void SurfelReadModifyWrite(KaCSurfelCollectionCCT& c) {
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto normals = c.GetNormalAccessor();
  const auto flags = c.GetAccessor<unsigned char>(eSurfelAttributeFlags);
  const auto quality = c.GetAccessor<float>(eSurfelAttributeQuality);
  for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) {
    KaCCompressedColor& color = colors[i];
    const unsigned char bump = static_cast<unsigned char>(normals[i] & 1u);
    color.r = static_cast<unsigned char>(color.r ^ bump);
    flags[i] = static_cast<unsigned char>(flags[i] ^ (color.g & 6u));
    quality[i] = -quality[i];
  }
}

// Every benchmark here reports two ratios: x_floor to the machine's floor, one in-place pass
// over the same arrays at full width (the colour, normal code, flag byte and quality read, all
// but the normal written back), and x_surfel_pass to SurfelReadModifyWrite.
void ReportFrameFloors(benchmark::State& state, const KaCSurfelCollectionCCT& frame) {
  const std::size_t n = frame.GetNrSurfels();
  tolvane_bench::ReportFloorRatio(state,
                                  tolvane_bench::ReadModifyWritePassSeconds(
                                      {{3 * n, true}, {2 * n, false}, {n, true}, {4 * n, true}}));
  KaCSurfelCollectionCCT c(frame);
  tolvane_bench::ReportFloorRatio(
      state,
      tolvane_bench::CustomFloorSeconds(
          "surfel pass " + std::to_string(n) + " " + std::to_string(state.range(1)),
          [&] { SurfelReadModifyWrite(c); }),
      "x_surfel_pass");
}

template <class Op>
void RunOnFrame(benchmark::State& state, Op op) {
  const unsigned int n = static_cast<unsigned int>(state.range(0));
  const KaCSurfelCollectionCCT frame = MakeFrame(n, state.range(1) != 0);
  KaCSurfelCollectionCCT c(frame);
  for (auto _ : state) {
    op(c);
    benchmark::ClobberMemory();
    state.PauseTiming();
    CopyAttribute<KaCCompressedColor>(frame, c, eSurfelAttributeColor);
    CopyAttribute<unsigned char>(frame, c, eSurfelAttributeFlags);
    CopyAttribute<float>(frame, c, eSurfelAttributeQuality);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n));
  ReportFrameFloors(state, frame);
}

void BM_Floor_ReadModifyWrite(benchmark::State& state) { RunOnFrame(state, SurfelReadModifyWrite); }
BENCHMARK(BM_Floor_ReadModifyWrite)->Apply(FrameArgs);

// The shared hue function alone over the frame's colours: what classification cannot go below.
void BM_KaComputeHue_Frame(benchmark::State& state) {
  RunOnFrame(state, [](KaCSurfelCollectionCCT& c) {
    const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
    int sum = 0;
    for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) sum += KaComputeHue(colors[i].GetPacked());
    benchmark::DoNotOptimize(sum);
  });
}
BENCHMARK(BM_KaComputeHue_Frame)->Apply(FrameArgs);

void BM_KaCMpFtColorCompensate_Apply(benchmark::State& state) {
  const CbSmartPointer<KaIFtSurfelCollection> spFilter(new KaCMpFtColorCompensate);
  RunOnFrame(state, [&](KaCSurfelCollectionCCT& c) { (*spFilter)(c); });
}
BENCHMARK(BM_KaCMpFtColorCompensate_Apply)->Apply(FrameArgs);

void BM_KaCMpFtSegmentTeethClassifier_Apply(benchmark::State& state) {
  const CbSmartPointer<KaIFtSurfelCollection> spFilter(new KaCMpFtSegmentTeethClassifier(
      KaCToothTissueMath::c_iDefaultToothTissueThreshold, 120, 0.5f, 0.0f, false));
  RunOnFrame(state, [&](KaCSurfelCollectionCCT& c) { (*spFilter)(c); });
}
BENCHMARK(BM_KaCMpFtSegmentTeethClassifier_Apply)->Apply(FrameArgs);

// The pipeline as the host builds it with colour compensation and classification on.
void BM_KaCFtAlgorithmsListCCTAcquisition_Apply(benchmark::State& state) {
  KaCTolvaneSettings::SetTrainToothTissueAtStart(false);
  KaCTolvaneSettings::SetQualityFromColor(true);
  KaCTolvaneSettings::SetToothTissueBeforeSequentialRegistration(true);
  KaCTolvaneSettings::SetColorCompensate(true);
  const CbSmartPointer<KaCFtAlgorithmsListCCTAcquisition> spPipeline(
      new KaCFtAlgorithmsListCCTAcquisition);
  RunOnFrame(state, [&](KaCSurfelCollectionCCT& c) { (*spPipeline)(c); });
}
BENCHMARK(BM_KaCFtAlgorithmsListCCTAcquisition_Apply)->Apply(FrameArgs);

// One training frame (hue statistics and marking), for comparison; no target applies.
void BM_KaCMpFtToothTissueTrainingDuringAcquisition_Train(benchmark::State& state) {
  const CbSmartPointer<KaCMpFtSegmentTeethClassifier> spClassifier(
      new KaCMpFtSegmentTeethClassifier(140, 120, 0.5f, 0.0f, false));
  const CbSmartPointer<KaIFtSurfelCollection> spFilter(
      new KaCMpFtToothTissueTrainingDuringAcquisition(spClassifier, true, true, true));
  // Five frames stay within training, which can end at the tenth good frame at the earliest.
  RunOnFrame(state, [&](KaCSurfelCollectionCCT& c) { (*spFilter)(c); });
}
BENCHMARK(BM_KaCMpFtToothTissueTrainingDuringAcquisition_Train)->Args({1000000, 0})->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
