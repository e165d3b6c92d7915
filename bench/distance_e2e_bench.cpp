// `tolvane distance` end to end (reading both files, the kd-tree, the queries, the summary) on
// two generated scans of 1,000,000 surfels in binary PLY, with one thread and with two, against
// the plain single-threaded nanoflann program distance_anchor reading the same files. The scans
// are stored as generated and, rewritten, in spatial (Morton) order, which is what the anchor
// likes best. Both programs run as child processes with their output discarded; times are wall
// times, with the children's CPU times beside them; the files sit in the page cache. Also reported:
// the page-cache read of both files, the floor of any reader.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <utility>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchFloor.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "io/KaCPlyReader.h"
#include "io/KaCPlyWriter.h"

extern char** environ;

namespace {

// Runs argv with stdout and stderr sent to /dev/null; throws unless it exits with status 0.
// Returns the CPU seconds (user and system, all its threads) the child used.
double RunQuietly(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  struct rusage usage {};
  if (err != 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    throw std::runtime_error("failed: " + args[0]);
  }
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Rewrites the PLY file at path with its surfels in Morton order of a 1024^3 grid over their
// bounding box.
void SortSpatially(const std::string& path) {
  const CbSmartPointer<KaCSurfelCollectionCCT> spIn = KaCPlyReader::ReadFile(path);
  const unsigned int n = spIn->GetNrSurfels();
  CbVector3f lo = spIn->GetPosition(0);
  CbVector3f hi = lo;
  for (unsigned int i = 0; i < n; ++i) {
    const CbVector3f p = spIn->GetPosition(i);
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], p[a]);
      hi[a] = std::max(hi[a], p[a]);
    }
  }
  std::vector<std::pair<std::uint64_t, unsigned int>> keys(n);
  for (unsigned int i = 0; i < n; ++i) {
    std::uint64_t key = 0;
    const CbVector3f p = spIn->GetPosition(i);
    for (int a = 0; a < 3; ++a) {
      const auto cell = static_cast<std::uint64_t>(1023.0f * (p[a] - lo[a]) / (hi[a] - lo[a]));
      for (int bit = 0; bit < 10; ++bit) key |= ((cell >> bit) & 1u) << (3 * bit + a);
    }
    keys[i] = {key, i};
  }
  std::sort(keys.begin(), keys.end());
  KaCSurfelCollectionCCT out(*spIn);
  for (unsigned int k = 0; k < n; ++k) out.CopySurfel(k, *spIn, keys[k].second, nullptr, nullptr);
  KaCPlyWriter::WriteFile(out, path);
}

// The two scans, written once per process by the tool itself; with bSpatial rewritten in
// spatial order.
struct Files {
  std::filesystem::path dir;
  std::string reference, moving;
  explicit Files(bool bSpatial) {
    dir = std::filesystem::temp_directory_path() /
          ("tolvane_e2e_" + std::to_string(::getpid()) + (bSpatial ? "_spatial" : ""));
    std::filesystem::create_directories(dir);
    reference = (dir / "reference.ply").string();
    moving = (dir / "moving.ply").string();
    RunQuietly(
        {TOLVANE_TOOL, "generate", "phantom", reference, "--count", "1000000", "--seed", "1"});
    RunQuietly({TOLVANE_TOOL, "generate", "phantom", moving, "--count", "1000000", "--seed", "2"});
    if (bSpatial) {
      SortSpatially(reference);
      SortSpatially(moving);
    }
  }
  ~Files() { std::filesystem::remove_all(dir); }
};

const Files& GetFiles(bool bSpatial) {
  static const Files generated(false);
  static const Files spatial(true);
  return bSpatial ? spatial : generated;
}

// The lateral limit both programs use (about twice the scans' surfel spacing).
const char* const c_szLimit = "0.1";

double WallSeconds(const std::vector<std::string>& args) {
  const auto t = std::chrono::steady_clock::now();
  (void)RunQuietly(args);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

double AnchorFloor(bool bSpatial) {
  const Files& f = GetFiles(bSpatial);
  return tolvane_bench::CustomFloorSeconds(
      std::string("distance_anchor") + (bSpatial ? " spatial" : ""),
      [&] {
        (void)RunQuietly({DISTANCE_ANCHOR, f.reference, f.moving, c_szLimit});
      },
      true);
}

// The anchor's CPU seconds (all it uses, in one thread), the median of nine runs, once per
// process and storage order.
double AnchorCpuSeconds(bool bSpatial) {
  static double s_seconds[2] = {-1.0, -1.0};
  double& seconds = s_seconds[bSpatial ? 1 : 0];
  if (seconds < 0.0) {
    const Files& f = GetFiles(bSpatial);
    std::vector<double> runs;
    for (int k = 0; k < 9; ++k)
      runs.push_back(RunQuietly({DISTANCE_ANCHOR, f.reference, f.moving, c_szLimit}));
    std::nth_element(runs.begin(), runs.begin() + 4, runs.end());
    seconds = runs[4];
  }
  return seconds;
}

// Wall time per run is the benchmark's time (x_floor: over the anchor's wall time). On a machine
// shared with other work, CPU time tells more: cpu_ms is the tool's CPU time per run (all its
// threads), x_anchor_cpu that over the anchor's.
void BM_ToolDistance_EndToEnd(benchmark::State& state) {
  const bool bSpatial = state.range(0) != 0;
  const Files& f = GetFiles(bSpatial);
  const std::vector<std::string> args = {
      TOLVANE_TOOL,     "distance", f.reference, f.moving,
      "--max-distance", c_szLimit,  "--threads", std::to_string(state.range(1))};
  double cpu = 0.0;
  for (auto _ : state) {
    const auto t = std::chrono::steady_clock::now();
    cpu += RunQuietly(args);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count());
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
  cpu /= static_cast<double>(state.iterations());
  state.counters["cpu_ms"] = 1e3 * cpu;
  state.counters["x_anchor_cpu"] = cpu / AnchorCpuSeconds(bSpatial);
  tolvane_bench::ReportFloorRatio(state, AnchorFloor(bSpatial));
  // Reading both files from the page cache, the least any reader of them pays.
  tolvane_bench::ReportFloorRatio(state,
                                  tolvane_bench::PageCacheReadSeconds(f.reference) +
                                      tolvane_bench::PageCacheReadSeconds(f.moving),
                                  "x_page_cache_read");
}
BENCHMARK(BM_ToolDistance_EndToEnd)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->ArgNames({"spatial", "threads"})
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// The anchor itself, timed as the tool is.
void BM_DistanceAnchor_EndToEnd(benchmark::State& state) {
  const bool bSpatial = state.range(0) != 0;
  const Files& f = GetFiles(bSpatial);
  for (auto _ : state) {
    state.SetIterationTime(WallSeconds({DISTANCE_ANCHOR, f.reference, f.moving, c_szLimit}));
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
  state.counters["cpu_ms"] = 1e3 * AnchorCpuSeconds(bSpatial);
  tolvane_bench::ReportFloorRatio(state, AnchorFloor(bSpatial));
}
BENCHMARK(BM_DistanceAnchor_EndToEnd)
    ->ArgName("spatial")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
