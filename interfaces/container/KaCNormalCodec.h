#pragma once

#include <tolvane/Export.h>

#include "base/CbVector3f.h"

/// The 16-bit quantized normal code of a surfel. Bits 15, 14, 13 negate x, y, z; of the low 13
/// bits i, a = i / 128 and b = i mod 128, folded to (127 - a, 127 - b) when a + b > 127; the
/// normal is (a + 0.5, b + 0.5, 126.5 - a - b) normalised. Low bits 8128 mean "no normal" and
/// decode to the zero vector in every octant.
class TOLVANE_API KaCNormalCodec {
 public:
  static constexpr unsigned short c_nUnsetCode = 8128;

  /// The unit vectors of all 65536 codes, built once on first use (safe under concurrent first
  /// use) and shared by the whole process.
  [[nodiscard]] static const CbVector3f* GetTable() noexcept;
  [[nodiscard]] static CbVector3f Decode(unsigned short code) noexcept { return GetTable()[code]; }
  /// The code whose direction is nearest to v (largest cosine). v need not be unit length: any
  /// float triple gives a defined code. The zero vector and vectors with a NaN component give
  /// the unset code; tiny and huge vectors keep their direction; infinite components count as
  /// +-1 and the finite ones beside them as 0. The round trip
  /// Decode(Encode(v)) stays within 0.65 degrees of v (the covering radius of the
  /// code lattice at the centre of an octant).
  [[nodiscard]] static unsigned short Encode(const CbVector3f& v) noexcept;
  /// The same code as Encode(v), in a few operations and one table look-up when v is exactly a
  /// code's direction as Decode gives it (the normals of files written from collections, for
  /// instance); any other v goes through Encode.
  [[nodiscard]] static unsigned short EncodeFast(const CbVector3f& v) noexcept;
  /// The code of the reversed normal.
  [[nodiscard]] static constexpr unsigned short Flip(unsigned short code) noexcept {
    return static_cast<unsigned short>(code ^ 0xE000u);
  }
  [[nodiscard]] static constexpr bool IsUnset(unsigned short code) noexcept {
    return (code & 0x1FFFu) == c_nUnsetCode;
  }
};
