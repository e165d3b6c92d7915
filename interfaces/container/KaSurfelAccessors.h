#pragma once

#include <tolvane/Export.h>

#include <cmath>

/// Accessors of the per-surfel values that a collection may store packed: quality, tissue type
/// and boundary flag. operator[] on a non-const accessor gives a proxy that holds the value and
/// writes it back when assigned; on a const accessor it gives the value. An accessor is owned by
/// its collection and refreshed by UpdateAccessors(); it stays valid until the count changes.

/// Layout of the flag byte of a compact collection: bit 0 the boundary flag, bits 1-2 the tissue
/// type, bits 3-6 the packed quality code trunc(q x 15). Every reader and writer of that byte,
/// the accessors and the vectorised filter loops alike, goes through these definitions.
namespace ka_flag_byte {
constexpr unsigned int c_nBoundaryShift = 0u;
constexpr unsigned int c_nBoundaryMask = 1u;
constexpr unsigned int c_nTissueShift = 1u;
constexpr unsigned int c_nTissueMask = 3u;
constexpr unsigned int c_nQualityShift = 3u;
constexpr unsigned int c_nQualityMask = 15u;
/// Number of quality steps above zero: a code c stands for the quality c / 15.
constexpr unsigned int c_nQualitySteps = 15u;

/// The packed quality code held in a flag byte.
constexpr unsigned int QualityCode(unsigned int flags) noexcept {
  return (flags >> c_nQualityShift) & c_nQualityMask;
}
/// The quality a flag byte stands for, in 0..1.
inline float Quality(unsigned int flags) noexcept {
  return static_cast<float>(QualityCode(flags)) / static_cast<float>(c_nQualitySteps);
}
/// The code of a quality: trunc(q x 15) clamped to 0..15, NaN stored as 0.
inline unsigned int QualityCodeOf(float q) noexcept {
  const float scaled = q * static_cast<float>(c_nQualitySteps);
  // truncation toward zero; written as selects so that loops over it vectorise
  return scaled >= static_cast<float>(c_nQualitySteps)
             ? c_nQualitySteps
             : (scaled > 0.0f ? static_cast<unsigned int>(scaled) : 0u);
}
/// The flag byte with its quality code replaced.
constexpr unsigned int WithQualityCode(unsigned int flags, unsigned int code) noexcept {
  return (flags & ~(c_nQualityMask << c_nQualityShift)) | (code << c_nQualityShift);
}
/// The flag byte with its tissue type replaced.
constexpr unsigned int WithTissue(unsigned int flags, unsigned int tissue) noexcept {
  return (flags & ~(c_nTissueMask << c_nTissueShift)) |
         ((tissue & c_nTissueMask) << c_nTissueShift);
}
}  // namespace ka_flag_byte

/// Quality: a float in 0..1, stored either as a float (attribute 104) or as trunc(q x 15) in
/// bits 3-6 of the flag byte (attribute 103), clamped to 0..15, NaN stored as 0.
class TOLVANE_API KaCQualityAccessor {
 public:
  class Proxy {
   public:
    Proxy(const KaCQualityAccessor& acc, unsigned int i) noexcept
        : m_acc(acc), m_i(i), m_fValue(acc.Get(i)) {}
    operator float() const noexcept { return m_fValue; }  // NOLINT(google-explicit-constructor)
    /// Writes only when the value differs from the one held (NaN always differs).
    Proxy& operator=(float f) noexcept {
      if (f != m_fValue) {
        m_fValue = f;
        m_acc.Set(m_i, f);
      }
      return *this;
    }
    Proxy& operator=(const Proxy& o) noexcept { return *this = static_cast<float>(o); }
    Proxy(const Proxy&) = default;
    Proxy& operator*=(float f) noexcept { return *this = m_fValue * f; }

   private:
    const KaCQualityAccessor& m_acc;
    unsigned int m_i;
    float m_fValue;
  };

  [[nodiscard]] float Get(unsigned int i) const noexcept {
    if (m_pQuality != nullptr) return *At<float>(m_pQuality, m_nQualityStride, i);
    return ka_flag_byte::Quality(*At<unsigned char>(m_pFlags, m_nFlagStride, i));
  }
  void Set(unsigned int i, float q) const noexcept {
    if (m_pQuality != nullptr) {
      *At<float>(m_pQuality, m_nQualityStride, i) = q;
      return;
    }
    unsigned char& flags = *At<unsigned char>(m_pFlags, m_nFlagStride, i);
    flags = static_cast<unsigned char>(
        ka_flag_byte::WithQualityCode(flags, ka_flag_byte::QualityCodeOf(q)));
  }
  Proxy operator[](unsigned int i) noexcept { return Proxy(*this, i); }
  float operator[](unsigned int i) const noexcept { return Get(i); }
  /// True when qualities are kept as floats, false when packed into the flag byte.
  [[nodiscard]] bool IsFloatStorage() const noexcept { return m_pQuality != nullptr; }

  void Bind(unsigned char* pFlags, unsigned int nFlagStride, float* pQuality,
            unsigned int nQualityStride) noexcept {
    m_pFlags = pFlags;
    m_nFlagStride = nFlagStride;
    m_pQuality = pQuality;
    m_nQualityStride = nQualityStride;
  }

 private:
  template <class T, class P>
  static T* At(P* p, unsigned int stride, unsigned int i) noexcept {
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(p) +
                                static_cast<unsigned long>(i) * stride);
  }
  unsigned char* m_pFlags = nullptr;
  unsigned int m_nFlagStride = 1;
  float* m_pQuality = nullptr;
  unsigned int m_nQualityStride = 4;
};

/// Shared base of the two accessors that live in bits of the flag byte.
template <unsigned int Shift, unsigned int Mask, class T>
class KaTFlagBitsAccessor {
 public:
  class Proxy {
   public:
    Proxy(const KaTFlagBitsAccessor& acc, unsigned int i) noexcept
        : m_acc(acc), m_i(i), m_value(acc.Get(i)) {}
    operator T() const noexcept { return m_value; }  // NOLINT(google-explicit-constructor)
    /// Always writes.
    Proxy& operator=(T v) noexcept {
      m_value = v;
      m_acc.Set(m_i, v);
      return *this;
    }
    Proxy& operator=(const Proxy& o) noexcept { return *this = static_cast<T>(o); }
    Proxy(const Proxy&) = default;

   private:
    const KaTFlagBitsAccessor& m_acc;
    unsigned int m_i;
    T m_value;
  };

  [[nodiscard]] T Get(unsigned int i) const noexcept {
    return static_cast<T>((Flags(i) >> Shift) & Mask);
  }
  void Set(unsigned int i, T v) const noexcept {
    unsigned char& f = Flags(i);
    f = static_cast<unsigned char>((f & ~(Mask << Shift)) |
                                   ((static_cast<unsigned int>(v) & Mask) << Shift));
  }
  Proxy operator[](unsigned int i) noexcept { return Proxy(*this, i); }
  T operator[](unsigned int i) const noexcept { return Get(i); }

  void Bind(unsigned char* pFlags, unsigned int nStride) noexcept {
    m_pFlags = pFlags;
    m_nStride = nStride;
  }

 private:
  unsigned char& Flags(unsigned int i) const noexcept {
    return m_pFlags[static_cast<unsigned long>(i) * m_nStride];
  }
  unsigned char* m_pFlags = nullptr;
  unsigned int m_nStride = 1;
};

/// Tissue type 0..3 in bits 1-2 of the flag byte (0 tooth, 3 gingiva as this library writes).
using KaCTissueTypeAccessor =
    KaTFlagBitsAccessor<ka_flag_byte::c_nTissueShift, ka_flag_byte::c_nTissueMask, unsigned char>;
/// Boundary flag in bit 0 of the flag byte.
using KaCBoundaryFlagAccessor =
    KaTFlagBitsAccessor<ka_flag_byte::c_nBoundaryShift, ka_flag_byte::c_nBoundaryMask, bool>;
