#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace tolvane {

/// An array of n elements of a trivially copyable type that each element's first writer
/// constructs in place (Fill): unlike a vector, which writes every element on the allocating
/// thread first, it lets the threads that fill it take the page faults of their own shares,
/// which on the virtual machines we measure on cost microseconds a page. Reading an element
/// before it is filled is an error.
template <class T>
class FillableArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  FillableArray() = default;
  explicit FillableArray(std::size_t n)
      : m_pData(static_cast<T*>(::operator new(n * sizeof(T)))), m_nSize(n) {}
  FillableArray(const FillableArray&) = delete;
  FillableArray& operator=(const FillableArray&) = delete;
  FillableArray& operator=(FillableArray&& other) noexcept {
    std::swap(m_pData, other.m_pData);
    std::swap(m_nSize, other.m_nSize);
    return *this;
  }
  ~FillableArray() { ::operator delete(m_pData); }

  /// The first write of element i.
  void Fill(std::size_t i, const T& value) noexcept {
    ::new (static_cast<void*>(m_pData + i)) T(value);
  }
  [[nodiscard]] T* data() noexcept { return m_pData; }
  [[nodiscard]] const T* data() const noexcept { return m_pData; }
  [[nodiscard]] std::size_t size() const noexcept { return m_nSize; }
  [[nodiscard]] bool empty() const noexcept { return m_nSize == 0; }
  T& operator[](std::size_t i) noexcept { return m_pData[i]; }
  const T& operator[](std::size_t i) const noexcept { return m_pData[i]; }

 private:
  T* m_pData = nullptr;
  std::size_t m_nSize = 0;
};

}  // namespace tolvane
