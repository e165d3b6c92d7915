#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/CbException.h"

/// Growable array of values in contiguous storage. operator[] is unchecked; GetAt checks the
/// index and throws CbExceptionContainer. Not synchronised.
template <class T>
class CbArray {
 public:
  CbArray() = default;
  explicit CbArray(std::size_t n) : m_vec(n) {}

  [[nodiscard]] std::size_t GetSize() const noexcept { return m_vec.size(); }
  [[nodiscard]] bool IsEmpty() const noexcept { return m_vec.empty(); }
  void SetSize(std::size_t n) { m_vec.resize(n); }
  void RemoveAll() noexcept { m_vec.clear(); }
  std::size_t Add(const T& value) {
    m_vec.push_back(value);
    return m_vec.size() - 1;
  }

  T& operator[](std::size_t i) noexcept { return m_vec[i]; }
  const T& operator[](std::size_t i) const noexcept { return m_vec[i]; }
  [[nodiscard]] const T& GetAt(std::size_t i) const {
    if (i >= m_vec.size()) {
      throw CbExceptionContainer("CbArray::GetAt", __FILE__, __LINE__,
                                 "index " + std::to_string(i) + " out of range");
    }
    return m_vec[i];
  }
  [[nodiscard]] T* GetData() noexcept { return m_vec.data(); }
  [[nodiscard]] const T* GetData() const noexcept { return m_vec.data(); }

  auto begin() noexcept { return m_vec.begin(); }
  auto end() noexcept { return m_vec.end(); }
  auto begin() const noexcept { return m_vec.begin(); }
  auto end() const noexcept { return m_vec.end(); }

 private:
  std::vector<T> m_vec;
};
