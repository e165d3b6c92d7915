#include <tolvane/KaCMpFtFlipSurfelNormals.h>

KaCMpFtFlipSurfelNormals::KaCMpFtFlipSurfelNormals() = default;

KaCMpFtFlipSurfelNormals::KaCMpFtFlipSurfelNormals(const KaCMpFtFlipSurfelNormals& other)
    : KaAMpFtSurfelCollection(other) {}

KaCMpFtFlipSurfelNormals& KaCMpFtFlipSurfelNormals::operator=(
    const KaCMpFtFlipSurfelNormals& other) {
  KaAMpFtSurfelCollection::operator=(other);
  return *this;
}

KaCMpFtFlipSurfelNormals::~KaCMpFtFlipSurfelNormals() = default;

void KaCMpFtFlipSurfelNormals::operator()(KaCSurfelCollectionCCT& collection) const {
  collection.FlipNormals();
}
