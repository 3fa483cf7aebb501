#include <tk/random_uniform.h>

#include "invalid_argument.h"

#include <cmath>

namespace {
std::uint64_t splitMix64(std::uint64_t& counter) {
  std::uint64_t z = (counter += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t rotateLeft(std::uint64_t x, int k) {
  return (x << k) | (x >> (64 - k));
}
}  // namespace

tkRandomUniform::tkRandomUniform(unsigned long seed) {
  this->seed(seed);
}

void tkRandomUniform::seed(unsigned long seed) {
  // SplitMix64 outputs of consecutive counters are distinct, so the state is never all zero.
  std::uint64_t counter = static_cast<std::uint64_t>(seed);
  for (std::uint64_t& word : state_)
    word = splitMix64(counter);
}

std::uint64_t tkRandomUniform::nextBits() {
  std::uint64_t* s = state_;
  const std::uint64_t result = rotateLeft(s[1] * 5, 7) * 9;
  const std::uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotateLeft(s[3], 45);
  return result;
}

double tkRandomUniform::nextUnit() {
  return static_cast<double>(nextBits() >> 11) * 0x1.0p-53;
}

double tkRandomUniform::next(double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi))
    tk_throwInvalidArgument("tkRandomUniform::next: needs finite lo < hi");
  const double u = nextUnit();
  const double span = hi - lo;
  // When hi − lo overflows (lo < 0 < hi near the limits), interpolate without forming it.
  double value = std::isfinite(span) ? lo + span * u : lo * (1.0 - u) + hi * u;
  if (value >= hi)
    value = std::nextafter(hi, lo);
  if (value < lo)
    value = lo;
  return value;
}

unsigned long tkRandomUniform::nextIndex(unsigned long n) {
  if (n == 0)
    tk_throwInvalidArgument("tkRandomUniform::nextIndex: n must be positive");
  const std::uint64_t bound = n;
  // 2⁶⁴ mod bound: draws below it would make low values more likely.
  const std::uint64_t threshold = (0 - bound) % bound;
  for (;;) {
    const std::uint64_t r = nextBits();
    if (r >= threshold)
      return static_cast<unsigned long>(r % bound);
  }
}
