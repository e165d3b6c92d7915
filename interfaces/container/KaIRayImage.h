#pragma once

#include <tolvane/Export.h>

#include "base/IReferenceCounted.h"

/// The ray image behind a collection: how the scanner saw it. Opaque to this library, which
/// only passes it on from one collection to another; shared, never copied.
class TOLVANE_API KaIRayImage : public IReferenceCounted {
 public:
  ~KaIRayImage() override = default;
};
