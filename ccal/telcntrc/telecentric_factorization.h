// Splitting an affine telecentric estimate (<telecentric_affine_estimate.h>) into the camera's
// parts: a rotation from its first two rows, the closed-form intrinsic part and extrinsic
// transform, and the starting pose for a camera whose intrinsic part is known.
#ifndef CCAL_TELCNTRC_TELECENTRIC_FACTORIZATION_H
#define CCAL_TELCNTRC_TELECENTRIC_FACTORIZATION_H

#include <tk/calib2_params.h>
#include <tk/matrix.h>
#include <tk/quaternion_xform.h>
#include <tk/xform.h>

// The rotation whose second row is the direction of m's second row b, whose first row is m's
// first row a made perpendicular to b (a - (a.b^)b^, normalised) and whose third row is the cross
// product of the first two. m's third row is ignored. An internal assertion checks that the first
// two rows come out perpendicular (|a'^.b^| < 1e-6). Throws tkMathError::Singular when b or a'
// has zero length or is not finite (the first two rows parallel, or a zero row).
tkMatrix<3> orthonormalizeTelecentricRotation(const tkMatrix<3>& m);

// Closed-form factorisation of the estimate X = (M, t):
//   R = orthonormalizeTelecentricRotation(M); extrinsic E = (R, (R * M^-1) * t); K = X * E^-1;
//   intrinsicPart = (scale (K(0,0), K(1,1)), skew K(0,1), translation (K.t.x, K.t.y), model 7,
//   no coefficients).
// Since K * E = X, the image mapping is kept; the scales are |a'| and |b|, the skew a.b^, and the
// intrinsic translation is (0, 0) up to rounding: the image offset lives in E's translation.
// Throws tkMathError::Singular when M, K or the first two rows of M are singular,
// tkInvariantFailure for non-finite values; the outputs are written only on success.
void factorTelecentricEstimate(const tkXform<3>& estimate, tkCalib2ParamsIntrinsic& intrinsicPart,
                               tkXform<3>& extrinsic);

// Starting pose (home -> camera) for a known intrinsic part, from the estimate whose matrix was
// replaced by orthonormalizeTelecentricRotation: Y = Kx^-1 * Xo with Kx the intrinsic part as a
// 3-D transform (scale, skew, translation (x, y, 0)); Y's matrix is replaced by the matrix whose
// rows are the normalised columns of its inverse. Throws tkMathError::Singular for a singular or
// non-finite matrix.
tk3QuaternionXform initialTelecentricPose(const tkXform<3>& orthonormalizedEstimate,
                                          const tkCalib2ParamsIntrinsic& intrinsic);

#endif
