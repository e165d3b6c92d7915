// tolvane phantom: analyses a scan of the calibration phantom.
#include <cstdio>
#include <cstdlib>

#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include <tolvane/KaCPhantomScanGenerator.h>

#include "KaCArguments.h"
#include "KaCCommand.h"
#include "KaCInputError.h"
#include "KaCPhantomMeasurements.h"
#include "KaCPhantomReport.h"
#include "KaCProgress.h"
#include "KaCToolFiles.h"
#include "KaCUsageError.h"
#include "KaText.h"
#include "base/CbException.h"
#include "io/KaCAtomicFile.h"

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
  for (std::size_t i = 0; i < v.size(); ++i) s += (i ? "," : "") + KaJsonNumber(v[i]);
  return s + "]";
}

std::string JsonVector(const CbVector3f& v) {
  return "[" + KaJsonNumber(v.x) + "," + KaJsonNumber(v.y) + "," + KaJsonNumber(v.z) + "]";
}

std::string JsonLengths(const char* name, const std::array<float, 4>& values,
                        const std::array<float, 4>& nominal) {
  std::array<float, 4> dev{};
  for (std::size_t k = 0; k < 4; ++k)
    dev[k] = KaCPhantomMeasurements::Deviation(nominal[k], values[k]);
  return std::string("\"") + name + "\":{\"mm\":" + JsonArray(values) +
         ",\"nominal_mm\":" + JsonArray(nominal) + ",\"deviation_um\":" + JsonArray(dev) + "}";
}

// The JSON object of --json, from the same data as the report.
std::string Json(const KaCPhantomReport::Input& in, std::size_t nSamples) {
  const KaCPhantomMeasurements& m = *in.pMeasurements;
  std::string j = "{\"source\":" + KaJsonString(in.strSource);
  j += ",\n\"samples\":" + std::to_string(nSamples);
  j += ",\n\"texts\":[";
  for (std::size_t i = 0; i < in.vecTexts.size(); ++i) {
    j += (i ? "," : "") + KaJsonString(in.vecTexts[i]);
  }
  j += "],\n\"depth\":{\"mean_mm\":" + KaJsonNumber(m.GetMeanDepth()) +
       ",\"at_corners_mm\":" + JsonArray(m.GetDepths()) +
       ",\"nominal_mm\":" + KaJsonNumber(KaCPhantomMeasurements::c_fNominalDepth) +
       ",\"deviation_um\":" + KaJsonNumber(m.GetDepthDeviation()) +
       ",\"deviation_percent\":" + KaJsonNumber(m.GetDepthDeviationPercent()) + "}";
  j +=
      ",\n" + JsonLengths("shearing", m.GetShearings(), KaCPhantomMeasurements::c_fNominalShearing);
  j += ",\n" + JsonLengths("width", m.GetWidths(), KaCPhantomMeasurements::c_fNominalWidth);
  j += ",\n" + JsonLengths("height", m.GetHeights(), KaCPhantomMeasurements::c_fNominalHeight);
  j += ",\n\"planes\":[";
  for (std::size_t i = 0; i < in.vecSampleCounts.size(); ++i) {
    j += std::string(i ? "," : "") + "{\"role\":" + KaJsonString(KaCPhantomReport::PlaneRole(i)) +
         ",\"samples\":" + std::to_string(in.vecSampleCounts[i]) +
         ",\"normal\":" + JsonVector(in.vecNormals[i]) + "}";
  }
  j += "],\n\"iterations\":" + std::to_string(in.nIterations);
  j += ",\n\"initialization_duration_s\":" + KaJsonNumber(in.fInitializationDuration);
  j += ",\n\"overall_duration_s\":" + KaJsonNumber(in.fOverallDuration);
  j += ",\n\"display_points\":[";
  for (std::size_t i = 0; i < in.pLines->size(); ++i) {
    j += (i ? "," : "") + JsonVector((*in.pLines)[i]);
  }
  return j + "]}\n";
}

int Run(const std::vector<std::string>& args) {
  const KaCArguments a(args, {"samples", "planes", "seed", "out", "report"}, {"json", "ascii"});
  if (a.WantsHelp()) {
    std::fputs(c_szHelp, stdout);
    return 0;
  }
  a.RequirePositionals(0, 1, "");
  const auto nPlanes = static_cast<std::size_t>(a.GetInteger("planes", 7, 7, 1000));
  const bool bSeed = a.Has("seed");
  const auto nSeed = static_cast<unsigned int>(a.GetInteger("seed", 0, 0, 4294967295LL));
  const bool bBuiltIn = a.GetPositionals().empty();
  if (bBuiltIn && a.Has("samples")) throw KaCUsageError("option '--samples' needs SCAN.ply");

  KaCProgress progress;
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
                 static_cast<double>(KaCPhantomScanGenerator::Parameters().fNormalNoiseDegrees),
                 c_nBuiltInSeed);
    progress.Step("generating the built-in phantom");
    KaCPhantomScanGenerator::Parameters p;
    p.nNrSurfels = c_nBuiltInSurfels;
    p.fNoiseSigma = c_fBuiltInNoise;
    p.nSeed = c_nBuiltInSeed;
    spScan = KaCPhantomScanGenerator(p).Generate();
    source = "built-in synthetic phantom";
  } else {
    source = a.GetPositionals()[0];
    spScan = KaCToolFiles::Read(source, progress, true, why);
  }
  spSamples =
      a.Has("samples") ? KaCToolFiles::Read(a.GetString("samples"), progress, true, why) : spScan;

  progress.Step("analysing");
  KaCCalibrationPhantomCCTAnalyzer analyzer(spScan, spSamples, nPlanes);
  if (bSeed) std::srand(nSeed);
  CbSmartPointer<KaCSurfelCollectionCCT> spColoured;
  try {
    spColoured = analyzer.Compute();
  } catch (const CbException& e) {
    throw KaCInputError(source + ": the analysis failed: " + e.GetMessage());
  }

  const KaCPhantomMeasurements measurements(analyzer.GetLines(), analyzer.GetNormal(0));
  if (!measurements.IsFinite()) {
    throw KaCInputError(source +
                        ": the analysis found no corners (planes parallel or missing); is it a "
                        "scan of the phantom with enough surfels on every face?");
  }
  KaCPhantomReport::Input in;
  in.strSource = source;
  in.vecTexts = {KaToUtf8(analyzer.GetDepthStatistics()),
                 KaToUtf8(analyzer.GetShearingStatistics()),
                 KaToUtf8(analyzer.GetWidthStatistics()), KaToUtf8(analyzer.GetHeightStatistics())};
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

  if (a.Has("out")) KaCToolFiles::Write(*spColoured, a.GetString("out"), a.Has("ascii"), progress);
  if (a.Has("report")) {
    progress.Step("writing " + a.GetString("report"));
    KaWriteFileAtomically(a.GetString("report"), KaCPhantomReport::Render(in));
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

KaCCommand GetPhantomCommand() {
  return {"phantom", "analyse a scan of the calibration phantom", c_szHelp, &Run};
}
