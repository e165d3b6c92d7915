// tolvane acquire: one acquisition pipeline over a sequence of frames.
#include <cstdio>
#include <filesystem>

#include "Arguments.h"
#include "Command.h"
#include "InputError.h"
#include "Progress.h"
#include "Acquisition.h"
#include "Files.h"
#include "Settings.h"
#include "Text.h"
#include "tissue/KaCToothTissueMath.h"

namespace tolvane::cli {

namespace {

const char c_szHelp[] =
    "Usage: tolvane acquire FRAME.ply... [--out-dir DIR] [--ascii]\n"
    "\n"
    "Runs one acquisition pipeline, built from the persistent settings, over the frames in\n"
    "the order given: tooth tissue training while TrainToothTissueAtStart is on and the\n"
    "threshold is not learnt yet (every surfel gingiva, quality 0), else tooth/gingiva\n"
    "classification (QualityFromColor and ToothTissueBeforeSequentialRegistration) or every\n"
    "surfel tooth; then colour compensation if ColorCompensate is on.\n"
    "\n"
    "Prints one line per frame: the file, 'training', 'classified' or 'marked tooth', and the\n"
    "numbers of tooth and gingiva surfels afterwards. At the end it prints the tooth tissue\n"
    "threshold and keeps it in the settings file, so that the next run (and 'tolvane filter\n"
    "... classify') starts from it.\n"
    "\n"
    "Options:\n"
    "  --out-dir DIR   write each processed frame to DIR under its own file name\n"
    "  --ascii         write ASCII PLY (default binary little endian)\n";

const char* ModeName(Acquisition::EMode mode) {
  switch (mode) {
    case Acquisition::EMode::eTraining:
      return "training";
    case Acquisition::EMode::eClassifying:
      return "classified";
    case Acquisition::EMode::eMarkingTooth:
      return "marked tooth";
  }
  return "";
}

int Run(const std::vector<std::string>& args) {
  const Arguments a(args, {"out-dir"}, {"ascii"});
  if (a.WantsHelp()) {
    std::fputs(c_szHelp, stdout);
    return 0;
  }
  const auto& frames = a.GetPositionals();
  a.RequirePositionals(1, frames.size() + 1, "FRAME.ply");
  const std::string outDir = a.GetString("out-dir");
  if (a.Has("out-dir")) {
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec || !std::filesystem::is_directory(outDir)) {
      throw InputError(outDir + ": cannot create the directory" +
                       (ec ? ": " + ec.message() : std::string()));
    }
  }

  settings::Open(settings::ResolvePath(""));
  settings::RestoreToothTissueThreshold();
  CbSmartPointer<Acquisition> spPipeline(new Acquisition());

  Progress progress;
  bool bTrained = false;
  for (std::size_t k = 0; k < frames.size(); ++k) {
    const std::string& path = frames[k];
    const auto sp = files::Read(path, progress);
    progress.Step(Format("frame %zu of %zu", k + 1, frames.size()));
    const Acquisition::EMode mode = spPipeline->GetNextMode();
    (*spPipeline)(*sp);
    bTrained = bTrained || mode == Acquisition::EMode::eTraining;
    unsigned int nTooth = 0;
    unsigned int nGingiva = 0;
    const KaCTissueTypeAccessor& tissue = sp->GetTissueTypeAccessor();
    for (unsigned int i = 0; i < sp->GetNrSurfels(); ++i) {
      const unsigned char t = tissue[i];
      nTooth += t == 0 ? 1u : 0u;
      nGingiva += t == 3 ? 1u : 0u;
    }
    if (!outDir.empty()) {
      files::Write(*sp, outDir + "/" + std::filesystem::path(path).filename().string(),
                   a.Has("ascii"), progress);
    }
    progress.Done();
    std::printf("%s: %s, %u tooth, %u gingiva\n", path.c_str(), ModeName(mode), nTooth, nGingiva);
    std::fflush(stdout);
  }

  const int threshold = KaCToothTissueMath::GetToothTissueThreshold();
  settings::KeepToothTissueThreshold();
  settings::Save();
  const bool bStillTraining = spPipeline->GetNextMode() == Acquisition::EMode::eTraining;
  std::printf("tooth tissue threshold: %d (%s)\n", threshold,
              bStillTraining ? "training not finished, unchanged"
              : bTrained     ? "learnt in this run"
                             : "unchanged");
  return 0;
}

}  // namespace

Command GetAcquireCommand() {
  return {"acquire", "run the acquisition pipeline over frames", c_szHelp, &Run};
}

}  // namespace tolvane::cli
