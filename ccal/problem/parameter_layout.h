// The parameter column x of the calibration solvers: where every value sits, and its packing and
// unpacking. Every solver, report and test reads positions from here and nowhere else.
//
// Column (N values, in this order):
//   nC camera blocks of cameraBlockSize() values each, camera c at cameraStart(c);
//   one block (tan(θ/2), tx, ty) per Z-rotation placement j = 1 .. nZ−1 at zRotationStart(j)
//     (placement 0 is the world frame and has no block; a placement's height, its z translation,
//     is data, never a parameter);
//   one block (var1, var2, var3, tx, ty, tz) per arbitrary placement j = 0 .. nA−1 at
//     arbitraryStart(j) (plate -> world, the quaternion under its stored unitValIndex).
//   N = nC·cameraBlockSize() + 3·(nZ−1) + 6·nA (the Z term is 0 when nZ = 0).
//
// Options of the layout:
//   calibration(model, nC, nZ, nA): camera blocks of 11 (eNoDistortion), 14 (eRadial) or
//     17 (eSineTan) values with the offsets of CameraOffset;
//   poseOnly(nC, nZ, nA): intrinsics held fixed, camera blocks of the six pose values
//     var1, var2, var3, tx, ty, tz (offset 0);
//   singleCamera(model): one calibration camera block and no placement blocks (the column of
//     single-camera refinement).
// Camera poses are world -> camera (cameraPoseInverse); the quaternion enters through its three
// free components with the held one (unitValIndex, 0 = a .. 3 = d) chosen at packing time and
// kept by the layout for the whole minimisation.
//
// Blocks are numbered b = 0 .. blockCount()−1: cameras first, then Z-rotation placements 1 ..
// nZ−1, then arbitrary placements, in column order. Placement blocks are the ones a structured
// solve eliminates.
#ifndef CCAL_PROBLEM_PARAMETER_LAYOUT_H
#define CCAL_PROBLEM_PARAMETER_LAYOUT_H

#include "ccal/single/camera_values.h"

#include <ccal/camera_calibration_params.h>
#include <ccal/multicamera_calibration_params.h>
#include <tk/jacobian_structure.h>
#include <tk/quaternion_xform.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>

#include <functional>
#include <utility>
#include <vector>

// The unpacked column: cameras (world -> camera) and placement poses (plate -> world).
struct tk_MultiplateValues {
  std::vector<tk_CameraValues> cameras;
  std::vector<tkXform<3>> zPoses;  // nZ, placement 0 the identity
  std::vector<double> zTanHalf;    // nZ, placement 0 has 0
  std::vector<tk3QuaternionXform> aPoses;
};

namespace ccal::detail {

// Offsets inside a calibration camera block: 0, 1 cameraTranslation x, y of the linear map L
// (image -> distorted plane); 2, 3 cameraScale x, y; 4 cameraSkew; 5, 6, 7 var1, var2, var3 of the
// pose quaternion; 8, 9, 10 the pose translation; 11, 12 centerOfExpansion x, y and 13 ... the
// lensDistParams in order (k under eRadial, p0 .. p3 under eSineTan), present for eRadial and
// eSineTan only.
struct CameraOffset {
  static constexpr int kTranslationX = 0;
  static constexpr int kTranslationY = 1;
  static constexpr int kScaleX = 2;
  static constexpr int kScaleY = 3;
  static constexpr int kSkew = 4;
  static constexpr int kQuatVar1 = 5;
  static constexpr int kPoseTranslationX = 8;
  static constexpr int kCenterX = 11;
  static constexpr int kCenterY = 12;
  static constexpr int kLensFirst = 13;
  static constexpr int kMaxSize = 17;  // the largest camera block
};

class ParameterLayout {
 public:
  using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;
  enum class Kind { kNone, kCamera, kZRotation, kArbitrary };
  // A block: its kind and index (camera c, Z-rotation placement j >= 1, arbitrary placement j).
  struct Block {
    Kind kind = Kind::kNone;
    long index = -1;
  };

  static constexpr int kPoseBlockSize = 6;       // a pose-only camera block
  static constexpr int kZRotationBlockSize = 3;  // tan(θ/2), tx, ty
  static constexpr int kArbitraryBlockSize = 6;  // var1, var2, var3, tx, ty, tz

  // The empty layout (size 0).
  ParameterLayout() = default;
  // The options above. Negative counts are a broken invariant (tkInvariantFailure). A model
  // other than eNoDistortion, eRadial and eSineTan gives calibration camera blocks of size 0
  // (reported by calibrationBlockSize); such a layout has no column a solver can use.
  static ParameterLayout calibration(Model model, long cameras, long zRotationPlacements,
                                     long arbitraryPlacements);
  static ParameterLayout poseOnly(Model model, long cameras, long zRotationPlacements,
                                  long arbitraryPlacements);
  static ParameterLayout singleCamera(Model model);

  // 11, 14 or 17 for a calibration camera block; any other model is a broken invariant,
  // reported as a failed internal assertion (cstd_assert_) and answered with 0.
  static int calibrationBlockSize(Model model);

  Model model() const { return model_; }
  bool poseOnly() const { return poseOnly_; }
  long cameras() const { return nC_; }
  long zRotationPlacements() const { return nZ_; }  // placement 0 included
  long arbitraryPlacements() const { return nA_; }
  long cameraBlockSize() const { return cameraBlock_; }
  // Offset of var1 of the camera pose inside a camera block (kQuatVar1, or 0 under poseOnly).
  long cameraPoseOffset() const { return poseOnly_ ? 0 : CameraOffset::kQuatVar1; }

  long size() const {
    return zStart() + kZRotationBlockSize * zBlocks() + kArbitraryBlockSize * nA_;
  }
  long cameraStart(long c) const { return c * cameraBlock_; }
  long zRotationStart(long j) const { return zStart() + kZRotationBlockSize * (j - 1); }
  long arbitraryStart(long j) const {
    return zStart() + kZRotationBlockSize * zBlocks() + kArbitraryBlockSize * j;
  }

  long blockCount() const { return nC_ + zBlocks() + nA_; }
  Block block(long b) const;
  long blockStart(long b) const;
  long blockSize(long b) const;
  long blockIndex(const Block& block) const;  // −1 for kNone
  // The block holding parameter i; kind kNone (index −1) for i outside 0 .. N−1.
  Block blockOf(long i) const;
  // True at the first index of every block (N values): the flags of tkFSolver::recomputeYVals.
  std::vector<bool> blockStartFlags() const;

  // The structure of the gradient's Jacobian (N x N, row groups = parameter blocks): every block
  // couples with itself; a placement couples both ways with every camera c that observes it
  // (observes(c, placement) true); placement blocks are eliminated. Empty for nC < 1 or when
  // n is not size() (the column does not have the layout yet).
  tkJacobianStructure gradientStructure(
      long n, const std::function<bool(long camera, const Block& placement)>& observes) const;
  // Every block with itself and the placements eliminated as above, plus the given couplings
  // (parameter block, row group). Precondition: size() > 0.
  tkJacobianStructure gradientStructure(const std::vector<std::pair<long, long>>& couplings) const;

  // The held quaternion components, one per camera and per arbitrary placement; written by
  // pack, or set by a caller that packed elsewhere (resized to the counts, missing entries 0).
  const std::vector<int>& cameraUnitValIndices() const { return cameraUvi_; }
  const std::vector<int>& arbitraryUnitValIndices() const { return arbitraryUvi_; }
  void cameraUnitValIndices(const std::vector<int>& indices);
  void arbitraryUnitValIndices(const std::vector<int>& indices);

  // Packs rig parameters into x (size() values) and stores the unitValIndex lists. The lists of
  // params must hold at least the layout's counts (not checked); heights and, under poseOnly,
  // the intrinsic models are not packed. Throws tkMathError::Singular for a non-finite quaternion.
  void pack(const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& params,
            double* x);
  // Packs one camera into camera block c (calibration option: the whole block; poseOnly: the
  // pose) and stores its unitValIndex.
  void packCamera(const tkCameraCalibrationParams& camera, long c, double* x);

  // Unpacks x. heights: nZ values (placement 0 included); fixedIntrinsics: the nC intrinsic
  // models under poseOnly (ignored otherwise). Allocates only when values has not yet the
  // layout's counts. Throws tkMathError::Singular for a non-finite quaternion value.
  void unpack(const double* x, const std::vector<double>& heights,
              const std::vector<tk_IntrinsicValues>& fixedIntrinsics,
              tk_MultiplateValues& values) const;
  // Camera c of x; fixed: its intrinsic model under poseOnly (ignored, may be null, otherwise).
  void unpackCamera(const double* x, long c, const tk_IntrinsicValues* fixed,
                    tk_CameraValues& out) const;
  // Plate -> world pose of Z-rotation placement j >= 1 at its height, and of arbitrary
  // placement j.
  tkXform<3> zRotationPose(const double* x, long j, double height) const;
  tk3QuaternionXform arbitraryPose(const double* x, long j) const;

  // Block-level forms for callers that move one block's values (difference quotients): a
  // calibration camera block of model under unitValIndex (packCameraBlock returns the held
  // component it chose), a Z-rotation block at its height, an arbitrary block under
  // unitValIndex. unpackCameraBlock allocates nothing.
  static int packCameraBlock(const tkCameraCalibrationParams& camera, double* block);
  static void unpackCameraBlock(const double* block, int unitValIndex, Model model,
                                tk_CameraValues& out);
  // The intrinsic values of a calibration camera block of model in the camera model's terms
  // (platform/core/camera_model/camera_model.h). Allocates nothing.
  static CameraIntrinsics cameraIntrinsicsOfBlock(const double* block, Model model);
  static tkXform<3> zRotationBlockPose(const double* block, double height);
  static tk3QuaternionXform arbitraryBlockPose(const double* block, int unitValIndex);

 private:
  ParameterLayout(Model model, bool poseOnly, long cameras, long zRotationPlacements,
                  long arbitraryPlacements);
  long zBlocks() const { return nZ_ > 0 ? nZ_ - 1 : 0; }
  long zStart() const { return nC_ * cameraBlock_; }

  Model model_ = tk2XformCalib2Defs::eNoDistortion;
  bool poseOnly_ = false;
  long nC_ = 0, nZ_ = 0, nA_ = 0;
  long cameraBlock_ = 0;
  std::vector<int> cameraUvi_;
  std::vector<int> arbitraryUvi_;
};

}  // namespace ccal::detail

#endif
