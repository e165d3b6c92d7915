#include <tolvane/KaCMpDeleteSamples.h>

#include <memory>

#include "container/KaCSurfelCollectionCCT.h"

KaCMpDeleteSamples::KaCMpDeleteSamples(const std::vector<unsigned int>& deleteFlags)
    : m_pDeleteFlags(&deleteFlags) {}

KaCMpDeleteSamples::KaCMpDeleteSamples(const KaCMpDeleteSamples& other)
    : KaIMpSurfelCollection(other), m_pDeleteFlags(other.m_pDeleteFlags) {}

KaCMpDeleteSamples& KaCMpDeleteSamples::operator=(const KaCMpDeleteSamples& other) {
  KaIMpSurfelCollection::operator=(other);
  m_pDeleteFlags = other.m_pDeleteFlags;
  return *this;
}

KaCMpDeleteSamples::~KaCMpDeleteSamples() = default;

KaCSurfelCollectionCCT* KaCMpDeleteSamples::operator()(const KaCSurfelCollectionCCT& input) const {
  // Held so that an exception from the container frees the partial result.
  auto result = std::make_unique<KaCSurfelCollectionCCT>(
      input.GetNrSurfels(), true, eSurfelAttributeSetFull, input.GetRayImage());
  const std::vector<unsigned int>& flags = *m_pDeleteFlags;
  unsigned int j = 0;
  for (unsigned int i = 0; i < input.GetNrSurfels(); ++i) {
    if (flags[i] != 1) {
      result->CopySurfel(j, input, i, nullptr, nullptr);
      ++j;
    }
  }
  result->SetCount(j, true);
  return result.release();
}
