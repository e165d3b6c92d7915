#pragma once

#include <tolvane/Export.h>

#include <vector>

#include "container/KaAMpFtSurfelCollection.h"

class KaCColorCoder;

/// Replaces surfel colours by false colours of a vector of values: value k colours surfel
/// k x stride. A value equal to the largest finite float (3.4028235e38) marks a surfel without
/// a value and is shown mid grey; every other value goes through the colour coder. Surfels that
/// no value reaches, and every other attribute, stay as they are.
///
/// Keeps the address of the caller's value vector, not a copy: the vector must outlive the
/// filter, and its values are read at each call. Keeps the address of the coder as well.
/// Without a coder of its own (null) the filter switches, on its first call, to the library's
/// shared default coder, sets that coder's range to (fMinValue, fMaxValue) and its integer mode
/// to 0 once, and from then on colours with whatever range the shared coder has at each call.
///
/// The values are not counted against the surfels: (number of values - 1) x stride must stay
/// below the surfel count and the stride must be positive.
///
/// Threads: the shared coder is set without a lock, so filters without a coder of their own
/// (and KaCMpFtColorCodeByQuality) must not run on two threads at once. With its own coder a
/// filter keeps no shared state. One collection must not be filtered from two threads at once.
class TOLVANE_API KaCMpFtColorCode : public KaAMpFtSurfelCollection {
 public:
  /// fMinValue and fMaxValue: the values at the low and high ends of the scale. values: kept by
  /// address. pColorCoder: the coder to use, kept by address, or null for the shared default
  /// coder. iStride: surfel step between consecutive values.
  KaCMpFtColorCode(float fMinValue, float fMaxValue, std::vector<float>& values,
                   const KaCColorCoder* pColorCoder, int iStride);
  KaCMpFtColorCode(const KaCMpFtColorCode& other);
  ~KaCMpFtColorCode() override;

  using KaAMpFtSurfelCollection::operator();
  /// Writes the colours. Throws CbException, before writing anything, when the collection has
  /// no three-byte colour attribute (108).
  void operator()(KaCSurfelCollectionCCT& collection) const override;

 private:
  float m_fMinValue;
  float m_fMaxValue;
  int m_iStride;
  std::vector<float>* m_pValues;
  mutable const KaCColorCoder* m_pColorCoder;
};
