#include <ccal/line_scan_calibration.h>
#include <proc/clnsc_calibrateLineScanCamera.h>
#include <proc/clnsc_xformCalib2.h>
#include <tk/failure.h>

#include "ccal/lnsc/line_scan_records.h"

namespace {

// Records of a calibration: two point lists, the params record and the result record (and one
// entry to spare). Of an alignment: the copied line-scan transform and the new calibrated record.
constexpr uint32_t kCalibrationCleanupCapacity = 5;
constexpr uint32_t kAlignmentCleanupCapacity = 2;

}  // namespace

void tfCalibrateLineScanCamera(const std::vector<tkVector<2>>& imagePoints,
                               const std::vector<tkVector<2>>& physicalPoints,
                               const tkCalibrateLineScanCameraParams& params,
                               double& firstResultValue, double& secondResultValue,
                               tk2XformCalib2& calibratedXform) {
  if (params.useDistanceFromCameraToTarget() && params.distanceFromCameraToTarget() == 0)
    throw tkCalibrateLineScanCameraDefs::BadParams(
        L"params.useDistanceFromCameraToTarget() && params.distanceFromCameraToTarget() == 0");

  tk_RecordCleanup<kCalibrationCleanupCapacity> cleanup;

  cstd_vector_cmath_vect imageList;
  tk_makeLineScanPointList(imageList, imagePoints, cleanup);
  cstd_vector_cmath_vect physicalList;
  tk_makeLineScanPointList(physicalList, physicalPoints, cleanup);

  clnsc_calibrateLineScanCameraParams paramsRecord;
  tfThrowExceptionOnFailure(clnsc_calibrateLineScanCameraParams_construct(&paramsRecord));
  cleanup.add(&paramsRecord, clnsc_calibrateLineScanCameraParams_destruct,
              csys_typeCheck_clnsc_calibrateLineScanCameraParams,
              csys_typeCheckFunc_clnsc_calibrateLineScanCameraParams);
  paramsRecord.useDistanceFromCameraToTarget = params.useDistanceFromCameraToTarget() ? 1 : 0;
  paramsRecord.distanceFromCameraToTarget = params.distanceFromCameraToTarget();
  paramsRecord.alignYAxisToScannerMotion =
      params.calibrationYAxisAdjustmentMode() ==
              tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion
          ? 1
          : 0;

  clnsc_calibrateLineScanCameraResult result;
  tfThrowExceptionOnFailure(clnsc_calibrateLineScanCameraResult_construct(&result));
  cleanup.add(&result, clnsc_calibrateLineScanCameraResult_destruct,
              csys_typeCheck_clnsc_calibrateLineScanCameraResult,
              csys_typeCheckFunc_clnsc_calibrateLineScanCameraResult);

  const cstd_status status =
      clnsc_calibrateLineScanCamera(&imageList, &physicalList, &paramsRecord, &result);
  tfThrowExceptionOnFailure(status);

  calibratedXform = tk2XformCalib2(result.calibratedXform);
  firstResultValue = result.rmsResidual;
  secondResultValue = result.maxResidual;
  cleanup.execute(status);
}

void tfCalibrateLineScanCamera(const std::vector<tkPair<tkVector<2>>>& imagePointsPhysicalPoints,
                               const tkCalibrateLineScanCameraParams& params,
                               double& firstResultValue, double& secondResultValue,
                               tk2XformCalib2& calibratedXform) {
  std::vector<tkVector<2>> imagePoints, physicalPoints;
  imagePoints.reserve(imagePointsPhysicalPoints.size());
  physicalPoints.reserve(imagePointsPhysicalPoints.size());
  for (const tkPair<tkVector<2>>& pair : imagePointsPhysicalPoints) {
    imagePoints.push_back(pair.first);
    physicalPoints.push_back(pair.second);
  }
  tfCalibrateLineScanCamera(imagePoints, physicalPoints, params, firstResultValue,
                            secondResultValue, calibratedXform);
}

void tfAlignClientCoordinatesToScannerMotion(tk2XformCalib2& calibratedXform) {
  tk_RecordCleanup<kAlignmentCleanupCapacity> cleanup;

  const clnsc_xformLineScan* source = nullptr;
  tfThrowExceptionOnFailure(ccal_getLineScanTransform(&calibratedXform.data(), &source));

  clnsc_xformLineScan copy;
  tfThrowExceptionOnFailure(clnsc_xformLineScan_constructCopy(&copy, source));
  cleanup.add(&copy, clnsc_xformLineScan_destruct, csys_typeCheck_clnsc_xformLineScan,
              csys_typeCheckFunc_clnsc_xformLineScan);
  tfThrowExceptionOnFailure(
      clnsc_lineScanCameraSyntheticallyAlignToScannerMotion(&source->camera, &copy.camera));

  ccal_xformCalib2 aligned;
  tfThrowExceptionOnFailure(ccal_xformCalib2_construct(&aligned));
  cleanup.add(&aligned, ccal_xformCalib2_destruct, csys_typeCheck_ccal_xformCalib2,
              csys_typeCheckFunc_ccal_xformCalib2);
  const cstd_status status = ccal_setFromLineScanTransform(&aligned, &copy);
  tfThrowExceptionOnFailure(status);

  calibratedXform = tk2XformCalib2(aligned);
  cleanup.execute(status);
}
