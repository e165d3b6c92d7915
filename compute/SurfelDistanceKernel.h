#pragma once

#include <functional>
#include <vector>

#include "base/CbMatrix4.h"

class KaCSurfelCollectionCCT;

namespace tolvane::detail {

/// The per-surfel distance of CMpComputeSurfelCollectionDistance, shared with its multi-threaded
/// form. Fills result with one entry per surfel of moving: the signed distance of the moved
/// surfel along the normal of its nearest reference surfel, or fNoDistance (see the class for
/// the rules). fLimit is the lateral limit (not squared).
///
/// nThreads 1 runs everything in the calling thread. With more, all of them find the visiting
/// order, then the surfels are split into chunks of consecutive visits that nThreads - 1 further
/// threads and the caller take in turn, all searching the reference's one kd-tree. Every entry
/// depends on its own query only, so the result is the same bit for bit whatever the count. Threads
/// that cannot be started leave their share to the others. The reference's kd-tree, when it is not
/// built yet, is built first, with up to nThreads threads.
///
/// When pProgress is set, the calling thread calls it with 0 and the total first, then with the
/// visits handed out so far each time it takes a further chunk (with one thread: before each
/// chunk of visits after the first).
///
/// Throws CbException (from the collections) when either lacks positions or normal codes, with
/// result already all fNoDistance.
void ComputeSurfelDistances(
    const KaCSurfelCollectionCCT& reference, const KaCSurfelCollectionCCT& moving,
    const CbMatrix4Rd& transformation, float fLimit, float fNoDistance, unsigned int nThreads,
    std::vector<float>& result,
    const std::function<void(unsigned int, unsigned int)>* pProgress = nullptr);

}  // namespace tolvane::detail
