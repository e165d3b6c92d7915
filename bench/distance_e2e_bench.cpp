// `tolvane distance` end to end (reading both files, the kd-tree, the queries, the summary) on
// two generated scans of 1,000,000 surfels in binary PLY, with one thread and with two, against
// the plain single-threaded nanoflann program distance_anchor reading the same files. Both run
// as child processes with their output discarded; times are wall times, the files sit in the
// page cache. Also reported: the page-cache read of both files, the floor of any reader.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchFloor.h"

extern char** environ;

namespace {

// Runs argv with stdout and stderr sent to /dev/null; throws unless it exits with status 0.
void RunQuietly(const std::vector<std::string>& args) {
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
  if (err != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    throw std::runtime_error("failed: " + args[0]);
  }
}

// The two scans, written once per process by the tool itself.
struct Files {
  std::filesystem::path dir;
  std::string reference, moving;
  Files() {
    dir = std::filesystem::temp_directory_path() / ("tolvane_e2e_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    reference = (dir / "reference.ply").string();
    moving = (dir / "moving.ply").string();
    RunQuietly(
        {TOLVANE_TOOL, "generate", "phantom", reference, "--count", "1000000", "--seed", "1"});
    RunQuietly({TOLVANE_TOOL, "generate", "phantom", moving, "--count", "1000000", "--seed", "2"});
  }
  ~Files() { std::filesystem::remove_all(dir); }
};

const Files& GetFiles() {
  static const Files files;
  return files;
}

// The lateral limit both programs use (about twice the scans' surfel spacing).
const char* const c_szLimit = "0.1";

double WallSeconds(const std::vector<std::string>& args) {
  const auto t = std::chrono::steady_clock::now();
  RunQuietly(args);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

double AnchorFloor() {
  const Files& f = GetFiles();
  return tolvane_bench::CustomFloorSeconds(
      "distance_anchor",
      [&] {
        RunQuietly({DISTANCE_ANCHOR, f.reference, f.moving, c_szLimit});
      },
      true);
}

void BM_ToolDistance_EndToEnd(benchmark::State& state) {
  const Files& f = GetFiles();
  const std::vector<std::string> args = {
      TOLVANE_TOOL,     "distance", f.reference, f.moving,
      "--max-distance", c_szLimit,  "--threads", std::to_string(state.range(0))};
  for (auto _ : state) state.SetIterationTime(WallSeconds(args));
  state.SetItemsProcessed(state.iterations() * 1000000);
  tolvane_bench::ReportFloorRatio(state, AnchorFloor());
  // Reading both files from the page cache, the least any reader of them pays.
  tolvane_bench::ReportFloorRatio(state,
                                  tolvane_bench::PageCacheReadSeconds(f.reference) +
                                      tolvane_bench::PageCacheReadSeconds(f.moving),
                                  "x_page_cache_read");
}
BENCHMARK(BM_ToolDistance_EndToEnd)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// The anchor itself, timed as the tool is.
void BM_DistanceAnchor_EndToEnd(benchmark::State& state) {
  const Files& f = GetFiles();
  for (auto _ : state) {
    state.SetIterationTime(WallSeconds({DISTANCE_ANCHOR, f.reference, f.moving, c_szLimit}));
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
  tolvane_bench::ReportFloorRatio(state, AnchorFloor());
}
BENCHMARK(BM_DistanceAnchor_EndToEnd)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
