// tolvane phantom: analyses a scan of the calibration phantom.
#include <cstdio>
#include <cstdlib>

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include "synth/PhantomScanGenerator.h"

#include "Arguments.h"
#include "Command.h"
#include "InputError.h"
#include "PhantomMeasurements.h"
#include "PhantomReport.h"
#include "Progress.h"
#include "Files.h"
#include "UsageError.h"
#include "Text.h"
#include "base/CbException.h"
#include "base/OutputFile.h"

namespace tolvane::cli {

namespace {

// The built-in phantom: nominal geometry with a scanner-like noise.
constexpr unsigned int c_nBuiltInSurfels = 100000;
constexpr float c_fBuiltInNoise = 0.005f;
constexpr unsigned int c_nBuiltInSeed = 1;

const char c_szHelp[] =
    "Usage: tolvane phantom [SCAN.ply] [--samples SAMPLES.ply] [--planes N] [--seed N]\n"
    "                       [--out COLOURED.ply] [--report REPORT.html] [--json] [--ascii]\n"
    "\n"
    "Analyses a scan of the calibration phantom: clusters the surfels of SCAN onto N planes,\n"
    "assigns the samples (SAMPLES, or else SCAN) to them, removes outliers, finds the corners\n"
    "and prints the four statistics lines: depth, shearing, width and height, each measured\n"
    "value in mm with its deviation from the nominal phantom in \xC2\xB5m. The scan needs\n"
    "normals. Without SCAN the built-in synthetic phantom is analysed: 100000 surfels on the\n"
    "nominal geometry with 0.005 mm Gaussian noise per coordinate and normals scattered by\n"
    "2 degrees, seed 1 (the same as 'tolvane generate phantom' with its defaults).\n"
    "\n"
    "Options:\n"
    "  --samples SAMPLES.ply  the samples collection (default: SCAN)\n"
    "  --planes N             number of planes, at least 7 (default 7)\n"
    "  --seed N               srand(N) before the analysis, whose random restarts use rand()\n"
    "                         (default: rand() is not seeded)\n"
    "  --out COLOURED.ply     write the samples coloured by plane (outliers at value 0)\n"
    "  --report REPORT.html   write a self-contained HTML page: measurements, planes, top\n"
    "                         and side views\n"
    "  --json                 print one JSON object instead of the four lines: depths and\n"
    "                         mean, shearings, widths, heights with nominal values and\n"
    "                         deviations in \xC2\xB5m, per plane the sample count and normal,\n"
    "                         k-means passes, both durations (s) and the 40 display points\n"
    "  --ascii                write ASCII PLY (default binary little endian)\n";

std::string JsonArray(const std::array<float, 4>& v) {
  std::string s = "[";
  for (std::size_t i = 0; i < v.size(); ++i) s += (i ? "," : "") + JsonNumber(v[i]);
  return s + "]";
}

std::string JsonVector(const CbVector3f& v) {
  return "[" + JsonNumber(v.x) + "," + JsonNumber(v.y) + "," + JsonNumber(v.z) + "]";
}

std::string JsonLengths(const char* name, const std::array<float, 4>& values,
                        const std::array<float, 4>& nominal) {
  std::array<float, 4> dev{};
  for (std::size_t k = 0; k < 4; ++k)
    dev[k] = PhantomMeasurements::Deviation(nominal[k], values[k]);
  return std::string("\"") + name + "\":{\"mm\":" + JsonArray(values) +
         ",\"nominal_mm\":" + JsonArray(nominal) + ",\"deviation_um\":" + JsonArray(dev) + "}";
}

// The JSON object of --json, from the same data as the report.
std::string Json(const phantom_report::Input& in, std::size_t nSamples) {
  const PhantomMeasurements& m = *in.pMeasurements;
  std::string j = "{\"source\":" + JsonString(in.strSource);
  j += ",\n\"samples\":" + std::to_string(nSamples);
  j += ",\n\"texts\":[";
  for (std::size_t i = 0; i < in.vecTexts.size(); ++i) {
    j += (i ? "," : "") + JsonString(in.vecTexts[i]);
  }
  j += "],\n\"depth\":{\"mean_mm\":" + JsonNumber(m.GetMeanDepth()) +
       ",\"at_corners_mm\":" + JsonArray(m.GetDepths()) +
       ",\"nominal_mm\":" + JsonNumber(PhantomMeasurements::c_fNominalDepth) +
       ",\"deviation_um\":" + JsonNumber(m.GetDepthDeviation()) +
       ",\"deviation_percent\":" + JsonNumber(m.GetDepthDeviationPercent()) + "}";
  j += ",\n" + JsonLengths("shearing", m.GetShearings(), PhantomMeasurements::c_fNominalShearing);
  j += ",\n" + JsonLengths("width", m.GetWidths(), PhantomMeasurements::c_fNominalWidth);
  j += ",\n" + JsonLengths("height", m.GetHeights(), PhantomMeasurements::c_fNominalHeight);
  j += ",\n\"planes\":[";
  for (std::size_t i = 0; i < in.vecSampleCounts.size(); ++i) {
    j += std::string(i ? "," : "") + "{\"role\":" + JsonString(phantom_report::PlaneRole(i)) +
         ",\"samples\":" + std::to_string(in.vecSampleCounts[i]) +
         ",\"normal\":" + JsonVector(in.vecNormals[i]) + "}";
  }
  j += "],\n\"iterations\":" + std::to_string(in.nIterations);
  j += ",\n\"initialization_duration_s\":" + JsonNumber(in.fInitializationDuration);
  j += ",\n\"overall_duration_s\":" + JsonNumber(in.fOverallDuration);
  j += ",\n\"display_points\":[";
  for (std::size_t i = 0; i < in.pLines->size(); ++i) {
    j += (i ? "," : "") + JsonVector((*in.pLines)[i]);
  }
  return j + "]}\n";
}

int Run(const std::vector<std::string>& args) {
  const Arguments a(args, {"samples", "planes", "seed", "out", "report"}, {"json", "ascii"});
  if (a.WantsHelp()) {
    std::fputs(c_szHelp, stdout);
    return 0;
  }
  a.RequirePositionals(0, 1, "");
  const auto nPlanes = static_cast<std::size_t>(a.GetInteger("planes", 7, 7, 1000));
  const bool bSeed = a.Has("seed");
  const auto nSeed = static_cast<unsigned int>(a.GetInteger("seed", 0, 0, 4294967295LL));
  const bool bBuiltIn = a.GetPositionals().empty();
  if (bBuiltIn && a.Has("samples")) throw UsageError("option '--samples' needs SCAN.ply");

  Progress progress;
  CbSmartPointer<KaCSurfelCollectionCCT> spScan;
  CbSmartPointer<KaCSurfelCollectionCCT> spSamples;
  std::string source;
  const char* const why = "the analysis needs them";
  if (bBuiltIn) {
    std::fprintf(stderr,
                 "tolvane phantom: no scan given; analysing the built-in synthetic phantom "
                 "(%u surfels, nominal geometry, %.3f mm Gaussian position noise, %.0f degrees "
                 "normal noise, seed %u)\n",
                 c_nBuiltInSurfels, static_cast<double>(c_fBuiltInNoise),
                 static_cast<double>(synth::PhantomScanGenerator::Parameters().fNormalNoiseDegrees),
                 c_nBuiltInSeed);
    progress.Step("generating the built-in phantom");
    synth::PhantomScanGenerator::Parameters p;
    p.nNrSurfels = c_nBuiltInSurfels;
    p.fNoiseSigma = c_fBuiltInNoise;
    p.nSeed = c_nBuiltInSeed;
    spScan = synth::PhantomScanGenerator(p).Generate();
    source = "built-in synthetic phantom";
  } else {
    source = a.GetPositionals()[0];
    spScan = files::Read(source, progress, true, why);
  }
  spSamples = a.Has("samples") ? files::Read(a.GetString("samples"), progress, true, why) : spScan;

  progress.Step("analysing");
  KaCCalibrationPhantomCCTAnalyzer analyzer(spScan, spSamples, nPlanes);
  if (bSeed) std::srand(nSeed);
  CbSmartPointer<KaCSurfelCollectionCCT> spColoured;
  try {
    spColoured = analyzer.Compute();
  } catch (const CbException& e) {
    throw InputError(source + ": the analysis failed: " + e.GetMessage());
  }

  const PhantomMeasurements measurements(analyzer.GetLines(), analyzer.GetNormal(0));
  if (!measurements.IsFinite()) {
    throw InputError(source +
                     ": the analysis found no corners (planes parallel or missing); is it a "
                     "scan of the phantom with enough surfels on every face?");
  }
  phantom_report::Input in;
  in.strSource = source;
  in.vecTexts = {ToUtf8(analyzer.GetDepthStatistics()), ToUtf8(analyzer.GetShearingStatistics()),
                 ToUtf8(analyzer.GetWidthStatistics()), ToUtf8(analyzer.GetHeightStatistics())};
  in.pMeasurements = &measurements;
  for (std::size_t i = 0; i < analyzer.GetNrPlanes(); ++i) {
    in.vecSampleCounts.push_back(analyzer.GetNrSamples(i));
    in.vecNormals.push_back(analyzer.GetNormal(i));
  }
  in.pLines = &analyzer.GetLines();
  in.pColoured = spColoured.Get();
  in.nIterations = analyzer.GetNrIterations();
  in.fInitializationDuration = analyzer.GetInitializationDuration();
  in.fOverallDuration = analyzer.GetOverallDuration();

  if (a.Has("out")) files::Write(*spColoured, a.GetString("out"), a.Has("ascii"), progress);
  if (a.Has("report")) {
    progress.Step("writing " + a.GetString("report"));
    tolvane::WriteOutputFile(a.GetString("report"), phantom_report::Render(in));
  }
  progress.Done();
  if (a.Has("json")) {
    std::fputs(Json(in, spSamples->GetNrSurfels()).c_str(), stdout);
  } else {
    for (const std::string& t : in.vecTexts) std::printf("%s\n", t.c_str());
  }
  return 0;
}

}  // namespace

Command GetPhantomCommand() {
  return {"phantom", "analyse a scan of the calibration phantom", c_szHelp, &Run};
}

}  // namespace tolvane::cli
