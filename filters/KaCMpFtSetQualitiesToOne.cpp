#include <tolvane/KaCMpFtSetQualitiesToOne.h>

KaCMpFtSetQualitiesToOne::KaCMpFtSetQualitiesToOne() = default;

KaCMpFtSetQualitiesToOne::KaCMpFtSetQualitiesToOne(const KaCMpFtSetQualitiesToOne& other)
    : KaAMpFtSurfelCollection(other) {}

KaCMpFtSetQualitiesToOne& KaCMpFtSetQualitiesToOne::operator=(
    const KaCMpFtSetQualitiesToOne& other) {
  KaAMpFtSurfelCollection::operator=(other);
  return *this;
}

KaCMpFtSetQualitiesToOne::~KaCMpFtSetQualitiesToOne() = default;

void KaCMpFtSetQualitiesToOne::operator()(KaCSurfelCollectionCCT& collection) const {
  collection.InitQualities(1.0f);
}
