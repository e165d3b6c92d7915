#pragma once

#include <tolvane/Export.h>

#include <vector>

class KaCSurfelCollectionCCT;

namespace tolvane {

/// A diverging colour scale for signed values such as distances between two scans: blue below
/// zero, a light neutral grey at zero, red above. The colours are the cool-warm scale (33
/// entries interpolated through the Msh colour space, so that lightness falls evenly from the
/// centre to either end); between entries the bytes are interpolated linearly.
///
/// A scale has a range R and a limit A (both in the values' unit):
/// - a value v with |v| <= R gets the colour at (v + R) / 2R along the scale;
/// - a value with R < |v| <= A gets the end colour of its side;
/// - a value with |v| > A, a value that is not a number, and the library's marker for "no
///   value" (the largest finite float) get c_noValue, a mid grey that the scale never uses.
///
/// This is the scale of distance maps. Colour coding by other values (quality, tissue, plane
/// number) keeps the colour coder of the filters. Objects are immutable after construction and
/// may be used from several threads at once.
class TOLVANE_API DivergingColorScale {
 public:
  /// Red, green, blue bytes.
  struct Rgb {
    unsigned char r = 0;
    unsigned char g = 0;
    unsigned char b = 0;
    constexpr bool operator==(const Rgb& o) const noexcept {
      return r == o.r && g == o.g && b == o.b;
    }
    constexpr bool operator!=(const Rgb& o) const noexcept { return !(*this == o); }
  };

  /// The number of entries of the table.
  static constexpr int c_nEntries = 33;
  /// The colour of values outside the limit and of surfels without a value.
  static constexpr Rgb c_noValue = {128, 128, 128};
  /// The marker for a surfel without a value: the largest finite float.
  static constexpr float c_fNoValue = 3.4028235e38f;

  /// Range fRange (> 0, finite) and limit fMaxAbs (>= 0; infinity allowed). Throws CbException
  /// for a range that is not a positive finite number or a limit that is negative or not a
  /// number.
  DivergingColorScale(float fRange, float fMaxAbs);

  [[nodiscard]] float GetRange() const noexcept { return m_fRange; }
  [[nodiscard]] float GetMaxAbs() const noexcept { return m_fMaxAbs; }

  /// Where value v sits along the scale: (v + R) / 2R clamped to [0, 1], or NaN when v is
  /// shown grey (beyond the limit, not a number, or the marker).
  [[nodiscard]] double PositionOf(float v) const noexcept;
  /// The colour of value v: At(PositionOf(v)), or c_noValue.
  [[nodiscard]] Rgb ColorOf(float v) const noexcept;
  /// The colour at position t along the scale, t = 0 the low end (blue), 0.5 the centre, 1 the
  /// high end (red); t is clamped to [0, 1]. For legends.
  [[nodiscard]] static Rgb At(double t) noexcept;

  /// Writes the colour of values[k] to surfel k of collection, for every k. Throws CbException
  /// without changing a colour when there are more values than surfels; other attributes and
  /// the surfels beyond the last value stay as they were.
  void Apply(KaCSurfelCollectionCCT& collection, const std::vector<float>& values) const;

 private:
  float m_fRange;
  float m_fMaxAbs;
};

}  // namespace tolvane
