#pragma once

#include <tolvane/Export.h>

#include <tolvane/KaIMpSurfelCollection.h>

#include "base/CbMatrix4.h"

/// Abstract map for removing outliers by weight: it carries a rigid transformation and three
/// float parameters for a derived class, which supplies the map operation. What the parameters
/// mean is the derived class's to define.
///
/// Keeps the address of the caller's transformation, not a copy: the matrix must outlive the
/// map. Not reference-counted and has no in-place face.
///
/// Threads: no state that changes; one map may serve several threads.
class TOLVANE_API KaCMpRemoveOutliersByWeight : public KaIMpSurfelCollection {
 public:
  /// transformation: kept by address. fValue1 to fValue3: stored for the derived class.
  KaCMpRemoveOutliersByWeight(const CbMatrix4Rd& transformation, float fValue1, float fValue2,
                              float fValue3);
  KaCMpRemoveOutliersByWeight(const KaCMpRemoveOutliersByWeight& other);
  ~KaCMpRemoveOutliersByWeight() override;

  /// Supplied by the derived class: a new collection, owned by the caller.
  [[nodiscard]] KaCSurfelCollectionCCT* operator()(
      const KaCSurfelCollectionCCT& input) const override = 0;

 protected:
  KaCMpRemoveOutliersByWeight& operator=(const KaCMpRemoveOutliersByWeight& other);

  [[nodiscard]] const CbMatrix4Rd& GetTransformation() const noexcept { return *m_pTransformation; }
  [[nodiscard]] float GetValue1() const noexcept { return m_fValue1; }
  [[nodiscard]] float GetValue2() const noexcept { return m_fValue2; }
  [[nodiscard]] float GetValue3() const noexcept { return m_fValue3; }

 private:
  const CbMatrix4Rd* m_pTransformation;
  float m_fValue1;
  float m_fValue2;
  float m_fValue3;
};
