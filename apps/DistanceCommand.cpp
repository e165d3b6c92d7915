// tolvane distance: signed distances of one collection to another.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <tolvane/CMpComputeSurfelCollectionDistance.h>
#include <tolvane/DistanceStatistics.h>
#include <tolvane/DivergingColorScale.h>
#include <tolvane/MovedPosition.h>
#include <tolvane/ParallelSurfelDistance.h>

#include "Arguments.h"
#include "Command.h"
#include "DistanceReport.h"
#include "InputError.h"
#include "Progress.h"
#include "Files.h"
#include "UsageError.h"
#include "Text.h"
#include "Transformation.h"
#include "base/OutputFile.h"

namespace tolvane::cli {

namespace {

const char c_szHelp[] =
    "Usage: tolvane distance REFERENCE.ply MOVING.ply [--transform \"m0 ... m15\" |\n"
    "                        --transform-file FILE] [--max-distance D] [--range R]\n"
    "                        [--max-abs A] [--out COLOURED.ply] [--csv DISTANCES.csv]\n"
    "                        [--report REPORT.html] [--json] [--unit NAME] [--ascii]\n"
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
    "  --out COLOURED.ply        MOVING coloured by distance on a diverging scale (blue below\n"
    "                            zero, light grey at zero, red above; the end colours beyond\n"
    "                            +-R; mid grey beyond +-A and without a distance), with each\n"
    "                            surfel's distance as the float property scalar_distance (nan\n"
    "                            where there is none)\n"
    "  --range R                 default: the 95th percentile of |d| (1 when that is 0)\n"
    "  --max-abs A               default: 3 R\n"
    "  --csv DISTANCES.csv       'index,x,y,z,distance' and one line per MOVING surfel: its\n"
    "                            moved position and its distance (empty where there is none)\n"
    "  --report REPORT.html      a self-contained page: summary, histogram with the colour\n"
    "                            scale, top and side views of the coloured MOVING, parameters\n"
    "  --json                    print one JSON object instead of the lines: summary,\n"
    "                            histogram and parameters (see docs/cli.md)\n"
    "  --unit NAME               the files' length unit, named in the output; nothing is\n"
    "                            converted (default: mm, the unit of scanner data)\n"
    "  --ascii                   write ASCII PLY (default binary little endian)\n"
    "  --threads N               threads building the search tree, measuring the\n"
    "                            distances and sorting them for the figures, and with two\n"
    "                            or more the two files are read at once (default: one per\n"
    "                            core); the results do not depend on it\n";

// The summary lines, each figure with its unit.
void PrintSummary(std::FILE* out, const DistanceStatistics& st, const std::string& strUnit) {
  std::fprintf(out, "surfels: %zu\nwith a distance: %zu\n", st.GetNrSurfels(),
               st.GetNrWithDistance());
  for (const distance_report::Figure& f : distance_report::SummaryFigures(st)) {
    if (std::isnan(f.fValue)) {
      std::fprintf(out, "%s: n/a\n", f.szName);
    } else {
      std::fprintf(out, "%s: %.6g %s\n", f.szName, f.fValue, strUnit.c_str());
    }
  }
}

std::string JsonMatrix(const CbMatrix4Rd& m) {
  std::string s = "[";
  for (int i = 0; i < 16; ++i) s += (i ? "," : "") + JsonNumber(m.m[i]);
  return s + "]";
}

// The object of --json; docs/cli.md lists its keys, which other tools rely on.
std::string Json(const distance_report::Input& in) {
  const DistanceStatistics& st = *in.pStatistics;
  const DistanceStatistics::Histogram& h = *in.pHistogram;
  std::string j = "{\"reference\":" + JsonString(in.strReference) +
                  ",\n\"moving\":" + JsonString(in.strMoving) +
                  ",\n\"unit\":" + JsonString(in.strUnit);
  j += ",\n\"summary\":{\"surfels\":" + std::to_string(st.GetNrSurfels()) +
       ",\"with_distance\":" + std::to_string(st.GetNrWithDistance());
  for (const distance_report::Figure& f : distance_report::SummaryFigures(st)) {
    j += std::string(",\"") + f.szKey + "\":" + JsonNumber(f.fValue);
  }
  j += "},\n\"histogram\":{\"lower\":" + JsonNumber(static_cast<float>(h.fLower)) +
       ",\"upper\":" + JsonNumber(static_cast<float>(h.fUpper)) +
       ",\"below\":" + std::to_string(h.nBelow) + ",\"above\":" + std::to_string(h.nAbove) +
       ",\"counts\":[";
  for (std::size_t k = 0; k < h.vecCounts.size(); ++k) {
    j += (k ? "," : "") + std::to_string(h.vecCounts[k]);
  }
  j += "]},\n\"parameters\":{\"transformation\":" + JsonMatrix(in.matTransformation) +
       ",\"max_distance\":" + JsonNumber(in.fMaxDistance) +
       ",\"range\":" + JsonNumber(in.pScale->GetRange()) +
       ",\"max_abs\":" + JsonNumber(in.pScale->GetMaxAbs()) + "}}\n";
  return j;
}

// A CSV field of a float: its shortest exact form, or nothing when it is not finite.
std::string CsvNumber(float v) { return std::isfinite(v) ? JsonNumber(v) : std::string(); }

void WriteCsv(const std::string& strPath, const std::vector<float>& d,
              const std::vector<CbVector3f>& moved, Progress& progress) {
  progress.Step("writing " + strPath);
  tolvane::OutputFile csv(strPath);
  csv.Write("index,x,y,z,distance\n");
  std::string line;
  for (std::size_t i = 0; i < d.size(); ++i) {
    const CbVector3f& p = moved[i];
    line = std::to_string(i) + "," + CsvNumber(p.x) + "," + CsvNumber(p.y) + "," + CsvNumber(p.z) +
           ",";
    if (d[i] != CMpComputeSurfelCollectionDistance::c_fNoDistance) line += JsonNumber(d[i]);
    line += '\n';
    csv.Write(line);
    if ((i & 0xFFFFu) == 0) progress.Fraction(i, d.size());
  }
  csv.Commit();
}

int Run(const std::vector<std::string>& args) {
  const Arguments a(args,
                    {"transform", "transform-file", "max-distance", "range", "max-abs", "out",
                     "csv", "report", "unit", "threads"},
                    {"ascii", "json"});
  if (a.WantsHelp()) {
    std::fputs(c_szHelp, stdout);
    return 0;
  }
  a.RequirePositionals(2, 2,
                       a.GetPositionals().empty() ? "REFERENCE.ply and MOVING.ply" : "MOVING.ply");
  std::FILE* const out =
      files::TextStream({a.GetString("out"), a.GetString("csv"), a.GetString("report")});
  if (a.Has("transform") && a.Has("transform-file")) {
    throw UsageError("give either --transform or --transform-file");
  }
  CbMatrix4Rd transform;
  if (a.Has("transform")) {
    std::size_t n = 0;
    if (!transformation::Parse(a.GetString("transform"), transform, n)) {
      throw UsageError("option '--transform' needs 16 numbers, found " +
                       (n == 0 ? std::string("none or a bad one") : std::to_string(n)));
    }
  } else if (a.Has("transform-file")) {
    transform = transformation::ReadFile(a.GetString("transform-file"));
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
  tolvane::ParallelSurfelDistance distance(nThreads);
  CbSmartPointer<KaCSurfelCollectionCCT> spReference;
  CbSmartPointer<KaCSurfelCollectionCCT> spMoving;
  if (distance.GetThreadCount() > 1 && files::IsRegularFile(refPath) &&
      files::IsRegularFile(movPath)) {
    // The moving file is read on a second thread while this one reads the reference; then
    // the reference's kd-tree is built with all the threads.
    files::BackgroundRead moving(movPath);
    spReference = files::Read(refPath, progress, true, why);
    progress.Step("building the search tree");
    (void)spReference->GetKdTree(distance.GetThreadCount());
    spMoving = moving.Take(progress, true, why);
  } else {
    spReference = files::Read(refPath, progress, true, why);
    spMoving = files::Read(movPath, progress, true, why);
  }
  progress.Step("measuring distances");
  distance.SetProgress(
      [&progress](unsigned int nDone, unsigned int nTotal) { progress.Fraction(nDone, nTotal); });
  distance.SetInput(*spReference, *spMoving, transform, static_cast<float>(maxDistance));
  distance.Compute();
  const std::vector<float>& d = distance.GetResult();
  const DistanceStatistics statistics(d, distance.GetThreadCount());

  float r = static_cast<float>(range);
  if (!a.Has("range")) {
    r = static_cast<float>(statistics.GetAbsolutePercentile(0.95));
    if (!(r > 0.0f) || !std::isfinite(r)) r = 1.0f;
  }
  const DivergingColorScale scale(r, a.Has("max-abs") ? static_cast<float>(maxAbs) : 3.0f * r);
  const DistanceStatistics::Histogram histogram =
      statistics.GetHistogram(-r, r, distance_report::c_nHistogramBins);

  std::vector<CbVector3f> moved;
  if (a.Has("csv") || a.Has("report")) {
    const auto positions = spMoving->GetAccessor<CbVector3f>(eSurfelAttributePosition);
    moved.resize(d.size());
    for (unsigned int i = 0; i < moved.size(); ++i) {
      moved[i] = MovedPosition(transform, positions[i]);
    }
  }
  distance_report::Input in;
  in.strReference = refPath;
  in.strMoving = movPath;
  in.strUnit = a.GetString("unit", "mm");
  in.pDistances = &d;
  in.pMovedPositions = &moved;
  in.pStatistics = &statistics;
  in.pHistogram = &histogram;
  in.pScale = &scale;
  in.matTransformation = transform;
  in.fMaxDistance = distance.GetMaxDistance();
  in.bMaxDistanceGiven = a.Has("max-distance");
  in.bRangeGiven = a.Has("range");
  in.bMaxAbsGiven = a.Has("max-abs");

  if (a.Has("csv")) WriteCsv(a.GetString("csv"), d, moved, progress);
  if (a.Has("out")) {
    progress.Step("colouring");
    scale.Apply(*spMoving, d);
    // The distances themselves travel with the colours, NaN where there is none.
    std::vector<float> values(d);
    for (float& v : values) {
      if (v == CMpComputeSurfelCollectionDistance::c_fNoDistance) {
        v = std::numeric_limits<float>::quiet_NaN();
      }
    }
    files::Write(*spMoving, a.GetString("out"), a.Has("ascii"), progress,
                 {{"scalar_distance", values.data()}});
  }
  if (a.Has("report")) {
    progress.Step("writing " + a.GetString("report"));
    tolvane::WriteOutputFile(a.GetString("report"), distance_report::Render(in));
  }
  progress.Done();
  if (a.Has("json")) {
    std::fputs(Json(in).c_str(), out);
  } else {
    PrintSummary(out, statistics, in.strUnit);
  }
  return 0;
}

}  // namespace

Command GetDistanceCommand() {
  return {"distance", "signed distances of one collection to another", c_szHelp, &Run};
}

}  // namespace tolvane::cli
