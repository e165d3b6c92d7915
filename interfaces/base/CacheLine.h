#pragma once

#include <cstddef>
#include <new>

namespace tolvane {

/// Bytes in a cache line on the processors the library targets. Data that one thread writes
/// often and others read often must not share a line: every write takes the line away from the
/// readers' caches.
constexpr std::size_t c_nCacheLine = 64;

/// An allocator whose blocks start on a cache line and fill whole lines, so that nothing else
/// allocated shares a line with them: for small buffers that one thread writes on every step
/// of a loop while other threads run theirs.
template <class T>
struct CacheLineAllocator {
  using value_type = T;

  CacheLineAllocator() noexcept = default;
  template <class U>
  explicit CacheLineAllocator(const CacheLineAllocator<U>& /*other*/) noexcept {}

  [[nodiscard]] T* allocate(std::size_t n) {
    return static_cast<T*>(::operator new (Rounded(n), std::align_val_t{c_nCacheLine}));
  }
  void deallocate(T* p, std::size_t /*n*/) noexcept {
    // Unsized: clang declares the sized form only with -fsized-deallocation.
    ::operator delete (p, std::align_val_t{c_nCacheLine});
  }

  template <class U>
  bool operator==(const CacheLineAllocator<U>& /*other*/) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const CacheLineAllocator<U>& /*other*/) const noexcept {
    return false;
  }

 private:
  static std::size_t Rounded(std::size_t n) {
    if (n > (static_cast<std::size_t>(-1) - c_nCacheLine) / sizeof(T)) throw std::bad_alloc();
    return (n * sizeof(T) + c_nCacheLine - 1) / c_nCacheLine * c_nCacheLine;
  }
};

}  // namespace tolvane
