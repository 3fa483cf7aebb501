// Vectors, matrices and affine transforms in 1-D, 2-D and 3-D.
#include <gtest/gtest.h>
#include <tk/matrix.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform1.h>

#include "support/geometry_expect.h"

TEST(Vector, CrossProductAndUnitOfZeroOrNonFiniteVectorsThrow) {
  const tkVector<3> a(1, 2, 3), b(-4, 0.5, 2);
  EXPECT_EQ(a.cross(b).dot(a), 0.0);
  EXPECT_EQ(a.cross(b).dot(b), 0.0);
  EXPECT_EQ(tkVector<3>(1, 0, 0).cross(tkVector<3>(0, 1, 0)), tkVector<3>(0, 0, 1));
  EXPECT_TRUE(VectorsNear(tkVector<2>(3, 4).unit(), tkVector<2>(0.6, 0.8), 1e-16));
  for (const tkVector<2>& bad : {tkVector<2>(), tkVector<2>(NAN, 1), tkVector<2>(INFINITY, 1)})
    EXPECT_THROW(bad.unit(), tkMathError::Singular);
}

TEST(Matrix, DeterminantAndInverseJudgeSingularityRelativeToRowScale) {
  const tkMatrix<3> m(2, -1, 0, 1, 3, 4, 0.5, 0, 1);
  EXPECT_DOUBLE_EQ(m.determinant(), 2 * 3 + 1 * (1 - 2) + 0);  // expansion along row 0
  EXPECT_TRUE(MatricesNear(m * m.inverse(), tkMatrix<3>::identity(), 1e-15));
  EXPECT_EQ(m * tkVector<3>(1, 1, 1), tkVector<3>(1, 8, 1.5));
  EXPECT_TRUE(
      MatricesNear(tkMatrix<2>(4, 7, 2, 6).inverse(), tkMatrix<2>(0.6, -0.7, -0.2, 0.4), 1e-16));
  // Exactly rank deficient, rank deficient up to rounding, zero row, non-finite.
  for (const tkMatrix<3>& singular :
       {tkMatrix<3>(1, 2, 3, 4, 5, 6, 7, 8, 9),
        tkMatrix<3>(0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9),
        tkMatrix<3>(1, 2, 3, 0, 0, 0, 7, 8, 9), tkMatrix<3>(1, 0, 0, 0, NAN, 0, 0, 0, 1)}) {
    EXPECT_TRUE(singular.isSingular());
    EXPECT_THROW(singular.inverse(), tkMathError::Singular);
  }
  EXPECT_THROW(tkMatrix<2>(1, 2, INFINITY, 4).inverse(), tkMathError::Singular);
  // Tiny, huge or unevenly scaled but well-conditioned matrices are invertible.
  const tkMatrix<3> tiny = tkMatrix<3>::identity() * 1e-150;
  EXPECT_TRUE(MatricesNear(tiny.inverse() * 1e-150, tkMatrix<3>::identity(), 1e-15));
  const tkMatrix<2> huge(1e200, 3e200, -2e200, 1e200);
  EXPECT_TRUE(MatricesNear(huge.inverse() * huge, tkMatrix<2>::identity(), 1e-15));
  const tkMatrix<3> camera(2500, 0.1, 640, 0, 2500, 480, 0, 0, 1);
  EXPECT_TRUE(MatricesNear(camera * camera.inverse(), tkMatrix<3>::identity(), 1e-13));
  EXPECT_FALSE(tkMatrix<2>(1e6, 1, 1e-6, 3e-6).isSingular()) << "rows scaled apart by 1e12";
}

TEST(Xform, CompositionAndInverseOfRandomTransforms) {
  tkRandomUniform rng(7);
  for (int trial = 0; trial < 200; ++trial) {
    tkMatrix<3> m3, n3;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        m3.element(r, c, rng.next(-2, 2));
        n3.element(r, c, rng.next(-2, 2));
      }
    if (std::abs(m3.determinant()) < 0.1 || std::abs(n3.determinant()) < 0.1)
      continue;
    const tkXform<3> a(m3, RandomVector3(rng, 100)), b(n3, RandomVector3(rng, 100));
    const tkVector<3> p = RandomVector3(rng, 50);
    EXPECT_TRUE(VectorsNear((a * b).mapPoint(p), a.mapPoint(b.mapPoint(p)), 1e-11));
    EXPECT_TRUE(VectorsNear(a.inverse().mapPoint(a.mapPoint(p)), p, 1e-8));
    EXPECT_TRUE(XformsNear((a * b).inverse(), b.inverse() * a.inverse(), 1e-7));
    EXPECT_TRUE(VectorsNear((a * b).mapVector(p), a.mapVector(b.mapVector(p)), 1e-11));
  }
  EXPECT_THROW(tkXform<3>(tkMatrix<3>(), tkVector<3>(1, 2, 3)).inverse(), tkMathError::Singular);

  const tk1Xform lens(2500.0, 1024.0), shift(1.0, -3.0);
  EXPECT_EQ(lens.mapPoint(0.1), 1274.0);
  EXPECT_EQ(lens.mapVector(0.1), 250.0);
  EXPECT_EQ(lens.compose(shift).mapPoint(5.0), lens.mapPoint(shift.mapPoint(5.0)));
  EXPECT_DOUBLE_EQ(lens.inverse().mapPoint(lens.mapPoint(-0.37)), -0.37);
  EXPECT_THROW(tk1Xform(1e-320, 3.0).inverse(), tkMathError::Singular);
}
