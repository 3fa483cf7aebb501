#include "ccal/single/plate_based_estimate.h"

#include <proc/cmath_xformLinear.h>
#include <tk/failure.h>
#include <tk/pair.h>
#include <tk/quaternion_xform.h>

#include "platform/core/invalid_argument.h"

#include <cstddef>

tkCameraCalibrationParams tfPlateBasedCameraEstimate(
    tk2XformCalib2Defs::tkCalib2DistortionModel model,
    const std::vector<std::vector<tkCrspPairWeighted>>& plateViews,
    const std::vector<tkXform<3>>& platePoses) {
  if (platePoses.size() != plateViews.size())
    tk_throwInvalidArgument(
        "tfComputeCalibrationSingleCamera_internal: platePoses.size() != plateViews.size()");
  std::vector<std::vector<tkPair<tkVector<2>>>> views;
  tkXform<3> physicalFromReferencePlate;  // identity when no view is taken
  for (std::size_t v = 0; v < plateViews.size(); ++v) {
    if (plateViews[v].size() <= 9)
      continue;
    if (views.empty())
      physicalFromReferencePlate = platePoses[v];
    std::vector<tkPair<tkVector<2>>> view;
    view.reserve(plateViews[v].size());
    for (const tkCrspPairWeighted& pair : plateViews[v])
      view.emplace_back(pair.image(), pair.physical());
    views.push_back(view);
  }

  tk2XformCalib2 calibrated;
  std::vector<double> rmsPerView, largestPerView;  // not used
  calibrated.init(views, rmsPerView, largestPerView, model);
  const ccal_xformCalib2& record = calibrated.data();

  // Pose: camera <- reference plate <- physical.
  const cmath_xformLinear3& E = record.cameraFromWorld;
  const tkXform<3> cameraFromReferencePlate(
      tkMatrix<3>(E.matrix[0][0], E.matrix[0][1], E.matrix[0][2], E.matrix[1][0], E.matrix[1][1],
                  E.matrix[1][2], E.matrix[2][0], E.matrix[2][1], E.matrix[2][2]),
      tkVector<3>(E.trans.x, E.trans.y, E.trans.z));
  tkCameraCalibrationParams estimate;
  estimate.cameraPoseInverse(
      tk3QuaternionXform(cameraFromReferencePlate * physicalFromReferencePlate.inverse()));

  // Intrinsics: L = K⁻¹ and the distortion list (lens values, then the centre).
  cmath_xformLinear distortedFromImage;
  tfThrowExceptionOnFailure(
      cmath_xformLinear_getInverse(&record.imageFromDistorted, &distortedFromImage));
  tkPhysicalAtZEquals1FromImageParams intrinsic;
  intrinsic.cameraScale(
      tkPair<double>(distortedFromImage.matrix[0][0], distortedFromImage.matrix[1][1]));
  intrinsic.cameraSkew(distortedFromImage.matrix[0][1]);
  intrinsic.cameraTranslation(tkVector<2>(distortedFromImage.trans.x, distortedFromImage.trans.y));
  intrinsic.distModel(model);
  if (model == tk2XformCalib2Defs::eRadial || model == tk2XformCalib2Defs::eSineTan) {
    const std::size_t lensCount =
        static_cast<std::size_t>(tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(model));
    const double* list = record.distortionParams;
    intrinsic.lensDistParams(std::vector<double>(list, list + lensCount));
    intrinsic.centerOfExpansion(tkVector<2>(list[lensCount], list[lensCount + 1]));
  }
  estimate.physicalAtZEquals1FromImageParams(intrinsic);
  return estimate;
}
