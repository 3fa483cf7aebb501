#include "ccal/problem/parameter_layout.h"

#include <proc/cstd_assert.h>
#include <tk/exception.h>
#include <tk/quaternion.h>
#include <tk/zrotation_xform.h>

#include <cmath>
#include <cstddef>

namespace ccal::detail {

namespace {

using Offset = CameraOffset;

std::size_t at(long i) {
  return static_cast<std::size_t>(i);
}

bool hasLens(ParameterLayout::Model model) {
  return model == tk2XformCalib2Defs::eRadial || model == tk2XformCalib2Defs::eSineTan;
}

// The six pose values (var1, var2, var3, tx, ty, tz) of a quaternion pose; returns the held
// component.
int packPose(const tk3QuaternionXform& pose, double* block) {
  const tk3Quaternion& q = pose.quat();
  const double v[6] = {q.var1(),         q.var2(),         q.var3(),
                       pose.trans().x(), pose.trans().y(), pose.trans().z()};
  for (int k = 0; k < 6; ++k)
    block[k] = v[k];
  return q.unitValIndex();
}

}  // namespace

int ParameterLayout::calibrationBlockSize(Model model) {
  switch (model) {
    case tk2XformCalib2Defs::eNoDistortion:
      return 11;
    case tk2XformCalib2Defs::eRadial:
      return 14;
    case tk2XformCalib2Defs::eSineTan:
      return 17;
    default:
      cstd_assert_(__FILE__, __LINE__);
      return 0;
  }
}

ParameterLayout::ParameterLayout(Model model, bool poseOnly, long cameras, long zRotationPlacements,
                                 long arbitraryPlacements)
    : model_(model),
      poseOnly_(poseOnly),
      nC_(cameras),
      nZ_(zRotationPlacements),
      nA_(arbitraryPlacements) {
  if (cameras < 0 || zRotationPlacements < 0 || arbitraryPlacements < 0)
    throw tkInvariantFailure(L"ParameterLayout: a negative count");
  cameraBlock_ = poseOnly ? kPoseBlockSize : calibrationBlockSize(model);
  cameraUvi_.assign(at(cameras), 0);
  arbitraryUvi_.assign(at(arbitraryPlacements), 0);
}

ParameterLayout ParameterLayout::calibration(Model model, long cameras, long zRotationPlacements,
                                             long arbitraryPlacements) {
  return ParameterLayout(model, false, cameras, zRotationPlacements, arbitraryPlacements);
}

ParameterLayout ParameterLayout::poseOnly(Model model, long cameras, long zRotationPlacements,
                                          long arbitraryPlacements) {
  return ParameterLayout(model, true, cameras, zRotationPlacements, arbitraryPlacements);
}

ParameterLayout ParameterLayout::singleCamera(Model model) {
  return calibration(model, 1, 0, 0);
}

ParameterLayout::Block ParameterLayout::block(long b) const {
  if (b < 0 || b >= blockCount())
    return Block();
  if (b < nC_)
    return Block{Kind::kCamera, b};
  if (b < nC_ + zBlocks())
    return Block{Kind::kZRotation, b - nC_ + 1};
  return Block{Kind::kArbitrary, b - nC_ - zBlocks()};
}

long ParameterLayout::blockIndex(const Block& block) const {
  switch (block.kind) {
    case Kind::kCamera:
      return block.index;
    case Kind::kZRotation:
      return nC_ + block.index - 1;
    case Kind::kArbitrary:
      return nC_ + zBlocks() + block.index;
    default:
      return -1;
  }
}

long ParameterLayout::blockStart(long b) const {
  const Block k = block(b);
  switch (k.kind) {
    case Kind::kCamera:
      return cameraStart(k.index);
    case Kind::kZRotation:
      return zRotationStart(k.index);
    case Kind::kArbitrary:
      return arbitraryStart(k.index);
    default:
      return -1;
  }
}

long ParameterLayout::blockSize(long b) const {
  switch (block(b).kind) {
    case Kind::kCamera:
      return cameraBlock_;
    case Kind::kZRotation:
      return kZRotationBlockSize;
    case Kind::kArbitrary:
      return kArbitraryBlockSize;
    default:
      return 0;
  }
}

ParameterLayout::Block ParameterLayout::blockOf(long i) const {
  if (i < 0 || i >= size())
    return Block();
  if (i < zStart())
    return Block{Kind::kCamera, i / cameraBlock_};
  if (i < arbitraryStart(0))
    return Block{Kind::kZRotation, (i - zStart()) / kZRotationBlockSize + 1};
  return Block{Kind::kArbitrary, (i - arbitraryStart(0)) / kArbitraryBlockSize};
}

std::vector<bool> ParameterLayout::blockStartFlags() const {
  std::vector<bool> flags(at(size()), false);
  for (long b = 0; b < blockCount(); ++b)
    flags[at(blockStart(b))] = true;
  return flags;
}

tkJacobianStructure ParameterLayout::gradientStructure(
    const std::vector<std::pair<long, long>>& couplings) const {
  std::vector<long> starts;
  for (long b = 0; b < blockCount(); ++b)
    starts.push_back(blockStart(b));
  tkJacobianStructure structure(size(), size(), starts, starts);
  for (long b = 0; b < blockCount(); ++b) {
    structure.couple(b, b);
    if (block(b).kind != Kind::kCamera)
      structure.eliminate(b);
  }
  for (const auto& coupling : couplings)
    structure.couple(coupling.first, coupling.second);
  return structure;
}

tkJacobianStructure ParameterLayout::gradientStructure(
    long n, const std::function<bool(long, const Block&)>& observes) const {
  if (size() != n || nC_ < 1 || cameraBlock_ < 1)
    return tkJacobianStructure();
  std::vector<std::pair<long, long>> couplings;
  for (long b = nC_; b < blockCount(); ++b)
    for (long c = 0; c < nC_; ++c)
      if (observes(c, block(b))) {
        couplings.emplace_back(b, c);
        couplings.emplace_back(c, b);
      }
  return gradientStructure(couplings);
}

void ParameterLayout::cameraUnitValIndices(const std::vector<int>& indices) {
  cameraUvi_ = indices;
  cameraUvi_.resize(at(nC_), 0);
}

void ParameterLayout::arbitraryUnitValIndices(const std::vector<int>& indices) {
  arbitraryUvi_ = indices;
  arbitraryUvi_.resize(at(nA_), 0);
}

int ParameterLayout::packCameraBlock(const tkCameraCalibrationParams& params, double* x) {
  const tk_IntrinsicValues v = tfIntrinsicValues(params.physicalAtZEquals1FromImageParams());
  x[Offset::kTranslationX] = v.tx;
  x[Offset::kTranslationY] = v.ty;
  x[Offset::kScaleX] = v.sx;
  x[Offset::kScaleY] = v.sy;
  x[Offset::kSkew] = v.skew;
  const tk3Quaternion& quat = params.cameraPoseInverse().quat();
  const int unitValIndex = quat.unitValIndex();
  x[Offset::kQuatVar1 + 0] = quat.var1();
  x[Offset::kQuatVar1 + 1] = quat.var2();
  x[Offset::kQuatVar1 + 2] = quat.var3();
  const tkVector<3>& t = params.cameraPoseInverse().trans();
  for (int i = 0; i < 3; ++i)
    x[Offset::kPoseTranslationX + i] = t[i];
  if (hasLens(v.model)) {
    const int lensCount = tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(v.model);
    x[Offset::kCenterX] = v.cx;
    x[Offset::kCenterY] = v.cy;
    for (int i = 0; i < lensCount; ++i)
      x[Offset::kLensFirst + i] = v.lens[i];
  }
  return unitValIndex;
}

CameraIntrinsics ParameterLayout::cameraIntrinsicsOfBlock(const double* block, Model model) {
  CameraIntrinsics v;
  v.tx = block[CameraOffset::kTranslationX];
  v.ty = block[CameraOffset::kTranslationY];
  v.sx = block[CameraOffset::kScaleX];
  v.sy = block[CameraOffset::kScaleY];
  v.skew = block[CameraOffset::kSkew];
  v.lens.model = model;
  const int lens = lensValueCount(model);
  if (lens > 0) {
    v.lens.cx = block[CameraOffset::kCenterX];
    v.lens.cy = block[CameraOffset::kCenterY];
    for (int i = 0; i < lens; ++i)
      v.lens.values[i] = block[CameraOffset::kLensFirst + i];
  }
  return v;
}

void ParameterLayout::unpackCameraBlock(const double* x, int unitValIndex, Model model,
                                        tk_CameraValues& out) {
  tk_IntrinsicValues& v = out.intrinsic;
  v = tk_IntrinsicValues();
  v.model = model;
  v.tx = x[Offset::kTranslationX];
  v.ty = x[Offset::kTranslationY];
  v.sx = x[Offset::kScaleX];
  v.sy = x[Offset::kScaleY];
  v.skew = x[Offset::kSkew];
  if (hasLens(model)) {
    v.cx = x[Offset::kCenterX];
    v.cy = x[Offset::kCenterY];
    const int lensCount = tkPhysicalAtZEquals1FromImageParams::lensDistParamsSize(model);
    for (int i = 0; i < lensCount; ++i)
      v.lens[i] = x[Offset::kLensFirst + i];
  }
  tk3Quaternion quat(1.0, 0.0, 0.0, 0.0);
  quat.setUsingUnitValIndex(unitValIndex, x[Offset::kQuatVar1], x[Offset::kQuatVar1 + 1],
                            x[Offset::kQuatVar1 + 2]);
  out.quat = quat;
  out.rotation = quat.rotationMatrix();
  out.trans = tkVector<3>(x[Offset::kPoseTranslationX], x[Offset::kPoseTranslationX + 1],
                          x[Offset::kPoseTranslationX + 2]);
}

tkXform<3> ParameterLayout::zRotationBlockPose(const double* block, double height) {
  return tk3ZRotationXform(2.0 * std::atan(block[0]), tkVector<3>(block[1], block[2], height))
      .xform();
}

tk3QuaternionXform ParameterLayout::arbitraryBlockPose(const double* block, int unitValIndex) {
  tk3Quaternion quat(1.0, 0.0, 0.0, 0.0);
  quat.setUsingUnitValIndex(unitValIndex, block[0], block[1], block[2]);
  return tk3QuaternionXform(quat, tkVector<3>(block[3], block[4], block[5]));
}

void ParameterLayout::packCamera(const tkCameraCalibrationParams& camera, long c, double* x) {
  double* block = x + cameraStart(c);
  cameraUvi_[at(c)] =
      poseOnly_ ? packPose(camera.cameraPoseInverse(), block) : packCameraBlock(camera, block);
}

void ParameterLayout::pack(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& params, double* x) {
  cameraUvi_.assign(at(nC_), 0);
  for (long c = 0; c < nC_; ++c) {
    const tk3QuaternionXform& pose = params.cameraPoseInverses()[at(c)];
    if (poseOnly_) {
      cameraUvi_[at(c)] = packPose(pose, x + cameraStart(c));
    } else {
      tkCameraCalibrationParams camera;
      camera.physicalAtZEquals1FromImageParams(params.physicalAtZEquals1FromImageParams()[at(c)]);
      camera.cameraPoseInverse(pose);
      cameraUvi_[at(c)] = packCameraBlock(camera, x + cameraStart(c));
    }
  }
  for (long j = 1; j < nZ_; ++j) {
    const tk3ZRotationXform& pose = params.calibrationPlatePoses()[at(j)];
    double* b = x + zRotationStart(j);
    b[0] = std::tan(pose.rotZ() * 0.5);
    b[1] = pose.trans().x();
    b[2] = pose.trans().y();
  }
  arbitraryUvi_.assign(at(nA_), 0);
  for (long j = 0; j < nA_; ++j)
    arbitraryUvi_[at(j)] =
        packPose(params.arbitraryCalibrationPlatePoses()[at(j)], x + arbitraryStart(j));
}

void ParameterLayout::unpackCamera(const double* x, long c, const tk_IntrinsicValues* fixed,
                                   tk_CameraValues& out) const {
  const double* block = x + cameraStart(c);
  const int uvi = cameraUvi_[at(c)];
  if (!poseOnly_) {
    unpackCameraBlock(block, uvi, model_, out);
    return;
  }
  out.intrinsic = *fixed;
  const tk3QuaternionXform pose = arbitraryBlockPose(block, uvi);
  out.quat = pose.quat();
  out.rotation = pose.xform().matrix();
  out.trans = pose.trans();
}

tkXform<3> ParameterLayout::zRotationPose(const double* x, long j, double height) const {
  return zRotationBlockPose(x + zRotationStart(j), height);
}

tk3QuaternionXform ParameterLayout::arbitraryPose(const double* x, long j) const {
  return arbitraryBlockPose(x + arbitraryStart(j), arbitraryUvi_[at(j)]);
}

void ParameterLayout::unpack(const double* x, const std::vector<double>& heights,
                             const std::vector<tk_IntrinsicValues>& fixedIntrinsics,
                             tk_MultiplateValues& values) const {
  values.cameras.resize(at(nC_));
  values.zPoses.resize(at(nZ_));
  values.zTanHalf.resize(at(nZ_));
  values.aPoses.resize(at(nA_));
  for (long c = 0; c < nC_; ++c)
    unpackCamera(x, c, poseOnly_ ? &fixedIntrinsics[at(c)] : nullptr, values.cameras[at(c)]);
  for (long j = 0; j < nZ_; ++j) {
    if (j == 0) {
      values.zTanHalf[0] = 0.0;
      values.zPoses[0] = tkXform<3>();
      continue;
    }
    values.zTanHalf[at(j)] = x[zRotationStart(j)];
    values.zPoses[at(j)] = zRotationPose(x, j, heights[at(j)]);
  }
  for (long j = 0; j < nA_; ++j)
    values.aPoses[at(j)] = arbitraryPose(x, j);
}

}  // namespace ccal::detail
