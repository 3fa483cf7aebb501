// A seeded pseudo-random generator whose output is the same on every platform and compiler.
//
// The generator is xoshiro256**, its 256-bit state filled from the seed by
// four successive outputs of SplitMix64; doubles are built from the top 53 bits of a draw.
// No standard-library distribution is involved, so a seed reproduces a sequence exactly
// everywhere. docs/core-services.md lists the first values for seed 1.
#ifndef TK_RANDOM_UNIFORM_H
#define TK_RANDOM_UNIFORM_H

#include <tk/export.h>

#include <cstdint>

class TK_API tkRandomUniform {
 public:
  // Seeds with `seed` (taken as an unsigned 64-bit integer).
  explicit tkRandomUniform(unsigned long seed = 1);
  // Restarts the sequence of `seed`.
  void seed(unsigned long seed);

  // The next 64 random bits.
  std::uint64_t nextBits();
  // A double in [0, 1): (nextBits() >> 11) · 2⁻⁵³, a multiple of 2⁻⁵³.
  double nextUnit();
  // A double in [lo, hi): lo + (hi − lo)·nextUnit(). When rounding would give hi, the result is
  // the largest double below hi instead, so it is always < hi (and >= lo). Throws
  // tkInvariantFailure unless lo and hi are finite and lo < hi.
  double next(double lo, double hi);
  // An integer in [0, n), every value equally likely (draws that would bias the result are
  // rejected, so a call may consume more than one draw). Throws tkInvariantFailure for n = 0.
  unsigned long nextIndex(unsigned long n);

 private:
  std::uint64_t state_[4];
};

#endif
