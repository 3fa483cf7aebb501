// The direct linear transformation behind tfCameraCalibrationParamsCoarse: the 3x4 projection
// matrix of a camera from 2D-3D correspondences, and its split into scales and a pose.
#ifndef CCAL_SINGLE_PROJECTION_MATRIX_H
#define CCAL_SINGLE_PROJECTION_MATRIX_H

#include <tk/quaternion_xform.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <utility>
#include <vector>

// A projection matrix split into its row norms and a pose (physical -> camera).
struct tk_ProjectionSplit {
  tk3QuaternionXform pose;
  double a = 0.0, b = 0.0, c = 0.0;  // norms of (m0, m1, m2), (m4, m5, m6), (m8, m9, m10)
};

// The projection matrix (rows m0..m3, m4..m7, m8..m11) of the correspondences (N(p), s·P): the
// eigenvector of the 12x12 normal matrix of the DLT equations whose real eigenvalue has the
// smallest magnitude (the first of equal minima). Its sign is arbitrary. Throws
// tkInvariantFailure for a non-finite coordinate (from the eigen solver).
void tfEstimateProjectionMatrix(const std::vector<std::pair<tkVector<2>, tkVector<3>>>& pairs,
                                const tk2XformLinear& N, double s, double m[12]);

// Rotation rows unit(m0, m1, m2), unit(m4, m5, m6), unit(m8, m9, m10) and translation
// (m3/a, m7/b, m11/c); both negated when the rotation's determinant is negative; the rotation
// then made proper through tk3AngleVect. So m and −m give the same split. Throws
// tkMathError::Singular for a zero row or a matrix too far from a rotation.
tk_ProjectionSplit tfSplitProjectionMatrix(const double m[12]);

#endif
