// New pinhole views of calibrated area-scan cameras: the undistorted view of one camera, and the
// rectified views of a two-camera rig, in which the image of any world point lies on the same row
// in both views (horizontal epipolar lines).
//
// A view is a camera matrix without skew and the rotation from the calibrated camera's frame to
// the view's frame (both share the projection centre). Image points are in pixels in OpenCV's
// convention; rays are positions at Z = 1 of tkPhysicalAtZEquals1FromImageParams.
#ifndef CCAL_TOOLS_IMAGES_RECTIFICATION_H
#define CCAL_TOOLS_IMAGES_RECTIFICATION_H

#include <ccal/physical_at_z1_from_image_params.h>
#include <tk/vector.h>

#include <array>

struct tkPinholeView {
  double fx = 1.0, fy = 1.0, cx = 0.0, cy = 0.0;                    // pixels
  std::array<double, 9> viewFromCamera{1, 0, 0, 0, 1, 0, 0, 0, 1};  // rotation, row-major
};

// The pinhole of the model's camera matrix (focal lengths and principal point; skew dropped),
// without rotation.
tkPinholeView tfUndistortedView(const tkPhysicalAtZEquals1FromImageParams& model);

// Rectified views of two cameras; cameraFromWorld: 3 x 4 row-major [R | t], world -> camera.
// Both views get one orientation: x along the baseline (pointing the way camera 0's x axis
// points), z as close to the mean optical axis as that allows; and one camera matrix: the mean of
// the two focal lengths and of the two principal points. Throws std::invalid_argument when the
// projection centres coincide.
struct tkRectifiedPair {
  tkPinholeView view[2];
  double baseline = 0.0;  // distance between the projection centres, world units
};
tkRectifiedPair tfRectifyPair(const tkPhysicalAtZEquals1FromImageParams& model0,
                              const std::array<double, 12>& cameraFromWorld0,
                              const tkPhysicalAtZEquals1FromImageParams& model1,
                              const std::array<double, 12>& cameraFromWorld1);

// An image point of the calibrated camera -> the same ray's point in the view (pixels). Throws
// what model.warpPoint throws.
tkVector<2> tfToView(const tkPinholeView& view, const tkPhysicalAtZEquals1FromImageParams& model,
                     const tkVector<2>& imagePoint);
// A point of the view -> the calibrated camera's image point of the same ray (pixels); a ray
// behind the camera gives non-finite values. Never throws.
tkVector<2> tfFromView(const tkPinholeView& view, const tkPhysicalAtZEquals1FromImageParams& model,
                       const tkVector<2>& viewPoint);

#endif
