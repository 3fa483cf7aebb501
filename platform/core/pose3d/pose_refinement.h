// Internal: refinement of one rigid pose (camera from physical) on the image residual under
// fixed intrinsics, by Levenberg-Marquardt with an analytic Jacobian.
#ifndef TK_CORE_POSE3D_POSE_REFINEMENT_H
#define TK_CORE_POSE3D_POSE_REFINEMENT_H

#include <tk/vector.h>
#include <tk/xform.h>

#include "platform/core/calib2/camera_intrinsics.h"

#include <vector>

// Minimises sum |image_i - project(pose * physical_i)|^2 over the six pose values, from
// `start` (camera from physical; its matrix a rotation). Inside, the physical points are
// centred and scaled to unit spread so that the stopping rules do not depend on the caller's
// units. Returns the refined pose; rms and largest (when not null) receive the root-mean-square
// and the largest residual (pixels) at the result. At most maxIterations iterations.
// Preconditions (checked by the callers): at least 3 points, a camera with finite values and a
// model of tk_CameraIntrinsics::lensValueCount() >= 0, every point in front of the camera at
// the start.
// Throws tkMathError::Singular when the residual cannot be evaluated at the start (a point
// behind the camera) or the result is not finite; tkAttention::Aborted when an abort was
// requested on the calling thread.
tkXform<3> tk_refinePose(const tk_CameraIntrinsics& camera,
                         const std::vector<tkVector<2>>& imagePoints,
                         const std::vector<tkVector<3>>& physicalPoints, const tkXform<3>& start,
                         double* rms, double* largest, long maxIterations = 100);

// Root-mean-square and largest image residual (pixels) of `pose` (camera from physical);
// +infinity for both when a point is not in front of the camera or the camera's K is singular.
void tk_poseResiduals(const tk_CameraIntrinsics& camera,
                      const std::vector<tkVector<2>>& imagePoints,
                      const std::vector<tkVector<3>>& physicalPoints, const tkXform<3>& pose,
                      double& rms, double& largest);

#endif
