// Figures of one calibration in the OpenCV comparison: the image residual over the
// correspondences, and the errors of the intrinsic model and the relative camera poses against
// a ground truth. Both libraries are judged through the same functions: a calibrated camera is
// seen as its projection of positions at Z = 1 (the undistorted normalised plane of the camera's
// own frame) to pixels.
#ifndef CCAL_BENCH_COMPARE_COMPARE_METRICS_H
#define CCAL_BENCH_COMPARE_COMPARE_METRICS_H

#include <ccal/physical_at_z1_from_image_params.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <functional>
#include <limits>
#include <vector>

// Positions at Z = 1 -> pixels, one output per input, for a batch of points.
using tkIntrinsicProjection =
    std::function<std::vector<tkVector<2>>(const std::vector<tkVector<2>>& positionsAtZ1)>;

// Accumulated image residuals |observed - projected| in pixels.
struct tkResidualStats {
  double sumSquares = 0.0;
  double largest = 0.0;
  long count = 0;

  void add(const tkVector<2>& observed, const tkVector<2>& projected);
  void add(const tkResidualStats& other);
  // sqrt(sumSquares / count); NaN without residuals. A non-finite residual makes it NaN.
  double rms() const;
};

// Errors of an estimated intrinsic model against the truth, in terms both libraries share:
//   focalRel  largest of |f_est - f_true| / f_true over x and y, f the derivative of the image
//             position with respect to the position at Z = 1 at the optical axis;
//   axisPx    distance in pixels between the images of the optical axis;
//   mapRmsPx  RMS over a 25 x 20 grid of image points inside the image of |p - est(truth^-1 p)|:
//             where the estimated model puts the ray that the true model sees at p.
// The pose of the camera takes no part, so an error traded between intrinsics and pose shows.
struct tkIntrinsicErrors {
  double focalRel = std::numeric_limits<double>::quiet_NaN();
  double axisPx = std::numeric_limits<double>::quiet_NaN();
  double mapRmsPx = std::numeric_limits<double>::quiet_NaN();
};
tkIntrinsicErrors tfIntrinsicErrors(const tkIntrinsicProjection& estimate,
                                    const tkPhysicalAtZEquals1FromImageParams& truth, double width,
                                    double height);
// The projection of one of the library's intrinsic models.
tkIntrinsicProjection tfProjectionOf(const tkPhysicalAtZEquals1FromImageParams& intrinsic);

// Error of the pose of camera c relative to camera 0 (both world -> camera): the rotation angle
// of R_est R_trueᵀ in milliradians, and |t_est - t_true| / |t_true| in percent, where (R, t) is
// camera c's pose in camera 0's frame. The world frame and its origin do not matter.
struct tkRelativePoseErrors {
  double rotationMrad = 0.0;
  double translationPct = 0.0;
};
tkRelativePoseErrors tfRelativePoseErrors(const tkXform<3>& estimate0, const tkXform<3>& estimateC,
                                          const tkXform<3>& truth0, const tkXform<3>& truthC);

// Median of the values (NaN for none).
double tfMedian(std::vector<double> values);

#endif
