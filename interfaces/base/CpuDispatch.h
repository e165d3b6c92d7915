#pragma once

namespace tolvane {

/// True when the processor runs AVX2 instructions: the one check behind every kernel that has
/// an AVX2 path beside its portable one. Asked once per program, a plain check rather than an
/// ifunc, which sanitizer runtimes cannot take. Safe to call from any thread.
[[nodiscard]] inline bool HasAvx2() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  static const bool s_bAvx2 = __builtin_cpu_supports("avx2") != 0;
  return s_bAvx2;
#else
  return false;
#endif
}

}  // namespace tolvane
