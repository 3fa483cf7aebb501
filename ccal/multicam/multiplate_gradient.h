// The problem of the multi-plate solvers (one camera, a rig, and rig poses with fixed
// intrinsics): the layout of the parameter column and views of the solver's data, with packing
// and unpacking. F, K and the cost: multiplate_residuals.h.
//
// Parameter column x (N values): nC camera blocks of cameraBlock values each (the camera block of
// camera_param_packing.h, or under poseOnly the six pose values var1..var3, tx, ty, tz), then one
// block (tan(θ/2), tx, ty) per Z-rotation placement 1 .. nZ−1 (placement 0 is the world frame),
// then one block (var1, var2, var3, tx, ty, tz) per arbitrary placement. The height of Z-rotation
// placement j (its z translation) is data, never a parameter.
#ifndef CCAL_MULTICAM_MULTIPLATE_GRADIENT_H
#define CCAL_MULTICAM_MULTIPLATE_GRADIENT_H

#include "ccal/single/camera_param_packing.h"

#include <ccal/multicamera_calibration_params.h>
#include <proc/ccal_crspPair2D3DWeighted.h>
#include <tk/quaternion_xform.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>
#include <tk/zrotation_xform.h>

#include <cstddef>
#include <vector>

// One list of correspondences (a camera in a placement) as procedural records.
struct tk_MultiplateList {
  const ccal_crspPair2D3DWeighted* records = nullptr;
  std::size_t count = 0;
};

// Shape of the problem and views of the solver's data (not owned).
struct tk_MultiplateProblem {
  tk2XformCalib2Defs::tkCalib2DistortionModel model = tk2XformCalib2Defs::eNoDistortion;
  bool poseOnly = false;  // intrinsics fixed (fixedIntrinsics), camera blocks of 6
  long nC = 0, nZ = 0, nA = 0;
  long cameraBlock = 0;
  std::vector<tk_MultiplateList> zLists;  // [j·nC + c], j = 0 .. nZ−1
  std::vector<tk_MultiplateList> aLists;  // [j·nC + c]
  std::vector<double> heights;            // nZ entries, placement 0 included
  std::vector<int> cameraUnitValIndices;
  std::vector<int> arbitraryUnitValIndices;
  std::vector<tk_IntrinsicValues> fixedIntrinsics;  // poseOnly

  long size() const { return nC * cameraBlock + 3 * (nZ > 0 ? nZ - 1 : 0) + 6 * nA; }
  long zStart() const { return nC * cameraBlock; }
  long aStart() const { return size() - 6 * nA; }
  // Block of parameter i: camera, Z-rotation block (placement zi + 1) or arbitrary placement;
  // −1 where i is not in such a block (all −1 for i < 0).
  void blockOf(long i, long& ci, long& zi, long& ai) const;
};

// The unpacked column: cameras (world -> camera) and placement poses (plate -> world).
struct tk_MultiplateValues {
  std::vector<tk_CameraValues> cameras;
  std::vector<tkXform<3>> zPoses;  // nZ, placement 0 the identity
  std::vector<double> zTanHalf;    // nZ
  std::vector<tk3QuaternionXform> aPoses;
};

// Unpacks x (throws tkMathError::Singular for a non-finite quaternion value).
void tfUnpackMultiplate(const tk_MultiplateProblem& problem, const double* x,
                        tk_MultiplateValues& values);

// Packs rig parameters into x (problem.size() values; heights are not packed): camera blocks
// (under poseOnly the six pose values), tan(rotZ/2), tx, ty of Z-rotation placements 1 .. nZ−1,
// then var1..var3, tx, ty, tz of each arbitrary placement. Stores the quaternions' unitValIndex
// in problem.cameraUnitValIndices and problem.arbitraryUnitValIndices. The lists of params must
// match the problem's counts (not checked).
void tfPackMultiplate(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& params,
    tk_MultiplateProblem& problem, double* x);

#endif
