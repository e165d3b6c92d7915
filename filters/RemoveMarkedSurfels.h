#pragma once

#include <vector>

#include "container/KaCSurfelCollectionCCT.h"

/// Replaces the collection by a compacted copy without the surfels whose mark is 1 (one mark per
/// surfel, in surfel order; 0 keeps). The survivors keep their order and their positions, normal
/// codes, colours, qualities, tissue types, boundary flags and attributes 103 and 105; other
/// attributes start with the container's defaults. The support structures are reset.
///
/// With no marks, or none set, the collection is left untouched (not reassigned, support
/// structures kept). A missing attribute or one of another element size throws CbException
/// before the collection is replaced; it is then unchanged.
///
/// Threads: one collection must not be compacted from two threads at once.
void RemoveMarkedSurfels(KaCSurfelCollectionCCT& collection,
                         const std::vector<unsigned char>& marks);
