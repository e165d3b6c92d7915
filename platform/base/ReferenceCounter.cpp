#include "base/CbCriticalSection.h"
#include "base/CbReferenceCounter.h"
#include "base/IReferenceCounted.h"

CbCriticalSection& ReferenceCounter_GetCriticalSection() {
  // Never destroyed, so releases that run during static destruction still find it.
  static CbCriticalSection* s_pCs = new CbCriticalSection;
  return *s_pCs;
}

void CbReleaseReference(const IReferenceCounted* pObject) noexcept {
  const CbReferenceCounter<unsigned int>& counter = pObject->getReferenceCounter();
  if (counter.Release() != 0) return;

  CbCriticalSection& cs = ReferenceCounter_GetCriticalSection();
  cs.Enter();
  // A weak holder may not revive a dying object (AddRefIfAlive refuses a zero count), but a
  // holder of a raw pointer may still take a new reference before we get the lock: look again.
  if (counter.GetCount() != 0) {
    cs.Leave();
    return;
  }
  counter.DetachAllWeakLinks();
  const CbReferenceCounter<unsigned int>::Deleter deleter = counter.GetDeleter();
  cs.Leave();
  if (deleter != nullptr) {
    deleter(pObject);
  } else {
    delete pObject;
  }
}
