#pragma once

#include <cstddef>

#include "base/CbSmartPointer.h"
#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane::phantom_preparation {

// The steps that prepare a scan for the phantom analyzer (private to PhantomAnalysis).

/// A rigid frame: p_frame = R (p - origin), with R's rows the frame's axes in scan coordinates.
struct Frame {
  double R[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  double origin[3] = {0.0, 0.0, 0.0};

  /// The frame point of a scan point, and back.
  void ToFrame(const double p[3], double out[3]) const;
  void ToScan(const double p[3], double out[3]) const;
  /// The same for directions (no origin).
  void DirectionToScan(const double d[3], double out[3]) const;
};

/// The phantom's own frame found in a scan: z is the negated mean normal (the scanner looks
/// along +z), and x points along the normal of the steepest wall (the -x wall, whose normal
/// points to +x), found among the four directions in which the walls' normals, projected
/// across z, gather. The origin is the centroid. Returns false, leaving frame as it is, when
/// the normals show no four walls (no normals, too few wall samples, no fourfold pattern).
bool FindPhantomFrame(const KaCSurfelCollectionCCT& scan, Frame& frame);

/// A new collection of the positions and normal codes of every nStep-th surfel (nStep at
/// least 1), in the frame (other attributes at their defaults).
CbSmartPointer<KaCSurfelCollectionCCT> InFrame(const KaCSurfelCollectionCCT& scan,
                                               const Frame& frame, unsigned int nStep);

/// The thinning step k for a collection of n surfels: the smallest that leaves at most
/// clamp(n / nShare, nMinimum, nLimit) surfels (nShare 0 counts as 1); 1 when nLimit is 0.
[[nodiscard]] unsigned int ThinningStep(unsigned int n, unsigned int nLimit, unsigned int nShare,
                                        unsigned int nMinimum);

/// Every k-th surfel's position and normal; the collection itself (shared) for k = 1.
CbSmartPointer<const KaCSurfelCollectionCCT> Thinned(
    const CbSmartPointer<const KaCSurfelCollectionCCT>& spScan, unsigned int nStep);

/// The scan without its stray points: a surfel is stray when its eighth nearest neighbour is
/// more than three times as far as is typical for the scan (points of a surface lie densely,
/// points in the space around it sparsely), or when its normal turns more than 60 degrees
/// away from the mean normal of its neighbours. nRemoved receives the count. Scans of fewer
/// than 16 surfels are returned as they are.
CbSmartPointer<const KaCSurfelCollectionCCT> WithoutStrayPoints(
    const CbSmartPointer<const KaCSurfelCollectionCCT>& spScan, std::size_t& nRemoved);

/// The scan with its walls balanced in the frame: the surfels whose normals lie 30 to 100
/// degrees from the viewing axis (-z) belong to the wall whose direction across the axis
/// (+x, +y, -x, -y) is nearest; of two opposite walls, the one whose normals add up to more
/// across the axis is thinned evenly until both add up to the same, so that the mean normal of
/// the scan is the viewing axis however much of each wall was scanned. A pair is left as it is
/// when its weaker wall adds up to less than a twentieth of the other. nRemoved receives the
/// count; the collection itself (shared) when nothing is removed.
CbSmartPointer<const KaCSurfelCollectionCCT> WithBalancedWalls(
    const CbSmartPointer<const KaCSurfelCollectionCCT>& spScan, const Frame& frame,
    std::size_t& nRemoved);

/// The scan with every normal code whose decoded vector has a float dot product with itself
/// above 1 replaced by the nearest code without that rounding (at most about a degree away).
/// Such a code makes the analyzer's angle term NaN between a seed plane and the samples that
/// share its normal, which happens on scans with noise-free normals; other codes stay. nChanged
/// receives the count; the collection itself (shared) when nothing changes.
CbSmartPointer<const KaCSurfelCollectionCCT> WithClusterableNormals(
    const CbSmartPointer<const KaCSurfelCollectionCCT>& spScan, std::size_t& nChanged);

}  // namespace tolvane::phantom_preparation
