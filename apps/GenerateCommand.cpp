// tolvane generate: synthetic phantom scans and acquisition frames.
#include <cstdio>
#include <filesystem>

#include "synth/PhantomScanGenerator.h"

#include "Arguments.h"
#include "Command.h"
#include "synth/FrameGenerator.h"
#include "InputError.h"
#include "Progress.h"
#include "Files.h"
#include "UsageError.h"
#include "Text.h"

namespace tolvane::cli {

namespace {

const char c_szHelp[] =
    "Usage: tolvane generate phantom OUT.ply [--count N] [--noise MM] [--seed S]\n"
    "                                        [--scale X,Y,Z] [--ascii]\n"
    "       tolvane generate frames DIR [--frames N] [--count N] [--seed S] [--ascii]\n"
    "\n"
    "phantom: a synthetic scan of the calibration phantom in its nominal frame (millimetres):\n"
    "  surfels on its seven faces as the scanner sees them, normals towards the scanner\n"
    "  (scattered by 2 degrees, as real surfel normals are), Gaussian position noise of MM\n"
    "  millimetres per coordinate, optionally scaled per axis (normals follow). The PLY\n"
    "  property 'value' holds each surfel's face number.\n"
    "  Defaults: --count 100000, --noise 0.005, --seed 1, --scale 1,1,1.\n"
    "\n"
    "frames: N acquisition frames DIR/frame_000.ply, frame_001.ply, ... (DIR is created):\n"
    "  patches of a shallow bowl sweeping along x, a wavy band of tooth-like colour (ivory)\n"
    "  and the rest gingiva-like (pink-red), for 'tolvane acquire' and the tissue filters.\n"
    "  Defaults: --frames 12, --count 5000, --seed 1.\n"
    "\n"
    "Options:\n"
    "  --ascii   write ASCII PLY (default binary little endian)\n";

int GeneratePhantom(const Arguments& a) {
  a.RequirePositionals(2, 2, "OUT.ply");
  synth::PhantomScanGenerator::Parameters p;
  p.nNrSurfels = static_cast<unsigned int>(a.GetInteger("count", 100000, 7, 100000000));
  p.fNoiseSigma = static_cast<float>(a.GetNumber("noise", 0.005));
  if (p.fNoiseSigma < 0.0f) throw UsageError("option '--noise' must not be negative");
  p.nSeed = static_cast<unsigned int>(a.GetInteger("seed", 1, 0, 4294967295LL));
  p.scale = a.GetVector("scale", CbVector3f(1.0f, 1.0f, 1.0f));
  if (p.scale.x == 0.0f || p.scale.y == 0.0f || p.scale.z == 0.0f) {
    throw UsageError("option '--scale' needs factors other than 0");
  }
  Progress progress;
  progress.Step("generating the phantom scan");
  const auto sp = synth::PhantomScanGenerator(p).Generate();
  files::Write(*sp, a.GetPositionals()[1], a.Has("ascii"), progress);
  return 0;
}

int GenerateFrames(const Arguments& a) {
  a.RequirePositionals(2, 2, "DIR");
  const auto nFrames = static_cast<unsigned int>(a.GetInteger("frames", 12, 1, 100000));
  const auto nCount = static_cast<unsigned int>(a.GetInteger("count", 5000, 1, 100000000));
  const auto nSeed = static_cast<unsigned int>(a.GetInteger("seed", 1, 0, 4294967295LL));
  const std::string dir = a.GetPositionals()[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) {
    throw InputError(dir + ": cannot create the directory" +
                     (ec ? ": " + ec.message() : std::string()));
  }
  Progress progress;
  const synth::FrameGenerator generator(nCount, nSeed);
  for (unsigned int k = 0; k < nFrames; ++k) {
    progress.Step(Format("frame %u of %u", k + 1, nFrames));
    const auto sp = generator.Generate(k);
    files::Write(*sp, dir + Format("/frame_%03u.ply", k), a.Has("ascii"), progress);
  }
  return 0;
}

int Run(const std::vector<std::string>& args) {
  const Arguments a(args, {"count", "noise", "seed", "scale", "frames"}, {"ascii"});
  if (a.WantsHelp()) {
    std::fputs(c_szHelp, stdout);
    return 0;
  }
  const auto& pos = a.GetPositionals();
  if (pos.empty()) throw UsageError("missing what to generate (phantom or frames)");
  if (pos[0] == "phantom") {
    if (a.Has("frames")) throw UsageError("option '--frames' belongs to 'generate frames'");
    return GeneratePhantom(a);
  }
  if (pos[0] == "frames") {
    if (a.Has("noise") || a.Has("scale")) {
      throw UsageError("options '--noise' and '--scale' belong to 'generate phantom'");
    }
    return GenerateFrames(a);
  }
  throw UsageError("unknown kind '" + pos[0] + "' (phantom or frames)");
}

}  // namespace

Command GetGenerateCommand() {
  return {"generate", "write a synthetic phantom scan or acquisition frames", c_szHelp, &Run};
}

}  // namespace tolvane::cli
