#include <tolvane/ParallelSurfelDistance.h>

#include <thread>

#include <tolvane/CMpComputeSurfelCollectionDistance.h>

#include "base/CbException.h"
#include "compute/SurfelDistanceKernel.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/CyMathConstants.h"

namespace tolvane {

ParallelSurfelDistance::ParallelSurfelDistance(unsigned int nThreads)
    : m_nThreads(nThreads != 0 ? nThreads : std::thread::hardware_concurrency()),
      m_matTransformation(c_matIdentityD) {
  if (m_nThreads == 0) m_nThreads = 1;  // the system could not tell
}

void ParallelSurfelDistance::SetInput(const KaCSurfelCollectionCCT& reference,
                                      const KaCSurfelCollectionCCT& moving,
                                      const CbMatrix4Rd& transformation, float fMaxDistance) {
  // The single-threaded class applies the fallback of the limit.
  CMpComputeSurfelCollectionDistance single;
  single.SetInput(reference, moving, transformation, fMaxDistance);
  m_pReference = &reference;
  m_pMoving = &moving;
  m_matTransformation = transformation;
  m_fMaxDistance = single.GetMaxDistance();
}

bool ParallelSurfelDistance::Compute() {
  m_vecDistances.clear();
  if (m_pReference == nullptr || m_pMoving == nullptr) {
    throw CbException("tolvane::ParallelSurfelDistance::Compute", __FILE__, __LINE__,
                      "SetInput must be called before Compute");
  }
  detail::ComputeSurfelDistances(*m_pReference, *m_pMoving, m_matTransformation, m_fMaxDistance,
                                 CMpComputeSurfelCollectionDistance::c_fNoDistance, m_nThreads,
                                 m_vecDistances, m_progress ? &m_progress : nullptr);
  return true;
}

}  // namespace tolvane
