// Internal: the pose of a plane from a homography, and the planar pose of one view under known
// intrinsics (closed form followed by refinement of the image residual).
#ifndef TK_CORE_CALIB2_PLANAR_POSE_H
#define TK_CORE_CALIB2_PLANAR_POSE_H

#include <tk/pair.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include "platform/core/calib2/camera_intrinsics.h"

#include <Eigen/Core>

#include <vector>

// Camera-from-plate pose (R, t) from a homography H that maps plate points (X, Y, 1) to
// positions at Z = 1 (H ~ [r1 r2 t]). The scale is the mean of |h1| and |h2|, its sign puts
// platePoint (a point of the view, e.g. the centroid of its plate points) in front of the
// camera, and [r1 r2 r1 x r2] is replaced by the closest rotation. Throws tkMathError::Singular
// when H has a zero or non-finite column.
tkXform<3> tk_poseFromPlaneHomography(const Eigen::Matrix3d& H, const tkVector<2>& platePoint);

// Camera-from-plate pose of one view of a plate under fixed intrinsics, from pairs (image
// point in pixels, plate point (X, Y) on the plate's plane Z = 0):
//   1. every image point is taken to its position at Z = 1 with the camera's inverse mapping;
//   2. the homography from plate points to those positions gives the closed-form pose;
//   3. Levenberg-Marquardt refines the six pose values on the image residual (pixels).
// rms and largest (when not null) receive the root-mean-square and the largest image residual
// of the result, in pixels.
// Throws tkInvariantFailure for fewer than 4 pairs or a camera the calculation does not
// handle (non-finite values; telecentric or unknown model); what tfThrowExceptionOnFailure
// raises for the lens kernel's status when an image point has no ray under the sine-tangent
// lens; tkMathError::Singular when the plate points or their positions at Z = 1 are collinear,
// or when the refinement cannot evaluate or ends on a non-finite pose.
tkXform<3> tk_planarPose(const tk_CameraIntrinsics& camera,
                         const std::vector<tkPair<tkVector<2>>>& pairs, double* rms,
                         double* largest);

#endif
