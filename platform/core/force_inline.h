// Internal: CCAL_FORCE_INLINE marks an inline function that is always inlined, so that a caller
// compiled for other instructions (the wide code of the solvers' inner loops) compiles it with
// them, and its intermediate results stay in registers.
#ifndef CCAL_CORE_FORCE_INLINE_H
#define CCAL_CORE_FORCE_INLINE_H

#if defined(__GNUC__) || defined(__clang__)
#define CCAL_FORCE_INLINE inline __attribute__((always_inline))
#define CCAL_FORCE_INLINE_LAMBDA __attribute__((always_inline))  // after a lambda's parameters
#else
#define CCAL_FORCE_INLINE inline
#define CCAL_FORCE_INLINE_LAMBDA
#endif

#endif
