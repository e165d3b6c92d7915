#pragma once

#include <tolvane/PhantomGeometry.h>

#include "base/CbSmartPointer.h"
#include "base/CbVector3f.h"
#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane::synth {

/// Synthetic scans of the calibration phantom for tests, benchmarks, the command-line tool and
/// the Python module: surfels on the phantom's seven faces in its nominal frame (millimetres),
/// with normals towards the scanner on the -z side, optional Gaussian position noise, an
/// optional known deformation, stray points, thinned or half-scanned faces and a rigid pose,
/// together with the true geometry that an analysis should report.
///
/// The faces, numbered by the roles the analyzer gives them: 0 the rim face around the cavity
/// opening A, B, D, C; 1 and 2 the walls on the -y and +y sides; 3 and 4 the walls on the -x
/// and +x sides; 5 the cavity floor E, F, H, G; 6 the base plate on which the phantom block
/// stands, 1 mm farther from the scanner than the floor. Attribute 105 of every generated
/// surfel holds its face number, c_nStrayLabel for stray points.
///
/// Scanner model (docs/phantom.md): the scanner looks along +z and its field of view spans
/// 6 mm across x, centred on the cavity opening, and the whole phantom along y; surfaces inside
/// it are sampled with uniform density per unit area (a fused surfel collection). The field
/// of view crops the upper parts of the steep -x and +x walls, which is what places their
/// sample centroids deeper than those of the -y and +y walls, as a real scan does.
///
/// Deterministic for given parameters (std::mt19937 seeded from the parameters); never uses
/// rand(). Const operations may run from several threads at once.
class PhantomScanGenerator {
 public:
  /// Attribute 105 of a stray point.
  static constexpr unsigned int c_nStrayLabel = 7;

  struct Parameters {
    /// Number of surfels generated, stray points included.
    unsigned int nNrSurfels = 100000;
    /// Standard deviation of the Gaussian noise added to each coordinate, millimetres.
    float fNoiseSigma = 0.0f;
    /// Standard deviation of the angular noise of the normals, degrees. Noise-free normals would
    /// give every surfel of a face the same normal code, which the analyzer does not handle
    /// well (docs/phantom.md); real surfel normals scatter by a few degrees.
    float fNormalNoiseDegrees = 2.0f;
    /// Seed of the generator's own random engine.
    unsigned int nSeed = 1;
    /// Deformation: positions are multiplied by these factors after sampling (normals follow).
    CbVector3f scale = CbVector3f(1.0f, 1.0f, 1.0f);
    /// Deformation: wall 1 to 4 turned by fTiltDegrees about its edge on the rim face,
    /// right-handed about the direction n0 x nk (n0 the rim normal away from the scanner, nk
    /// the wall normal towards it); 0 for none. The floor corners move with the wall.
    int iTiltedWall = 0;
    float fTiltDegrees = 0.0f;
    /// Share of the surfels that are stray points, 0 to 0.5: uniform in the box of the
    /// phantom's visible part grown by 1 mm on every side, with normals drawn uniformly from
    /// the half sphere that faces the scanner. They come after the face surfels.
    float fStrayFraction = 0.0f;
    /// Density of each face relative to the others, 0 to 1 (1 everywhere: uniform per area).
    float faceDensity[7] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f};
    /// A face (0 to 6) of which only the half with the smaller x is scanned; -1 for none.
    int iHalfScannedFace = -1;
    /// Rigid pose applied last to positions and normals: a rotation given as axis times angle
    /// (degrees) about the origin of the phantom frame, then a translation (millimetres).
    CbVector3f poseRotationDegrees = CbVector3f(0.0f, 0.0f, 0.0f);
    CbVector3f poseTranslation = CbVector3f(0.0f, 0.0f, 0.0f);
  };

  /// Builds the phantom's planes and corners for the parameters. Throws CbException for a
  /// negative or non-finite noise (either kind), a zero or non-finite scale, a tilted wall
  /// outside 0..4, a stray share outside 0..0.5, a face density outside 0..1 (or all zero), a
  /// half-scanned face outside -1..6 or a non-finite pose.
  explicit PhantomScanGenerator(const Parameters& parameters);

  /// A new collection (full attribute set) of the requested number of surfels; the caller
  /// owns it through the pointer.
  [[nodiscard]] CbSmartPointer<KaCSurfelCollectionCCT> Generate() const;

  /// The true corner k (0 to 7 for A to H) after the deformation and the pose: the meeting
  /// point of three faces, as the analyzer computes it.
  [[nodiscard]] CbVector3f GetCorner(int k) const;
  /// The unit normal of face i (0 to 6) after the deformation and the pose, pointing towards
  /// the scanner, as the surfels' normals do.
  [[nodiscard]] CbVector3f GetNormal(int i) const;
  /// A point on face i after the deformation and the pose.
  [[nodiscard]] CbVector3f GetPoint(int i) const;

  /// The true values of the quantities the analyzer reports, from the true corners and the
  /// rim normal pointing away from the scanner, computed in double precision. A rigid pose
  /// leaves them unchanged.
  [[nodiscard]] const phantom::Quantities<double>& GetQuantities() const { return m_quantities; }
  /// Single quantities of GetQuantities(); k is 0 to 3 as in the analyzer's texts.
  [[nodiscard]] double GetDepth(int k) const { return m_quantities.depth[k]; }
  [[nodiscard]] double GetMeanDepth() const { return m_quantities.meanDepth; }
  [[nodiscard]] double GetShearing(int k) const { return m_quantities.shearing[k]; }
  [[nodiscard]] double GetWidth(int k) const { return m_quantities.width[k]; }
  [[nodiscard]] double GetHeight(int k) const { return m_quantities.height[k]; }

 private:
  struct Vec3d {
    double x = 0.0, y = 0.0, z = 0.0;
  };
  [[nodiscard]] Vec3d Posed(const Vec3d& p, bool bDirection) const;

  Parameters m_parameters;
  double m_pose[3][3];  // rotation of the pose, row-major
  bool m_bPosed = false;
  Vec3d m_normals[7];
  Vec3d m_points[7];
  Vec3d m_corners[8];
  // The same before the scale is applied: sampling happens in the unscaled frame.
  Vec3d m_unscaledNormals[7];
  Vec3d m_unscaledPoints[7];
  Vec3d m_unscaledCorners[8];
  phantom::Quantities<double> m_quantities;
};

}  // namespace tolvane::synth
