#include <benchmark/benchmark.h>
#include <proc/ccal_inv_sin_tan.h>

#include <cmath>

// One inversion per image point per cost evaluation in the sine-tangent paths.
static void BM_InvSinTan(benchmark::State& state) {
  const double p0 = 0.4, p1 = 1.1, p2 = 0.6, p3 = 0.9;
  double r = 0.0;
  for (auto _ : state) {
    r += 1e-4;
    if (r > 1.5)
      r = 1e-4;
    double theta = 0.0;
    benchmark::DoNotOptimize(ccal_xformCalib2_invSinTan_(p0, p1, p2, p3, r, &theta));
    benchmark::DoNotOptimize(theta);
  }
}
BENCHMARK(BM_InvSinTan);
