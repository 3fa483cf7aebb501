#include "ccal/multicam/image_refinement_problem.h"
#include "ccal/multicam/image_residual_problem.h"
#include "ccal/multicam/multiplate_refine.h"
#include "platform/core/structured_step.h"
#include "platform/proc/minimizer.h"

#include <ccal/image_refinement.h>
#include <tk/exception.h>

#include <cmath>
#include <cstddef>
#include <vector>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;
using ccal::detail::ImageResidualProblem;

// √(Σw|d|²/Σw) of F = √w·d, pooled and per camera.
void rmsOf(const ImageResidualProblem& problem, const std::vector<double>& f, double& pooled,
           std::vector<double>* perCamera) {
  const std::size_t nC = static_cast<std::size_t>(problem.layout().cameras());
  std::vector<double> sum(nC, 0.0), weights(nC, 0.0);
  long point = 0;
  for (const ImageResidualProblem::List& list : problem.lists()) {
    const std::size_t c = static_cast<std::size_t>(list.camera);
    for (long k = 0; k < list.points; ++k, ++point) {
      const std::size_t row = static_cast<std::size_t>(list.firstRow + 2 * k);
      sum[c] += f[row] * f[row] + f[row + 1] * f[row + 1];
      weights[c] += problem.weight(point);
    }
  }
  double total = 0.0, totalWeight = 0.0;
  if (perCamera != nullptr)
    perCamera->assign(nC, 0.0);
  for (std::size_t c = 0; c < nC; ++c) {
    total += sum[c];
    totalWeight += weights[c];
    if (perCamera != nullptr && weights[c] > 0.0)
      (*perCamera)[c] = std::sqrt(sum[c] / weights[c]);
  }
  pooled = totalWeight > 0.0 ? std::sqrt(total / totalWeight) : 0.0;
}

}  // namespace

tkImageRefinementSummary tfRefineOnImageResiduals(
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements, bool intrinsicsFixed,
    Params& rig, const tkImageRefinementOptions& options) {
  if (options.maxIterations < 1)
    throw tkInvariantFailure(L"tfRefineOnImageResiduals: maxIterations < 1");
  ImageResidualProblem problem(tfWeightedData(zRotationPlacements),
                               tfWeightedData(arbitraryPlacements), rig, intrinsicsFixed);
  if (problem.weightedPoints() == 0)
    throw tkInvariantFailure(L"tfRefineOnImageResiduals: no point has a non-zero weight");
  const long n = problem.parameters();
  const long m = problem.rows();
  std::vector<double> x = problem.start();
  std::vector<double> f(static_cast<std::size_t>(m));

  tkImageRefinementSummary summary;
  problem.evaluate(x.data(), f.data());
  rmsOf(problem, f, summary.rmsBefore, nullptr);

  // The damped Newton step on the assembled gradient and its Gauss-Newton K, trials judged by the
  // image cost: the Levenberg–Marquardt iteration of the image residuals without their Jacobian.
  ccal::detail::ImageRefinementProblem refinement(problem);
  ccal::detail::MinimizerOptions settings;
  settings.acceptance = ccal::detail::AcceptanceRule::kMerit;
  settings.meritFirst = true;
  settings.maxIterations = options.maxIterations;
  settings.stepTolerance = 1e-14;
  settings.decreaseTolerance = 1e-13;
  ccal::detail::StructuredStep step(refinement.structure(),
                                    ccal::detail::BlockArrowheadSystem::Kind::kNewtonSystem);
  ccal::detail::AttentionCallback attention;
  ccal::detail::Minimizer minimizer(n, n);
  std::vector<double> gradient(static_cast<std::size_t>(n));
  const ccal::detail::MinimizerSummary run =
      minimizer.run(settings, refinement, step, &attention, x.data(), gradient.data());
  summary.iterations = run.iterations;
  summary.converged = run.termination == ccal::detail::Termination::kSmallStep;
  if (run.termination == ccal::detail::Termination::kNonFiniteStart) {
    summary.rmsAfter = summary.rmsBefore;
    rmsOf(problem, f, summary.rmsAfter, &summary.rmsPerCamera);
    return summary;
  }
  problem.evaluate(x.data(), f.data());
  rmsOf(problem, f, summary.rmsAfter, &summary.rmsPerCamera);
  rig = problem.unpack(x.data());
  return summary;
}

void tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
    tk2XformCalib2Defs::tkCalib2DistortionModel distModel,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    const tkImageRefinementOptions& options, Params& result) {
  Params calibrated;
  tfCalibrateMultiplateMulticameraZRotationAndArbitrary(distModel, zRotationPlacements,
                                                        arbitraryPlacements, calibrated);
  if (options.enabled && !calibrated.cameraPoseInverses().empty())
    tfRefineOnImageResiduals(zRotationPlacements, arbitraryPlacements, false, calibrated, options);
  result = calibrated;
}

void tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(
    const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements,
    const tkImageRefinementOptions& options, Params& result) {
  Params posed;
  tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(intrinsics, zRotationPlacements,
                                                         arbitraryPlacements, posed);
  // An empty result (the pose solver's answer to a non-finite error) is passed on as it is.
  if (options.enabled && !posed.cameraPoseInverses().empty())
    tfRefineOnImageResiduals(zRotationPlacements, arbitraryPlacements, true, posed, options);
  result = posed;
}
