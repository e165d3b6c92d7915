#include "BenchFloor.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <tuple>

namespace tolvane_bench {
namespace {

// Seconds of CPU time of the calling thread: the figure Google Benchmark reports by default, and
// far steadier than the wall clock on a machine shared with other work.
double ThreadSeconds() noexcept {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Arrays of 64-bit words, so that the passes run at full width whatever the element size.
struct Buffers {
  std::vector<std::unique_ptr<std::uint64_t[]>> arrays;
  std::vector<std::size_t> words;
  explicit Buffers(const std::vector<FloorArray>& shape) {
    for (const FloorArray& a : shape) {
      const std::size_t n = (a.nBytes + 7) / 8;
      arrays.emplace_back(new std::uint64_t[n == 0 ? 1 : n]);
      // Touch every page now (and give the words distinct values), so no pass pays first faults.
      for (std::size_t i = 0; i < n; ++i) arrays.back()[i] = i * 0x9E3779B97F4A7C15ull;
      words.push_back(n);
    }
  }
};

std::uint64_t ReadWords(const std::uint64_t* p, std::size_t n) noexcept {
  std::uint64_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += p[i];
    s1 += p[i + 1];
    s2 += p[i + 2];
    s3 += p[i + 3];
  }
  for (; i < n; ++i) s0 += p[i];
  return (s0 + s1) + (s2 + s3);
}

void XorWords(std::uint64_t* p, std::size_t n, std::uint64_t k) noexcept {
  for (std::size_t i = 0; i < n; ++i) p[i] ^= k;
}

// Median seconds of one call of pass(), timed in batches of at least a millisecond so that
// passes over cache-sized arrays are timed as well as those over memory-sized ones.
double WallSeconds() noexcept {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <class Pass>
double MedianSeconds(Pass pass, double (*clock)() noexcept = &ThreadSeconds) {
  pass();  // warm: caches, TLB, branch predictors
  const double t0 = clock();
  pass();
  const double single = clock() - t0;
  const auto nBatch = static_cast<int>(std::clamp(1e-3 / std::max(single, 1e-9), 1.0, 1e5));
  constexpr int c_nRuns = 9;
  double runs[c_nRuns];
  for (double& r : runs) {
    const double t = clock();
    for (int b = 0; b < nBatch; ++b) pass();
    r = (clock() - t) / nBatch;
  }
  std::nth_element(runs, runs + c_nRuns / 2, runs + c_nRuns);
  return runs[c_nRuns / 2];
}

// Each floor is measured once per process and shape; later benchmarks of the same shape reuse it.
using Key = std::tuple<int, std::vector<std::size_t>, std::vector<bool>, std::string>;
std::recursive_mutex g_mutex;  // the temporary-file floor calls the file floor
std::map<Key, double>& Cache() {
  static std::map<Key, double> cache;
  return cache;
}

template <class Measure>
double Cached(int kind, const std::vector<FloorArray>& shape, const std::string& path,
              Measure measure) {
  Key key{kind, {}, {}, path};
  for (const FloorArray& a : shape) {
    std::get<1>(key).push_back(a.nBytes);
    std::get<2>(key).push_back(a.bWritten);
  }
  const std::lock_guard<std::recursive_mutex> lock(g_mutex);
  const auto it = Cache().find(key);
  if (it != Cache().end()) return it->second;
  const double s = measure();
  Cache().emplace(std::move(key), s);
  return s;
}

std::size_t ReadFile(int fd, std::vector<char>& block) {
  std::size_t total = 0;
  if (::lseek(fd, 0, SEEK_SET) != 0) throw std::runtime_error("floor: cannot rewind file");
  for (;;) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got < 0) throw std::runtime_error("floor: cannot read file");
    if (got == 0) return total;
    total += static_cast<std::size_t>(got);
  }
}

}  // namespace

double ReadPassSeconds(const std::vector<FloorArray>& arrays) {
  return Cached(0, arrays, {}, [&] {
    Buffers b(arrays);
    return MedianSeconds([&] {
      std::uint64_t sum = 0;
      for (std::size_t k = 0; k < b.arrays.size(); ++k)
        sum += ReadWords(b.arrays[k].get(), b.words[k]);
      benchmark::DoNotOptimize(sum);
    });
  });
}

double ReadModifyWritePassSeconds(const std::vector<FloorArray>& arrays) {
  return Cached(1, arrays, {}, [&] {
    Buffers b(arrays);
    std::uint64_t k = 1;
    return MedianSeconds([&] {
      std::uint64_t sum = 0;
      for (std::size_t a = 0; a < b.arrays.size(); ++a) {
        if (arrays[a].bWritten) {
          XorWords(b.arrays[a].get(), b.words[a], k);
        } else {
          sum += ReadWords(b.arrays[a].get(), b.words[a]);
        }
      }
      ++k;
      benchmark::DoNotOptimize(sum);
      benchmark::ClobberMemory();
    });
  });
}

double CopySeconds(const std::vector<FloorArray>& arrays) {
  return Cached(2, arrays, {}, [&] {
    Buffers from(arrays);
    Buffers to(arrays);
    return MedianSeconds([&] {
      for (std::size_t a = 0; a < arrays.size(); ++a) {
        std::memcpy(to.arrays[a].get(), from.arrays[a].get(), arrays[a].nBytes);
      }
      benchmark::ClobberMemory();
    });
  });
}

double PageCacheReadSeconds(const std::string& path) {
  return Cached(3, {}, path, [&] {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) throw std::runtime_error("floor: cannot open " + path);
    std::vector<char> block(std::size_t{1} << 20);
    double s = 0.0;
    try {
      s = MedianSeconds([&] { benchmark::DoNotOptimize(ReadFile(fd, block)); });
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
    return s;
  });
}

double PageCacheReadSeconds(std::size_t nBytes) {
  return Cached(4, Bytes(nBytes), {}, [&] {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("tolvane_floor_" + std::to_string(::getpid()) + "_" + std::to_string(nBytes));
    {
      std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"),
                                                        &std::fclose);
      if (!f) throw std::runtime_error("floor: cannot write " + path.string());
      std::vector<std::uint64_t> block(std::size_t{1} << 17);
      for (std::size_t i = 0; i < block.size(); ++i) block[i] = i * 0x9E3779B97F4A7C15ull;
      for (std::size_t left = nBytes; left > 0;) {
        const std::size_t n = std::min(left, block.size() * 8);
        if (std::fwrite(block.data(), 1, n, f.get()) != n) {
          throw std::runtime_error("floor: cannot write " + path.string());
        }
        left -= n;
      }
    }
    double s = 0.0;
    try {
      s = PageCacheReadSeconds(path.string());
    } catch (...) {
      std::filesystem::remove(path);
      throw;
    }
    std::filesystem::remove(path);
    return s;
  });
}

double CustomFloorSeconds(const std::string& key, const std::function<void()>& pass,
                          bool bWallClock) {
  return Cached(bWallClock ? 6 : 5, {}, key,
                [&] { return MedianSeconds(pass, bWallClock ? &WallSeconds : &ThreadSeconds); });
}

void ReportFloorRatio(benchmark::State& state, double fFloorSeconds, const char* name) {
  // value x iterations / time, inverted: time / (iterations x floor).
  state.counters[name] = benchmark::Counter(
      fFloorSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters[std::string(name) + "_us"] = fFloorSeconds * 1e6;  // the floor itself
}

}  // namespace tolvane_bench
