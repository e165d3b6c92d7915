#include <tolvane/KaCMpDiscardCheek.h>

#include <vector>

#include "filters/RemoveMarkedSurfels.h"

KaCMpDiscardCheek::KaCMpDiscardCheek() = default;

KaCMpDiscardCheek::KaCMpDiscardCheek(const KaCMpDiscardCheek& other)
    : KaAMpFtSurfelCollection(other) {}

KaCMpDiscardCheek& KaCMpDiscardCheek::operator=(const KaCMpDiscardCheek& other) {
  KaAMpFtSurfelCollection::operator=(other);
  return *this;
}

KaCMpDiscardCheek::~KaCMpDiscardCheek() = default;

void KaCMpDiscardCheek::operator()(KaCSurfelCollectionCCT& collection) const {
  const unsigned int n = collection.GetNrSurfels();
  // One allocation of all N marks, written in one pass through a local copy of the accessor
  // (the byte stores could otherwise alias it and force a reload per surfel).
  std::vector<unsigned char> marks(n);
  unsigned char* pMarks = marks.data();
  const KaCTissueTypeAccessor tissue = collection.GetTissueTypeAccessor();
  for (unsigned int i = 0; i < n; ++i) {
    // Codes 2 and 3 (neither tooth nor gingiva) go.
    pMarks[i] = static_cast<unsigned char>(tissue.Get(i) > 1 ? 1 : 0);
  }
  RemoveMarkedSurfels(collection, marks);
  collection.UpdateAccessors();
}
