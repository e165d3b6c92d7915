#pragma once

#include <tolvane/Export.h>

#include <vector>

#include "base/CbMatrix4.h"

class KaCSurfelCollectionCCT;

/// Signed point-to-plane distance from every surfel of a moving collection to the surface of a
/// reference collection, after the moving collection has been transformed.
///
/// For surfel i of the moving collection, its position is moved by the transformation (in
/// double, homogeneous, divided by the fourth component), the nearest surfel of the reference
/// collection is found through the reference's kd-tree, and the distance is measured along that
/// surfel's normal: positive on the side into which the normal points, in the collections'
/// length unit. The distance is kept only when the moved surfel lies laterally within
/// GetMaxDistance() of the nearest surfel and both surfels have a normal; otherwise result i is
/// c_fNoDistance.
///
/// Lifetime: SetInput keeps the addresses of both collections (not copies). They must outlive
/// every Compute call and stay unchanged while it runs. The result is owned by this object.
///
/// Threads: one object must not be used from two threads at once. Several objects may measure
/// the same pair of collections at the same time (the collections are only read).
class TOLVANE_API CMpComputeSurfelCollectionDistance {
 public:
  /// The value stored for a surfel without a distance: the largest finite float.
  static constexpr float c_fNoDistance = 3.4028235e38f;

  /// No input, identity transformation, limit -1 (no limit chosen yet), empty result.
  CMpComputeSurfelCollectionDistance();
  /// Copies the input and the result.
  CMpComputeSurfelCollectionDistance(const CMpComputeSurfelCollectionDistance& other);
  /// Copies the input and takes over the result; other's result is left empty.
  CMpComputeSurfelCollectionDistance(CMpComputeSurfelCollectionDistance&& other) noexcept;
  CMpComputeSurfelCollectionDistance& operator=(const CMpComputeSurfelCollectionDistance& other);
  /// Copies the input and takes over the result; other's result is left empty.
  CMpComputeSurfelCollectionDistance& operator=(
      CMpComputeSurfelCollectionDistance&& other) noexcept;
  ~CMpComputeSurfelCollectionDistance();

  /// Sets the input. reference is searched and its normals define the distance; moving is
  /// transformed and measured. transformation (column-major, translation in elements 12-14) is
  /// copied. fMaxDistance is the largest accepted lateral offset; when it is not greater than
  /// 0 (zero, negative or NaN) twice the reference's average surfel spacing
  /// (GetAvgDensity(), which may build the reference's kd-tree) is used instead.
  void SetInput(const KaCSurfelCollectionCCT& reference, const KaCSurfelCollectionCCT& moving,
                const CbMatrix4Rd& transformation, float fMaxDistance);

  /// Rebuilds the result: one entry per moving surfel, in the moving collection's surfel order.
  /// Builds the reference's kd-tree if it has none yet. The surfels are visited in a spatially
  /// coherent order, which speeds up the searches but changes no result; that order takes 4
  /// bytes per moving surfel of working memory, allocated before the loop. Returns true. Throws
  /// CbException when SetInput has not been called (the result is then empty), or (from the
  /// collection) when a collection lacks positions or normals (the result is then all
  /// c_fNoDistance).
  bool Compute();

  /// The result of the last Compute (empty before the first).
  [[nodiscard]] const std::vector<float>& GetResult() const noexcept { return m_vecDistances; }
  /// The lateral limit in use (after the fallback of SetInput).
  [[nodiscard]] float GetMaxDistance() const noexcept { return m_fMaxDistance; }
  [[nodiscard]] const CbMatrix4Rd& GetTransformation() const noexcept {
    return m_matTransformation;
  }

 private:
  const KaCSurfelCollectionCCT* m_pReference;
  const KaCSurfelCollectionCCT* m_pMoving;
  CbMatrix4Rd m_matTransformation;
  float m_fMaxDistance;
  std::vector<float> m_vecDistances;
};
