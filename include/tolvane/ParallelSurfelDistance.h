#pragma once

#include <tolvane/Export.h>

#include <functional>
#include <utility>
#include <vector>

#include "base/CbMatrix4.h"

class KaCSurfelCollectionCCT;

namespace tolvane {

/// CMpComputeSurfelCollectionDistance over several threads: the same input rules, and a result
/// equal to it bit for bit whatever the thread count.
///
/// Compute builds the reference's kd-tree if it has none, then splits the moving surfels into
/// chunks that the threads (the caller's among them) measure against that one shared tree,
/// each with a query object of its own. Only the collections' const operations run on the
/// other threads.
///
/// Lifetime: SetInput keeps the addresses of both collections (not copies). They must outlive
/// every Compute call and stay unchanged while it runs.
///
/// Threads: one object must not be used from two threads at once; several objects may measure
/// the same collections at the same time.
class TOLVANE_API ParallelSurfelDistance {
 public:
  /// nThreads threads per Compute, the caller's included; 0 means one per core the system
  /// reports (at least 1).
  explicit ParallelSurfelDistance(unsigned int nThreads = 0);

  /// As CMpComputeSurfelCollectionDistance::SetInput: a limit not greater than 0 (or NaN) falls
  /// back to twice the reference's average surfel spacing.
  void SetInput(const KaCSurfelCollectionCCT& reference, const KaCSurfelCollectionCCT& moving,
                const CbMatrix4Rd& transformation, float fMaxDistance);

  /// Called by Compute, on the calling thread, each time that thread starts a new share of the
  /// work: how many of the moving surfels have been handed out so far, and how many there are.
  /// For progress displays; it must not touch this object or the collections. Empty: none.
  using ProgressCallback = std::function<void(unsigned int nDone, unsigned int nTotal)>;
  void SetProgress(ProgressCallback progress) { m_progress = std::move(progress); }

  /// Rebuilds the result: one entry per moving surfel, in its surfel order, the marker
  /// CMpComputeSurfelCollectionDistance::c_fNoDistance where there is no distance. Returns true.
  /// Throws CbException when SetInput has not been called, or (from the collections) when one
  /// lacks positions or normals; threads that cannot be started leave their share to the others.
  bool Compute();

  [[nodiscard]] const std::vector<float>& GetResult() const noexcept { return m_vecDistances; }
  [[nodiscard]] float GetMaxDistance() const noexcept { return m_fMaxDistance; }
  [[nodiscard]] unsigned int GetThreadCount() const noexcept { return m_nThreads; }

 private:
  unsigned int m_nThreads;
  const KaCSurfelCollectionCCT* m_pReference = nullptr;
  const KaCSurfelCollectionCCT* m_pMoving = nullptr;
  CbMatrix4Rd m_matTransformation;
  float m_fMaxDistance = -1.0f;
  std::vector<float> m_vecDistances;
  ProgressCallback m_progress;
};

}  // namespace tolvane
