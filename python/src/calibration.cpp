// The calibration entry points of the Python module. Each converts its numpy input first (with the
// GIL held), runs the library call through tfPyRunLong (GIL released, abort token, progress) and
// converts the result afterwards. The Python layer (ccal/__init__.py) wraps these functions into
// the documented API with result classes; the names here start with an underscore.
#include "bindings.h"

#include <ccal/image_refinement.h>
#include <ccal/line_scan_calibration.h>
#include <ccal/multicamera_calibration.h>
#include <ccal/single_camera_calibration.h>
#include <ccal/telecentric_calibration.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

// A placement of rig data: lists per camera, kind and height.
struct RigData {
  tkMulticameraZRotationPlacementsWeighted zRotation;
  tkMulticameraArbitraryPlacementsWeighted arbitrary;
  std::vector<std::pair<bool, size_t>> where;  // per placement: (Z-rotation, index of its kind)
  size_t cameras = 0;
};

// placements: sequence of (kind, height, views) with kind "z-rotation" or "arbitrary" and views a
// sequence with one (image, plate, weights) triple per camera.
RigData rigData(const py::sequence& placements) {
  RigData data;
  for (size_t j = 0; j < placements.size(); ++j) {
    const py::sequence entry = placements[j];
    const std::string where = "placement " + std::to_string(j);
    if (entry.size() != 3)
      throw py::value_error(where + ": expected (kind, height, views)");
    const std::string kind = entry[0].cast<std::string>();
    const py::sequence views = entry[2];
    if (j == 0)
      data.cameras = views.size();
    if (views.size() != data.cameras)
      throw py::value_error(where + ": expected one view per camera");
    std::vector<tkMulticameraWeightedList> lists;
    for (size_t c = 0; c < views.size(); ++c) {
      const py::sequence view = views[c];
      const std::string what = where + ", camera " + std::to_string(c);
      if (view.size() != 3)
        throw py::value_error(what + ": expected (image, plate, weights)");
      lists.push_back(tfPyWeightedView(view[0], view[1], view[2], what.c_str()));
    }
    if (kind == "z-rotation") {
      data.where.emplace_back(true, data.zRotation.size());
      data.zRotation.emplace_back(std::move(lists), entry[1].cast<double>());
    } else if (kind == "arbitrary") {
      data.where.emplace_back(false, data.arbitrary.size());
      data.arbitrary.push_back(std::move(lists));
    } else {
      throw py::value_error(where + ": kind must be \"z-rotation\" or \"arbitrary\"");
    }
  }
  return data;
}

using RigParams = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

// Per-camera RMS (weighted) and largest image residual over one kind of placement.
// listsOf(j) gives placement j's lists per camera, poseOf(j) its plate -> world transform.
template <class ListsOf, class PoseOf>
void residualFigures(const RigParams& rig, size_t count, ListsOf listsOf, PoseOf poseOf,
                     std::vector<double>& rms, std::vector<double>& largest) {
  const size_t cameras = rig.cameraPoseInverses().size();
  std::vector<double> sum(cameras, 0.0), weight(cameras, 0.0);
  rms.assign(cameras, 0.0);
  largest.assign(cameras, 0.0);
  for (size_t j = 0; j < count; ++j) {
    const tkXform<3> pose = poseOf(j);
    const std::vector<tkMulticameraWeightedList>& lists = listsOf(j);
    for (size_t c = 0; c < cameras && c < lists.size(); ++c) {
      for (const tkCrspPairWeighted& p : lists[c]) {
        const tkVector<2> d =
            p.image() - rig.invWarpPoint(pose.mapPoint(p.physical3D()), static_cast<long>(c));
        const double d2 = d.dot(d);
        sum[c] += p.weight() * d2;
        weight[c] += p.weight();
        largest[c] = std::max(largest[c], std::sqrt(d2));
      }
    }
  }
  for (size_t c = 0; c < cameras; ++c)
    rms[c] = weight[c] > 0.0 ? std::sqrt(sum[c] / weight[c]) : 0.0;
}

// The figures of residualFigures over both kinds of placement (with the given weights).
void rigFigures(const RigParams& rig, const RigData& data, std::vector<double>& rmsZ,
                std::vector<double>& maxZ, std::vector<double>& rmsA, std::vector<double>& maxA) {
  residualFigures(
      rig, data.zRotation.size(),
      [&](size_t j) -> const std::vector<tkMulticameraWeightedList>& {
        return data.zRotation[j].first;
      },
      [&](size_t j) { return rig.calibrationPlatePoses()[j].xform(); }, rmsZ, maxZ);
  residualFigures(
      rig, data.arbitrary.size(),
      [&](size_t j) -> const std::vector<tkMulticameraWeightedList>& { return data.arbitrary[j]; },
      [&](size_t j) { return rig.arbitraryCalibrationPlatePoses()[j].xform(); }, rmsA, maxA);
}

py::dict rigResult(const RigParams& rig, const std::vector<double>& rmsZ,
                   const std::vector<double>& maxZ, const std::vector<double>& rmsA,
                   const std::vector<double>& maxA) {
  py::list cameras;
  for (size_t c = 0; c < rig.cameraPoseInverses().size(); ++c) {
    tkCameraCalibrationParams camera;
    camera.physicalAtZEquals1FromImageParams(rig.physicalAtZEquals1FromImageParams()[c]);
    camera.cameraPoseInverse(rig.cameraPoseInverses()[c]);
    cameras.append(camera);
  }
  py::list zPoses, aPoses;
  for (const tk3ZRotationXform& p : rig.calibrationPlatePoses())
    zPoses.append(tfPyPose(p.xform()));
  for (const tk3QuaternionXform& p : rig.arbitraryCalibrationPlatePoses())
    aPoses.append(tfPyPose(p.xform()));
  py::dict result;
  result["cameras"] = cameras;
  result["z_rotation_poses"] = zPoses;
  result["arbitrary_poses"] = aPoses;
  result["rms_z_rotation"] = tfPyArray1(rmsZ);
  result["max_z_rotation"] = tfPyArray1(maxZ);
  result["rms_arbitrary"] = tfPyArray1(rmsA);
  result["max_arbitrary"] = tfPyArray1(maxA);
  return result;
}

std::vector<tkXform<3>> poseList(const py::sequence& poses) {
  std::vector<tkXform<3>> list;
  for (size_t i = 0; i < poses.size(); ++i)
    list.push_back(tfPyXform3(poses[i], ("pose " + std::to_string(i)).c_str()));
  return list;
}

}  // namespace

void tfPyBindCalibration(py::module_& m) {
  m.def(
      "_calibrate_camera",
      [](const py::handle& image, const py::handle& world, const py::handle& weights,
         const std::string& model, const py::sequence& views, const py::object& progress) {
        const std::vector<tkVector<2>> u = tfPyPoints2(image, "image");
        const std::vector<tkVector<3>> p = tfPyPoints3(world, "world", false);
        if (u.size() != p.size())
          throw py::value_error("image and world points differ in number");
        const std::vector<double> w = tfPyWeights(weights, u.size(), "weights");
        std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>> crsp;
        for (size_t i = 0; i < u.size(); ++i)
          crsp.push_back({{u[i], p[i]}, w[i]});
        std::vector<std::vector<tkCrspPairWeighted>> plateViews;
        std::vector<tkXform<3>> platePoses;
        for (size_t v = 0; v < views.size(); ++v) {
          const py::sequence view = views[v];
          const std::string what = "view " + std::to_string(v);
          if (view.size() != 4)
            throw py::value_error(what + ": expected (image, plate, pose, weights)");
          plateViews.push_back(tfPyWeightedView(view[0], view[1], view[3], what.c_str()));
          platePoses.push_back(tfPyXform3(view[2], what.c_str()));
        }
        const auto distModel = tfPyModel(model);
        tkCameraCalibrationParams result;
        tfPyRunLong(progress, [&] {
          tfComputeCalibrationSingleCamera_internal(distModel, crsp, plateViews, platePoses,
                                                    result);
        });
        return result;
      },
      py::arg("image"), py::arg("world"), py::arg("weights"), py::arg("model"), py::arg("views"),
      py::arg("progress"));

  m.def(
      "_calibrate_planar",
      [](const py::sequence& views, const std::string& model, const py::object& progress) {
        std::vector<std::vector<tkPair<tkVector<2>>>> pairs;
        for (size_t v = 0; v < views.size(); ++v) {
          const py::sequence view = views[v];
          const std::string what = "view " + std::to_string(v);
          if (view.size() != 2)
            throw py::value_error(what + ": expected (image, plate)");
          const std::vector<tkVector<2>> u = tfPyPoints2(view[0], what.c_str());
          const std::vector<tkVector<3>> p = tfPyPoints3(view[1], what.c_str(), true);
          if (u.size() != p.size())
            throw py::value_error(what + ": image and plate points differ in number");
          std::vector<tkPair<tkVector<2>>> list;
          for (size_t i = 0; i < u.size(); ++i)
            list.emplace_back(u[i], tkVector<2>(p[i].x(), p[i].y()));
          pairs.push_back(std::move(list));
        }
        const auto distModel = tfPyModel(model);
        tk2XformCalib2 transform;
        std::vector<double> rms, largest;
        tfPyRunLong(progress, [&] { transform.init(pairs, rms, largest, distModel); });
        return std::make_tuple(transform, tfPyArray1(rms), tfPyArray1(largest));
      },
      py::arg("views"), py::arg("model"), py::arg("progress"));

  m.def(
      "_calibrate_rig",
      [](const std::string& model, const py::sequence& placements, const py::object& progress,
         bool imageRefinement, bool uncertainty, const py::object& imageSize, double sigma,
         bool rejectOutliers) {
        RigData data = rigData(placements);
        const auto distModel = tfPyModel(model);
        RigParams rig;
        std::vector<double> rmsZ, maxZ, rmsA, maxA;
        tkImageRefinementOptions refinement;
        refinement.enabled = imageRefinement;
        py::dict outcome;
        if (rejectOutliers) {
          // Figures over all points; the uncertainty over the inliers the rejection leaves.
          const RigData all = data;
          rig = tfPyRejectOutliers(tfRigCalibrationSolve(distModel, refinement), data.zRotation,
                                   data.arbitrary, data.where, progress, outcome);
          rigFigures(rig, all, rmsZ, maxZ, rmsA, maxA);
        } else {
          tfPyRunLong(progress, [&] {
            if (imageRefinement)
              tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
                  distModel, data.zRotation, data.arbitrary, refinement, rig);
            else
              tfCalibrateMultiplateMulticameraZRotationAndArbitrary(
                  distModel, data.zRotation, data.arbitrary, rig, rmsZ, maxZ, rmsA, maxA);
          });
          if (imageRefinement)
            rigFigures(rig, data, rmsZ, maxZ, rmsA, maxA);
        }
        py::dict result = rigResult(rig, rmsZ, maxZ, rmsA, maxA);
        result.attr("update")(outcome);
        if (uncertainty)
          result["uncertainty"] =
              tfPyUncertainty(data.zRotation, data.arbitrary, false, rig, imageSize, sigma);
        return result;
      },
      py::arg("model"), py::arg("placements"), py::arg("progress"),
      py::arg("image_refinement") = false, py::arg("uncertainty") = false,
      py::arg("image_size") = py::none(), py::arg("sigma") = 0.0,
      py::arg("reject_outliers") = false);

  m.def(
      "_estimate_rig_pose",
      [](const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics,
         const py::sequence& placements, const py::object& progress, bool imageRefinement,
         bool uncertainty, const py::object& imageSize, double sigma, bool rejectOutliers) {
        RigData data = rigData(placements);
        if (data.cameras != intrinsics.size())
          throw py::value_error("expected one intrinsic model per camera");
        const RigData all = data;
        RigParams rig;
        tkImageRefinementOptions refinement;
        refinement.enabled = imageRefinement;
        py::dict outcome;
        if (rejectOutliers) {
          rig = tfPyRejectOutliers(tfRigPoseSolve(intrinsics, refinement), data.zRotation,
                                   data.arbitrary, data.where, progress, outcome);
        } else {
          tfPyRunLong(progress, [&] {
            tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(intrinsics, data.zRotation,
                                                                   data.arbitrary, refinement, rig);
          });
        }
        std::vector<double> rmsZ, maxZ, rmsA, maxA;
        py::dict result;
        if (rig.cameraPoseInverses().size() == intrinsics.size()) {
          rigFigures(rig, all, rmsZ, maxZ, rmsA, maxA);
          result = rigResult(rig, rmsZ, maxZ, rmsA, maxA);
          if (uncertainty)
            result["uncertainty"] =
                tfPyUncertainty(data.zRotation, data.arbitrary, true, rig, imageSize, sigma);
        } else {
          result = rigResult(rig, rmsZ, maxZ, rmsA, maxA);
        }
        result.attr("update")(outcome);
        return result;
      },
      py::arg("intrinsics"), py::arg("placements"), py::arg("progress"),
      py::arg("image_refinement") = false, py::arg("uncertainty") = false,
      py::arg("image_size") = py::none(), py::arg("sigma") = 0.0,
      py::arg("reject_outliers") = false);

  m.def(
      "_calibrate_telecentric",
      [](int flow, const py::sequence& views, const py::sequence& poses, py::object height,
         const py::object& intrinsic, const py::object& progress) {
        if (flow < 1 || flow > 3)
          throw py::value_error("flow must be 1, 2 or 3");
        std::vector<std::vector<tkCrspPairWeighted>> lists;
        for (size_t i = 0; i < views.size(); ++i) {
          const py::sequence view = views[i];
          const std::string what = "pose " + std::to_string(i);
          if (view.size() != 3)
            throw py::value_error(what + ": expected (image, plate, weights)");
          lists.push_back(tfPyWeightedView(view[0], view[1], view[2], what.c_str()));
        }
        const std::vector<tkXform<3>> poseXforms = poseList(poses);
        tkCalibrateTelecentricCameraParams params;
        if (!height.is_none()) {
          params.useCameraHeight(true);
          params.cameraHeight(height.cast<double>());
        }
        tkCalib2ParamsIntrinsic known;
        if (flow == 3) {
          if (intrinsic.is_none())
            throw py::value_error("flow 3 needs the intrinsic part (a CalibratedTransform)");
          known = intrinsic.cast<const tk2XformCalib2&>().intrinsicParams();
        }
        std::vector<double> rms, largest;
        tk2XformCalib2 transform;
        tfPyRunLong(progress, [&] {
          if (flow == 1) {
            std::vector<std::vector<tkPair<tkVector<2>>>> pairs;
            for (const auto& list : lists) {
              std::vector<tkPair<tkVector<2>>> view;
              for (const tkCrspPairWeighted& p : list)
                view.emplace_back(p.image(), p.physical());
              pairs.push_back(std::move(view));
            }
            tfCalibrateTelecentricCamera(pairs, poseXforms, params, rms, largest, transform);
          } else if (flow == 2) {
            tfCalibrateTelecentricCamera(lists, poseXforms, params, rms, largest, transform);
          } else {
            tfCalibrateTelecentricCamera(lists, poseXforms, params, known, rms, largest, transform);
          }
        });
        return std::make_tuple(transform, tfPyArray1(rms), tfPyArray1(largest));
      },
      py::arg("flow"), py::arg("views"), py::arg("poses"), py::arg("camera_height"),
      py::arg("intrinsic"), py::arg("progress"));

  m.def(
      "_calibrate_line_scan",
      [](const py::handle& image, const py::handle& plate, py::object distance, bool align,
         const py::object& progress) {
        const std::vector<tkVector<2>> u = tfPyPoints2(image, "image");
        const std::vector<tkVector<3>> p3 = tfPyPoints3(plate, "plate", true);
        std::vector<tkVector<2>> p;
        for (const tkVector<3>& q : p3)
          p.emplace_back(q.x(), q.y());
        tkCalibrateLineScanCameraParams params;
        if (!distance.is_none()) {
          params.useDistanceFromCameraToTarget(true);
          params.distanceFromCameraToTarget(distance.cast<double>());
        }
        if (align) {
          params.calibrationYAxisAdjustmentMode(
              tkCalibrateLineScanCameraDefs::eAlignYAxisToScannerMotion);
        }
        double rms = 0.0, largest = 0.0;
        tk2XformCalib2 transform;
        tfPyRunLong(progress,
                    [&] { tfCalibrateLineScanCamera(u, p, params, rms, largest, transform); });
        return std::make_tuple(transform, rms, largest);
      },
      py::arg("image"), py::arg("plate"), py::arg("distance"), py::arg("align_y_to_motion"),
      py::arg("progress"));

  m.def(
      "align_to_scanner_motion",
      [](const tk2XformCalib2& transform) {
        tk2XformCalib2 aligned(transform);
        tfAlignClientCoordinatesToScannerMotion(aligned);
        return aligned;
      },
      py::arg("transform"),
      "A line-scan calibration re-expressed in the client frame turned about Z so that +Y "
      "follows the in-plate scanner motion.");
}
