#pragma once

#include "base/CbSmartPointer.h"
#include "base/CbVector3f.h"
#include "container/KaCSurfelCollectionCCT.h"

/// Synthetic scans of the calibration phantom for tests, benchmarks and the command-line tool:
/// surfels on the phantom's seven faces in its nominal frame (millimetres), with normals towards
/// the scanner on the -z side, optional Gaussian position noise and an optional known
/// deformation, together with the true geometry that an analysis should report.
///
/// The faces, numbered by the roles the analyzer gives them: 0 the rim face around the cavity
/// opening A, B, D, C; 1 and 2 the walls on the -y and +y sides; 3 and 4 the walls on the -x
/// and +x sides; 5 the cavity floor E, F, H, G; 6 the base plate on which the phantom block
/// stands, 1 mm farther from the scanner than the floor. Attribute 105 of every generated
/// surfel holds its face number.
///
/// Scanner model (docs/phantom.md): the scanner looks along +z and its field of view spans
/// 6 mm across x, centred on the cavity opening, and the whole phantom along y; surfaces inside
/// it are sampled with uniform density per unit area (a fused surfel collection). The field
/// of view crops the upper parts of the steep -x and +x walls, which is what places their
/// sample centroids deeper than those of the -y and +y walls, as a real scan does.
///
/// Deterministic for given parameters (std::mt19937 seeded from the parameters); never uses rand().
/// Const operations may run from several threads at once.
class KaCPhantomScanGenerator {
 public:
  struct Parameters {
    /// Number of surfels generated.
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
    /// Deformation: wall 1 to 4 turned by fTiltDegrees about its edge on the rim face, right-handed
    /// about the direction n0 x nk (n0 the rim normal away from the scanner, nk the wall normal
    /// towards it); 0 for none. The floor corners move with the wall.
    int iTiltedWall = 0;
    float fTiltDegrees = 0.0f;
  };

  /// Builds the phantom's planes and corners for the parameters. Throws CbException for a
  /// negative or non-finite noise (either kind), a zero or non-finite scale, or a tilted wall
  /// outside 0..4.
  explicit KaCPhantomScanGenerator(const Parameters& parameters);

  /// A new collection (full attribute set) of the requested number of surfels; the caller
  /// owns it through the pointer.
  [[nodiscard]] CbSmartPointer<KaCSurfelCollectionCCT> Generate() const;

  /// The true corner k (0 to 7 for A to H) after the deformation: the meeting point of three
  /// faces, as the analyzer computes it.
  [[nodiscard]] CbVector3f GetCorner(int k) const;
  /// The unit normal of face i (0 to 6) after the deformation, pointing towards the scanner
  /// (negative z), as the surfels' normals do.
  [[nodiscard]] CbVector3f GetNormal(int i) const;
  /// A point on face i after the deformation.
  [[nodiscard]] CbVector3f GetPoint(int i) const;

  /// The true values of the quantities the analyzer reports, from the true corners and the
  /// rim normal pointing away from the scanner, computed in double precision. k is 0 to 3 as
  /// in the analyzer's texts (corners A to D for depth and shearing).
  [[nodiscard]] double GetDepth(int k) const;
  [[nodiscard]] double GetMeanDepth() const;
  [[nodiscard]] double GetShearing(int k) const;
  [[nodiscard]] double GetWidth(int k) const;
  [[nodiscard]] double GetHeight(int k) const;

 private:
  struct Vec3d {
    double x = 0.0, y = 0.0, z = 0.0;
  };
  Parameters m_parameters;
  Vec3d m_normals[7];
  Vec3d m_points[7];
  Vec3d m_corners[8];
  // The same before the scale is applied: sampling happens in the unscaled frame.
  Vec3d m_unscaledNormals[7];
  Vec3d m_unscaledPoints[7];
  Vec3d m_unscaledCorners[8];
};
