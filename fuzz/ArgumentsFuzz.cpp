// libFuzzer entry point for the tool's argument parser: the bytes are split at NUL into
// words, parsed as a subcommand's arguments and read through every getter. Anything may be
// refused with UsageError; nothing may crash or throw anything else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Arguments.h"
#include "UsageError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nBytes) {
  using tolvane::cli::Arguments;
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < nBytes; ++i) {
    if (pData[i] == 0) {
      words.emplace_back();
    } else {
      words.back() += static_cast<char>(pData[i]);
    }
  }
  try {
    const Arguments a(words, {"out", "count", "noise", "scale", "planes"}, {"ascii", "json"});
    (void)a.WantsHelp();
    (void)a.Has("ascii");
    (void)a.GetString("out");
    a.RequirePositionals(0, 3, "IN.ply");
  } catch (const tolvane::cli::UsageError&) {
  }
  // Each typed getter on its own, so that one refusal does not hide the others.
  const auto attempt = [&](auto get) {
    try {
      const Arguments a(words, {"out", "count", "noise", "scale", "planes"}, {"ascii", "json"});
      get(a);
    } catch (const tolvane::cli::UsageError&) {
    }
  };
  attempt([](const Arguments& a) { (void)a.GetInteger("count", 1, 0, 1000000); });
  attempt([](const Arguments& a) { (void)a.GetNumber("noise", 0.0, true); });
  attempt([](const Arguments& a) { (void)a.GetVector("scale", CbVector3f(1, 1, 1)); });
  attempt([](const Arguments& a) { (void)a.GetInteger("planes", 7, 7, 1000); });
  return 0;
}
