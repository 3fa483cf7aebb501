// Vectors, matrices and affine transforms in 1-D, 2-D and 3-D.
#include <gtest/gtest.h>
#include <tk/matrix.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform1.h>

#include "support/geometry_expect.h"

TEST(Vector, CrossProductAndUnitAndUnitOfZeroOrNonFiniteVectorThrows) {
  const tkVector<3> a(1, 2, 3), b(-4, 0.5, 2);
  EXPECT_EQ(a.cross(b).dot(a), 0.0);
  EXPECT_EQ(a.cross(b).dot(b), 0.0);
  EXPECT_EQ(tkVector<3>(1, 0, 0).cross(tkVector<3>(0, 1, 0)), tkVector<3>(0, 0, 1));
  EXPECT_TRUE(VectorsNear(tkVector<2>(3, 4).unit(), tkVector<2>(0.6, 0.8), 1e-16));
  EXPECT_THROW(tkVector<3>().unit(), tkMathError::Singular);
  EXPECT_THROW(tkVector<2>(NAN, 1).unit(), tkMathError::Singular);
  EXPECT_THROW(tkVector<2>(INFINITY, 1).unit(), tkMathError::Singular);
}

TEST(Matrix, ProductsDeterminantAndInverse) {
  const tkMatrix<3> m(2, -1, 0, 1, 3, 4, 0.5, 0, 1);
  EXPECT_DOUBLE_EQ(m.determinant(), 2 * 3 + 1 * (1 - 2) + 0);  // expansion along row 0
  EXPECT_TRUE(MatricesNear(m * m.inverse(), tkMatrix<3>::identity(), 1e-15));
  EXPECT_TRUE(MatricesNear(m.inverse() * m, tkMatrix<3>::identity(), 1e-15));
  EXPECT_EQ(m.transpose().element(0, 1), m.element(1, 0));
  EXPECT_EQ(m * tkVector<3>(1, 1, 1), tkVector<3>(1, 8, 1.5));

  const tkMatrix<2> m2(4, 7, 2, 6);
  EXPECT_EQ(m2.determinant(), 10.0);
  EXPECT_TRUE(MatricesNear(m2.inverse(), tkMatrix<2>(0.6, -0.7, -0.2, 0.4), 1e-16));
}

TEST(Matrix, SingularMatricesThrowOnInverse) {
  // Exactly rank deficient, rank deficient up to rounding, zero row, non-finite.
  const tkMatrix<3> rank2(1, 2, 3, 4, 5, 6, 7, 8, 9);
  const tkMatrix<3> nearlyRank2(0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9);
  const tkMatrix<3> zeroRow(1, 2, 3, 0, 0, 0, 7, 8, 9);
  const tkMatrix<3> withNaN(1, 0, 0, 0, NAN, 0, 0, 0, 1);
  for (const tkMatrix<3>& m : {rank2, nearlyRank2, zeroRow, withNaN}) {
    EXPECT_TRUE(m.isSingular());
    EXPECT_THROW(m.inverse(), tkMathError::Singular);
  }
  EXPECT_THROW(tkMatrix<2>(1, 2, 2, 4).inverse(), tkMathError::Singular);
  EXPECT_THROW(tkMatrix<2>(1, 2, INFINITY, 4).inverse(), tkMathError::Singular);
}

TEST(Matrix, SingularityIsJudgedRelativeToRowScale) {
  // Tiny or huge but well-conditioned matrices are invertible.
  const tkMatrix<3> tiny = tkMatrix<3>::identity() * 1e-150;
  EXPECT_FALSE(tiny.isSingular());
  EXPECT_TRUE(MatricesNear(tiny.inverse() * 1e-150, tkMatrix<3>::identity(), 1e-15));
  const tkMatrix<2> huge(1e200, 3e200, -2e200, 1e200);
  EXPECT_TRUE(MatricesNear(huge.inverse() * huge, tkMatrix<2>::identity(), 1e-15));
  const tkMatrix<3> camera(2500, 0.1, 640, 0, 2500, 480, 0, 0, 1);
  EXPECT_FALSE(camera.isSingular());
  EXPECT_TRUE(MatricesNear(camera * camera.inverse(), tkMatrix<3>::identity(), 1e-13));
  // Rows scaled apart by 1e12 do not make a matrix singular.
  EXPECT_FALSE(tkMatrix<2>(1e6, 1, 1e-6, 3e-6).isSingular());
}

TEST(Xform, MapsPointsAndVectors) {
  const tkXform<2> x(tkMatrix<2>(0, -2, 2, 0), tkVector<2>(10, 20));
  EXPECT_EQ(x.mapPoint(tkVector<2>(1, 0)), tkVector<2>(10, 22));
  EXPECT_EQ(x.mapVector(tkVector<2>(1, 0)), tkVector<2>(0, 2));
  EXPECT_EQ(tk2XformLinear::identity().mapPoint(tkVector<2>(3, 4)), tkVector<2>(3, 4));
}

TEST(Xform, CompositionAndInverseOfRandomTransforms) {
  tkRandomUniform rng(7);
  for (int trial = 0; trial < 200; ++trial) {
    tkXform<2> a2(tkMatrix<2>(rng.next(-3, 3), rng.next(-3, 3), rng.next(-3, 3), rng.next(-3, 3)),
                  tkVector<2>(rng.next(-100, 100), rng.next(-100, 100)));
    tkXform<2> b2(tkMatrix<2>(rng.next(-3, 3), rng.next(-3, 3), rng.next(-3, 3), rng.next(-3, 3)),
                  tkVector<2>(rng.next(-100, 100), rng.next(-100, 100)));
    if (a2.matrix().isSingular() || b2.matrix().isSingular() ||
        std::abs(a2.matrix().determinant()) < 0.1 || std::abs(b2.matrix().determinant()) < 0.1)
      continue;
    const tkVector<2> p2(rng.next(-50, 50), rng.next(-50, 50));
    EXPECT_TRUE(VectorsNear((a2 * b2).mapPoint(p2), a2.mapPoint(b2.mapPoint(p2)), 1e-11));
    EXPECT_TRUE(VectorsNear(a2.inverse().mapPoint(a2.mapPoint(p2)), p2, 1e-9));
    EXPECT_TRUE(XformsNear((a2 * b2).inverse(), b2.inverse() * a2.inverse(), 1e-8));
    EXPECT_TRUE(XformsNear(a2 * a2.inverse(), tkXform<2>::identity(), 1e-11));

    tkMatrix<3> m3, n3;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        m3.element(r, c, rng.next(-2, 2));
        n3.element(r, c, rng.next(-2, 2));
      }
    if (std::abs(m3.determinant()) < 0.1 || std::abs(n3.determinant()) < 0.1)
      continue;
    const tkXform<3> a3(m3, RandomVector3(rng, 100)), b3(n3, RandomVector3(rng, 100));
    const tkVector<3> p3 = RandomVector3(rng, 50);
    EXPECT_TRUE(VectorsNear((a3 * b3).mapPoint(p3), a3.mapPoint(b3.mapPoint(p3)), 1e-11));
    EXPECT_TRUE(VectorsNear(a3.inverse().mapPoint(a3.mapPoint(p3)), p3, 1e-8));
    EXPECT_TRUE(XformsNear((a3 * b3).inverse(), b3.inverse() * a3.inverse(), 1e-7));
    EXPECT_TRUE(VectorsNear((a3 * b3).mapVector(p3), a3.mapVector(b3.mapVector(p3)), 1e-11));
  }
  EXPECT_THROW(tkXform<3>(tkMatrix<3>(), tkVector<3>(1, 2, 3)).inverse(), tkMathError::Singular);
}

TEST(Xform1, MapInverseAndCompose) {
  const tk1Xform lens(2500.0, 1024.0), shift(1.0, -3.0);
  EXPECT_EQ(lens.mapPoint(0.1), 1274.0);
  EXPECT_EQ(lens.mapVector(0.1), 250.0);
  EXPECT_DOUBLE_EQ(lens.inverse().mapPoint(lens.mapPoint(-0.37)), -0.37);
  EXPECT_EQ(lens.compose(shift).mapPoint(5.0), lens.mapPoint(shift.mapPoint(5.0)));
  const tk1Xform roundTrip = lens * lens.inverse();
  EXPECT_NEAR(roundTrip.scale(), 1.0, 1e-15);
  EXPECT_NEAR(roundTrip.offset(), 0.0, 1e-12);
  EXPECT_THROW(tk1Xform(0.0, 3.0).inverse(), tkMathError::Singular);
  EXPECT_THROW(tk1Xform(1e-320, 3.0).inverse(), tkMathError::Singular);
}
