// The anchor of `tolvane distance` end to end: the plainest program that does the same job.
// It reads two binary little-endian PLY files with a minimal reader (float x y z nx ny nz among
// any other properties of fixed size), builds a nanoflann kd-tree over the reference points,
// queries the nearest reference point of every moved moving point in storage order, measures
// the point-to-plane distance along that point's normal with the same lateral limit, and prints
// the same summary (percentiles by selection). One thread.
//
// Usage: distance_anchor REFERENCE.ply MOVING.ply MAX_LATERAL_DISTANCE
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nanoflann.hpp>

namespace {

struct Cloud {
  std::vector<float> xyz;  // x y z per point
  std::vector<float> n;    // nx ny nz per point
  [[nodiscard]] std::size_t kdtree_get_point_count() const { return xyz.size() / 3; }
  [[nodiscard]] float kdtree_get_pt(std::size_t i, std::size_t d) const { return xyz[3 * i + d]; }
  template <class BBox>
  bool kdtree_get_bbox(BBox& /*bb*/) const {
    return false;
  }
};

Cloud Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot open");
  const std::map<std::string, std::size_t> sizes = {
      {"char", 1},  {"uchar", 1},   {"int8", 1},   {"uint8", 1},  {"short", 2}, {"ushort", 2},
      {"int16", 2}, {"uint16", 2},  {"int", 4},    {"uint", 4},   {"int32", 4}, {"uint32", 4},
      {"float", 4}, {"float32", 4}, {"double", 8}, {"float64", 8}};
  std::string line;
  std::size_t nCount = 0;
  std::size_t nStride = 0;
  std::map<std::string, std::size_t> offsets;
  bool bInVertex = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string w;
    words >> w;
    if (w == "format" && line.find("binary_little_endian") == std::string::npos) {
      throw std::runtime_error(path + ": only binary little-endian PLY");
    } else if (w == "element") {
      std::string name;
      words >> name >> nCount;
      bInVertex = name == "vertex";
    } else if (w == "property" && bInVertex) {
      std::string type, name;
      words >> type >> name;
      offsets[name] = nStride;
      nStride += sizes.at(type);
    } else if (w == "end_header") {
      break;
    }
  }
  for (const char* p : {"x", "y", "z", "nx", "ny", "nz"}) {
    if (offsets.count(p) == 0) throw std::runtime_error(path + ": needs x y z nx ny nz");
  }
  std::vector<char> body(nCount * nStride);
  in.read(body.data(), static_cast<std::streamsize>(body.size()));
  if (static_cast<std::size_t>(in.gcount()) != body.size()) {
    throw std::runtime_error(path + ": short body");
  }
  Cloud c;
  c.xyz.resize(3 * nCount);
  c.n.resize(3 * nCount);
  const std::size_t o[6] = {offsets["x"],  offsets["y"],  offsets["z"],
                            offsets["nx"], offsets["ny"], offsets["nz"]};
  for (std::size_t i = 0; i < nCount; ++i) {
    const char* v = body.data() + i * nStride;
    for (int k = 0; k < 3; ++k) {
      std::memcpy(&c.xyz[3 * i + k], v + o[k], 4);
      std::memcpy(&c.n[3 * i + k], v + o[3 + k], 4);
    }
  }
  return c;
}

using Index = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, Cloud>, Cloud,
                                                  3, unsigned int>;

double Percentile(const std::vector<float>& v, double p) {
  const double h = static_cast<double>(v.size() - 1) * p;
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, v.size() - 1);
  return v[lo] + (h - static_cast<double>(lo)) * (static_cast<double>(v[hi]) - v[lo]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: distance_anchor REFERENCE.ply MOVING.ply MAX_LATERAL_DISTANCE\n", stderr);
    return 2;
  }
  try {
    const Cloud reference = Read(argv[1]);
    const Cloud moving = Read(argv[2]);
    const float fLimit = std::strtof(argv[3], nullptr);
    const Index index(3, reference, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    const std::size_t n = moving.kdtree_get_point_count();
    std::vector<float> d;
    d.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      const float* q = &moving.xyz[3 * i];
      unsigned int j[2] = {0, 0};  // two slots where one is used: GCC's bounds warning
      float d2[2] = {0.0f, 0.0f};
      nanoflann::KNNResultSet<float, unsigned int, unsigned int> result(1);
      result.init(j, d2);
      index.findNeighbors(result, q, nanoflann::SearchParams());
      const float* a = &reference.xyz[3 * j[0]];
      const float* nr = &reference.n[3 * j[0]];
      const float dist = (q[0] - a[0]) * nr[0] + (q[1] - a[1]) * nr[1] + (q[2] - a[2]) * nr[2];
      float e2 = 0.0f;
      for (int k = 0; k < 3; ++k) {
        const float e = a[k] - (q[k] - dist * nr[k]);
        e2 += e * e;
      }
      if (e2 <= fLimit * fLimit) d.push_back(dist);
    }
    double sum = 0.0, sumSquares = 0.0;
    for (float v : d) {
      sum += v;
      sumSquares += static_cast<double>(v) * v;
    }
    const double m = d.empty() ? 0.0 : sum / static_cast<double>(d.size());
    double variance = 0.0;
    for (float v : d) variance += (v - m) * (v - m);
    std::printf("surfels: %zu\nwith a distance: %zu\n", n, d.size());
    if (d.empty()) return 0;
    const auto nd = static_cast<double>(d.size());
    std::printf("mean: %.6g\nstandard deviation: %.6g\nRMS: %.6g\n", m, std::sqrt(variance / nd),
                std::sqrt(sumSquares / nd));
    // Percentiles by selection: each rank needs one partial pass over what lies above the last.
    std::vector<std::size_t> ranks = {0, d.size() - 1};
    for (double p : {0.05, 0.5, 0.95}) {
      const auto lo = static_cast<std::size_t>(std::floor(static_cast<double>(d.size() - 1) * p));
      ranks.push_back(lo);
      ranks.push_back(std::min(lo + 1, d.size() - 1));
    }
    std::sort(ranks.begin(), ranks.end());
    auto first = d.begin();
    for (std::size_t r : ranks) {
      std::nth_element(first, d.begin() + static_cast<std::ptrdiff_t>(r), d.end());
      first = d.begin() + static_cast<std::ptrdiff_t>(r) + 1;
    }
    std::printf("minimum: %.6g\nmaximum: %.6g\n", static_cast<double>(d.front()),
                static_cast<double>(d.back()));
    std::printf("5th percentile: %.6g\n50th percentile: %.6g\n95th percentile: %.6g\n",
                Percentile(d, 0.05), Percentile(d, 0.5), Percentile(d, 0.95));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "distance_anchor: %s\n", e.what());
    return 1;
  }
  return 0;
}
