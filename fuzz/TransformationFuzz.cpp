// libFuzzer entry point for the transformation parser of `tolvane distance`: the first byte
// chooses the --transform text or the --transform-file contents; any bytes either give 16
// finite numbers or are refused, never crash.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Transformation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nBytes) {
  namespace tr = tolvane::cli::transformation;
  if (nBytes == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(pData) + 1, nBytes - 1);
  CbMatrix4Rd m;
  std::size_t nFound = 0;
  const bool bParsed = (pData[0] & 1) != 0 ? tr::Parse(tr::StripComments(text), m, nFound)
                                           : tr::Parse(text, m, nFound);
  if (bParsed) {
    if (nFound != 16) std::abort();
    for (double v : m.m) {
      if (!std::isfinite(v)) std::abort();
    }
  }
  return 0;
}
