#include <tolvane/CMpComputeSurfelCollectionDistance.h>

#include <utility>

#include "base/CbException.h"
#include "compute/SurfelDistanceKernel.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyMathConstants.h"

namespace {

[[noreturn]] void ThrowNoInput(int line) {
  throw CbException("CMpComputeSurfelCollectionDistance::Compute", __FILE__, line,
                    "SetInput must be called before Compute");
}

}  // namespace

CMpComputeSurfelCollectionDistance::CMpComputeSurfelCollectionDistance()
    : m_pReference(nullptr),
      m_pMoving(nullptr),
      m_matTransformation(c_matIdentityD),
      m_fMaxDistance(-1.0f) {}

CMpComputeSurfelCollectionDistance::CMpComputeSurfelCollectionDistance(
    const CMpComputeSurfelCollectionDistance& other) = default;

CMpComputeSurfelCollectionDistance::CMpComputeSurfelCollectionDistance(
    CMpComputeSurfelCollectionDistance&& other) noexcept
    : m_pReference(other.m_pReference),
      m_pMoving(other.m_pMoving),
      m_matTransformation(other.m_matTransformation),
      m_fMaxDistance(other.m_fMaxDistance),
      m_vecDistances(std::move(other.m_vecDistances)) {
  other.m_vecDistances.clear();
}

CMpComputeSurfelCollectionDistance& CMpComputeSurfelCollectionDistance::operator=(
    const CMpComputeSurfelCollectionDistance& other) = default;

CMpComputeSurfelCollectionDistance& CMpComputeSurfelCollectionDistance::operator=(
    CMpComputeSurfelCollectionDistance&& other) noexcept {
  if (this != &other) {
    m_pReference = other.m_pReference;
    m_pMoving = other.m_pMoving;
    m_matTransformation = other.m_matTransformation;
    m_fMaxDistance = other.m_fMaxDistance;
    m_vecDistances = std::move(other.m_vecDistances);
    other.m_vecDistances.clear();
  }
  return *this;
}

CMpComputeSurfelCollectionDistance::~CMpComputeSurfelCollectionDistance() = default;

void CMpComputeSurfelCollectionDistance::SetInput(const KaCSurfelCollectionCCT& reference,
                                                  const KaCSurfelCollectionCCT& moving,
                                                  const CbMatrix4Rd& transformation,
                                                  float fMaxDistance) {
  m_pReference = &reference;
  m_pMoving = &moving;
  m_matTransformation = transformation;
  m_fMaxDistance = fMaxDistance > 0.0f ? fMaxDistance : 2.0f * reference.GetAvgDensity();
}

bool CMpComputeSurfelCollectionDistance::Compute() {
  m_vecDistances.clear();
  if (m_pReference == nullptr || m_pMoving == nullptr) ThrowNoInput(__LINE__);
  tolvane::detail::ComputeSurfelDistances(*m_pReference, *m_pMoving, m_matTransformation,
                                          m_fMaxDistance, c_fNoDistance, 1, m_vecDistances);
  return true;
}
