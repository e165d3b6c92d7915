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
  std::vector<unsigned char> marks;
  marks.reserve(n);
  // A local copy of the collection's accessor, so that the pass keeps it in registers.
  KaCTissueTypeAccessor tissue = collection.GetTissueTypeAccessor();
  for (unsigned int i = 0; i < n; ++i) {
    unsigned char mark = 0;
    if (tissue[i] != 1) mark = tissue[i] != 0 ? 1 : 0;
    marks.push_back(mark);
  }
  RemoveMarkedSurfels(collection, marks);
  collection.UpdateAccessors();
}
