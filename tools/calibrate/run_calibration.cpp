#include "run_calibration.h"

#include "tool_error.h"

#include <ccal/camera_terms.h>
#include <ccal/image_refinement.h>
#include <ccal/line_scan_calibration.h>
#include <ccal/multicamera_calibration.h>
#include <ccal/outlier_rejection.h>
#include <ccal/telecentric_calibration.h>
#include <tk/crsp_pair_weighted.h>
#include <tk/pair.h>

#include <chrono>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The lens model of a name the point file or the options have checked (radial otherwise).
tk2XformCalib2Defs::tkCalib2DistortionModel modelFromName(const std::string& name) {
  tk2XformCalib2Defs::tkCalib2DistortionModel model = tk2XformCalib2Defs::eRadial;
  tfDistortionModelFromName(name, model);
  return model;
}

tkXform<3> poseOf(const tkPointPlacement& placement) {
  const auto& p = placement.pose;
  return tkXform<3>(tkMatrix<3>(p[0], p[1], p[2], p[4], p[5], p[6], p[8], p[9], p[10]),
                    tkVector<3>(p[3], p[7], p[11]));
}

tkVector<2> planar(const tkVector<3>& p) {
  return tkVector<2>(p.x(), p.y());
}

void addResidual(tkToolResult& result, size_t camera, size_t placement, size_t index,
                 const tkPointRow& row, const tkVector<2>& predicted) {
  tkToolResidual r;
  r.camera = camera;
  r.placement = placement;
  r.index = index;
  r.image = row.image;
  r.residual = row.image - predicted;
  r.weight = row.weight;
  result.residuals.push_back(r);
}

tkToolResult emptyResult(const tkPointFile& file, const std::string& path) {
  tkToolResult result;
  result.inputPath = path;
  result.description = file.description;
  result.kind = file.kind;
  result.hasImageSize = file.hasImageSize;
  result.imageSize = file.imageSize;
  for (const std::string& name : file.cameras) {
    tkToolCamera camera;
    camera.name = name;
    result.cameras.push_back(camera);
  }
  for (const tkPointPlacement& placement : file.placements) {
    tkToolPlacement p;
    p.name = placement.name;
    p.kind = placement.kind;
    result.placements.push_back(p);
  }
  return result;
}

// ---- area scan ---------------------------------------------------------------------------------

tkImageRefinementOptions refinementOf(const tkCalibrateOptions& options) {
  tkImageRefinementOptions refinement;
  refinement.enabled = options.imageRefinement;
  return refinement;
}

tkToolResult runAreaScan(const tkPointFile& file, const std::string& path,
                         const tkCalibrateOptions& options, const tkKnownIntrinsics* known) {
  tkToolResult result = emptyResult(file, path);
  const size_t nCameras = file.cameras.size();
  tkMulticameraZRotationPlacementsWeighted zRotation;
  tkMulticameraArbitraryPlacementsWeighted arbitrary;
  std::vector<std::pair<bool, size_t>> where;  // per file placement: (is z-rotation, index)
  for (const tkPointPlacement& placement : file.placements) {
    std::vector<tkMulticameraWeightedList> lists(nCameras);
    for (size_t c = 0; c < nCameras; ++c) {
      for (const tkPointRow& row : placement.points[c])
        lists[c].emplace_back(row.image, row.physical, row.weight);
    }
    if (placement.kind == "z-rotation") {
      where.emplace_back(true, zRotation.size());
      zRotation.emplace_back(std::move(lists), placement.height);
    } else {
      where.emplace_back(false, arbitrary.size());
      arbitrary.push_back(std::move(lists));
    }
  }

  tkRigSolve solve;
  if (known != nullptr) {
    if (known->area.size() != nCameras) {
      throw tkToolInputError(known->path + ": holds " + std::to_string(known->area.size()) +
                             " area-scan camera(s), " + path + " has " + std::to_string(nCameras));
    }
    for (size_t c = 0; c < nCameras; ++c) {
      if (known->names[c] != file.cameras[c]) {
        throw tkToolInputError(known->path + ": camera " + std::to_string(c) + " is \"" +
                               known->names[c] + "\", " + path + " calls it \"" + file.cameras[c] +
                               "\"");
      }
    }
    solve = tfRigPoseSolve(known->area, refinementOf(options));
    result.method = "rig-pose";
    result.model = tfModelName(known->area.front().distModel());
  } else {
    const std::string model = options.model.empty() ? file.distortionModel : options.model;
    solve = tfRigCalibrationSolve(modelFromName(model), refinementOf(options));
    result.method = "rig-calibration";
    result.model = model;
  }
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams rig;
  const Clock::time_point start = Clock::now();
  if (options.rejectOutliers)
    rig = tfSolveRejectingOutliers(solve, zRotation, arbitrary, where, result.rejection);
  else
    solve(zRotation, arbitrary, rig);
  result.seconds = secondsSince(start);
  result.imageRefinement = options.imageRefinement;
  if (rig.cameraPoseInverses().size() != nCameras ||
      rig.physicalAtZEquals1FromImageParams().size() != nCameras ||
      rig.calibrationPlatePoses().size() != zRotation.size() ||
      rig.arbitraryCalibrationPlatePoses().size() != arbitrary.size()) {
    // Also the answer of an estimate-only run, which computes nothing.
    throw tkToolFailure(path + ": the calibration returned no model");
  }

  std::vector<tk2XformCalib2> xforms;
  tfConvert(rig, xforms);
  for (size_t c = 0; c < nCameras; ++c) {
    result.cameras[c].xform = xforms[c];
    result.cameras[c].hasAreaModel = true;
    result.cameras[c].intrinsic = rig.physicalAtZEquals1FromImageParams()[c];
  }
  for (size_t j = 0; j < file.placements.size(); ++j) {
    const tkXform<3> plateToWorld =
        where[j].first ? rig.calibrationPlatePoses()[where[j].second].xform()
                       : rig.arbitraryCalibrationPlatePoses()[where[j].second].xform();
    result.placements[j].plateToWorld = plateToWorld;
    for (size_t c = 0; c < nCameras; ++c) {
      const std::vector<tkPointRow>& rows = file.placements[j].points[c];
      for (size_t i = 0; i < rows.size(); ++i) {
        const tkVector<2> predicted =
            rig.invWarpPoint(plateToWorld.mapPoint(rows[i].physical), static_cast<long>(c));
        addResidual(result, c, j, i, rows[i], predicted);
      }
    }
  }
  if (result.rejection.enabled) {
    // The quality of the fit the rejection left: its rejected points with weight 0.
    for (size_t j = 0; j < where.size(); ++j)
      for (size_t c = 0; c < nCameras; ++c) {
        tkMulticameraWeightedList& list = where[j].first ? zRotation[where[j].second].first[c]
                                                         : arbitrary[where[j].second][c];
        const std::vector<bool>& inliers = result.rejection.inliers[j][c];
        for (size_t k = 0; k < list.size() && k < inliers.size(); ++k)
          if (!inliers[k])
            list[k].weight(0.0);
      }
  }
  tfComputeQuality(result, zRotation, arbitrary, where, rig, known != nullptr);
  tfMarkRejected(result);
  return result;
}

// ---- telecentric -------------------------------------------------------------------------------

tkToolResult runTelecentric(const tkPointFile& file, const std::string& path,
                            const tkCalibrateOptions& options, const tkKnownIntrinsics* known) {
  if (file.cameras.size() != 1) {
    throw tkToolInputError(path + ": a telecentric file must have exactly one camera");
  }
  tkToolResult result = emptyResult(file, path);
  result.model = "telecentric";
  result.method = "telecentric-flow-" + std::to_string(options.flow);
  std::vector<tkXform<3>> poses;
  std::vector<std::vector<tkPair<tkVector<2>>>> pairs;
  std::vector<std::vector<tkCrspPairWeighted>> weighted;
  for (const tkPointPlacement& placement : file.placements) {
    poses.push_back(poseOf(placement));
    pairs.emplace_back();
    weighted.emplace_back();
    for (const tkPointRow& row : placement.points[0]) {
      pairs.back().emplace_back(row.image, planar(row.physical));
      weighted.back().emplace_back(row.image, row.physical, row.weight);
    }
  }
  tkCalibrateTelecentricCameraParams params;
  if (options.hasCameraHeight) {
    params.useCameraHeight(true);
    params.cameraHeight(options.cameraHeight);
  }
  std::vector<double> rms, largest;
  tk2XformCalib2 xform;
  const Clock::time_point start = Clock::now();
  if (options.flow == 1) {
    tfCalibrateTelecentricCamera(pairs, poses, params, rms, largest, xform);
  } else if (options.flow == 2) {
    tfCalibrateTelecentricCamera(weighted, poses, params, rms, largest, xform);
  } else {
    tkCalib2ParamsIntrinsic intrinsic;
    if (known != nullptr) {
      if (known->calib2.size() != 1 || known->kind != "telecentric") {
        throw tkToolInputError(known->path + ": flow 3 needs the result of one telecentric camera");
      }
      intrinsic = known->calib2[0];
    } else {
      tk2XformCalib2 first;
      tfCalibrateTelecentricCamera(pairs, poses, params, rms, largest, first);
      intrinsic = first.intrinsicParams();
    }
    tfCalibrateTelecentricCamera(weighted, poses, params, intrinsic, rms, largest, xform);
  }
  result.seconds = secondsSince(start);
  result.cameras[0].xform = xform;

  const tkCalib2ParamsIntrinsic intrinsic = xform.intrinsicParams();
  const tkXform<3> cameraFromHome = xform.extrinsicXform();
  for (size_t j = 0; j < file.placements.size(); ++j) {
    result.placements[j].kind = "known pose";
    result.placements[j].plateToWorld = poses[j];
    const std::vector<tkPointRow>& rows = file.placements[j].points[0];
    for (size_t i = 0; i < rows.size(); ++i) {
      const tkVector<3> q = cameraFromHome.mapPoint(poses[j].mapPoint(rows[i].physical));
      addResidual(result, 0, j, i, rows[i], intrinsic.mapPoint(tkVector<2>(q.x(), q.y())));
    }
  }
  return result;
}

// ---- line scan ---------------------------------------------------------------------------------

tkToolResult runLineScan(const tkPointFile& file, const std::string& path) {
  if (file.cameras.size() != 1 || file.placements.size() != 1) {
    throw tkToolInputError(path + ": a line-scan file must have one camera and one placement");
  }
  tkToolResult result = emptyResult(file, path);
  result.model = "line-scan";
  result.method = "line-scan";
  const tkPointPlacement& placement = file.placements[0];
  std::vector<tkPair<tkVector<2>>> pairs;
  for (const tkPointRow& row : placement.points[0])
    pairs.emplace_back(row.image, planar(row.physical));
  tkCalibrateLineScanCameraParams params;
  if (placement.hasDistanceToTarget) {
    params.useDistanceFromCameraToTarget(true);
    params.distanceFromCameraToTarget(placement.distanceToTarget);
  }
  double rms = 0.0, largest = 0.0;
  tk2XformCalib2 xform;
  const Clock::time_point start = Clock::now();
  tfCalibrateLineScanCamera(pairs, params, rms, largest, xform);
  result.seconds = secondsSince(start);
  result.cameras[0].xform = xform;
  result.placements[0].kind = "plate";
  for (size_t i = 0; i < placement.points[0].size(); ++i) {
    const tkPointRow& row = placement.points[0][i];
    addResidual(result, 0, 0, i, row, xform.invMapPoint(planar(row.physical)));
  }
  return result;
}

}  // namespace

std::string tfModelName(tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  const char* name = tfDistortionModelName(model);
  return name != nullptr ? name : "unknown";
}

tkToolResult tfRunCalibration(const tkPointFile& file, const std::string& path,
                              const tkCalibrateOptions& options, const tkKnownIntrinsics* known) {
  if (options.rejectOutliers && file.kind != "area-scan")
    throw tkToolInputError(path + ": --reject-outliers applies to area-scan files, this one is " +
                           file.kind);
  if (!options.model.empty() && file.kind != "area-scan") {
    throw tkToolInputError(path + ": --model applies to area-scan files, this one is " + file.kind);
  }
  tkToolResult result;
  if (file.kind == "area-scan") {
    if (known != nullptr && known->kind != "area-scan") {
      throw tkToolInputError(known->path + ": holds " + known->kind +
                             " cameras, not the area-scan cameras of " + path);
    }
    result = runAreaScan(file, path, options, known);
  } else if (file.kind == "telecentric") {
    result = runTelecentric(file, path, options, known);
  } else {
    if (known != nullptr)
      throw tkToolInputError("--intrinsics does not apply to line-scan files");
    result = runLineScan(file, path);
  }
  tfComputeFigures(result);
  return result;
}

void tfComputeFigures(tkToolResult& result) {
  struct Sum {
    double weighted = 0.0, weights = 0.0, largest = 0.0;
    size_t points = 0;
    void add(const tkToolResidual& r) {
      const double length = r.residual.length();
      weighted += r.weight * length * length;
      weights += r.weight;
      largest = std::max(largest, length);
      ++points;
    }
    tkToolFigures figures() const {
      tkToolFigures f;
      f.rms = weights > 0.0 ? std::sqrt(weighted / weights) : 0.0;
      f.largest = largest;
      f.points = points;
      return f;
    }
  };
  const size_t nCameras = result.cameras.size();
  std::vector<Sum> cameras(nCameras);
  std::vector<std::vector<Sum>> placements(result.placements.size(), std::vector<Sum>(nCameras));
  Sum overall;
  for (const tkToolResidual& r : result.residuals) {
    cameras[r.camera].add(r);
    placements[r.placement][r.camera].add(r);
    overall.add(r);
  }
  for (size_t c = 0; c < nCameras; ++c)
    result.cameras[c].figures = cameras[c].figures();
  for (size_t j = 0; j < result.placements.size(); ++j) {
    result.placements[j].perCamera.clear();
    for (size_t c = 0; c < nCameras; ++c)
      result.placements[j].perCamera.push_back(placements[j][c].figures());
  }
  result.overall = overall.figures();
}
