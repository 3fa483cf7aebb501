// How good is an area-scan rig calibration: the covariance of its parameters, their standard
// deviations in the terms users read, the uncertainty of the projection, and warnings.
//
// Model of the noise: the image points are the projections of their plate points plus independent
// noise of variance σ²/w per coordinate (w the point's weight). The covariance is that of the
// image-residual minimum (image_refinement.h), from the Jacobian J of the weighted image
// residuals at the given rig:
//   Cov = σ²·(JᵀWJ)⁻¹,   σ² = Σ w·|r|² / (2N − k)   unless the caller gives σ,
// N the points of non-zero weight, 2N their coordinates, k the determined parameters (the rank).
// (OpenCV's calibrateCameraExtended divides Σ|r|² by N − k with N counting points, not
// coordinates; docs/uncertainty.md compares both.) The rig should be the image-residual minimum
// of the same data (tfRefineOnImageResiduals); at another point the figures are those of the
// linearisation there.
//
// Gauge: the world frame is placement 0's plate frame, which has no parameters: camera poses and
// placement poses are relative to it, and their deviations include nothing of the world frame.
// Under the sine-tan lens model the data fix no scale shared by the lens values p0, p2 and the
// linear map; p0 is held (σ 0) and the other deviations are those with that scale fixed.
// Rank deficiency (directions the data do not determine; singular values of the column-scaled
// Jacobian at or below 1e-6 of the largest) is reported, never inverted: a term that moves along
// such a direction has σ = +infinity. Under the sine-tan model the lens values span such a
// valley (p1, p3 undetermined); the focal length fx·s0, the centre of expansion, the poses and
// the projection stay determined.
//
// Units: fx, fy, cx, cy, skew in pixels (camera_terms.h); lens values and the centre of expansion
// as the library stores them (normalised units, physical_at_z1_from_image_params.h); rotations
// in degrees (the three components of the rotation vector of the small rotation R·R̂ᵀ, about the
// axes of the frame the pose maps into); translations in plate units. Camera poses are
// world -> camera, placement poses plate -> world (Z-rotation placements: the angle about Z and
// the x, y translation; the height is data).
//
// Projection uncertainty (mrcal's definition): for an image point q of camera c, the ray
// through q is mapped into the plate frame of every placement camera c saw (through that
// placement's pose and the camera's), then back through perturbed parameters, averaged over the
// placements and projected; the covariance of that projection (first order, through Cov) is the
// 2 x 2 covariance of where a calibration on new data of the same kind would put the image of
// that point. Averaging over the placements makes it independent of which frame is the world
// frame. At infinity (distance 0) only rotations matter; otherwise the point at depth `distance`
// (plate units, along the camera's Z axis) is used.
#ifndef CCAL_CALIBRATION_UNCERTAINTY_H
#define CCAL_CALIBRATION_UNCERTAINTY_H

#include <ccal/export.h>
#include <ccal/multicamera_calibration.h>
#include <ccal/multicamera_calibration_params.h>
#include <tk/vector.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

struct tkUncertaintyOptions {
  double sigma = 0.0;  // noise σ in pixels; 0: estimated from the residuals
  // Image size per camera in pixels (width, height); empty or (0, 0): unknown (no coverage or
  // corner figures, no check that a point lies in the image). One entry serves every camera.
  std::vector<std::array<double, 2>> imageSizes;
  // Warning limits.
  double focalRelativeLimit = 0.01;  // σ(fx)/fx or σ(fy)/fy above it
  double coverageLimit = 0.25;       // the points' convex hull below this share of the image
  double cornerRatioLimit = 5.0;     // corner projection uncertainty above this multiple of the
                                     // centre's
  double viewRatioLimit = 3.0;       // a view's RMS above this multiple of the median view's
};

// Standard deviations of one camera's terms (units above).
struct tkCameraDeviations {
  double fx = 0.0, fy = 0.0, cx = 0.0, cy = 0.0, skew = 0.0;
  // The focal lengths the data determine whatever the lens model's own scale: fx·s0 and fy·s0,
  // s0 = p0/p1 + p2/p3 the sine-tangent radius' slope at the centre (sine-tan; with s0 = 1, fx
  // and fy themselves, for the other models). The focal-length warning reads these.
  double focalX = 0.0, focalY = 0.0;
  std::vector<double> lens;  // one per lens value of the model
  double centreX = 0.0, centreY = 0.0;
  std::array<double, 3> rotationDeg{};
  std::array<double, 3> translation{};
};

// Standard deviations of one placement's pose. Z-rotation: rotationDeg[2] (about Z) and
// translation[0..1]; the others 0. Placement 0 (the world frame) has all 0.
struct tkPlacementDeviations {
  bool zRotation = true;
  std::array<double, 3> rotationDeg{};
  std::array<double, 3> translation{};
};

// Standard deviations of a relative pose (units above).
struct tkPoseDeviations {
  std::array<double, 3> rotationDeg{};
  std::array<double, 3> translation{};
};

struct tkProjectionUncertainty {
  double covariance[2][2] = {{0.0, 0.0}, {0.0, 0.0}};  // pixels²
  double major = 0.0, minor = 0.0;  // 1-σ semi-axes of the ellipse, pixels
  double angle = 0.0;               // of the major axis from the image x axis, radians
  double rms = 0.0;                 // √(trace): the RMS radius, pixels
};

enum class tkCalibrationWarningKind {
  eRankDeficient,          // directions of the parameters the data do not determine
  eFocalLengthUncertain,   // σ(fx)/fx or σ(fy)/fy above the limit (or σ infinite)
  eLowCoverage,            // the points cover less than the limit's share of the image
  eCornerUncertainty,      // projection uncertainty at an image corner above the limit x centre
  eViewRms,                // one view's RMS far above the others'
  eNoiseNotEstimable       // 2N <= k: no σ from the residuals
};

struct tkCalibrationWarning {
  tkCalibrationWarningKind kind;
  long camera = -1;        // −1: the whole rig
  long placement = -1;     // eViewRms: index in the order Z-rotation then arbitrary placements
  double value = 0.0;      // the figure that crossed the limit
  double limit = 0.0;
  std::string message;     // one English sentence
};

class CCAL_API tkCalibrationUncertainty {
 public:
  struct Impl;
  tkCalibrationUncertainty();
  explicit tkCalibrationUncertainty(std::shared_ptr<const Impl> impl);

  double sigma() const;         // σ used, pixels
  bool sigmaEstimated() const;  // from the residuals (not the caller's)
  long points() const;          // N
  long parameters() const;      // free parameters
  long rank() const;            // k
  bool rankDeficient() const;

  const std::vector<tkCameraDeviations>& cameras() const;
  const std::vector<tkPlacementDeviations>& zRotationPlacements() const;
  const std::vector<tkPlacementDeviations>& arbitraryPlacements() const;
  const std::vector<tkCalibrationWarning>& warnings() const;
  // The covariance over the solver's parameter column (row-major, parameters() may be smaller
  // than its size: held values have rows of 0). For inspection and tests.
  const std::vector<double>& covariance() const;
  long columnSize() const;

  const Impl& impl() const { return *impl_; }

 private:
  std::shared_ptr<const Impl> impl_;
};

// The uncertainty of rig (calibrated, or posed with intrinsicsFixed, on the given data). Throws
// tkInvariantFailure when options.sigma is negative or not finite, when the shapes of data and
// rig disagree (the rig is of another data set: cameras, placements), or as
// tfRefineOnImageResiduals for bad weights.
CCAL_API tkCalibrationUncertainty tfCalibrationUncertainty(
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements, bool intrinsicsFixed,
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& rig,
    const tkUncertaintyOptions& options = tkUncertaintyOptions());

// The standard deviations of the pose of camera `to` relative to camera `from` (the transform
// camera from -> camera to, T_to·T_from⁻¹; rotation about camera to's axes): independent of the
// world frame. Throws tkInvariantFailure for a camera out of range.
CCAL_API tkPoseDeviations tfRelativePoseDeviations(const tkCalibrationUncertainty& u, long from,
                                                   long to);

// The projection uncertainty of camera's image point (pixels) at distance (0: infinity). Throws
// tkInvariantFailure for a camera out of range, a negative or non-finite distance, a point
// outside the camera's image (when its size is known) or one whose ray cannot be formed.
CCAL_API tkProjectionUncertainty tfProjectionUncertainty(const tkCalibrationUncertainty& u,
                                                         long camera, const tkVector<2>& image,
                                                         double distance = 0.0);

// The RMS radius on a grid of columns x rows points spanning [0, width−1] x [0, height−1] of the
// camera's image (row-major, rows of `columns` values). Needs the image size (else
// tkInvariantFailure), columns and rows >= 2.
CCAL_API std::vector<double> tfProjectionUncertaintyGrid(const tkCalibrationUncertainty& u,
                                                         long camera, long columns, long rows,
                                                         double distance = 0.0);

#endif
