// Internal: the choice between the 4-wide fused multiply-add code of the solvers' inner loops and
// the portable code. The wide code is compiled for AVX2 and FMA beside the portable code (no
// build option) and runs where the processor has both; the two differ in rounding only.
#ifndef CCAL_PROBLEM_WIDE_KERNELS_H
#define CCAL_PROBLEM_WIDE_KERNELS_H

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CCAL_WIDE_KERNELS 1
// A function compiled as wide code (with the functions it inlines).
#define CCAL_WIDE_TARGET __attribute__((target("avx2,fma")))
#else
#define CCAL_WIDE_KERNELS 0
#define CCAL_WIDE_TARGET
#endif

namespace ccal::detail {

// Whether the wide code runs: the processor has AVX2 and FMA (asked once), and it is allowed.
bool wideKernels();

// false forces the portable code in every solver of the process (for tests); true restores the
// choice.
void allowWideKernels(bool allowed);

}  // namespace ccal::detail

#endif
