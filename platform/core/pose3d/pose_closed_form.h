// Internal: closed-form camera-from-physical poses from positions at Z = 1 (undistorted
// normalised image points) and physical points, as starts for the pose refinement.
#ifndef TK_CORE_POSE3D_POSE_CLOSED_FORM_H
#define TK_CORE_POSE3D_POSE_CLOSED_FORM_H

#include <tk/vector.h>
#include <tk/xform.h>

#include <vector>

// Principal spreads of a point set: the square roots of the eigenvalues of its scatter matrix
// about the centroid (descending), the centroid and the principal axes (columns of a rotation,
// the third the normal of the best-fitting plane).
struct tk_PointSpread {
  tkVector<3> centroid;
  double spread[3] = {0.0, 0.0, 0.0};
  tkMatrix<3> axes = tkMatrix<3>::identity();
};
tk_PointSpread tk_pointSpread(const std::vector<tkVector<3>>& points);

// Pose from the plane that fits the physical points best: the points are expressed in the
// plane's frame (principal axes), the homography from their in-plane coordinates to the
// positions at Z = 1 gives the pose of that frame, which is then composed with the frame.
// Exact for coplanar points; an approximation otherwise. Throws tkMathError::Singular when the
// in-plane points or the positions are collinear (as tk_computeHomography).
tkXform<3> tk_poseFromBestPlane(const std::vector<tkVector<2>>& positionsAtZ1,
                                const std::vector<tkVector<3>>& physicalPoints,
                                const tk_PointSpread& spread);

// Pose by the direct linear transform of the 3 x 4 projection [R | t] (both point sets
// normalised first; the left 3 x 3 block replaced by its closest rotation, its scale taken from
// its norm). Needs at least 6 points not on one plane. Returns false when the system has
// no unique solution or the result puts the points' centroid behind the camera.
bool tk_poseByLinearTransform(const std::vector<tkVector<2>>& positionsAtZ1,
                              const std::vector<tkVector<3>>& physicalPoints,
                              const tk_PointSpread& spread, tkXform<3>& pose);

#endif
