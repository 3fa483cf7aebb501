// Internal: plane-to-plane homography by the normalised direct linear transform.
#ifndef TK_CORE_CALIB2_HOMOGRAPHY_H
#define TK_CORE_CALIB2_HOMOGRAPHY_H

#include <tk/vector.h>

#include <Eigen/Core>

#include <vector>

// True when the points span the plane: at least three of them, and the smaller principal
// spread of the centred set is above 1e-8 of the larger (exactly collinear or coincident points
// fail; rounding noise on collinear input does not make them pass).
bool tk_pointsSpanPlane(const std::vector<tkVector<2>>& points);

// The homography H with to[i] ~ H (from[i], 1) for corresponding points, least squares on the
// algebraic error after Hartley normalisation of both sets (centroid at 0, mean distance
// sqrt(2)), by the singular value decomposition of the 2n x 9 design matrix. Exact data give H
// to rounding. H is scaled to unit Frobenius norm with H(2, 2) >= 0.
// Throws tkInvariantFailure when the lists differ in length or hold fewer than 4 points,
// and tkMathError::Singular when either set does not span the plane or the points do not
// determine H (a second null direction of the design matrix).
Eigen::Matrix3d tk_computeHomography(const std::vector<tkVector<2>>& from,
                                     const std::vector<tkVector<2>>& to);

#endif
