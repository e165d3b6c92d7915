// tolvane phantom: analyses a scan of the calibration phantom.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <tolvane/PhantomAnalysis.h>
#include "synth/PhantomScanGenerator.h"

#include "Arguments.h"
#include "Command.h"
#include "InputError.h"
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

// The help text; %NOTE% stands for the shearing note, which has its home in the library.
const char c_szHelpTemplate[] =
    "Usage: tolvane phantom [SCAN.ply] [--samples SAMPLES.ply] [--planes N] [--seed N]\n"
    "                       [--attempts N] [--no-align] [--no-clean] [--cluster-limit N]\n"
    "                       [--out COLOURED.ply] [--report REPORT.html] [--json] [--ascii]\n"
    "\n"
    "Analyses a scan of the calibration phantom: clusters the surfels of SCAN onto N planes,\n"
    "assigns the samples (SAMPLES, or else SCAN) to them, removes outliers, finds the corners\n"
    "and prints the four statistics lines: depth, shearing, width and height, each measured\n"
    "value in mm with its deviation from the nominal phantom in \xC2\xB5m. Then a verdict line:\n"
    "'verdict: pass (attempt K of N)', or 'verdict: FAIL: CHECK: VALUE over LIMIT' when the\n"
    "result failed a check (exit status 3). The scan needs normals. Without SCAN the built-in\n"
    "synthetic phantom is analysed: 100000 surfels on the nominal geometry with 0.005 mm\n"
    "Gaussian noise per coordinate and normals scattered by 2 degrees, seed 1 (the same as\n"
    "'tolvane generate phantom' with its defaults).\n"
    "\n"
    "Before the analysis, stray points are left out of the clustering and the scan is turned\n"
    "into the phantom's own frame; a result that fails its checks is analysed again from the\n"
    "next random state. The results are given in the scan's frame. The refined numbers refit\n"
    "the final planes in double precision. docs/phantom.md lists the checks and their limits.\n"
    "\n"
    "%NOTE%\n"
    "\n"
    "Options:\n"
    "  --samples SAMPLES.ply  the samples collection (default: SCAN)\n"
    "  --planes N             number of planes, at least 7 (default 7)\n"
    "  --seed N               srand(N) before the analysis, whose random restarts use rand()\n"
    "                         (default: rand() is not seeded)\n"
    "  --attempts N           analyses at most, 1 to 100 (default 8; 1: the bare analyzer's\n"
    "                         single run, still checked)\n"
    "  --no-align             analyse the scan in its own frame\n"
    "  --no-clean             keep stray points in the clustering\n"
    "  --cluster-limit N      cluster on an evenly thinned copy of about one in 25\n"
    "                         surfels, at least 12000 and at most N (default 200000;\n"
    "                         0: all, and the analyzer measures every sample)\n"
    "  --out COLOURED.ply     write the samples coloured by plane (outliers at value 0)\n"
    "  --report REPORT.html   write a self-contained HTML page: verdict, measurements,\n"
    "                         planes, top and side views\n"
    "  --json                 print one JSON object instead of the lines: texts, analyzer and\n"
    "                         refined depths, shearings, widths, heights with nominal values\n"
    "                         and deviations in \xC2\xB5m, the verdict with every check, planes,\n"
    "                         k-means passes, both durations (s) and the 40 display points\n"
    "  --ascii                write ASCII PLY (default binary little endian)\n"
    "\n"
    "Exit status: 0 pass, 1 bad input, 2 bad usage, 3 the analysis ran but failed its checks.\n";

// The shearing note, wrapped at 89 columns, each line ending in a newline.
std::string WrappedShearingNote() {
  const std::string text = PhantomShearingNote();
  std::string out, line;
  std::size_t nColumns = 0;  // of line, counting each UTF-8 sequence once
  for (std::size_t i = 0; i <= text.size();) {
    const std::size_t end = std::min(text.find(' ', i), text.size());
    const std::string word = text.substr(i, end - i);
    std::size_t nWord = 0;
    for (const char c : word) nWord += (static_cast<unsigned char>(c) & 0xC0) == 0x80 ? 0 : 1;
    if (nColumns > 0 && nColumns + 1 + nWord > 89) {
      out += line + "\n";
      line.clear();
      nColumns = 0;
    }
    line += (nColumns > 0 ? " " : "") + word;
    nColumns += (nColumns > 0 ? 1 : 0) + nWord;
    i = end + 1;
  }
  return out + line + "\n";
}

const char* Help() {
  static const std::string help = [] {
    std::string h = c_szHelpTemplate;
    const std::size_t at = h.find("%NOTE%\n");
    return h.replace(at, 7, WrappedShearingNote());
  }();
  return help.c_str();
}

int Run(const std::vector<std::string>& args) {
  const Arguments a(args,
                    {"samples", "planes", "seed", "out", "report", "attempts", "cluster-limit"},
                    {"json", "ascii", "no-align", "no-clean"});
  if (a.WantsHelp()) {
    std::fputs(Help(), stdout);
    return 0;
  }
  a.RequirePositionals(0, 1, "");
  PhantomAnalysis::Options options;
  options.nPlanes = static_cast<std::size_t>(a.GetInteger("planes", 7, 7, 1000));
  options.nMaxAttempts = static_cast<int>(a.GetInteger("attempts", options.nMaxAttempts, 1, 100));
  options.bAlign = !a.Has("no-align");
  options.bClean = !a.Has("no-clean");
  options.nClusteringLimit = static_cast<unsigned int>(
      a.GetInteger("cluster-limit", options.nClusteringLimit, 0, 4294967295LL));
  const bool bSeed = a.Has("seed");
  const auto nSeed = static_cast<unsigned int>(a.GetInteger("seed", 0, 0, 4294967295LL));
  const bool bBuiltIn = a.GetPositionals().empty();
  if (bBuiltIn && a.Has("samples")) throw UsageError("option '--samples' needs SCAN.ply");
  std::FILE* const text = files::TextStream({a.GetString("out"), a.GetString("report")});

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
  options.fnProgress = [&progress](std::size_t nDone, std::size_t nTotal) {
    progress.Fraction(nDone, nTotal);
  };
  if (bSeed) std::srand(nSeed);
  PhantomAnalysis::Result result;
  try {
    result = PhantomAnalysis(spScan, spSamples, options).Run();
  } catch (const CbException& e) {
    throw InputError(source + ": the analysis failed: " + e.GetMessage());
  }

  if (a.Has("out")) {
    files::Write(*result.spColoured, a.GetString("out"), a.Has("ascii"), progress);
  }
  if (a.Has("report")) {
    progress.Step("writing " + a.GetString("report"));
    tolvane::WriteOutputFile(a.GetString("report"),
                             phantom_report::Render(result, source, options.nMaxAttempts));
  }
  progress.Done();
  if (a.Has("json")) {
    std::fputs(PhantomResultToJson(result, source).c_str(), text);
  } else {
    for (const std::wstring& t : result.strTexts) std::fprintf(text, "%s\n", ToUtf8(t).c_str());
    std::fprintf(text, "%s\n", phantom_report::VerdictLine(result, options.nMaxAttempts).c_str());
  }
  return result.verdict.bPass ? 0 : c_iExitChecksFailed;
}

}  // namespace

Command GetPhantomCommand() {
  return {"phantom", "analyse a scan of the calibration phantom", Help(), &Run};
}

}  // namespace tolvane::cli
