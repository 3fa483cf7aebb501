// Cost of the point-ray accumulators on the calibration solvers' hot path: one add (reported per
// item), the pose terms of one correspondence (plane pair through the viewing ray and two single
// adds, or one pair add), and the extraction of the pose gradient once per cost evaluation.
#include <benchmark/benchmark.h>
#include <proc/c3d_plane.h>
#include <proc/c3d_ptRayGenericPoly.h>
#include <proc/c3d_ptRayZRotGenericPoly.h>
#include <tk/quaternion_partials.h>
#include <tk/random_uniform.h>

#include <vector>

namespace {

struct Term {
  double px, py, pz;
  cmath_vect3 normal;
  double constant, weight;
};

std::vector<Term> randomTerms(int count) {
  tkRandomUniform rng(5);
  std::vector<Term> terms(static_cast<size_t>(count));
  for (Term& t : terms) {
    t = Term{rng.next(-1, 1),
             rng.next(-1, 1),
             rng.next(-0.1, 0.1),
             cmath_vect3{1.0, 0.0, rng.next(-0.5, 0.5)},
             0.0,
             rng.next(0.01, 0.1)};
  }
  return terms;
}

constexpr int kTerms = 1024;

// Runs body on each of kTerms random terms per iteration, keeps sink alive and reports one item
// per term.
template <class Sink, class Body>
void overTerms(benchmark::State& state, Sink& sink, Body body) {
  const std::vector<Term> terms = randomTerms(kTerms);
  for (auto _ : state) {
    for (const Term& t : terms)
      body(t);
    benchmark::DoNotOptimize(sink);
  }
  state.SetItemsProcessed(state.iterations() * kTerms);
}

// The two planes through the viewing ray (t.px, t.py, 1) from the origin.
struct RayPlanes {
  cmath_vect3 perps[2];
  double dots[2];
};

RayPlanes viewingRayPlanes(const Term& t) {
  static const cmath_vect3 origin{0, 0, 0};
  const cmath_vect3 ray{t.px, t.py, 1.0};
  RayPlanes planes;
  c3d_computeBothCoordAxesPlanePerpsAndDots(&origin, &ray, planes.perps, planes.dots);
  return planes;
}

void BM_PtRayGenericPolyAdd(benchmark::State& state) {
  c3d_ptRayGenericPoly acc;
  c3d_ptRayGenericPoly_init(&acc);
  overTerms(state, acc, [&](const Term& t) {
    c3d_ptRayGenericPoly_addToValsWeighted(&acc, t.px, t.py, t.pz, &t.normal, t.constant, t.weight);
  });
}
BENCHMARK(BM_PtRayGenericPolyAdd);

void BM_PtRayZRotGenericPolyAdd(benchmark::State& state) {
  c3d_ptRayZRotGenericPoly acc;
  c3d_ptRayZRotGenericPoly_init(&acc);
  overTerms(state, acc, [&](const Term& t) {
    c3d_ptRayZRotGenericPoly_addToValsWeighted(&acc, t.px, t.py, t.pz, &t.normal, t.constant,
                                               t.weight);
  });
}
BENCHMARK(BM_PtRayZRotGenericPolyAdd);

// Per correspondence: the two planes through the viewing ray and their two adds, as the
// single-camera solver does them (items = correspondences).
void BM_ViewingRayPoseTerms(benchmark::State& state) {
  c3d_ptRayGenericPoly acc;
  c3d_ptRayGenericPoly_init(&acc);
  overTerms(state, acc, [&](const Term& t) {
    const RayPlanes planes = viewingRayPlanes(t);
    for (int k = 0; k < 2; ++k)
      c3d_ptRayGenericPoly_addToValsWeighted(&acc, t.py, t.pz, t.px, &planes.perps[k],
                                             -planes.dots[k], t.weight);
  });
}
BENCHMARK(BM_ViewingRayPoseTerms);

// The same pose terms with both planes added in one step.
void BM_ViewingRayPoseTermsPlanePair(benchmark::State& state) {
  c3d_ptRayGenericPoly acc;
  c3d_ptRayGenericPoly_init(&acc);
  overTerms(state, acc, [&](const Term& t) {
    const RayPlanes planes = viewingRayPlanes(t);
    c3d_ptRayGenericPoly_addPlanePairWeighted(&acc, t.py, t.pz, t.px, planes.perps, planes.dots,
                                              t.weight);
  });
}
BENCHMARK(BM_ViewingRayPoseTermsPlanePair);

// The plane pair alone.
void BM_ViewingRayPlanePair(benchmark::State& state) {
  double sum = 0.0;
  overTerms(state, sum, [&](const Term& t) {
    const RayPlanes planes = viewingRayPlanes(t);
    sum += planes.perps[0].z + planes.perps[1].z;
  });
}
BENCHMARK(BM_ViewingRayPlanePair);

void BM_QuaternionPartialDerivatives(benchmark::State& state) {
  c3d_ptRayGenericPoly acc;
  c3d_ptRayGenericPoly_init(&acc);
  for (const Term& t : randomTerms(64))
    c3d_ptRayGenericPoly_addToValsWeighted(&acc, t.px, t.py, t.pz, &t.normal, t.constant, t.weight);
  const tk3QuaternionXform pose(tk3Quaternion(0.9, 0.1, -0.2, 0.3), tkVector<3>(0.1, 0.2, 1.0));
  double partials[6];
  for (auto _ : state) {
    tfGetQuaternionPartialDerivatives(pose, 0, acc, partials);
    benchmark::DoNotOptimize(partials);
  }
}
BENCHMARK(BM_QuaternionPartialDerivatives);

void BM_PtRayZRotGenericPolyGradient(benchmark::State& state) {
  c3d_ptRayZRotGenericPoly acc;
  c3d_ptRayZRotGenericPoly_init(&acc);
  for (const Term& t : randomTerms(64))
    c3d_ptRayZRotGenericPoly_addToValsWeighted(&acc, t.px, t.py, t.pz, &t.normal, t.constant,
                                               t.weight);
  double gradient[4];
  for (auto _ : state) {
    c3d_ptRayZRotGenericPoly_gradient(&acc, 0.3, 0.1, 0.2, 1.0, gradient);
    benchmark::DoNotOptimize(gradient);
  }
}
BENCHMARK(BM_PtRayZRotGenericPolyGradient);

}  // namespace
