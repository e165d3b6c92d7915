#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <tolvane/PhantomAnalysis.h>

#include "base/CbVector3f.h"
#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane::cli {

/// The HTML page of a phantom analysis: one self-contained file (inline CSS and SVG, no
/// script, nothing fetched) with the verdict and every check at the top, the measurements as a
/// table (analyzer and refined values, nominal, deviations in µm), the shearing note, the
/// statistics texts, the planes with their sample counts, normals and colours, and two
/// pictures, a top view (x right, y up) and a side view (x right, z down, the scanner above):
/// the coloured samples (at most c_nMaxPoints of them, evenly spaced) and the 20 display
/// segments, the first eight (corner deviations, magnified) in red, the frustum edges in black.
namespace phantom_report {

inline constexpr unsigned int c_nMaxPoints = 6000;

/// The page as UTF-8 text; nMaxAttempts as the analysis was allowed.
[[nodiscard]] std::string Render(const PhantomAnalysis::Result& result,
                                 const std::string& strSource, int nMaxAttempts);
/// "verdict: pass (attempt K of N)" or "verdict: FAIL: CHECK: VALUE over LIMIT (K attempts)".
[[nodiscard]] std::string VerdictLine(const PhantomAnalysis::Result& result, int nMaxAttempts);
/// The colour the analysis gives plane i (value i + 1 on the range 0 to nPlanes), or the
/// outliers for i = -1, as "#rrggbb".
[[nodiscard]] std::string PlaneColor(int i, std::size_t nPlanes);

}  // namespace phantom_report

}  // namespace tolvane::cli
