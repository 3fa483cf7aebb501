// Internal: planar multi-view calibration of one area-scan camera (the numerical work behind
// tk2XformCalib2::init(views, ...)).
#ifndef TK_CORE_CALIB2_PLANAR_CALIBRATION_H
#define TK_CORE_CALIB2_PLANAR_CALIBRATION_H

#include <tk/pair.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include "platform/core/calib2/camera_intrinsics.h"

#include <cstdint>
#include <vector>

struct tk_PlanarCalibration {
  tk_CameraIntrinsics camera;               // image units (pixels)
  std::vector<tkXform<3>> cameraFromPlate;  // one pose per view, plate units
  std::vector<double> rmsPerView;           // root-mean-square image residual per view (pixels)
  std::vector<double> largestPerView;       // largest image residual per view (pixels)
};

// Calibrates one camera from views of a plane. views[v] lists pairs (image point in pixels,
// plate point (X, Y) on the plate's plane Z = 0, plate units); model is one of
// CCAL_DISTORTION_NONE, _RADIAL, _SINE_TAN.
//
// Steps (every step in frames normalised for conditioning: image points centred on their
// centroid and scaled to unit spread, plate points of each view centred on the view's centroid
// and scaled to unit spread):
//   1. per view the homography plate -> image (normalised DLT);
//   2. the camera matrix in closed form from the homographies (tk_intrinsicsFromHomographies);
//      with one view only: zero skew, square pixels, principal point at the centroid;
//   3. per view the closed-form pose from K^-1 H;
//   4. Levenberg-Marquardt on the image residual over the free linear-map values (all five with
//      three or more views; skew held at 0 with two; one focal length with one view), the lens
//      values (radial: k and the centre of expansion; sine-tangent: p1, p2, p3 and the centre,
//      with p0 = p1 (1 - p2 / p3); see planar_calibration_solver.h) and every view's pose. The
//      lens starts without distortion: k = 0 / (p0, p1, p2, p3) = (1, 1, 0, 1), centre (0, 0).
// Throws tkInvariantFailure for no view, a view with fewer than 4 pairs, a non-finite
// coordinate, an unknown model, or fewer point coordinates (2 per pair) than parameters;
// tkMathError::Singular when a view's plate or image points are collinear, the homography is
// undetermined, the refinement cannot evaluate its start, or the result is not finite;
// tkAttention::Aborted when an abort is requested on the calling thread.
tk_PlanarCalibration tk_calibratePlanar(const std::vector<std::vector<tkPair<tkVector<2>>>>& views,
                                        int32_t model, long maxIterations = 200);

#endif
