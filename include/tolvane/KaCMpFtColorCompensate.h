#pragma once

#include <tolvane/Export.h>

#include "container/KaAMpFtSurfelCollection.h"

/// Lambert colour compensation: brightens the colour of surfels whose normal turns away from
/// the viewing direction (0, 0, -1), undoing the shading of a diffuse surface. Each channel is
/// multiplied by 1.3 / (max(0, -n.z) + 0.3) and limited to 255, so a surfel facing the viewer
/// keeps its colour and one seen edge-on or from behind (or without a normal) is brightened
/// about 4.33 times. A surfel whose brightened channels would sum to 690 (three times
/// ms_fSpecularity) or more while its own sum is below that keeps its colour, since it would
/// look like a specular highlight. Only colours (attribute 108) change; normals are decoded
/// through the shared KaCNormalCodec table.
///
/// Create with new and hold through CbSmartPointer<KaIFtSurfelCollection>. Keeps nothing by
/// address and has no state: one object may run on different collections from several threads.
class TOLVANE_API KaCMpFtColorCompensate : public KaAMpFtSurfelCollection {
 public:
  KaCMpFtColorCompensate();
  KaCMpFtColorCompensate(const KaCMpFtColorCompensate& other);
  KaCMpFtColorCompensate& operator=(const KaCMpFtColorCompensate& other);
  ~KaCMpFtColorCompensate() override;

  /// The map: a compensated copy; the argument stays as it is.
  using KaAMpFtSurfelCollection::operator();
  /// Compensates every surfel's colour in place. Throws CbException before any change when the
  /// collection has no colour attribute of three bytes.
  void operator()(KaCSurfelCollectionCCT& collection) const override;

 private:
  void colorCompensateLambert(KaCSurfelCollectionCCT& collection) const;

  /// Per-channel brightness taken as specular, in colour units 0..255.
  static const float ms_fSpecularity;
};
