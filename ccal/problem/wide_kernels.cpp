#include "ccal/problem/wide_kernels.h"

#include <atomic>

namespace ccal::detail {

namespace {

std::atomic<bool> gWideAllowed{true};

}  // namespace

bool wideKernels() {
#if CCAL_WIDE_KERNELS
  static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return wide && gWideAllowed.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

void allowWideKernels(bool allowed) {
  gWideAllowed.store(allowed, std::memory_order_relaxed);
}

}  // namespace ccal::detail
