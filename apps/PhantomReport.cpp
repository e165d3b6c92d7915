#include "PhantomReport.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "Text.h"
#include "container/KaCCompressedColor.h"
#include "tissue/KaCColorCoder.h"

namespace tolvane::cli {

namespace {

constexpr double c_fViewSize = 520.0;
constexpr double c_fMargin = 24.0;

std::string Hex(const KaCCompressedColor& c) {
  return Format("#%02x%02x%02x", static_cast<unsigned int>(c.r), static_cast<unsigned int>(c.g),
                static_cast<unsigned int>(c.b));
}

// Projection of a point to the picture plane of a view: top (x, -y), side (x, z).
struct View {
  bool bSide = false;
  double minU = 0.0, minV = 0.0, scale = 1.0;

  [[nodiscard]] double U(const CbVector3f& p) const { return p.x; }
  [[nodiscard]] double V(const CbVector3f& p) const { return bSide ? p.z : -p.y; }
  [[nodiscard]] double X(const CbVector3f& p) const { return c_fMargin + (U(p) - minU) * scale; }
  [[nodiscard]] double Y(const CbVector3f& p) const { return c_fMargin + (V(p) - minV) * scale; }
};

View FitView(bool bSide, const std::vector<CbVector3f>& points) {
  View v;
  v.bSide = bSide;
  double maxU = -std::numeric_limits<double>::infinity();
  double maxV = maxU;
  v.minU = std::numeric_limits<double>::infinity();
  v.minV = v.minU;
  for (const CbVector3f& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
    v.minU = std::min(v.minU, v.U(p));
    v.minV = std::min(v.minV, v.V(p));
    maxU = std::max(maxU, v.U(p));
    maxV = std::max(maxV, v.V(p));
  }
  if (!(maxU >= v.minU)) {
    v.minU = v.minV = 0.0;
    maxU = maxV = 1.0;
  }
  const double extent = std::max({maxU - v.minU, maxV - v.minV, 1e-6});
  v.scale = (c_fViewSize - 2.0 * c_fMargin) / extent;
  return v;
}

std::string Svg(const PhantomAnalysis::Result& in, bool bSide,
                const std::vector<unsigned int>& picked) {
  const KaCSurfelCollectionCCT& c = *in.spColoured;
  const auto positions = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  std::vector<CbVector3f> extent;
  for (unsigned int i : picked) extent.push_back(positions[i]);
  for (const CbVector3f& p : in.vecDisplayPoints) extent.push_back(p);
  const View view = FitView(bSide, extent);

  std::string s = Format(
      "<svg width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\" aria-label=\"%s\">\n",
      static_cast<int>(c_fViewSize), static_cast<int>(c_fViewSize), static_cast<int>(c_fViewSize),
      static_cast<int>(c_fViewSize), bSide ? "side view" : "top view");
  s += Format("<rect width=\"%d\" height=\"%d\" fill=\"#fafafa\" stroke=\"#ccc\"/>\n",
              static_cast<int>(c_fViewSize), static_cast<int>(c_fViewSize));
  // Samples as round dots, one path per colour.
  std::map<std::string, std::string> paths;
  for (unsigned int i : picked) {
    const CbVector3f& p = positions[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) continue;
    paths[Hex(colors[i])] += Format("M%.1f %.1fh0", view.X(p), view.Y(p));
  }
  for (const auto& [color, d] : paths) {
    s += "<path stroke=\"" + color +
         "\" stroke-width=\"2.2\" stroke-linecap=\"round\" fill=\"none\" d=\"" + d + "\"/>\n";
  }
  // Display segments: corner deviations first, then the frustum's edges.
  const std::vector<CbVector3f>& lines = in.vecDisplayPoints;
  for (std::size_t k = 0; k + 1 < lines.size(); k += 2) {
    const bool bDeviation = k < 16;
    s += Format(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
        "stroke-width=\"%s\"/>\n",
        view.X(lines[k]), view.Y(lines[k]), view.X(lines[k + 1]), view.Y(lines[k + 1]),
        bDeviation ? "#d62728" : "#222", bDeviation ? "2" : "1.2");
  }
  static const char c_names[] = "ABCDEFGH";
  for (std::size_t k = 0; k < 8 && 2 * k < lines.size(); ++k) {
    s += Format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"12\" fill=\"#222\">%c</text>\n",
                view.X(lines[2 * k]) + 4.0, view.Y(lines[2 * k]) - 4.0, c_names[k]);
  }
  s += Format("<text x=\"8\" y=\"%d\" font-size=\"11\" fill=\"#555\">%s</text>\n",
              static_cast<int>(c_fViewSize) - 8,
              bSide ? "x to the right, z down (scanner above)" : "x to the right, y up");
  return s + "</svg>\n";
}

}  // namespace

std::string phantom_report::PlaneColor(int i, std::size_t nPlanes) {
  KaCColorCoder coder(0.0f, static_cast<float>(nPlanes));
  coder.SetIntegerMode(0);
  float rgb[3] = {0.0f, 0.0f, 0.0f};
  coder.SetColor(static_cast<float>(i + 1), rgb);
  return Hex(KaCCompressedColor(rgb[0], rgb[1], rgb[2]));
}

std::string phantom_report::VerdictLine(const PhantomAnalysis::Result& r, int nMaxAttempts) {
  if (r.verdict.bPass) {
    return Format("verdict: pass (attempt %d of %d)", r.nAttempt, nMaxAttempts);
  }
  return "verdict: " + r.verdict.Summary() +
         Format(" (%d attempt%s)", r.nAttempts, r.nAttempts == 1 ? "" : "s");
}

std::string phantom_report::Render(const PhantomAnalysis::Result& in, const std::string& strSource,
                                   int nMaxAttempts) {
  namespace nominal = tolvane::phantom;
  std::string h =
      HtmlPageStart("Phantom analysis",
                    "pre{background:#f4f4f4;padding:.8em}\n"
                    ".views{display:flex;flex-wrap:wrap;gap:1em}\n"
                    ".sw{display:inline-block;width:1em;height:1em;vertical-align:middle;"
                    "border:1px solid #888}\n"
                    ".pass{color:#1a7f37}.fail{color:#c62828}\n");
  h += "<p>Scan: " + HtmlEscape(strSource) + "</p>\n";
  h += Format("<h2 class=\"%s\">", in.verdict.bPass ? "pass" : "fail") +
       HtmlEscape(VerdictLine(in, nMaxAttempts)) +
       "</h2>\n<table>\n"
       "<tr><th>Check</th><th>Value</th><th>Limit</th><th>Result</th></tr>\n";
  for (const PhantomCheck& c : in.verdict.vecChecks) {
    h += Format("<tr><td>%s</td><td>%.4g %s</td><td>%s %.4g %s</td><td class=\"%s\">%s</td></tr>\n",
                HtmlEscape(c.strName).c_str(), c.fValue, c.strUnit.c_str(),
                c.bMinimum ? "at least" : "at most", c.fLimit, c.strUnit.c_str(),
                c.bPass ? "pass" : "fail", c.bPass ? "pass" : "FAIL");
  }
  h += Format(
      "</table>\n<p>Stages: stray points left out of the clustering: %zu; turned into the "
      "phantom's frame: %s; clustering surfels: %zu of %zu.</p>\n",
      in.nStrayPoints, in.bAligned ? "yes" : "no", in.nClusteringSurfels, in.nSamples);
  h += "<pre>";
  for (const std::wstring& t : in.strTexts) h += HtmlEscape(ToUtf8(t)) + "\n";
  h += "</pre>\n<h2>Measurements</h2>\n<p>Analyzer: the numbers behind the texts above "
       "(single precision). Refined: the final planes refitted in double precision with "
       "centred sums.</p>\n<table>\n"
       "<tr><th>Quantity</th><th>Analyzer (mm)</th><th>Refined (mm)</th><th>Nominal (mm)</th>"
       "<th>Analyzer deviation (\xC2\xB5m)</th><th>Refined deviation (\xC2\xB5m)</th></tr>\n";
  const auto row = [&](const std::string& name, float a, double f, double nominalValue) {
    std::string deviations = "<td>&ndash;</td><td>&ndash;</td>";
    if (std::isfinite(nominalValue)) {
      const float fAnalyzer = nominal::DeviationMicrons(static_cast<float>(nominalValue), a);
      deviations = Format("<td>%.1f</td><td>%.2f</td>", static_cast<double>(fAnalyzer),
                          nominal::DeviationMicrons(nominalValue, f));
    }
    h += "<tr><td>" + name + "</td><td>" + Format("%.4f", static_cast<double>(a)) + "</td><td>" +
         Format("%.5f", f) + "</td><td>" +
         (std::isfinite(nominalValue) ? Format("%.6f", nominalValue) : "&ndash;") + "</td>" +
         deviations + "</tr>\n";
  };
  const double fNone = std::numeric_limits<double>::quiet_NaN();
  row("Mean depth", in.analyzer.meanDepth, in.refined.meanDepth, nominal::c_fNominalDepth);
  static const char* const c_corners[] = {"A", "B", "C", "D"};
  for (int k = 0; k < 4; ++k) {
    row(std::string("Depth at ") + c_corners[k], in.analyzer.depth[k], in.refined.depth[k], fNone);
  }
  for (int k = 0; k < 4; ++k) {
    row(std::string("Shearing at ") + c_corners[k], in.analyzer.shearing[k], in.refined.shearing[k],
        nominal::c_fNominalShearing[k]);
  }
  for (int k = 0; k < 4; ++k) {
    row("Width " + std::to_string(k + 1), in.analyzer.width[k], in.refined.width[k],
        nominal::c_fNominalWidth[k]);
  }
  for (int k = 0; k < 4; ++k) {
    row("Height " + std::to_string(k + 1), in.analyzer.height[k], in.refined.height[k],
        nominal::c_fNominalHeight[k]);
  }
  h += std::string("</table>\n<p>Note: ") + HtmlEscape(PhantomShearingNote()) + "</p>\n";
  h += "<h2>Planes</h2>\n<table>\n"
       "<tr><th>Plane</th><th>Colour</th><th>Role</th><th>Samples</th><th>Normal</th>"
       "<th>RMS residual (\xC2\xB5m)</th></tr>\n";
  const std::size_t nPlanes = in.vecPlanes.size();
  std::size_t nKept = 0;
  for (std::size_t i = 0; i < nPlanes; ++i) {
    const PhantomAnalysis::Plane& plane = in.vecPlanes[i];
    const CbVector3f& n = plane.normal;
    nKept += plane.nSamples;
    h += Format(
        "<tr><td>%zu</td><td><span class=\"sw\" style=\"background:%s\"></span></td>"
        "<td class=\"t\">%s</td><td>%zu</td><td>(%.4f, %.4f, %.4f)</td><td>%.2f</td></tr>\n",
        i, PlaneColor(static_cast<int>(i), nPlanes).c_str(), plane.strRole.c_str(), plane.nSamples,
        static_cast<double>(n.x), static_cast<double>(n.y), static_cast<double>(n.z),
        plane.fRmsResidual * 1000.0);
  }
  const std::size_t nAll = in.spColoured->GetNrSurfels();
  h += Format(
      "<tr><td>&ndash;</td><td><span class=\"sw\" style=\"background:%s\"></span></td>"
      "<td class=\"t\">outliers</td><td>%zu</td><td></td><td></td></tr>\n</table>\n",
      PlaneColor(-1, nPlanes).c_str(), nAll > nKept ? nAll - nKept : 0);
  h += Format(
      "<p>k-means passes of the last run: %zu; initialisation %.3f s, "
      "initialisation and k-means %.3f s (processor time, three restarts, kept attempt)."
      "</p>\n",
      in.nIterations, static_cast<double>(in.fInitializationDuration),
      static_cast<double>(in.fOverallDuration));

  // The same evenly spaced samples in both views.
  std::vector<unsigned int> picked;
  const unsigned int n = in.spColoured->GetNrSurfels();
  const unsigned int step = n > c_nMaxPoints ? (n + c_nMaxPoints - 1) / c_nMaxPoints : 1;
  for (unsigned int i = 0; i < n; i += step) picked.push_back(i);
  h += "<h2>Views</h2>\n<p>Samples coloured by plane; red: the corner deviations from the "
       "fitted nominal phantom, magnified 100 times; black: the edges of the measured "
       "frustum.</p>\n<div class=\"views\">\n<figure>\n" +
       Svg(in, false, picked) + "<figcaption>Top view</figcaption>\n</figure>\n<figure>\n" +
       Svg(in, true, picked) + "<figcaption>Side view</figcaption>\n</figure>\n</div>\n";
  return h + "</body>\n</html>\n";
}

}  // namespace tolvane::cli
