#pragma once

#include <tolvane/Export.h>

#include <cmath>

/// Accessors of the per-surfel values that a collection may store packed: quality, tissue type
/// and boundary flag. operator[] on a non-const accessor gives a proxy that holds the value and
/// writes it back when assigned; on a const accessor it gives the value. An accessor is owned by
/// its collection and refreshed by UpdateAccessors(); it stays valid until the count changes.

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
    return static_cast<float>((*At<unsigned char>(m_pFlags, m_nFlagStride, i) >> 3) & 0x0Fu) /
           15.0f;
  }
  void Set(unsigned int i, float q) const noexcept {
    if (m_pQuality != nullptr) {
      *At<float>(m_pQuality, m_nQualityStride, i) = q;
      return;
    }
    const float scaled = q * 15.0f;
    unsigned int code = 0;
    if (scaled >= 15.0f) {
      code = 15;
    } else if (scaled > 0.0f) {
      code = static_cast<unsigned int>(scaled);  // truncation toward zero
    }
    unsigned char& flags = *At<unsigned char>(m_pFlags, m_nFlagStride, i);
    flags = static_cast<unsigned char>((flags & ~0x78u) | (code << 3));
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
using KaCTissueTypeAccessor = KaTFlagBitsAccessor<1u, 3u, unsigned char>;
/// Boundary flag in bit 0 of the flag byte.
using KaCBoundaryFlagAccessor = KaTFlagBitsAccessor<0u, 1u, bool>;
