#pragma once

#include <tolvane/Export.h>

#include <vector>

class KaCSurfelCollectionCCT;

/// Shows one float value per surfel as a false colour: Compute overwrites the colour of surfel
/// k with the colour of value k on a scale from GetMinValue() to GetMaxValue(). The largest
/// finite float (c_fNoValue) marks a surfel without a value, and a value whose magnitude exceeds
/// GetMaxAbsValue() is out of bounds; both are shown mid grey. A value that is not a number is
/// handed to the colour scale like any other. Surfels beyond the last value keep their colours.
///
/// Lifetime: SetInput keeps the addresses of the collection and the value vector (not copies);
/// both must outlive every Compute call. Although the collection is given as const, Compute
/// writes its colours in place.
///
/// Threads: no shared state (each Compute uses its own colour scale). Two objects must not
/// colour the same collection at the same time; one object must not run Compute from two
/// threads at once.
class TOLVANE_API CFtColorCodeSurfelCollection {
 public:
  /// The value that marks a surfel without a value: the largest finite float.
  static constexpr float c_fNoValue = 3.4028235e38f;

  /// No input; range and magnitude limit 0.
  CFtColorCodeSurfelCollection() = default;

  /// Symmetric scale: -fRange at the low end, fRange at the high end. Values of magnitude above
  /// fMaxAbsValue are shown grey.
  void SetInput(const KaCSurfelCollectionCCT& collection, const std::vector<float>& values,
                float fMaxAbsValue, float fRange);
  /// Explicit scale from fMinValue (low end) to fMaxValue (high end). Values of magnitude above
  /// fMaxAbsValue are shown grey.
  void SetInput(const KaCSurfelCollectionCCT& collection, const std::vector<float>& values,
                float fMaxAbsValue, float fMinValue, float fMaxValue);

  /// Writes the colours of the first values.size() surfels; returns true. Throws CbException
  /// without changing any colour when SetInput has not been called, when there are more values
  /// than surfels, or (from the collection) when it has no colour attribute of 3 bytes.
  bool Compute();

  [[nodiscard]] float GetMinValue() const noexcept { return m_fMinValue; }
  [[nodiscard]] float GetMaxValue() const noexcept { return m_fMaxValue; }
  [[nodiscard]] float GetMaxAbsValue() const noexcept { return m_fMaxAbsValue; }

 private:
  const KaCSurfelCollectionCCT* m_pCollection = nullptr;
  const std::vector<float>* m_pValues = nullptr;
  float m_fMinValue = 0.0f;
  float m_fMaxValue = 0.0f;
  float m_fMaxAbsValue = 0.0f;
};
