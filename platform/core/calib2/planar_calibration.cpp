#include "platform/core/calib2/planar_calibration.h"

#include <tk/attention.h>
#include <tk/exception.h>

#include "platform/core/calib2/homography.h"
#include "platform/core/calib2/intrinsics_closed_form.h"
#include "platform/core/calib2/planar_calibration_solver.h"
#include "platform/core/calib2/planar_pose.h"
#include "platform/core/finite_values.h"
#include "platform/core/invalid_argument.h"
#include "platform/core/pose3d/pose_refinement.h"

#include <Eigen/Dense>

#include <cmath>

namespace {

// Focal length (in units of the image points' spread) assumed when no view determines it:
// a field of view of about 53 degrees across twice the spread.
constexpr double kNominalFocal = 2.0;

// Iterations of the last sine-tangent stage, with p3 free: the data determine p3 only along a
// direction of the lens shape that the image residual hardly sees, where Levenberg-Marquardt
// creeps (each iteration gains a fraction of a percent of a cost that is already at the level
// of 1e-7 px on exact data); a lens whose p3 matters converges within a few iterations.
constexpr long kReleasedP3Iterations = 10;
// ... and where p3 does not matter (noisy data, whose cost sits at the noise) the stage gains less
// than 1e-7 of the cost in all its iterations: a step that gains less than this share ends it.
// Exact data gain percents per step there and run all the iterations as before.
constexpr double kReleasedP3Settled = 1e-6;

void checkViews(const std::vector<std::vector<tkPair<tkVector<2>>>>& views, int32_t model) {
  if (views.empty())
    tk_throwInvalidArgument("planar calibration: views.size() == 0");
  if (tk_CameraIntrinsics::lensValueCount(model) < 0)
    tk_throwInvalidArgument(
        "planar calibration: the distortion model must be sine-tangent, none or radial");
  for (const auto& view : views) {
    if (view.size() < 4)
      tk_throwInvalidArgument("planar calibration: a view has fewer than 4 point pairs");
    for (const tkPair<tkVector<2>>& pair : view)
      if (!tk_isFinite(pair.first) || !tk_isFinite(pair.second))
        tk_throwInvalidArgument("planar calibration: a point coordinate is not finite");
  }
}

// Minimises and turns an abort or a failed start into the exceptions of the contract.
void runRefinement(tk_PlanarCalibrationSolver& solver) {
  const double cost = solver.minimize();
  if (solver.termination() == tkFSolver::eFunctionStopped)
    tkAttention::check();
  if (!std::isfinite(cost))
    throw tkMathError::Singular();
}

tk_IntrinsicsFreedom refinementFreedom(std::size_t nViews) {
  if (nViews >= 3)
    return tk_IntrinsicsFreedom::eFull;
  return nViews == 2 ? tk_IntrinsicsFreedom::eZeroSkew : tk_IntrinsicsFreedom::eSquareCentred;
}

}  // namespace

tk_PlanarCalibration tk_calibratePlanar(const std::vector<std::vector<tkPair<tkVector<2>>>>& views,
                                        int32_t model, long maxIterations) {
  checkViews(views, model);
  const std::size_t nViews = views.size();
  const tk_IntrinsicsFreedom freedom = refinementFreedom(nViews);
  long coordinates = 0;
  for (const auto& view : views)
    coordinates += 2 * static_cast<long>(view.size());
  if (coordinates < tk_PlanarCalibrationSolver::parameterCount(model, freedom, false, nViews))
    tk_throwInvalidArgument("planar calibration: fewer point coordinates than unknowns");

  // Normalised frames: image' = (image - imageCentroid) / imageSpread; plate' of view v =
  // (plate - plateCentroid[v]) / plateSpread.
  double nPoints = 0.0;
  tkVector<2> imageCentroid;
  std::vector<tkVector<2>> plateCentroids(nViews);
  for (std::size_t v = 0; v < nViews; ++v) {
    for (const auto& pair : views[v]) {
      imageCentroid += pair.first;
      plateCentroids[v] += pair.second / static_cast<double>(views[v].size());
    }
    nPoints += static_cast<double>(views[v].size());
  }
  imageCentroid = imageCentroid / nPoints;
  double imageSpread = 0.0, plateSpread = 0.0;
  for (std::size_t v = 0; v < nViews; ++v) {
    for (const auto& pair : views[v]) {
      imageSpread += (pair.first - imageCentroid).dot(pair.first - imageCentroid);
      plateSpread += (pair.second - plateCentroids[v]).dot(pair.second - plateCentroids[v]);
    }
  }
  imageSpread = std::sqrt(imageSpread / (2.0 * nPoints));
  plateSpread = std::sqrt(plateSpread / (2.0 * nPoints));
  if (!(imageSpread > 0.0) || !(plateSpread > 0.0) || !std::isfinite(imageSpread) ||
      !std::isfinite(plateSpread))
    throw tkMathError::Singular();

  std::vector<std::vector<tk_PlanarObservation>> observations(nViews);
  std::vector<Eigen::Matrix3d> homographies(nViews);
  for (std::size_t v = 0; v < nViews; ++v) {
    std::vector<tkVector<2>> plate(views[v].size()), image(views[v].size());
    observations[v].resize(views[v].size());
    for (std::size_t i = 0; i < views[v].size(); ++i) {
      image[i] = (views[v][i].first - imageCentroid) / imageSpread;
      plate[i] = (views[v][i].second - plateCentroids[v]) / plateSpread;
      observations[v][i] = {image[i], plate[i]};
    }
    homographies[v] = tk_computeHomography(plate, image);
  }

  // Closed-form start.
  const tk_ClosedFormIntrinsics closed = tk_intrinsicsFromHomographies(homographies, kNominalFocal);
  tk_CameraIntrinsics start;
  start.model = model;
  start.scaleX = closed.K(0, 0);
  start.scaleY = closed.K(1, 1);
  start.skew = freedom == tk_IntrinsicsFreedom::eFull ? closed.K(0, 1) : 0.0;
  start.transX = closed.K(0, 2);
  start.transY = closed.K(1, 2);
  if (freedom == tk_IntrinsicsFreedom::eSquareCentred) {
    start.scaleX = start.scaleY = 0.5 * (closed.K(0, 0) + closed.K(1, 1));
    start.transX = start.transY = 0.0;
  }
  if (model == CCAL_DISTORTION_SINE_TAN) {
    start.lens[0] = start.lens[1] = start.lens[3] = 1.0;
    start.lens[2] = 0.0;
  }
  Eigen::Matrix3d K;
  K << start.scaleX, start.skew, start.transX, 0.0, start.scaleY, start.transY, 0.0, 0.0, 1.0;
  const Eigen::Matrix3d inverseK = K.inverse();
  std::vector<tkXform<3>> poses(nViews);
  for (std::size_t v = 0; v < nViews; ++v)
    poses[v] = tk_poseFromPlaneHomography(inverseK * homographies[v], tkVector<2>());

  // Joint refinement. Setting up a solver costs as much as a few of its steps: an abort
  // requested during the closed-form start ends the call here.
  tkAttention::check();
  // Sine-tangent: p3 first held at 1 (see the header), then released for a few iterations.
  if (model == CCAL_DISTORTION_SINE_TAN) {
    tk_PlanarCalibrationSolver held(observations, start, freedom, true, poses, maxIterations);
    runRefinement(held);
    start = held.camera();
    for (std::size_t v = 0; v < nViews; ++v)
      poses[v] = held.pose(v);
  }
  tk_PlanarCalibrationSolver solver(
      observations, start, freedom, false, poses,
      model == CCAL_DISTORTION_SINE_TAN ? kReleasedP3Iterations : maxIterations);
  if (model == CCAL_DISTORTION_SINE_TAN)
    solver.meritTolerance(kReleasedP3Settled);
  runRefinement(solver);

  // Back to the caller's units.
  tk_PlanarCalibration result;
  const tk_CameraIntrinsics normalised = solver.camera();
  result.camera = normalised;
  result.camera.scaleX = normalised.scaleX * imageSpread;
  result.camera.scaleY = normalised.scaleY * imageSpread;
  result.camera.skew = normalised.skew * imageSpread;
  result.camera.transX = normalised.transX * imageSpread + imageCentroid.x();
  result.camera.transY = normalised.transY * imageSpread + imageCentroid.y();
  if (!result.camera.isFinite())
    throw tkMathError::Singular();

  result.cameraFromPlate.resize(nViews);
  result.rmsPerView.resize(nViews);
  result.largestPerView.resize(nViews);
  for (std::size_t v = 0; v < nViews; ++v) {
    const tkXform<3> scaled = solver.pose(v);
    const tkVector<3> centroid(plateCentroids[v].x(), plateCentroids[v].y(), 0.0);
    const tkXform<3> pose(scaled.matrix(),
                          scaled.trans() * plateSpread - scaled.matrix() * centroid);
    if (!tk_isFinite(pose))
      throw tkMathError::Singular();
    result.cameraFromPlate[v] = pose;
    std::vector<tkVector<2>> image(views[v].size());
    std::vector<tkVector<3>> physical(views[v].size());
    for (std::size_t i = 0; i < views[v].size(); ++i) {
      image[i] = views[v][i].first;
      physical[i] = tkVector<3>(views[v][i].second.x(), views[v][i].second.y(), 0.0);
    }
    tk_poseResiduals(result.camera, image, physical, pose, result.rmsPerView[v],
                     result.largestPerView[v]);
    if (!std::isfinite(result.rmsPerView[v]))
      throw tkMathError::Singular();
  }
  return result;
}
