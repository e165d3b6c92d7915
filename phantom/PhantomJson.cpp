// The JSON form of a phantom analysis result, shared by the tool and the bindings.
#include <tolvane/PhantomAnalysis.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace tolvane {

namespace {

// The shortest decimal that reads back to the same value; null when not finite.
template <class T>
std::string Number(T v) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
  (void)ec;  // 64 characters hold every float and double
  return std::string(buf, ptr);
}

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (const wchar_t wc : text) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string String(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned int>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

template <class T>
std::string Array(const T* values, int n) {
  std::string s = "[";
  for (int i = 0; i < n; ++i) s += (i ? "," : "") + Number(values[i]);
  return s + "]";
}

std::string Vector(const CbVector3f& v) {
  return "[" + Number(v.x) + "," + Number(v.y) + "," + Number(v.z) + "]";
}

// Depth, shearing, width and height of one set of quantities, with nominal values and
// deviations in µm (in the quantities' precision).
template <class T>
std::string Quantities(const phantom::Quantities<T>& q) {
  const T fDepthDeviation =
      phantom::DeviationMicrons(static_cast<T>(phantom::c_fNominalDepth), q.meanDepth);
  std::string j =
      "\"depth\":{\"mean_mm\":" + Number(q.meanDepth) + ",\"at_corners_mm\":" + Array(q.depth, 4) +
      ",\"nominal_mm\":" + Number(phantom::c_fNominalDepth) +
      ",\"deviation_um\":" + Number(fDepthDeviation) +
      ",\"deviation_percent\":" + Number(phantom::DepthDeviationPercent(fDepthDeviation)) + "}";
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
  std::string j = "{\"source\":" + String(strSource);
  j += ",\n\"samples\":" + std::to_string(r.nSamples);
  j += ",\n\"texts\":[";
  for (int i = 0; i < 4; ++i) j += (i ? "," : "") + String(Utf8(r.strTexts[i]));
  j += "],\n" + Quantities(r.analyzer);
  j += ",\n\"refined\":{" + Quantities(r.refined) + "}";
  j += ",\n\"verdict\":{\"pass\":" + std::string(r.verdict.bPass ? "true" : "false") +
       ",\"summary\":" + String(r.verdict.Summary()) +
       ",\"attempt\":" + std::to_string(r.nAttempt) +
       ",\"attempts\":" + std::to_string(r.nAttempts) + ",\"checks\":[";
  for (std::size_t i = 0; i < r.verdict.vecChecks.size(); ++i) {
    const PhantomCheck& c = r.verdict.vecChecks[i];
    j += std::string(i ? "," : "") + "\n {\"name\":" + String(c.strName) +
         ",\"value\":" + Number(c.fValue) + ",\"limit\":" + Number(c.fLimit) +
         ",\"unit\":" + String(c.strUnit) + ",\"minimum\":" + (c.bMinimum ? "true" : "false") +
         ",\"pass\":" + (c.bPass ? "true" : "false") + "}";
  }
  j += "]}";
  j += ",\n\"pipeline\":{\"aligned\":" + std::string(r.bAligned ? "true" : "false") +
       ",\"stray_points\":" + std::to_string(r.nStrayPoints) +
       ",\"clustering_surfels\":" + std::to_string(r.nClusteringSurfels) + "}";
  j += ",\n\"planes\":[";
  for (std::size_t i = 0; i < r.vecPlanes.size(); ++i) {
    const PhantomAnalysis::Plane& p = r.vecPlanes[i];
    j += std::string(i ? "," : "") + "\n {\"role\":" + String(p.strRole) +
         ",\"samples\":" + std::to_string(p.nSamples) + ",\"normal\":" + Vector(p.normal) +
         ",\"refined_normal\":" + Array(p.refinedNormal, 3) +
         ",\"refined_point\":" + Array(p.refinedPoint, 3) +
         ",\"rms_residual_mm\":" + Number(p.fRmsResidual) + "}";
  }
  j += "],\n\"corners\":{\"analyzer\":[";
  for (int k = 0; k < 8; ++k) j += (k ? "," : "") + Vector(r.analyzerCorners[k]);
  j += "],\"refined\":[";
  for (int k = 0; k < 8; ++k) j += (k ? "," : "") + Array(r.refinedCorners[k], 3);
  j += "]}";
  j += ",\n\"iterations\":" + std::to_string(r.nIterations);
  j += ",\n\"initialization_duration_s\":" + Number(r.fInitializationDuration);
  j += ",\n\"overall_duration_s\":" + Number(r.fOverallDuration);
  j += ",\n\"display_points\":[";
  for (std::size_t i = 0; i < r.vecDisplayPoints.size(); ++i) {
    j += (i ? "," : "") + Vector(r.vecDisplayPoints[i]);
  }
  return j + "]}\n";
}

}  // namespace tolvane
