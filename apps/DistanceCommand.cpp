// tolvane distance: signed distances of one collection to another.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <tolvane/CFtColorCodeSurfelCollection.h>
#include <tolvane/CMpComputeSurfelCollectionDistance.h>
#include <tolvane/ParallelSurfelDistance.h>

#include "Arguments.h"
#include "Command.h"
#include "InputError.h"
#include "Progress.h"
#include "Files.h"
#include "UsageError.h"
#include "Text.h"
#include "base/OutputFile.h"

namespace tolvane::cli {

namespace {

const char c_szHelp[] =
    "Usage: tolvane distance REFERENCE.ply MOVING.ply [--transform \"m0 ... m15\" |\n"
    "                        --transform-file FILE] [--max-distance D] [--range R]\n"
    "                        [--max-abs A] [--out COLOURED.ply] [--csv DISTANCES.csv] [--ascii]\n"
    "                        [--threads N]\n"
    "\n"
    "Signed distance of every surfel of MOVING, moved by the transformation, to the surface\n"
    "of REFERENCE: along the normal of the nearest REFERENCE surfel, positive on the side its\n"
    "normal points to. A surfel gets no distance when either normal is unset or when it lies\n"
    "laterally farther than D from that nearest surfel. Both files need normals.\n"
    "\n"
    "Prints: surfels, with a distance, mean, standard deviation, RMS, minimum, maximum and the\n"
    "5th, 50th and 95th percentiles (linear between ranks), in the files' unit.\n"
    "\n"
    "Options:\n"
    "  --transform \"m0 ... m15\"  4x4 matrix applied to MOVING, 16 numbers in storage order:\n"
    "                            column by column, translation in m12 m13 m14 (default:\n"
    "                            identity)\n"
    "  --transform-file FILE     the same 16 numbers read from FILE ('#' starts a comment)\n"
    "  --max-distance D          largest lateral offset (default: twice REFERENCE's average\n"
    "                            surfel spacing)\n"
    "  --out COLOURED.ply        MOVING coloured by distance on the scale -R..R, grey beyond\n"
    "                            |d| > A or without a distance\n"
    "  --range R                 default: the 95th percentile of |d| (1 when that is 0)\n"
    "  --max-abs A               default: 3 R\n"
    "  --csv DISTANCES.csv       'index,distance' and one line per MOVING surfel (empty\n"
    "                            distance where there is none)\n"
    "  --ascii                   write ASCII PLY (default binary little endian)\n"
    "  --threads N               threads measuring the distances (default: one per core);\n"
    "                            the results do not depend on it\n";

// 16 numbers separated by white space or commas; false when there are not exactly 16.
bool ParseMatrix(std::string text, CbMatrix4Rd& m, std::size_t& nFound) {
  for (char& c : text) {
    if (c == ',') c = ' ';
  }
  std::istringstream in(text);
  std::string word;
  nFound = 0;
  double values[16] = {};
  while (in >> word) {
    double v = 0.0;
    if (!Arguments::ParseNumber(word, v)) return false;
    if (nFound < 16) values[nFound] = v;
    ++nFound;
  }
  if (nFound != 16) return false;
  for (int i = 0; i < 16; ++i) m.m[i] = values[i];
  return true;
}

CbMatrix4Rd ReadMatrixFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw InputError(path + ": cannot open");
  std::string text;
  std::string line;
  while (std::getline(in, line)) text += line.substr(0, line.find('#')) + " ";
  CbMatrix4Rd m;
  std::size_t n = 0;
  if (!ParseMatrix(text, m, n)) {
    throw InputError(path + ": expected 16 numbers (a 4x4 matrix in storage order)");
  }
  return m;
}

// Linear interpolation between the closest ranks of sorted values.
double Percentile(const std::vector<float>& sorted, double p) {
  const double h = static_cast<double>(sorted.size() - 1) * p;
  const auto lo = static_cast<std::size_t>(std::floor(h));
  const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
  return sorted[lo] +
         (h - static_cast<double>(lo)) * (static_cast<double>(sorted[hi]) - sorted[lo]);
}

void PrintSummary(const std::vector<float>& all, const std::vector<float>& sorted) {
  std::printf("surfels: %zu\nwith a distance: %zu\n", all.size(), sorted.size());
  const char* const names[] = {"mean",
                               "standard deviation",
                               "RMS",
                               "minimum",
                               "maximum",
                               "5th percentile",
                               "50th percentile",
                               "95th percentile"};
  if (sorted.empty()) {
    for (const char* n : names) std::printf("%s: n/a\n", n);
    return;
  }
  double sum = 0.0;
  double sumSquares = 0.0;
  for (float d : sorted) {
    sum += d;
    sumSquares += static_cast<double>(d) * d;
  }
  const auto n = static_cast<double>(sorted.size());
  const double mean = sum / n;
  double variance = 0.0;
  for (float d : sorted) variance += (d - mean) * (d - mean);
  const double values[] = {
      mean,          std::sqrt(variance / n),  std::sqrt(sumSquares / n), sorted.front(),
      sorted.back(), Percentile(sorted, 0.05), Percentile(sorted, 0.50),  Percentile(sorted, 0.95)};
  for (std::size_t i = 0; i < 8; ++i) std::printf("%s: %.6g\n", names[i], values[i]);
}

int Run(const std::vector<std::string>& args) {
  const Arguments a(
      args,
      {"transform", "transform-file", "max-distance", "range", "max-abs", "out", "csv", "threads"},
      {"ascii"});
  if (a.WantsHelp()) {
    std::fputs(c_szHelp, stdout);
    return 0;
  }
  a.RequirePositionals(2, 2,
                       a.GetPositionals().empty() ? "REFERENCE.ply and MOVING.ply" : "MOVING.ply");
  if (a.Has("transform") && a.Has("transform-file")) {
    throw UsageError("give either --transform or --transform-file");
  }
  CbMatrix4Rd transform;
  if (a.Has("transform")) {
    std::size_t n = 0;
    if (!ParseMatrix(a.GetString("transform"), transform, n)) {
      throw UsageError("option '--transform' needs 16 numbers, found " +
                       (n == 0 ? std::string("none or a bad one") : std::to_string(n)));
    }
  } else if (a.Has("transform-file")) {
    transform = ReadMatrixFile(a.GetString("transform-file"));
  }
  if ((transform.m[3] != 0.0 || transform.m[7] != 0.0 || transform.m[11] != 0.0) &&
      transform.m[12] == 0.0 && transform.m[13] == 0.0 && transform.m[14] == 0.0) {
    std::fputs(
        "tolvane distance: warning: the transformation has a translation in m3 m7 m11 "
        "and none in m12 m13 m14; was it given row by row? It is read column by "
        "column.\n",
        stderr);
  }
  const double maxDistance = a.GetNumber("max-distance", -1.0, true);
  const double range = a.GetNumber("range", 0.0, true);
  const double maxAbs = a.GetNumber("max-abs", 0.0, true);
  const auto nThreads = static_cast<unsigned int>(a.GetInteger("threads", 0, 1, 1024));
  const std::string& refPath = a.GetPositionals()[0];
  const std::string& movPath = a.GetPositionals()[1];

  Progress progress;
  const char* const why = "signed distances need the normals";
  const auto spReference = files::Read(refPath, progress, true, why);
  const auto spMoving = files::Read(movPath, progress, true, why);
  progress.Step("measuring distances");
  tolvane::ParallelSurfelDistance distance(nThreads);
  distance.SetInput(*spReference, *spMoving, transform, static_cast<float>(maxDistance));
  distance.Compute();
  const std::vector<float>& d = distance.GetResult();
  std::vector<float> sorted;
  sorted.reserve(d.size());
  for (float v : d) {
    if (v != CMpComputeSurfelCollectionDistance::c_fNoDistance) sorted.push_back(v);
  }
  std::sort(sorted.begin(), sorted.end());

  if (a.Has("csv")) {
    progress.Step("writing " + a.GetString("csv"));
    tolvane::OutputFile csv(a.GetString("csv"));
    csv.Write("index,distance\n");
    std::string line;
    for (std::size_t i = 0; i < d.size(); ++i) {
      line = std::to_string(i) + ",";
      if (d[i] != CMpComputeSurfelCollectionDistance::c_fNoDistance) line += JsonNumber(d[i]);
      line += '\n';
      csv.Write(line);
    }
    csv.Commit();
  }
  if (a.Has("out")) {
    float r = static_cast<float>(range);
    if (!a.Has("range")) {
      std::vector<float> magnitudes(sorted);
      for (float& v : magnitudes) v = std::fabs(v);
      std::sort(magnitudes.begin(), magnitudes.end());
      r = magnitudes.empty() ? 0.0f : static_cast<float>(Percentile(magnitudes, 0.95));
      if (!(r > 0.0f)) r = 1.0f;
    }
    const float limit = a.Has("max-abs") ? static_cast<float>(maxAbs) : 3.0f * r;
    progress.Step("colouring");
    CFtColorCodeSurfelCollection coder;
    coder.SetInput(*spMoving, d, limit, r);
    coder.Compute();
    files::Write(*spMoving, a.GetString("out"), a.Has("ascii"), progress);
  }
  progress.Done();
  PrintSummary(d, sorted);
  return 0;
}

}  // namespace

Command GetDistanceCommand() {
  return {"distance", "signed distances of one collection to another", c_szHelp, &Run};
}

}  // namespace tolvane::cli
