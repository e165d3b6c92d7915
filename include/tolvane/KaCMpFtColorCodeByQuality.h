#pragma once

#include <tolvane/Export.h>

#include "container/KaAMpFtSurfelCollection.h"

/// Replaces surfel colours by false colours of the per-surfel value that the persistent setting
/// ColorCodedEntity selects, on a scale from 0 to an upper end:
///
/// | entity | value of a surfel | upper end |
/// |---|---|---|
/// | 0 | its quality | 1 |
/// | 3 | 1 for tissue type 0 (tooth), else 0 | 1 |
/// | 6 | the byte of attribute 103 / 255 | 1 |
/// | 7 | its boundary flag as 0 or 1 | 1 |
/// | 8 | its signed distance x nx + y ny + z nz - offset to the plane, in position units | 20 |
/// | other | 0 | 1 |
///
/// The setting is read on every call (from the store on the first read). The colouring goes
/// through a temporary KaCMpFtColorCode without a coder of its own, so each call sets the
/// library's shared default coder to the range 0..upper end.
///
/// Threads: because of the shared coder and the unlocked setting, calls must not run on two
/// threads at once. The filter object itself does not change.
class TOLVANE_API KaCMpFtColorCodeByQuality : public KaAMpFtSurfelCollection {
 public:
  /// The plane used by entity 8: offset and normal components (position units; the normal is
  /// used as given, not normalised).
  explicit KaCMpFtColorCodeByQuality(float fPlaneOffset = 0.0f, float fPlaneNormalX = 0.0f,
                                     float fPlaneNormalY = 0.0f, float fPlaneNormalZ = 0.0f);
  KaCMpFtColorCodeByQuality(const KaCMpFtColorCodeByQuality& other);
  KaCMpFtColorCodeByQuality& operator=(const KaCMpFtColorCodeByQuality& other);
  ~KaCMpFtColorCodeByQuality() override;

  using KaAMpFtSurfelCollection::operator();
  /// Writes the colours. Throws CbException, before writing anything, when entity 6 meets a
  /// collection without attribute 103, entity 8 one without positions, or the collection has no
  /// colour attribute.
  void operator()(KaCSurfelCollectionCCT& collection) const override;

  /// The setting ColorCodedEntity, as KaCTolvaneSettings::GetColorCodedEntity.
  [[nodiscard]] static int GetColorCodedEntity();
  /// Sets ColorCodedEntity, as KaCTolvaneSettings::SetColorCodedEntity.
  static void SetColorCodedEntity(int iEntity);

 private:
  float m_fPlaneOffset;
  float m_fPlaneNormalX;
  float m_fPlaneNormalY;
  float m_fPlaneNormalZ;
};
