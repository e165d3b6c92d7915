#pragma once

// The floors every benchmark is measured against, taken on the running machine in the same
// process: one read pass, one in-place read-modify-write pass and one copy over arrays of given
// sizes, and the read bandwidth of a file held in the page cache. Each floor is the median of
// nine timed passes (in CPU time of the calling thread, as the benchmarks are timed by default)
// over buffers of its own, allocated and touched before timing, walked 64 bits at a time: it
// costs what memory (or cache, for small sizes) costs, and no more.
//
// A benchmark reports its ratio to a floor with ReportFloorRatio: the counter "x_floor" is the
// benchmark's time per iteration over the floor's time (below 1 beats the floor).

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace tolvane_bench {

/// One array of a pass: its size in bytes and whether the pass writes it.
struct FloorArray {
  std::size_t nBytes;
  bool bWritten;
};

/// Seconds of one pass reading every byte of the arrays (the written flag is ignored).
[[nodiscard]] double ReadPassSeconds(const std::vector<FloorArray>& arrays);
/// Seconds of one pass reading every byte of the arrays and writing back the written ones in
/// place.
[[nodiscard]] double ReadModifyWritePassSeconds(const std::vector<FloorArray>& arrays);
/// Seconds of copying the arrays into arrays of the same sizes allocated once beforehand.
[[nodiscard]] double CopySeconds(const std::vector<FloorArray>& arrays);
/// Seconds of reading the file at path, which is read once first so that it sits in the page
/// cache, through read() in blocks of 1 MiB into one reused buffer.
[[nodiscard]] double PageCacheReadSeconds(const std::string& path);
/// The same for a temporary file of nBytes written (and removed again) for the purpose.
[[nodiscard]] double PageCacheReadSeconds(std::size_t nBytes);

/// A floor of the benchmark's own (a raw library call, say): the median seconds of pass(),
/// measured once per process and key; in wall time with bWallClock (for work in other threads
/// or processes), else in CPU time of the calling thread.
[[nodiscard]] double CustomFloorSeconds(const std::string& key, const std::function<void()>& pass,
                                        bool bWallClock = false);

/// Convenience for one array.
[[nodiscard]] inline std::vector<FloorArray> Bytes(std::size_t nBytes, bool bWritten = false) {
  return {{nBytes, bWritten}};
}

/// Adds the counter "x_floor" (or name): the benchmark's time per iteration over fFloorSeconds,
/// and "x_floor_us" (name + "_us"): the floor itself in microseconds.
/// The time is the benchmark's CPU time unless it is registered with UseRealTime(), which
/// multi-threaded benchmarks must be.
void ReportFloorRatio(benchmark::State& state, double fFloorSeconds, const char* name = "x_floor");

}  // namespace tolvane_bench
