#include "ccal/multicam/multiplate_gradient.h"

#include <cmath>

void tk_MultiplateProblem::blockOf(long i, long& ci, long& zi, long& ai) const {
  ci = zi = ai = -1;
  if (i < 0 || i >= size())
    return;
  if (i < zStart())
    ci = i / cameraBlock;
  else if (i < aStart())
    zi = (i - zStart()) / 3;
  else
    ai = (i - aStart()) / 6;
}

namespace {

tk3QuaternionXform quaternionPose(int unitValIndex, const double* v) {
  tk3Quaternion quat(1.0, 0.0, 0.0, 0.0);
  quat.setUsingUnitValIndex(unitValIndex, v[0], v[1], v[2]);
  return tk3QuaternionXform(quat, tkVector<3>(v[3], v[4], v[5]));
}

void unpackCamera(const tk_MultiplateProblem& problem, const double* x, long c,
                  tk_CameraValues& out) {
  const double* block = x + c * problem.cameraBlock;
  const int uvi = problem.cameraUnitValIndices[static_cast<std::size_t>(c)];
  if (!problem.poseOnly) {
    tfUnpackCameraValues(block, uvi, problem.model, out);
    return;
  }
  out.intrinsic = problem.fixedIntrinsics[static_cast<std::size_t>(c)];
  const tk3QuaternionXform pose = quaternionPose(uvi, block);
  out.quat = pose.quat();
  out.rotation = pose.xform().matrix();
  out.trans = pose.trans();
}

tkXform<3> zRotationPose(double tanHalf, double tx, double ty, double height) {
  return tk3ZRotationXform(2.0 * std::atan(tanHalf), tkVector<3>(tx, ty, height)).xform();
}

void unpackZ(const tk_MultiplateProblem& problem, const double* x, long j,
             tk_MultiplateValues& values) {
  const std::size_t k = static_cast<std::size_t>(j);
  if (j == 0) {
    values.zTanHalf[0] = 0.0;
    values.zPoses[0] = tkXform<3>();
    return;
  }
  const double* b = x + problem.zStart() + 3 * (j - 1);
  values.zTanHalf[k] = b[0];
  values.zPoses[k] = zRotationPose(b[0], b[1], b[2], problem.heights[k]);
}

void unpackA(const tk_MultiplateProblem& problem, const double* x, long j,
             tk_MultiplateValues& values) {
  values.aPoses[static_cast<std::size_t>(j)] = quaternionPose(
      problem.arbitraryUnitValIndices[static_cast<std::size_t>(j)], x + problem.aStart() + 6 * j);
}

}  // namespace

void tfUnpackMultiplate(const tk_MultiplateProblem& problem, const double* x,
                        tk_MultiplateValues& values) {
  values.cameras.resize(static_cast<std::size_t>(problem.nC));
  values.zPoses.resize(static_cast<std::size_t>(problem.nZ));
  values.zTanHalf.resize(static_cast<std::size_t>(problem.nZ));
  values.aPoses.resize(static_cast<std::size_t>(problem.nA));
  for (long c = 0; c < problem.nC; ++c)
    unpackCamera(problem, x, c, values.cameras[static_cast<std::size_t>(c)]);
  for (long j = 0; j < problem.nZ; ++j)
    unpackZ(problem, x, j, values);
  for (long j = 0; j < problem.nA; ++j)
    unpackA(problem, x, j, values);
}

void tfPackMultiplate(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& params,
    tk_MultiplateProblem& problem, double* x) {
  const std::size_t nC = static_cast<std::size_t>(problem.nC);
  problem.cameraUnitValIndices.assign(nC, 0);
  for (std::size_t c = 0; c < nC; ++c) {
    double* block = x + static_cast<long>(c) * problem.cameraBlock;
    const tk3QuaternionXform& pose = params.cameraPoseInverses()[c];
    if (problem.poseOnly) {
      const tk3Quaternion& q = pose.quat();
      problem.cameraUnitValIndices[c] = q.unitValIndex();
      const double v[6] = {q.var1(),         q.var2(),         q.var3(),
                           pose.trans().x(), pose.trans().y(), pose.trans().z()};
      for (int k = 0; k < 6; ++k)
        block[k] = v[k];
    } else {
      tkCameraCalibrationParams camera;
      camera.physicalAtZEquals1FromImageParams(params.physicalAtZEquals1FromImageParams()[c]);
      camera.cameraPoseInverse(pose);
      problem.cameraUnitValIndices[c] = tfPackCameraParams(camera, block);
    }
  }
  for (long j = 1; j < problem.nZ; ++j) {
    const tk3ZRotationXform& pose = params.calibrationPlatePoses()[static_cast<std::size_t>(j)];
    double* b = x + problem.zStart() + 3 * (j - 1);
    b[0] = std::tan(pose.rotZ() * 0.5);
    b[1] = pose.trans().x();
    b[2] = pose.trans().y();
  }
  problem.arbitraryUnitValIndices.assign(static_cast<std::size_t>(problem.nA), 0);
  for (long j = 0; j < problem.nA; ++j) {
    const tk3QuaternionXform& pose =
        params.arbitraryCalibrationPlatePoses()[static_cast<std::size_t>(j)];
    const tk3Quaternion& q = pose.quat();
    problem.arbitraryUnitValIndices[static_cast<std::size_t>(j)] = q.unitValIndex();
    double* b = x + problem.aStart() + 6 * j;
    const double v[6] = {q.var1(),         q.var2(),         q.var3(),
                         pose.trans().x(), pose.trans().y(), pose.trans().z()};
    for (int k = 0; k < 6; ++k)
      b[k] = v[k];
  }
}
