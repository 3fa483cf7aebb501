#include <ccal/camera_calibration_refine.h>

#include "ccal/problem/parameter_layout.h"
#include "ccal/single/calibration_distortion_solver.h"
#include "ccal/single/camera_refinement.h"
#include "ccal/single/image_normalisation.h"

#include <proc/cstd_assert.h>
#include <tk/nm_matrix.h>
#include <tk/quaternion_xform.h>

#include "platform/core/invalid_argument.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

using ccal::detail::ParameterLayout;

using Correspondences = std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>;

void tfCheckWeightedCorrespondences(const Correspondences& correspondences, const char* function) {
  for (std::size_t i = 0; i < correspondences.size(); ++i) {
    const tkVector<2>& p = correspondences[i].first.first;
    const tkVector<3>& P = correspondences[i].first.second;
    const double w = correspondences[i].second;
    if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(P.x()) ||
        !std::isfinite(P.y()) || !std::isfinite(P.z()))
      tk_throwInvalidArgument(std::string(function) + ": correspondence " + std::to_string(i) +
                              " has a coordinate that is not finite");
    if (!(std::isfinite(w) && w >= 0.0))
      tk_throwInvalidArgument(std::string(function) + ": the weight of correspondence " +
                              std::to_string(i) + " is negative or not finite");
  }
}

tkCameraCalibrationParams tfRefineCameraCalibration(const Correspondences& correspondences,
                                                    const tkCameraCalibrationParams& initial,
                                                    long maxIterations, double flatMerit,
                                                    double floorRms, tk_RefinementReport* report) {
  tfCheckWeightedCorrespondences(correspondences, "tfRefineCameraCalibrationParams");
  const tk2XformCalib2Defs::tkCalib2DistortionModel model =
      initial.physicalAtZEquals1FromImageParams().distModel();

  // 1. Physical frame scaled so that the camera centre lies at distance about 1.
  const tkVector<3>& t = initial.cameraPoseInverse().trans();
  const double distance = t.length();
  const double s = distance == 0.0 ? 1.0 : 1.0 / distance;

  // 2.-4. Normalised image frame and the data and start model in the solver's frames.
  tk_ImageNormaliser normaliser;
  double weights = 0.0;  // for the merit floor
  for (const auto& c : correspondences) {
    normaliser.add(c.first.first);
    weights += c.second;
  }
  const tk2XformLinear N = normaliser.normalisation();
  const tk2XformLinear Ninverse = N.inverse();
  tkCameraCalibrationParams start;
  start.physicalAtZEquals1FromImageParams(
      initial.physicalAtZEquals1FromImageParams().mapRight(Ninverse));
  start.cameraPoseInverse(tk3QuaternionXform(initial.cameraPoseInverse().quat(), t * s));
  Correspondences normalised;
  normalised.reserve(correspondences.size());
  for (const auto& c : correspondences)
    normalised.push_back({{N.mapPoint(c.first.first), c.first.second * s}, c.second});

  // 5. Solve.
  tk3DCalibrationDistortionSolver solver(model);
  tkNMMatrix x0(solver.getSize(), 1);
  const int unitValIndex = ParameterLayout::packCameraBlock(start, x0.data());
  solver.unitValIndex(unitValIndex);
  solver.setX(x0);
  solver.initialParams(start);
  solver.correspondences(normalised);
  solver.nIter(maxIterations);
  solver.meritTolerance(flatMerit);
  solver.meritFloor(floorRms * floorRms * weights);
  const double finalCost = solver.minimize();
  const tkCameraCalibrationParams solved = solver.unpack(solver.getX());

  // 6. Back to pixels and the caller's physical unit.
  tkCameraCalibrationParams result;
  result.physicalAtZEquals1FromImageParams(solved.physicalAtZEquals1FromImageParams().mapRight(N));
  result.cameraPoseInverse(tk3QuaternionXform(solved.cameraPoseInverse().quat(),
                                              solved.cameraPoseInverse().trans() / s));
  if (report != nullptr) {
    report->termination = solver.termination();
    report->iterations = solver.iterationsDone();
    report->finalCost = finalCost;
  }
  return result;
}

void tfRefineCameraCalibrationParams(const Correspondences& correspondences,
                                     const tkCameraCalibrationParams& initial,
                                     tkCameraCalibrationParams& result) {
  const tkCameraCalibrationParams refined =
      tfRefineCameraCalibration(correspondences, initial, 300);
  result = refined;
}

void tfRefineCameraCalibrationParams(const std::vector<tkVector<2>>& imagePoints,
                                     const std::vector<tkVector<3>>& physicalPoints,
                                     const tkCameraCalibrationParams& initial,
                                     tkCameraCalibrationParams& result) {
  if (imagePoints.size() != physicalPoints.size())
    cstd_assert_(__FILE__, __LINE__);
  const std::size_t count = std::min(imagePoints.size(), physicalPoints.size());
  Correspondences weighted;
  weighted.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    weighted.push_back({{imagePoints[i], physicalPoints[i]}, 1.0});
  tfRefineCameraCalibrationParams(weighted, initial, result);
}
