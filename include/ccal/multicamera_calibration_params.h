// The model of a rig of area-scan cameras that looked at one or more placements of a calibration
// plate: every camera's intrinsic model and pose and every placement's pose, all in one world
// frame. Result of the rig calibration and of rig pose estimation.
//
// Frames. The world frame is the frame of the first Z-rotation placement (the producers of this
// library give it the identity pose). cameraPoseInverses[c] maps world coordinates to the
// coordinates of camera c (Pc.z is the depth along the optical axis). A Z-rotation placement is a
// plate lying flat at a known height, turned about Z and shifted in x and y: its pose
// (tk3ZRotationXform) maps its plate coordinates to world coordinates. An arbitrary placement's
// pose (tk3QuaternionXform) does the same for a plate in any position. A plate point P of
// placement j is seen by camera c at Pc = cameraPoseInverses[c](pose_j(P)).
//
// Invariants kept by the producers (not checked by the class): one intrinsic model and one pose
// per camera, in the callers' camera order; one pose per placement of each kind, in input order;
// calibrationPlatePoses[0] is the identity. A caller setting the lists by hand must keep the first
// two of equal length.
//
// A plain value class with member-wise copy. Nothing is persisted.
#ifndef CCAL_MULTICAMERA_CALIBRATION_PARAMS_H
#define CCAL_MULTICAMERA_CALIBRATION_PARAMS_H

#include <ccal/export.h>
#include <ccal/physical_at_z1_from_image_params.h>
#include <tk/quaternion_xform.h>
#include <tk/vector.h>
#include <tk/xform_calib2.h>
#include <tk/zrotation_xform.h>

#include <vector>

class CCAL_API tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams {
 public:
  // All four lists empty.
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams() = default;

  // Intrinsic model of camera c at index c.
  const std::vector<tkPhysicalAtZEquals1FromImageParams>& physicalAtZEquals1FromImageParams()
      const {
    return intrinsics_;
  }
  void physicalAtZEquals1FromImageParams(
      const std::vector<tkPhysicalAtZEquals1FromImageParams>& intrinsics) {
    intrinsics_ = intrinsics;
  }
  // Entry c: world -> camera c.
  const std::vector<tk3QuaternionXform>& cameraPoseInverses() const { return cameraPoses_; }
  void cameraPoseInverses(const std::vector<tk3QuaternionXform>& poses) { cameraPoses_ = poses; }
  // Entry j: plate of Z-rotation placement j -> world.
  const std::vector<tk3ZRotationXform>& calibrationPlatePoses() const { return zRotationPoses_; }
  void calibrationPlatePoses(const std::vector<tk3ZRotationXform>& poses) {
    zRotationPoses_ = poses;
  }
  // Entry j: plate of arbitrary placement j -> world.
  const std::vector<tk3QuaternionXform>& arbitraryCalibrationPlatePoses() const {
    return arbitraryPoses_;
  }
  void arbitraryCalibrationPlatePoses(const std::vector<tk3QuaternionXform>& poses) {
    arbitraryPoses_ = poses;
  }

  // Image position (pixels) in camera cameraIndex of a world point: Pc = cameraPoseInverses[c]
  // (worldPoint); (0, 0) when Pc.z is exactly 0; otherwise the intrinsic model's
  // invWarpPoint((Pc.x/Pc.z, Pc.y/Pc.z)). Points behind the camera are divided all the same.
  // Throws tkInvariantFailure when cameraIndex does not index both lists; otherwise never.
  tkVector<2> invWarpPoint(const tkVector<3>& worldPoint, long cameraIndex) const;

 private:
  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics_;
  std::vector<tk3QuaternionXform> cameraPoses_;
  std::vector<tk3ZRotationXform> zRotationPoses_;
  std::vector<tk3QuaternionXform> arbitraryPoses_;
};

// One calibrated transform per camera (dst is resized to the number of camera poses): dst[c] is
// the single-camera conversion (tkCameraCalibrationParams) of intrinsic model c with pose
// cameraPoseInverses[c]; it maps image positions of camera c to the world plane Z = 0 and back.
// The plate poses take no part. Throws tkInvariantFailure (dst unchanged) when there are fewer
// intrinsic models than camera poses. Exceptions of the single-camera conversion pass through;
// dst may then hold partly converted entries.
CCAL_API void tfConvert(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& src,
    std::vector<tk2XformCalib2>& dst);

#endif
