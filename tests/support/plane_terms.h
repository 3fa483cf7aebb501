// Test helpers for the point-ray accumulators: weighted plane terms w·(n·X + c)² of points mapped
// by a pose, summed directly (the reference the accumulators must reproduce).
#ifndef CCAL_TESTS_SUPPORT_PLANE_TERMS_H
#define CCAL_TESTS_SUPPORT_PLANE_TERMS_H

#include <proc/cmath_xformLinear.h>
#include <tk/random_uniform.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <vector>

inline cmath_vect3 ToRecord(const tkVector<3>& v) {
  return cmath_vect3{v.x(), v.y(), v.z()};
}

inline cmath_xformLinear3 ToRecord(const tkXform<3>& xform) {
  cmath_xformLinear3 record;
  record.trans = ToRecord(xform.trans());
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      record.matrix[r][c] = xform.matrix().element(r, c);
  return record;
}

struct PlaneTerm {
  tkVector<3> point;   // source frame
  tkVector<3> normal;  // destination frame
  double constant;     // plane n·X + constant = 0
  double weight;
};

// count terms with points in [−2, 2]³, normals and constants of order 1 and weights in [0.1, 2].
inline std::vector<PlaneTerm> RandomPlaneTerms(tkRandomUniform& rng, int count) {
  std::vector<PlaneTerm> terms;
  for (int k = 0; k < count; ++k) {
    const tkVector<3> point(rng.next(-2, 2), rng.next(-2, 2), rng.next(-2, 2));
    const tkVector<3> normal(rng.next(-1, 1), rng.next(-1, 1), rng.next(-1, 1));
    terms.push_back({point, normal, rng.next(-1, 1), rng.next(0.1, 2)});
  }
  return terms;
}

inline double PlaneResidual(const PlaneTerm& term, const tkXform<3>& pose) {
  const tkVector<3> X = pose.mapPoint(term.point);
  return term.normal.x() * X.x() + term.normal.y() * X.y() + term.normal.z() * X.z() +
         term.constant;
}

// Σ w·(n·(pose(P)) + c)².
inline double DirectPlaneSum(const std::vector<PlaneTerm>& terms, const tkXform<3>& pose) {
  double sum = 0.0;
  for (const PlaneTerm& term : terms) {
    const double r = PlaneResidual(term, pose);
    sum += term.weight * r * r;
  }
  return sum;
}

#endif
