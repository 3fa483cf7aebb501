// Cost of the Levenberg-Marquardt framework on a rig-like problem: 200 parameters, one shared
// block of 5 coupled to 39 independent blocks of 5, with and without the block Jacobian.
#include <benchmark/benchmark.h>
#include <tk/levmar_solve.h>

#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

// Shared parameters: frequency, decay, two ripple amplitudes, second frequency. Block j:
// amplitude, phase, offset, slope, second amplitude. Observation k of block j at t_k in
// [0, 2 pi):
//   amplitude e^(-decay t) sin(frequency t + phase) + offset + slope (t / pi - 1)
//   + ripple5 cos(5 t) + ripple2 cos(2 t) + secondAmplitude sin(secondFrequency t).
// F = gradient of the sum of squared residuals; FuncI evaluates one block's observations for a
// parameter of that block.
class RigLikeProblem : public tkLevMarSolve {
 public:
  static constexpr long kShared = 5;
  static constexpr long kBlockSize = 5;
  static constexpr long kBlocks = 39;
  static constexpr long kObservations = 24;
  static constexpr long kSize = kShared + kBlockSize * kBlocks;

  explicit RigLikeProblem(bool blockJacobian)
      : tkLevMarSolve(kSize, kSize, 1e-12, 1e-20, 200, 15, 0.01, 1e-8, 1e20, true, blockJacobian) {
    const tkNMMatrix truth = truthX();
    for (long j = 0; j < kBlocks; ++j) {
      for (long k = 0; k < kObservations; ++k)
        data_.push_back(model(truth, j, time(k)));
    }
    std::vector<bool> flags(kSize, false);
    for (long i = 0; i < kSize; i += kBlockSize)
      flags[static_cast<size_t>(i)] = true;
    recomputeYVals(flags);
  }

  static tkNMMatrix truthX() {
    tkNMMatrix x(kSize, 1);
    const double shared[kShared] = {3.1, 0.15, 0.3, 0.2, 1.7};
    for (long i = 0; i < kShared; ++i)
      x(i, 0) = shared[i];
    for (long j = 0; j < kBlocks; ++j) {
      const double s = static_cast<double>(j);
      const long b = kShared + kBlockSize * j;
      x(b + 0, 0) = 1.0 + 0.02 * s;
      x(b + 1, 0) = 0.1 * s;
      x(b + 2, 0) = -0.1 + 0.01 * s;
      x(b + 3, 0) = 0.05 * std::sin(s);
      x(b + 4, 0) = 0.3 * std::cos(s);
    }
    return x;
  }

  static tkNMMatrix startX() {
    tkNMMatrix x = truthX();
    for (long i = 0; i < kSize; ++i)
      x(i, 0) += 0.05 * std::sin(3.0 * static_cast<double>(i));
    return x;
  }

  long FuncI(const tkNMMatrix& x, tkNMMatrix& f, long index) const override {
    long onlyBlock = -1;
    if (recomputeY() && index >= kShared)
      onlyBlock = (index - kShared) / kBlockSize;
    for (long j = 0; j < kBlocks; ++j) {
      if (onlyBlock < 0 || j == onlyBlock)
        addBlockGradient(x, j, f);
    }
    return 0;
  }

  long Func(const tkNMMatrix& x, tkNMMatrix& f) const override { return FuncI(x, f, kAllEntries); }

 private:
  static double time(long k) {
    return 6.283185307179586 * static_cast<double>(k) / static_cast<double>(kObservations);
  }

  static double model(const tkNMMatrix& x, long j, double t) {
    const long b = kShared + kBlockSize * j;
    return x(b, 0) * std::exp(-x(1, 0) * t) * std::sin(x(0, 0) * t + x(b + 1, 0)) + x(b + 2, 0) +
           x(b + 3, 0) * (t / kPi - 1.0) + x(2, 0) * std::cos(5.0 * t) +
           x(3, 0) * std::cos(2.0 * t) + x(b + 4, 0) * std::sin(x(4, 0) * t);
  }

  void addBlockGradient(const tkNMMatrix& x, long j, tkNMMatrix& f) const {
    const long b = kShared + kBlockSize * j;
    for (long k = 0; k < kObservations; ++k) {
      const double t = time(k);
      const double envelope = std::exp(-x(1, 0) * t);
      const double angle = x(0, 0) * t + x(b + 1, 0);
      const double wave = envelope * std::sin(angle);
      const double slopeOfWave = envelope * std::cos(angle);
      const double r2 = 2.0 * (model(x, j, t) - data_[static_cast<size_t>(j * kObservations + k)]);
      f(0, 0) += r2 * x(b, 0) * slopeOfWave * t;
      f(1, 0) -= r2 * x(b, 0) * wave * t;
      f(2, 0) += r2 * std::cos(5.0 * t);
      f(3, 0) += r2 * std::cos(2.0 * t);
      f(4, 0) += r2 * x(b + 4, 0) * std::cos(x(4, 0) * t) * t;
      f(b + 0, 0) += r2 * wave;
      f(b + 1, 0) += r2 * x(b, 0) * slopeOfWave;
      f(b + 2, 0) += r2;
      f(b + 3, 0) += r2 * (t / kPi - 1.0);
      f(b + 4, 0) += r2 * std::sin(x(4, 0) * t);
    }
  }

  std::vector<double> data_;
};

void BM_LevMarJacobian(benchmark::State& state) {
  RigLikeProblem problem(state.range(0) != 0);
  const tkNMMatrix x = RigLikeProblem::startX();
  tkNMMatrix f(RigLikeProblem::kSize, 1);
  problem.Func(x, f);
  tkNMMatrix jacobian(RigLikeProblem::kSize, RigLikeProblem::kSize);
  for (auto _ : state) {
    problem.compJacob(x, f, jacobian);
    benchmark::DoNotOptimize(jacobian.data());
  }
}
BENCHMARK(BM_LevMarJacobian)
    ->ArgName("blockJacobian")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

void BM_LevMarMinimize(benchmark::State& state) {
  RigLikeProblem problem(state.range(0) != 0);
  double deviation = 0.0;
  for (auto _ : state) {
    problem.setX(RigLikeProblem::startX());
    benchmark::DoNotOptimize(problem.minimize());
  }
  const tkNMMatrix truth = RigLikeProblem::truthX();
  for (long i = 0; i < RigLikeProblem::kSize; ++i) {
    deviation = std::max(deviation, std::fabs(problem.getX()(i, 0) - truth(i, 0)));
  }
  state.counters["iterations"] = static_cast<double>(problem.iterationsDone());
  state.counters["maxDeviation"] = deviation;
}
BENCHMARK(BM_LevMarMinimize)
    ->ArgName("blockJacobian")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
