#pragma once

#include <tolvane/Export.h>

#include "base/CbReferenceCounter.h"

/// Base of every object that is shared through CbSmartPointer. The object owns its counter;
/// holders count through getReferenceCounter().
class TOLVANE_API IReferenceCounted {
 public:
  virtual ~IReferenceCounted() = default;
  [[nodiscard]] virtual const CbReferenceCounter<unsigned int>& getReferenceCounter() const = 0;

 protected:
  IReferenceCounted() = default;
  IReferenceCounted(const IReferenceCounted&) = default;
  IReferenceCounted& operator=(const IReferenceCounted&) = default;
};

/// Drops one counted reference to the object. The release that brings the count to zero takes
/// ReferenceCounter_GetCriticalSection(), checks again that the count is still zero, detaches
/// the weak links, leaves the lock and destroys the object: through the counter's deleter if
/// one is set, otherwise through its virtual destructor.
TOLVANE_API void CbReleaseReference(const IReferenceCounted* pObject) noexcept;

/// Takes one counted reference to the object.
inline void CbAddReference(const IReferenceCounted* pObject) noexcept {
  pObject->getReferenceCounter().AddRef();
}
