#pragma once

#include <tolvane/Export.h>

namespace tolvane {

/// The limits of the checks that judge a phantom analysis (docs/phantom.md, "Verdict"). The
/// defaults separate the two kinds of error a scan can show: a scanner error moves corners and
/// lengths by micrometres, a face in the wrong role or a stray cluster by millimetres. Each
/// limit sits well between the two, measured on generated scans with noise up to 20 µm,
/// normals scattered by up to 10 degrees, poses, stray points and thinned faces. Lengths in
/// millimetres, angles in degrees. A plain value; change any field before the analysis.
struct TOLVANE_API PhantomLimits {
  /// Each of the seven faces keeps at least this share of the samples that the analysis keeps.
  /// The smallest face of a full scan holds about 6 %; a thinned or half-scanned face keeps
  /// 1 % and more. A plane that lost its face to another one, or holds stray points only, gets
  /// a fraction of a per cent.
  double fMinPlaneShare = 0.004;
  /// A plane's RMS residual may be at most fResidualFactor times the median residual of the
  /// seven planes, plus fResidualFloor. The median follows the scan's own noise; a plane that
  /// spans two faces or a face and strays has a residual several times larger.
  double fResidualFactor = 4.0;
  double fResidualFloor = 0.003;
  /// The four depths at A to D agree within this span. The nominal phantom's rim and floor
  /// are parallel; a real one differs by a few µm, a wrong floor or rim by far more.
  double fMaxDepthSpread = 0.05;
  /// The angles between the faces (the four walls and the floor against the rim) agree with
  /// the nominal phantom's within this many degrees. The walls' nominal angles to the rim
  /// differ from each other by 1.3 to 17 degrees, so walls that swapped roles show.
  double fMaxAngleError = 3.0;
  /// Widths and heights lie within this distance of their nominal values: a scanner error or
  /// a 1 % scale error costs up to 0.07 mm, a face in the wrong role millimetres.
  double fMaxLengthError = 0.25;
  /// The eight corners lie within this RMS distance of the nominal corners after the best
  /// rigid fit: corners that swapped labels (a phantom turned by 90 or 180 degrees and sorted
  /// wrongly) miss by millimetres.
  double fMaxCornerFitRms = 0.05;
  /// The phantom is nearly symmetric under a half turn about its viewing axis: relabelled that
  /// way, its corners still fit the nominal ones within 0.034 mm. The corners as labelled must
  /// fit better than their half-turned relabelling by at least this RMS margin, else the
  /// labels may be turned (a pose or a scanner error makes that the better fit).
  double fMinOrientationMargin = 0.01;
  /// The analyzer's lengths and the refined ones (double precision) agree within this. The
  /// analyzer's float sums drift by a few µm on millions of samples; a depth of the wrong sign
  /// (the rim normal turned the other way) differs by 6 mm.
  double fMaxAnalyzerDrift = 0.02;
};

}  // namespace tolvane
