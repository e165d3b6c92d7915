#include <tolvane/KaCMpFtUpdateQualities.h>

KaCMpFtUpdateQualities::KaCMpFtUpdateQualities() = default;

KaCMpFtUpdateQualities::KaCMpFtUpdateQualities(const KaCMpFtUpdateQualities& other)
    : KaAMpFtSurfelCollection(other) {}

KaCMpFtUpdateQualities& KaCMpFtUpdateQualities::operator=(const KaCMpFtUpdateQualities& other) {
  KaAMpFtSurfelCollection::operator=(other);
  return *this;
}

KaCMpFtUpdateQualities::~KaCMpFtUpdateQualities() = default;

void KaCMpFtUpdateQualities::operator()(KaCSurfelCollectionCCT& /*collection*/) const {}
