#pragma once

#include <array>
#include <string>
#include <vector>

#include <tolvane/DistanceStatistics.h>
#include <tolvane/DivergingColorScale.h>

#include "base/CbMatrix4.h"
#include "base/CbVector3f.h"

namespace tolvane::cli {

/// The HTML page of a distance map: one self-contained file (inline CSS, SVG and PNG, no script,
/// nothing fetched) with the summary as a table in the files' unit, a histogram of the signed
/// distances over -R..R with the colour scale under it as the legend, a top view and a side view
/// of the moving scan at its moved position coloured by distance, and the parameters.
///
/// The views are z-buffered rasters (at most c_nViewSize pixels a side) of every surfel: the top
/// view as the scanner sees it, from -z (x right, y down); the side view from +y (x right, z
/// down, the scanner above).
namespace distance_report {

constexpr unsigned int c_nViewSize = 520;
/// Bins of the histogram over -R..R (odd, so that one bin is centred on zero).
constexpr std::size_t c_nHistogramBins = 41;

/// What the page shows. The pointers must be valid during Render.
struct Input {
  std::string strReference;
  std::string strMoving;
  std::string strUnit;
  const std::vector<float>* pDistances = nullptr;            ///< per moving surfel
  const std::vector<CbVector3f>* pMovedPositions = nullptr;  ///< per moving surfel
  const DistanceStatistics* pStatistics = nullptr;
  const DistanceStatistics::Histogram* pHistogram = nullptr;  ///< over -R..R
  const DivergingColorScale* pScale = nullptr;
  CbMatrix4Rd matTransformation;
  float fMaxDistance = 0.0f;
  bool bMaxDistanceGiven = false;
  bool bRangeGiven = false;
  bool bMaxAbsGiven = false;
};

/// One figure of the summary: its name in the text, its key in the JSON, its value.
struct Figure {
  const char* szName;
  const char* szKey;
  double fValue;
};
/// The figures of the summary after the two counts, in the order they are printed: mean,
/// standard deviation, RMS, minimum, maximum, 5th, 50th and 95th percentiles.
[[nodiscard]] std::array<Figure, 8> SummaryFigures(const DistanceStatistics& statistics);

/// The page as UTF-8 text.
[[nodiscard]] std::string Render(const Input& input);

}  // namespace distance_report

}  // namespace tolvane::cli
