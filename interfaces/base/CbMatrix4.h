#pragma once

/// 4 x 4 matrix of T, stored column by column: element (row r, column c) is m[c * 4 + r], so a
/// rigid transformation keeps its translation in m[12], m[13], m[14]. Applied to column vectors
/// (x, y, z, 1).
template <class T>
struct CbMatrix4R {
  T m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

  [[nodiscard]] static constexpr CbMatrix4R Identity() noexcept { return CbMatrix4R(); }

  T& operator[](int i) noexcept { return m[i]; }
  const T& operator[](int i) const noexcept { return m[i]; }
  T& operator()(int row, int col) noexcept { return m[col * 4 + row]; }
  const T& operator()(int row, int col) const noexcept { return m[col * 4 + row]; }
  [[nodiscard]] T* GetData() noexcept { return m; }
  [[nodiscard]] const T* GetData() const noexcept { return m; }

  /// Matrix product this * o.
  [[nodiscard]] CbMatrix4R operator*(const CbMatrix4R& o) const noexcept {
    CbMatrix4R r;
    for (int c = 0; c < 4; ++c) {
      for (int row = 0; row < 4; ++row) {
        T s = 0;
        for (int k = 0; k < 4; ++k) s += (*this)(row, k) * o(k, c);
        r(row, c) = s;
      }
    }
    return r;
  }
  bool operator==(const CbMatrix4R& o) const noexcept {
    for (int i = 0; i < 16; ++i) {
      if (m[i] != o.m[i]) return false;
    }
    return true;
  }
  bool operator!=(const CbMatrix4R& o) const noexcept { return !(*this == o); }
};

/// 4 x 4 doubles.
using CbMatrix4Rd = CbMatrix4R<double>;
/// 4 x 4 floats.
using CbMatrix4Rf = CbMatrix4R<float>;
