#pragma once

#include <tolvane/Export.h>

#include <cstddef>
#include <vector>

#include "base/CbMatrix4.h"
#include "base/CbSmartPointer.h"
#include "container/CySurfelCollectionBase.h"
#include "container/KaIRayImage.h"
#include "container/KaSurfelAttributes.h"

/// A collection of surfels stored attribute by attribute. The surfels live in a shared
/// CySurfelCollectionStatic (GetCySurfelCollection). Reference-counted: it may be held through
/// CbSmartPointer or live on the stack (count 0, never taken).
///
/// Threads: const operations may run from several threads at once; nothing may change the
/// collection meanwhile.
class TOLVANE_API KaCSurfelContainer : public IReferenceCounted {
 public:
  /// nCount surfels of the given attribute set, sharing the ray image (which may be null). With
  /// bInitDefaults the surfels start with an unset normal, quality 1, tissue type 0, no boundary
  /// flag, mid-grey colour, value 0 and position 0; without it their contents are unspecified
  /// and the caller writes every surfel before reading it (as a compaction does).
  KaCSurfelContainer(unsigned int nCount, bool bInitDefaults, ESurfelAttributeSet eSet,
                     CbSmartPointer<const KaIRayImage> spRayImage);
  /// A deep copy of the surfels and the attribute set, sharing the ray image.
  KaCSurfelContainer(const KaCSurfelContainer& other);
  ~KaCSurfelContainer() override;

  /// Replaces the surfels by a copy of other's, keeping this collection's attribute set:
  /// attributes that both hold are copied byte for byte, the quality is converted through the
  /// accessors when one side packs it, attributes other lacks start zeroed. Reuses this
  /// collection's arrays when they are large enough. Shares other's ray image. Drops derived
  /// support structures. If the arrays cannot grow, throws and leaves this collection as it was.
  virtual KaCSurfelContainer& operator=(const KaCSurfelContainer& other);

  [[nodiscard]] unsigned int GetNrSurfels() const noexcept { return m_pAttributes->GetCount(); }
  [[nodiscard]] ESurfelAttributeSet GetAttributeSet() const noexcept { return m_eAttributeSet; }
  [[nodiscard]] bool HasAttribute(unsigned int id) const noexcept { return m_pAttributes->Has(id); }

  /// The attribute's first element and byte stride. Throws CbException (function
  /// "KaCSurfelContainer::GetAccessor") at line 364 when the attribute is absent and at line
  /// 370 when its registered element size differs from sizeof(T).
  template <class T>
  [[nodiscard]] KaTAttributeAccessor<T> GetAccessor(unsigned int id) {
    unsigned int nStride = 0;
    void* p = GetAttributeData(id, sizeof(T), nStride);
    return {static_cast<T*>(p), nStride};
  }
  template <class T>
  [[nodiscard]] KaTAttributeAccessor<const T> GetAccessor(unsigned int id) const {
    unsigned int nStride = 0;
    const void* p = GetAttributeData(id, sizeof(T), nStride);
    return {static_cast<const T*>(p), nStride};
  }

  /// Resizes to n surfels, in place when the arrays are large enough; the first min(n, old)
  /// surfels keep their contents. With bInitDefaults the surfels that growing adds take the
  /// defaults; without it their contents are unspecified, as after the constructor without
  /// defaults, and the caller writes each of them before reading it. Refreshes the accessors and
  /// drops support structures.
  virtual void SetCount(unsigned int n, bool bInitDefaults);
  /// Points the accessors at the current storage; needed after the count has changed.
  virtual void UpdateAccessors() const;
  /// Drops structures derived from the surfels (such as the kd-tree); rebuilt on demand.
  virtual void ResetSupportStructures() const;

  /// Copies surfel nSource of source into surfel nDestination of this collection: every
  /// attribute both hold, the quality through the accessors. A non-null pPositionTransform
  /// moves the position; a non-null pNormalTransform turns the normal (its upper 3 x 3 part;
  /// the result is normalised and re-encoded).
  virtual void CopySurfel(unsigned int nDestination, const KaCSurfelContainer& source,
                          unsigned int nSource, const CbMatrix4Rf* pPositionTransform,
                          const CbMatrix4Rf* pNormalTransform);

  [[nodiscard]] CbSmartPointer<const KaIRayImage> GetRayImage() const { return m_spRayImage; }
  void SetRayImage(CbSmartPointer<const KaIRayImage> spRayImage) {
    m_spRayImage = std::move(spRayImage);
  }
  /// The storage itself, shared: writes through it change this collection.
  [[nodiscard]] CbSmartPointer<CySurfelCollectionStatic> GetCySurfelCollection() const {
    return m_spStorage;
  }

  [[nodiscard]] const CbReferenceCounter<unsigned int>& getReferenceCounter() const override {
    return m_referenceCounter;
  }

  /// The element size registered for an attribute number (0 when none is registered).
  [[nodiscard]] static unsigned int GetRegisteredElementSize(unsigned int id);

 protected:
  [[nodiscard]] void* GetAttributeData(unsigned int id, std::size_t nElementSize,
                                       unsigned int& nStride) const;
  void InitDefaults(unsigned int nFirst, unsigned int nEnd);

 private:
  CbReferenceCounter<unsigned int> m_referenceCounter;
  ESurfelAttributeSet m_eAttributeSet;
  CbSmartPointer<CySurfelCollectionStatic> m_spStorage;
  // The storage's attribute container, held directly: loops ask for the surfel count in every
  // iteration, and this keeps that a plain load instead of a virtual call.
  CyAttributeContainer* m_pAttributes;
  CbSmartPointer<const KaIRayImage> m_spRayImage;
};
