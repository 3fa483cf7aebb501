// OpenCV's camera model fitted to one of ccal's intrinsic models, for results that other programs
// read (OpenCV, ROS, COLMAP).
//
// OpenCV's model (the one of cv::projectPoints): a position at Z = 1 q = (x, y), r² = x² + y²,
//   s  = (1 + k1 r² + k2 r⁴ + k3 r⁶) / (1 + k4 r² + k5 r⁴ + k6 r⁶)
//   x' = x s + 2 p1 x y + p2 (r² + 2 x²),   y' = y s + p1 (r² + 2 y²) + 2 p2 x y
//   u  = fx x' + cx,                          v  = fy y' + cy          (pixels, OpenCV's
//   convention)
// ccal's lens models distort about their own centre and in the other direction (image ->
// position at Z = 1), so only eNoDistortion (without skew) maps onto it exactly. For the others
// fx, fy, cx, cy and the coefficients are fitted by least squares so that both models send the
// same ray to the same pixel over a grid covering the whole image; the fit reports how far the
// two models then disagree, in pixels.
#ifndef CCAL_TOOLS_IMAGES_OPENCV_CAMERA_FIT_H
#define CCAL_TOOLS_IMAGES_OPENCV_CAMERA_FIT_H

#include <ccal/physical_at_z1_from_image_params.h>
#include <tk/vector.h>

#include <vector>

struct tkOpenCvCamera {
  double fx = 1.0, fy = 1.0, cx = 0.0, cy = 0.0;  // pixels
  // k1, k2, p1, p2, k3 (plumb bob) or k1, k2, p1, p2, k3, k4, k5, k6 (rational).
  std::vector<double> distortion;
  int width = 0, height = 0;
  // Disagreement with the fitted model over the image: the image point of a ray through ccal's
  // model against its image point through this camera, in pixels.
  double rmsError = 0.0, maxError = 0.0;
};

// The image point (pixels) of a position at Z = 1 through camera. Never throws.
tkVector<2> tfOpenCvProject(const tkOpenCvCamera& camera, const tkVector<2>& positionAtZ1);

// Fits OpenCV's model to model over a width x height image: five coefficients when they agree
// within tolerance (pixels, largest disagreement), else the rational model's eight when these
// agree better; the sine-tangent lens always gets eight. eNoDistortion gives fx, fy, cx, cy of the
// camera matrix and zero coefficients (the camera matrix's skew, which OpenCV's projection ignores,
// shows in the errors). Throws std::invalid_argument for an image size below 2 x 2 or a model that
// maps too few grid points of the image (a sine-tangent lens whose field ends inside the image).
tkOpenCvCamera tfFitOpenCvCamera(const tkPhysicalAtZEquals1FromImageParams& model, int width,
                                 int height, double tolerance);

#endif
