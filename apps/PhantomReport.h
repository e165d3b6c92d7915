#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "PhantomMeasurements.h"
#include "base/CbVector3f.h"
#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane::cli {

/// The HTML page of a phantom analysis: one self-contained file (inline CSS and SVG, no
/// script, nothing fetched) with the measurements as a table (measured, nominal, deviation in
/// µm), the statistics texts, the planes with their sample counts, normals and colours, and two
/// pictures, a top view (x right, y up) and a side view (x right, z down, the scanner above):
/// the coloured samples (at most c_nMaxPoints of them, evenly spaced) and the 20 display
/// segments, the first eight (corner deviations, magnified) in red, the frustum edges in black.
namespace phantom_report {

inline constexpr unsigned int c_nMaxPoints = 6000;

/// What the page shows. The pointers must be valid during Render.
struct Input {
  std::string strSource;
  std::vector<std::string> vecTexts;  ///< the four statistics texts, UTF-8
  const PhantomMeasurements* pMeasurements = nullptr;
  std::vector<std::size_t> vecSampleCounts;  ///< per plane
  std::vector<CbVector3f> vecNormals;        ///< per plane
  const std::vector<CbVector3f>* pLines = nullptr;
  const KaCSurfelCollectionCCT* pColoured = nullptr;  ///< the samples coloured by plane
  std::size_t nIterations = 0;
  float fInitializationDuration = 0.0f;
  float fOverallDuration = 0.0f;
};

/// The page as UTF-8 text.
[[nodiscard]] std::string Render(const Input& input);
/// The colour the analysis gives plane i (value i + 1 on the range 0 to nPlanes), or the
/// outliers for i = -1, as "#rrggbb".
[[nodiscard]] std::string PlaneColor(int i, std::size_t nPlanes);
/// The role of plane i in the measurement ("rim", "wall -y", ...).
[[nodiscard]] std::string PlaneRole(std::size_t i);

}  // namespace phantom_report

}  // namespace tolvane::cli
