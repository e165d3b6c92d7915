// The JSON form of a phantom analysis result, shared by the tool and the bindings.
#include <tolvane/PhantomAnalysis.h>

#include <string>

#include "base/JsonText.h"

namespace tolvane {

namespace {

template <class T>
std::string Array(const T* values, int n) {
  std::string s = "[";
  for (int i = 0; i < n; ++i) s += (i ? "," : "") + JsonNumber(values[i]);
  return s + "]";
}

std::string Vector(const CbVector3f& v) {
  return "[" + JsonNumber(v.x) + "," + JsonNumber(v.y) + "," + JsonNumber(v.z) + "]";
}

// Depth, shearing, width and height of one set of quantities, with nominal values and
// deviations in µm (in the quantities' precision).
template <class T>
std::string Quantities(const phantom::Quantities<T>& q) {
  const T fDepthDeviation =
      phantom::DeviationMicrons(static_cast<T>(phantom::c_fNominalDepth), q.meanDepth);
  std::string j = "\"depth\":{\"mean_mm\":" + JsonNumber(q.meanDepth) +
                  ",\"at_corners_mm\":" + Array(q.depth, 4) +
                  ",\"nominal_mm\":" + JsonNumber(phantom::c_fNominalDepth) +
                  ",\"deviation_um\":" + JsonNumber(fDepthDeviation) + ",\"deviation_percent\":" +
                  JsonNumber(phantom::DepthDeviationPercent(fDepthDeviation)) + "}";
  const auto lengths = [](const char* name, const T* values, const float* nominal) {
    T dev[4];
    for (int k = 0; k < 4; ++k) {
      dev[k] = phantom::DeviationMicrons(static_cast<T>(nominal[k]), values[k]);
    }
    return std::string(",\n\"") + name + "\":{\"mm\":" + Array(values, 4) +
           ",\"nominal_mm\":" + Array(nominal, 4) + ",\"deviation_um\":" + Array(dev, 4) + "}";
  };
  j += lengths("shearing", q.shearing, phantom::c_fNominalShearing);
  j += lengths("width", q.width, phantom::c_fNominalWidth);
  j += lengths("height", q.height, phantom::c_fNominalHeight);
  return j;
}

}  // namespace

std::string PhantomResultToJson(const PhantomAnalysis::Result& r, const std::string& strSource) {
  std::string j = "{\"source\":" + JsonString(strSource);
  j += ",\n\"samples\":" + std::to_string(r.nSamples);
  j += ",\n\"texts\":[";
  for (int i = 0; i < 4; ++i) j += (i ? "," : "") + JsonString(ToUtf8(r.strTexts[i]));
  j += "],\n" + Quantities(r.analyzer);
  j += ",\n\"refined\":{" + Quantities(r.refined) + "}";
  j += ",\n\"verdict\":{\"pass\":" + std::string(r.verdict.bPass ? "true" : "false") +
       ",\"summary\":" + JsonString(r.verdict.Summary()) +
       ",\"attempt\":" + std::to_string(r.nAttempt) +
       ",\"attempts\":" + std::to_string(r.nAttempts) + ",\"checks\":[";
  for (std::size_t i = 0; i < r.verdict.vecChecks.size(); ++i) {
    const PhantomCheck& c = r.verdict.vecChecks[i];
    j += std::string(i ? "," : "") + "\n {\"name\":" + JsonString(c.strName) +
         ",\"value\":" + JsonNumber(c.fValue) + ",\"limit\":" + JsonNumber(c.fLimit) +
         ",\"unit\":" + JsonString(c.strUnit) + ",\"minimum\":" + (c.bMinimum ? "true" : "false") +
         ",\"pass\":" + (c.bPass ? "true" : "false") + "}";
  }
  j += "]}";
  j += ",\n\"pipeline\":{\"aligned\":" + std::string(r.bAligned ? "true" : "false") +
       ",\"stray_points\":" + std::to_string(r.nStrayPoints) +
       ",\"clustering_surfels\":" + std::to_string(r.nClusteringSurfels) + "}";
  j += ",\n\"planes\":[";
  for (std::size_t i = 0; i < r.vecPlanes.size(); ++i) {
    const PhantomAnalysis::Plane& p = r.vecPlanes[i];
    j += std::string(i ? "," : "") + "\n {\"role\":" + JsonString(p.strRole) +
         ",\"samples\":" + std::to_string(p.nSamples) + ",\"normal\":" + Vector(p.normal) +
         ",\"refined_normal\":" + Array(p.refinedNormal, 3) +
         ",\"refined_point\":" + Array(p.refinedPoint, 3) +
         ",\"rms_residual_mm\":" + JsonNumber(p.fRmsResidual) + "}";
  }
  j += "],\n\"corners\":{\"analyzer\":[";
  for (int k = 0; k < 8; ++k) j += (k ? "," : "") + Vector(r.analyzerCorners[k]);
  j += "],\"refined\":[";
  for (int k = 0; k < 8; ++k) j += (k ? "," : "") + Array(r.refinedCorners[k], 3);
  j += "]}";
  j += ",\n\"iterations\":" + std::to_string(r.nIterations);
  j += ",\n\"initialization_duration_s\":" + JsonNumber(r.fInitializationDuration);
  j += ",\n\"overall_duration_s\":" + JsonNumber(r.fOverallDuration);
  j += ",\n\"display_points\":[";
  for (std::size_t i = 0; i < r.vecDisplayPoints.size(); ++i) {
    j += (i ? "," : "") + Vector(r.vecDisplayPoints[i]);
  }
  return j + "]}\n";
}

}  // namespace tolvane
