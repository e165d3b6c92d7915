// tolvane filter: runs filter steps over a collection as one filter list.
#include <chrono>
#include <cstdio>

#include <tolvane/KaCFtAlgorithmsList.h>
#include <tolvane/KaCMpDiscardCheek.h>
#include <tolvane/KaCMpDiscardQualityRange.h>
#include <tolvane/KaCMpFtColorCodeByQuality.h>
#include <tolvane/KaCMpFtColorCompensate.h>
#include <tolvane/KaCMpFtFlipSurfelNormals.h>
#include <tolvane/KaCMpFtScaleSurfels.h>
#include <tolvane/KaCMpFtSegmentTeethClassifier.h>
#include <tolvane/KaCMpFtSetQualitiesToOne.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "Arguments.h"
#include "Command.h"
#include "Progress.h"
#include "Files.h"
#include "Settings.h"
#include "UsageError.h"
#include "tissue/KaCToothTissueMath.h"

namespace tolvane::cli {

namespace {

const char c_szHelp[] =
    "Usage: tolvane filter IN.ply OUT.ply [STEP...] [--ascii]\n"
    "\n"
    "Runs the steps in the order given, as one filter list, over the collection of IN.ply\n"
    "and writes the result to OUT.ply (without steps: a plain copy, e.g. to change the\n"
    "encoding). Prints one line: surfels in, surfels out, the steps and the time taken.\n"
    "Steps:\n"
    "  compensate               Lambert colour compensation (viewing direction 0,0,-1)\n"
    "  classify[=THRESHOLD]     tooth/gingiva classification from colour: hue turned by 120\n"
    "                           degrees above THRESHOLD is tooth (tissue 0), else gingiva\n"
    "                           (tissue 3, quality times GingivaQualityBeforeClassification);\n"
    "                           default THRESHOLD: the one the last 'tolvane acquire' kept\n"
    "  quality-to-one           set every quality to 1\n"
    "  discard-quality=MIN:MAX  remove the surfels whose quality is in [MIN, MAX]\n"
    "  discard-cheek            remove the surfels of tissue types 2 and 3\n"
    "  flip-normals             reverse every normal\n"
    "  scale=S, scale=SX,SY,SZ  scale positions (normals follow the surface)\n"
    "  colour-by-quality        false colours of the value the ColorCodedEntity setting\n"
    "                           selects (0 quality, 3 tooth, 6 flag byte, 7 boundary)\n"
    "Settings are read from the settings file (see 'tolvane settings --help').\n"
    "\n"
    "Options:\n"
    "  --ascii   write ASCII PLY (default binary little endian)\n";

// Splits "name=value"; value is empty without '='.
void Split(const std::string& step, std::string& name, std::string& value, bool& bHasValue) {
  const auto eq = step.find('=');
  bHasValue = eq != std::string::npos;
  name = step.substr(0, eq);
  value = bHasValue ? step.substr(eq + 1) : std::string();
}

bool NeedsSettings(const std::vector<std::string>& steps) {
  for (const std::string& s : steps) {
    const std::string name = s.substr(0, s.find('='));
    if (name == "classify" || name == "colour-by-quality" || name == "color-by-quality") {
      return true;
    }
  }
  return false;
}

CbSmartPointer<KaIFtSurfelCollection> MakeStep(const std::string& step) {
  std::string name;
  std::string value;
  bool bValue = false;
  Split(step, name, value, bValue);
  auto noValue = [&] {
    if (bValue) throw UsageError("step '" + name + "' takes no value");
  };
  auto bad = [&](const char* form) {
    return UsageError("step '" + step + "' needs the form " + form);
  };
  if (name == "compensate") {
    noValue();
    return CbSmartPointer<KaIFtSurfelCollection>(new KaCMpFtColorCompensate());
  }
  if (name == "classify") {
    int threshold = KaCToothTissueMath::GetToothTissueThreshold();
    if (bValue) {
      double t = 0.0;
      if (!Arguments::ParseNumber(value, t) || t != static_cast<int>(t) || t < -1000.0 ||
          t > 1000.0) {
        throw bad("classify=THRESHOLD (whole degrees)");
      }
      threshold = static_cast<int>(t);
    }
    return CbSmartPointer<KaIFtSurfelCollection>(new KaCMpFtSegmentTeethClassifier(
        threshold, KaCToothTissueMath::c_iHueOffset,
        KaCTolvaneSettings::GetGingivaQualityBeforeClassification(), 0.0f, false));
  }
  if (name == "quality-to-one") {
    noValue();
    return CbSmartPointer<KaIFtSurfelCollection>(new KaCMpFtSetQualitiesToOne());
  }
  if (name == "discard-quality") {
    const auto colon = value.find(':');
    double lo = 0.0;
    double hi = 0.0;
    if (!bValue || colon == std::string::npos ||
        !Arguments::ParseNumber(value.substr(0, colon), lo) ||
        !Arguments::ParseNumber(value.substr(colon + 1), hi)) {
      throw bad("discard-quality=MIN:MAX");
    }
    return CbSmartPointer<KaIFtSurfelCollection>(
        new KaCMpDiscardQualityRange(static_cast<float>(lo), static_cast<float>(hi)));
  }
  if (name == "discard-cheek") {
    noValue();
    return CbSmartPointer<KaIFtSurfelCollection>(new KaCMpDiscardCheek());
  }
  if (name == "flip-normals") {
    noValue();
    return CbSmartPointer<KaIFtSurfelCollection>(new KaCMpFtFlipSurfelNormals());
  }
  if (name == "scale") {
    CbVector3f s;
    if (!bValue || !Arguments::ParseVector(value, s)) throw bad("scale=S or scale=SX,SY,SZ");
    return CbSmartPointer<KaIFtSurfelCollection>(new KaCMpFtScaleSurfels(s, true));
  }
  if (name == "colour-by-quality" || name == "color-by-quality") {
    noValue();
    return CbSmartPointer<KaIFtSurfelCollection>(new KaCMpFtColorCodeByQuality());
  }
  throw UsageError("unknown step '" + step + "'");
}

int Run(const std::vector<std::string>& args) {
  const Arguments a(args, {}, {"ascii"});
  if (a.WantsHelp()) {
    std::fputs(c_szHelp, stdout);
    return 0;
  }
  const auto& pos = a.GetPositionals();
  a.RequirePositionals(2, pos.size() < 2 ? 2 : pos.size(),
                       pos.empty() ? "IN.ply and OUT.ply" : "OUT.ply");
  const std::vector<std::string> steps(pos.begin() + 2, pos.end());
  if (NeedsSettings(steps)) {
    settings::Open(settings::ResolvePath(""));
    settings::RestoreToothTissueThreshold();
  }
  // All steps are built (and their arguments checked) before any file is read.
  KaCFtAlgorithmsList::FilterList list(10);
  for (const std::string& s : steps) list.AddTail(MakeStep(s));
  CbSmartPointer<KaCFtAlgorithmsList> spFilters(new KaCFtAlgorithmsList());
  spFilters->SetFilterAlgorithms(list);

  const auto start = std::chrono::steady_clock::now();
  Progress progress;
  const auto sp = files::Read(pos[0], progress);
  const unsigned int nIn = sp->GetNrSurfels();
  progress.Step("filtering");
  (*spFilters)(*sp);
  const unsigned int nOut = sp->GetNrSurfels();
  files::Write(*sp, pos[1], a.Has("ascii"), progress);
  progress.Done();
  std::string strSteps;
  for (const std::string& s : steps) strSteps += (strSteps.empty() ? "" : ", ") + s;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // One line; on stderr when the collection itself goes to standard output.
  std::fprintf(pos[1] == "-" ? stderr : stdout, "%u surfels in, %u out; steps: %s; %.3f s\n", nIn,
               nOut, strSteps.empty() ? "none (copy)" : strSteps.c_str(), seconds);
  return 0;
}

}  // namespace

Command GetFilterCommand() {
  return {"filter", "run filter steps over a collection", c_szHelp, &Run};
}

}  // namespace tolvane::cli
