// Reading and writing PLY files of 1,000,000 surfels in all three encodings, against the floors
// of the same bytes: the page-cache read of the file (reading) and a memcpy of the file's size
// (reading from memory and writing). Files live in the system's temporary directory, read once
// before timing so that they sit in the page cache.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "BenchFloor.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "io/KaCPlyReader.h"
#include "io/KaCPlyWriter.h"

namespace {

constexpr unsigned int c_nSurfels = 1000000;

// A wavy scanned surface: positions, normals, colours, qualities and tissue types that vary
// from surfel to surfel as a scan's do.
const KaCSurfelCollectionCCT& Scan() {
  static const KaCSurfelCollectionCCT* s_pScan = [] {
    auto* c = new KaCSurfelCollectionCCT(c_nSurfels, true);
    auto pos = c->GetAccessor<CbVector3f>(eSurfelAttributePosition);
    auto normals = c->GetNormalAccessor();
    auto colors = c->GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
    auto values = c->GetAccessor<unsigned int>(eSurfelAttributeValue);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> jitter(-0.01f, 0.01f);
    for (unsigned int i = 0; i < c_nSurfels; ++i) {
      const float x = static_cast<float>(i % 1000) * 0.05f + jitter(rng);
      const float y = static_cast<float>(i / 1000) * 0.05f + jitter(rng);
      pos[i] = CbVector3f(x, y, 2.0f * std::sin(x * 0.3f) * std::cos(y * 0.2f));
      normals[i] =
          KaCNormalCodec::Encode(CbVector3f(-0.6f * std::cos(x * 0.3f) * std::cos(y * 0.2f),
                                            0.4f * std::sin(x * 0.3f) * std::sin(y * 0.2f), 1.0f));
      colors[i] =
          KaCCompressedColor(static_cast<unsigned char>(rng()), static_cast<unsigned char>(rng()),
                             static_cast<unsigned char>(rng()));
      c->GetQualityAccessor().Set(i, static_cast<float>(rng() % 1000) / 999.0f);
      c->GetTissueTypeAccessor().Set(i, static_cast<unsigned char>((i / 7) % 2 * 3));
      c->GetBoundaryFlagAccessor().Set(i, i % 50 == 0);
      values[i] = i / 20000;
    }
    return c;
  }();
  return *s_pScan;
}

EPlyFormat FormatOf(const benchmark::State& state) {
  return static_cast<EPlyFormat>(state.range(0));
}

// The file of an encoding, written once per process.
const std::string& FileOf(EPlyFormat f) {
  static std::map<EPlyFormat, std::string> s_files;
  auto it = s_files.find(f);
  if (it == s_files.end()) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tolvane_io_bench_" + std::string(GetPlyFormatName(f)) + ".ply"))
                                 .string();
    KaCPlyWriter::WriteFile(Scan(), path, f);
    it = s_files.emplace(f, path).first;
  }
  return it->second;
}

void SetLabel(benchmark::State& state, std::size_t nBytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * nBytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * c_nSurfels));
  state.SetLabel(GetPlyFormatName(FormatOf(state)));
}

void BM_KaCPlyReader_ReadFile(benchmark::State& state) {
  const std::string& path = FileOf(FormatOf(state));
  const auto nBytes = static_cast<std::size_t>(std::filesystem::file_size(path));
  const double pageCache = tolvane_bench::PageCacheReadSeconds(path);
  for (auto _ : state) {
    const auto sp = KaCPlyReader::ReadFile(path);
    benchmark::DoNotOptimize(sp.Get());
  }
  SetLabel(state, nBytes);
  tolvane_bench::ReportFloorRatio(state, pageCache);
}

void BM_KaCPlyReader_ReadBuffer(benchmark::State& state) {
  const std::string bytes = KaCPlyWriter::WriteBuffer(Scan(), FormatOf(state));
  const double copy = tolvane_bench::CopySeconds(tolvane_bench::Bytes(bytes.size()));
  for (auto _ : state) {
    const auto sp = KaCPlyReader::ReadBuffer(bytes.data(), bytes.size(), "bench.ply");
    benchmark::DoNotOptimize(sp.Get());
  }
  SetLabel(state, bytes.size());
  tolvane_bench::ReportFloorRatio(state, copy);
}

// Serialising into a sink that keeps the bytes in a reused buffer: the writer's own cost,
// without the disk.
void BM_KaCPlyWriter_Write(benchmark::State& state) {
  const KaCSurfelCollectionCCT& scan = Scan();
  std::string out;
  out.reserve(KaCPlyWriter::WriteBuffer(scan, FormatOf(state)).size());
  for (auto _ : state) {
    out.clear();
    KaCPlyWriter::Write(scan, FormatOf(state), {},
                        [&](const char* p, std::size_t n) { out.append(p, n); });
    benchmark::DoNotOptimize(out.data());
  }
  const double copy = tolvane_bench::CopySeconds(tolvane_bench::Bytes(out.size()));
  SetLabel(state, out.size());
  tolvane_bench::ReportFloorRatio(state, copy);
}

void Encodings(benchmark::internal::Benchmark* b) {
  for (EPlyFormat f :
       {EPlyFormat::eBinaryLittleEndian, EPlyFormat::eBinaryBigEndian, EPlyFormat::eAscii}) {
    b->Arg(static_cast<int>(f));
  }
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_KaCPlyReader_ReadFile)->Apply(Encodings);
BENCHMARK(BM_KaCPlyReader_ReadBuffer)->Apply(Encodings);
BENCHMARK(BM_KaCPlyWriter_Write)->Apply(Encodings);

}  // namespace

BENCHMARK_MAIN();
