#include "DistanceReport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "PngImage.h"
#include "Text.h"

namespace tolvane::cli {

namespace {

using Rgb = DivergingColorScale::Rgb;

constexpr unsigned int c_nMargin = 8;
// Palette of the views: background, the grey, then the scale in c_nSteps steps.
constexpr std::uint8_t c_iBackground = 0;
constexpr std::uint8_t c_iGrey = 1;
constexpr unsigned int c_nSteps = 254;

std::string Hex(const Rgb& c) {
  return Format("#%02x%02x%02x", static_cast<unsigned int>(c.r), static_cast<unsigned int>(c.g),
                static_cast<unsigned int>(c.b));
}

std::string Number(double v) { return std::isfinite(v) ? Format("%.6g", v) : std::string("n/a"); }

bool IsFinite(const CbVector3f& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// One view of the moved scan: picture coordinates (u right, v down) and a depth, smaller nearer.
struct Projection {
  bool bSide = false;
  [[nodiscard]] double U(const CbVector3f& p) const { return p.x; }
  [[nodiscard]] double V(const CbVector3f& p) const { return bSide ? p.z : p.y; }
  [[nodiscard]] double Depth(const CbVector3f& p) const { return bSide ? -p.y : p.z; }
};

PngImage RenderView(const distance_report::Input& in, bool bSide) {
  const Projection proj{bSide};
  const std::vector<CbVector3f>& positions = *in.pMovedPositions;
  double minU = std::numeric_limits<double>::infinity();
  double minV = minU;
  double maxU = -minU;
  double maxV = -minU;
  std::size_t nFinite = 0;
  for (const CbVector3f& p : positions) {
    if (!IsFinite(p)) continue;
    minU = std::min(minU, proj.U(p));
    maxU = std::max(maxU, proj.U(p));
    minV = std::min(minV, proj.V(p));
    maxV = std::max(maxV, proj.V(p));
    ++nFinite;
  }
  if (nFinite == 0) minU = minV = maxU = maxV = 0.0;
  const double inner = distance_report::c_nViewSize - 2.0 * c_nMargin;
  const double extent = std::max({maxU - minU, maxV - minV, 1e-9});
  const double scale = inner / extent;
  PngImage image;
  image.nWidth = static_cast<unsigned int>(std::ceil((maxU - minU) * scale)) + 1 + 2 * c_nMargin;
  image.nHeight = static_cast<unsigned int>(std::ceil((maxV - minV) * scale)) + 1 + 2 * c_nMargin;
  image.vecPalette.push_back({250, 250, 250});
  const Rgb grey = DivergingColorScale::c_noValue;
  image.vecPalette.push_back({grey.r, grey.g, grey.b});
  for (unsigned int k = 0; k < c_nSteps; ++k) {
    const Rgb c = DivergingColorScale::At(static_cast<double>(k) / (c_nSteps - 1));
    image.vecPalette.push_back({c.r, c.g, c.b});
  }
  const std::size_t nPixels = static_cast<std::size_t>(image.nWidth) * image.nHeight;
  image.vecPixels.assign(nPixels, c_iBackground);
  std::vector<float> depth(nPixels, std::numeric_limits<float>::infinity());

  // Each surfel covers a square of about the mean spacing of the top view's surfels.
  const double spacing =
      nFinite == 0
          ? 1.0
          : std::sqrt((maxU - minU) * (maxV - minV) / static_cast<double>(nFinite)) * scale;
  const int r = std::clamp(static_cast<int>(std::lround(spacing / 2.0)), 0, 4);
  const auto w = static_cast<int>(image.nWidth);
  const auto h = static_cast<int>(image.nHeight);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const CbVector3f& p = positions[i];
    if (!IsFinite(p)) continue;
    const double t = in.pScale->PositionOf((*in.pDistances)[i]);
    const auto index =
        std::isnan(t) ? c_iGrey : static_cast<std::uint8_t>(2 + std::lround(t * (c_nSteps - 1)));
    const int cx = c_nMargin + static_cast<int>(std::lround((proj.U(p) - minU) * scale));
    const int cy = c_nMargin + static_cast<int>(std::lround((proj.V(p) - minV) * scale));
    const auto d = static_cast<float>(proj.Depth(p));
    for (int y = std::max(cy - r, 0); y <= std::min(cy + r, h - 1); ++y) {
      for (int x = std::max(cx - r, 0); x <= std::min(cx + r, w - 1); ++x) {
        const std::size_t k = static_cast<std::size_t>(y) * image.nWidth + x;
        if (d < depth[k]) {
          depth[k] = d;
          image.vecPixels[k] = index;
        }
      }
    }
  }
  return image;
}

std::string View(const distance_report::Input& in, bool bSide) {
  const PngImage image = RenderView(in, bSide);
  return Format("<figure>\n<img width=\"%u\" height=\"%u\" alt=\"%s\" src=\"data:image/png;base64,",
                image.nWidth, image.nHeight, bSide ? "side view" : "top view") +
         ToBase64(image.Encode()) + "\">\n<figcaption>" +
         (bSide ? "Side view, from +y: x to the right, z down (the scanner above)"
                : "Top view, as the scanner sees it (from -z): x to the right, y down") +
         "</figcaption>\n</figure>\n";
}

// Histogram bars coloured like the map, the overflow bars in the end colours, and the colour
// scale under the bins as the legend, with ticks at -R, -R/2, 0, R/2 and R.
std::string Histogram(const distance_report::Input& in) {
  const DistanceStatistics::Histogram& hist = *in.pHistogram;
  const double range = in.pScale->GetRange();
  constexpr double c_fWidth = 1000.0;
  constexpr double c_fX0 = 90.0;
  constexpr double c_fX1 = 910.0;
  constexpr double c_fTop = 20.0;
  constexpr double c_fBottom = 220.0;
  constexpr double c_fBarGap = 1.0;
  std::size_t nMax = std::max(hist.nBelow, hist.nAbove);
  for (std::size_t n : hist.vecCounts) nMax = std::max(nMax, n);
  if (nMax == 0) nMax = 1;
  const auto barHeight = [&](std::size_t n) {
    return (c_fBottom - c_fTop) * static_cast<double>(n) / static_cast<double>(nMax);
  };
  std::string s = Format(
      "<svg width=\"%.0f\" height=\"330\" viewBox=\"0 0 %.0f 330\" role=\"img\" "
      "aria-label=\"histogram of the signed distances with the colour scale\">\n",
      c_fWidth, c_fWidth);
  s += "<defs><linearGradient id=\"scale\" x1=\"0\" x2=\"1\" y1=\"0\" y2=\"0\">";
  for (int k = 0; k < DivergingColorScale::c_nEntries; ++k) {
    const double t = static_cast<double>(k) / (DivergingColorScale::c_nEntries - 1);
    s += Format("<stop offset=\"%.5f\" stop-color=\"%s\"/>", t,
                Hex(DivergingColorScale::At(t)).c_str());
  }
  s += "</linearGradient></defs>\n";
  const std::size_t nBins = hist.vecCounts.size();
  const double binWidth = (c_fX1 - c_fX0) / static_cast<double>(nBins);
  for (std::size_t k = 0; k < nBins; ++k) {
    const double hgt = barHeight(hist.vecCounts[k]);
    const double t = (static_cast<double>(k) + 0.5) / static_cast<double>(nBins);
    s += Format(
        "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"%s\" "
        "stroke=\"#555\" stroke-width=\"0.5\"/>\n",
        c_fX0 + binWidth * static_cast<double>(k) + c_fBarGap / 2, c_fBottom - hgt,
        binWidth - c_fBarGap, hgt, Hex(DivergingColorScale::At(t)).c_str());
  }
  // Overflow bars beside the bins.
  const struct {
    double x;
    std::size_t n;
    double t;
    const char* szLabel;
  } overflow[] = {{c_fX0 - 60.0, hist.nBelow, 0.0, "&lt; &minus;R"},
                  {c_fX1 + 30.0, hist.nAbove, 1.0, "&gt; R"}};
  for (const auto& o : overflow) {
    const double hgt = barHeight(o.n);
    s += Format(
        "<rect x=\"%.2f\" y=\"%.2f\" width=\"30\" height=\"%.2f\" fill=\"%s\" stroke=\"#555\" "
        "stroke-width=\"0.5\"/>\n<text x=\"%.2f\" y=\"%.2f\" font-size=\"12\" "
        "text-anchor=\"middle\">%s</text>\n",
        o.x, c_fBottom - hgt, hgt, Hex(DivergingColorScale::At(o.t)).c_str(), o.x + 15.0,
        c_fBottom + 16.0, o.szLabel);
  }
  s += Format(
      "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" stroke=\"#222\"/>\n"
      "<text x=\"%.0f\" y=\"%.0f\" font-size=\"12\" text-anchor=\"end\">%zu</text>\n"
      "<text x=\"%.0f\" y=\"%.0f\" font-size=\"12\" text-anchor=\"end\">0</text>\n",
      c_fX0, c_fBottom, c_fX1, c_fBottom, c_fX0 - 66.0, c_fTop + 10.0, nMax, c_fX0 - 66.0,
      c_fBottom);
  // The legend: the scale under the bins, with ticks and values.
  constexpr double c_fLegendTop = 240.0;
  constexpr double c_fLegendHeight = 22.0;
  s += Format(
      "<rect x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\" fill=\"url(#scale)\" "
      "stroke=\"#555\" stroke-width=\"0.5\"/>\n",
      c_fX0, c_fLegendTop, c_fX1 - c_fX0, c_fLegendHeight);
  for (int k = -2; k <= 2; ++k) {
    const double x = c_fX0 + (c_fX1 - c_fX0) * (k + 2) / 4.0;
    s += Format(
        "<line x1=\"%.2f\" y1=\"%.0f\" x2=\"%.2f\" y2=\"%.0f\" stroke=\"#222\"/>\n"
        "<text x=\"%.2f\" y=\"%.0f\" font-size=\"13\" text-anchor=\"middle\">%s %s</text>\n",
        x, c_fLegendTop + c_fLegendHeight, x, c_fLegendTop + c_fLegendHeight + 6.0, x,
        c_fLegendTop + c_fLegendHeight + 22.0, k == 0 ? "0" : Number(range * k / 2.0).c_str(),
        HtmlEscape(in.strUnit).c_str());
  }
  // The grey, which the scale never uses.
  const Rgb grey = DivergingColorScale::c_noValue;
  s += Format(
      "<rect x=\"%.0f\" y=\"300\" width=\"22\" height=\"14\" fill=\"%s\" stroke=\"#555\" "
      "stroke-width=\"0.5\"/>\n<text x=\"%.0f\" y=\"312\" font-size=\"13\">no distance, or "
      "|d| &gt; A = %s %s</text>\n",
      c_fX0, Hex(grey).c_str(), c_fX0 + 30.0, Number(in.pScale->GetMaxAbs()).c_str(),
      HtmlEscape(in.strUnit).c_str());
  return s + "</svg>\n";
}

std::string Row(const std::string& name, const std::string& value, const std::string& unit) {
  return "<tr><td>" + name + "</td><td>" + value + "</td><td class=\"t\">" + unit + "</td></tr>\n";
}

}  // namespace

std::array<distance_report::Figure, 8> distance_report::SummaryFigures(
    const DistanceStatistics& st) {
  return {{{"mean", "mean", st.GetMean()},
           {"standard deviation", "standard_deviation", st.GetStandardDeviation()},
           {"RMS", "rms", st.GetRms()},
           {"minimum", "minimum", st.GetMinimum()},
           {"maximum", "maximum", st.GetMaximum()},
           {"5th percentile", "p5", st.GetPercentile(0.05)},
           {"50th percentile", "p50", st.GetPercentile(0.50)},
           {"95th percentile", "p95", st.GetPercentile(0.95)}}};
}

std::string distance_report::Render(const Input& in) {
  const DistanceStatistics& st = *in.pStatistics;
  const std::string unit = HtmlEscape(in.strUnit);
  std::size_t nBeyond = 0;
  for (float d : *in.pDistances) {
    if (d != DivergingColorScale::c_fNoValue && std::isnan(in.pScale->PositionOf(d))) ++nBeyond;
  }
  std::string h =
      HtmlPageStart("Distance map",
                    "img{border:1px solid #ccc;image-rendering:pixelated}\n"
                    ".views{display:flex;flex-wrap:wrap;gap:1em;align-items:flex-start}\n");
  h += "<p>Signed distance of every surfel of <b>" + HtmlEscape(in.strMoving) +
       "</b>, moved by the transformation, to the surface of <b>" + HtmlEscape(in.strReference) +
       "</b>, along the normal of its nearest surfel: positive on the side the normal points "
       "to. Lengths in the files' unit, " +
       unit + ".</p>\n";
  h += "<h2>Summary</h2>\n<table>\n<tr><th>Quantity</th><th>Value</th><th>Unit</th></tr>\n";
  h += Row("Surfels", std::to_string(st.GetNrSurfels()), "");
  h += Row("With a distance", std::to_string(st.GetNrWithDistance()), "");
  h += Row("Beyond &plusmn;A (grey)", std::to_string(nBeyond), "");
  for (const Figure& f : SummaryFigures(st)) {
    std::string name = f.szName;
    name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    h += Row(name, Number(f.fValue), unit);
  }
  h += "</table>\n<h2>Histogram and colour scale</h2>\n" + Histogram(in);
  h += Format(
      "<p>%zu bins over &minus;R..R; the bars at the ends count the distances beyond "
      "&plusmn;R, drawn in the end colours up to &plusmn;A and grey beyond.</p>\n",
      in.pHistogram->vecCounts.size());
  h += "<h2>Views</h2>\n<p>The moving scan at its moved position, coloured by distance; every "
       "surfel drawn, the nearest one in front.</p>\n<div class=\"views\">\n" +
       View(in, false) + View(in, true) + "</div>\n";

  h += "<h2>Parameters</h2>\n<table>\n<tr><th>Transformation</th><th colspan=\"4\">4 &times; 4, "
       "applied to (x, y, z, 1)</th></tr>\n";
  for (int r = 0; r < 4; ++r) {
    h += "<tr><td>row " + std::to_string(r + 1) + "</td>";
    for (int c = 0; c < 4; ++c) h += "<td>" + Format("%.9g", in.matTransformation(r, c)) + "</td>";
    h += "</tr>\n";
  }
  h += "</table>\n<table>\n<tr><th>Parameter</th><th>Value</th><th>Unit</th><th>Source</th>"
       "</tr>\n";
  const auto param = [&](const char* name, double v, bool bGiven, const char* szDefault) {
    return "<tr><td>" + std::string(name) + "</td><td>" + Number(v) + "</td><td class=\"t\">" +
           unit + "</td><td class=\"t\">" + (bGiven ? "given" : szDefault) + "</td></tr>\n";
  };
  h += param("Lateral limit D", in.fMaxDistance, in.bMaxDistanceGiven,
             "default: twice the reference's average surfel spacing");
  h += param("Range R", in.pScale->GetRange(), in.bRangeGiven,
             "default: 95th percentile of |d| (1 when that is 0)");
  h += param("Limit A", in.pScale->GetMaxAbs(), in.bMaxAbsGiven, "default: 3 R");
  return h + "</table>\n</body>\n</html>\n";
}

}  // namespace tolvane::cli
