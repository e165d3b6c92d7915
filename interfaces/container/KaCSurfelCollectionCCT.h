#pragma once

#include <tolvane/Export.h>

#include <memory>
#include <mutex>

#include "base/CbVector3f.h"
#include "container/KaCCompressedColor.h"
#include "container/KaCNormalCodec.h"
#include "container/KaCSurfelContainer.h"
#include "container/KaSurfelAccessors.h"
#include "tissue/KaHue.h"

class CyKdTree;

/// The surfel collection the library works on: positions, normal codes, colours, qualities,
/// tissue types, boundary flags and the attributes 103 and 105, in one of two attribute sets
/// (ESurfelAttributeSet: float or compact qualities).
///
/// Support structures (kd-tree, average density) are built lazily, once, even when several
/// threads ask at the same time, and dropped by ResetSupportStructures(). The accessors returned
/// by reference are the collection's own and follow UpdateAccessors().
class TOLVANE_API KaCSurfelCollectionCCT : public KaCSurfelContainer {
 public:
  explicit KaCSurfelCollectionCCT(unsigned int nCount = 0, bool bInitDefaults = true,
                                  ESurfelAttributeSet eSet = eSurfelAttributeSetFull,
                                  CbSmartPointer<const KaIRayImage> spRayImage = nullptr);
  /// A deep copy. With bCopySupportStructures the copy shares the kd-tree and density already
  /// built (they are immutable); without it they are rebuilt on demand.
  KaCSurfelCollectionCCT(const KaCSurfelCollectionCCT& other, bool bCopySupportStructures);
  KaCSurfelCollectionCCT(const KaCSurfelCollectionCCT& other);
  ~KaCSurfelCollectionCCT() override;

  KaCSurfelContainer& operator=(const KaCSurfelContainer& other) override;
  KaCSurfelCollectionCCT& operator=(const KaCSurfelCollectionCCT& other);

  void SetCount(unsigned int n, bool bInitDefaults) override;
  void UpdateAccessors() const override;
  void ResetSupportStructures() const override;

  // Views and accessors.
  [[nodiscard]] KaTAttributeAccessor<unsigned short> GetNormalAccessor();
  [[nodiscard]] KaTAttributeAccessor<const unsigned short> GetNormalAccessor() const;
  [[nodiscard]] KaCQualityAccessor& GetQualityAccessor() noexcept { return m_qualityAccessor; }
  [[nodiscard]] const KaCQualityAccessor& GetQualityAccessor() const noexcept {
    return m_qualityAccessor;
  }
  [[nodiscard]] KaCTissueTypeAccessor& GetTissueTypeAccessor() noexcept { return m_tissueAccessor; }
  [[nodiscard]] const KaCTissueTypeAccessor& GetTissueTypeAccessor() const noexcept {
    return m_tissueAccessor;
  }
  [[nodiscard]] KaCBoundaryFlagAccessor& GetBoundaryFlagAccessor() noexcept {
    return m_boundaryAccessor;
  }
  [[nodiscard]] const KaCBoundaryFlagAccessor& GetBoundaryFlagAccessor() const noexcept {
    return m_boundaryAccessor;
  }

  // Per-surfel conveniences (checked neither for range nor for speed; hot loops use the views).
  [[nodiscard]] CbVector3f GetPosition(unsigned int i) const;
  void SetPosition(unsigned int i, const CbVector3f& p);
  [[nodiscard]] CbVector3f GetNormal(unsigned int i) const;
  /// Encodes the direction to the nearest normal code; the zero vector unsets the normal.
  void SetNormal(unsigned int i, const CbVector3f& n);
  [[nodiscard]] KaCCompressedColor GetColor(unsigned int i) const;
  void SetColor(unsigned int i, const KaCCompressedColor& c);

  /// Reverses every normal (unset normals stay unset).
  void FlipNormals();
  /// Multiplies positions by the factors per axis. With bScaleNormals the normals follow the
  /// surface (divided by the factors, normalised, re-encoded; skipped when a factor is 0).
  void ScaleSurfels(const CbVector3f& scale, bool bScaleNormals);
  /// Sets every quality to q.
  void InitQualities(float q);
  /// Hue of surfel i's colour in integer degrees 0..359 (KaComputeHue, the one hue function).
  /// Reads the colour through the view that UpdateAccessors() keeps, so it is cheap enough
  /// for per-surfel loops.
  [[nodiscard]] int GetHue(unsigned int i) const noexcept {
    return KaComputeHue(m_colorView[i].GetPacked());
  }

  /// The kd-tree over the positions, built on first use.
  [[nodiscard]] const CyKdTree& GetKdTree() const;
  /// The same, built with up to nThreads threads when this call is the first use (the tree is
  /// the same whatever their number).
  [[nodiscard]] const CyKdTree& GetKdTree(unsigned int nThreads) const;
  /// The mean distance from a surfel to its nearest other surfel, over up to 10,000 surfels
  /// taken at an even stride; 0 for fewer than two surfels. Computed once, on first use.
  [[nodiscard]] float GetAvgDensity() const;

 private:
  mutable KaTAttributeAccessor<const KaCCompressedColor> m_colorView;
  mutable KaCQualityAccessor m_qualityAccessor;
  mutable KaCTissueTypeAccessor m_tissueAccessor;
  mutable KaCBoundaryFlagAccessor m_boundaryAccessor;
  mutable std::mutex m_supportMutex;
  mutable std::shared_ptr<const CyKdTree> m_spKdTree;
  mutable float m_fAvgDensity = -1.0f;
};
