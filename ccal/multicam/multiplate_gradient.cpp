#include "ccal/multicam/multiplate_gradient.h"

#include "ccal/single/camera_projection.h"
#include "ccal/single/crsp_gradient_terms.h"
#include "ccal/single/sine_tan_cost.h"

#include <proc/c3d_plane.h>
#include <proc/c3d_ptRayGenericPoly.h>
#include <proc/c3d_ptRayZRotGenericPoly.h>
#include <proc/csys_attention.h>
#include <tk/failure.h>
#include <tk/quaternion_partials.h>
#include <tk/real_eq.h>

#include <cmath>

using ccal::detail::CameraOffset;
using ccal::detail::ParameterLayout;

namespace {

void unpackCamera(const tk_MultiplateProblem& problem, const double* x, long c,
                  tk_CameraValues& out) {
  const ParameterLayout& layout = problem.layout;
  layout.unpackCamera(
      x, c, layout.poseOnly() ? &problem.fixedIntrinsics[static_cast<std::size_t>(c)] : nullptr,
      out);
}

void unpackZ(const tk_MultiplateProblem& problem, const double* x, long j,
             tk_MultiplateValues& values) {
  const std::size_t k = static_cast<std::size_t>(j);
  if (j == 0) {
    values.zTanHalf[0] = 0.0;
    values.zPoses[0] = tkXform<3>();
    return;
  }
  values.zTanHalf[k] = x[problem.layout.zRotationStart(j)];
  values.zPoses[k] = problem.layout.zRotationPose(x, j, problem.heights[k]);
}

void unpackA(const tk_MultiplateProblem& problem, const double* x, long j,
             tk_MultiplateValues& values) {
  values.aPoses[static_cast<std::size_t>(j)] = problem.layout.arbitraryPose(x, j);
}

// Σ w·|p − π(X(P))|² over one list.
double listCost(const tk_CameraProjection& camera, const tkXform<3>& plateToWorld,
                const tk_MultiplateList& list) {
  double sum = 0.0;
  for (std::size_t k = 0; k < list.count; ++k) {
    const ccal_crspPair2D3DWeighted& r = list.records[k];
    if (r.w == 0.0)
      continue;
    const tkVector<2> e =
        tkVector<2>(r.p.x, r.p.y) -
        camera.imagePoint(plateToWorld.mapPoint(tkVector<3>(r.P.x, r.P.y, r.P.z)));
    sum += r.w * e.dot(e);
  }
  return sum;
}

struct Selection {
  long ci, zi, ai;
  bool camera(long c) const { return ci == -1 || c == ci; }
  bool zPlacement(long j) const { return ai == -1 && (zi == -1 || j == zi + 1); }
  bool aPlacement(long j) const { return zi == -1 && (ai == -1 || j == ai); }
};

// The camera's world -> camera transform in the procedural layer's form.
cmath_xformLinear3 procXform(const tk_CameraValues& camera) {
  cmath_xformLinear3 worldToCamera;
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b)
      worldToCamera.matrix[a][b] = camera.rotation.element(a, b);
  }
  worldToCamera.trans = {camera.trans.x(), camera.trans.y(), camera.trans.z()};
  return worldToCamera;
}

// Adds one correspondence of camera c seen in a placement with pose plateToWorld: the intrinsic
// term to intrinsicBlock, the pose terms to the camera's and the placement's accumulators (one of
// zAcc, aAcc, or none for placement 0). worldToCamera is procXform(camera).
void addCorrespondence(const ccal_crspPair2D3DWeighted& r, const tk_CameraValues& camera,
                       const cmath_xformLinear3& worldToCamera, const tkXform<3>& plateToWorld,
                       double* intrinsicBlock, c3d_ptRayGenericPoly& cameraAcc,
                       c3d_ptRayZRotGenericPoly* zAcc, c3d_ptRayGenericPoly* aAcc) {
  if (r.w == 0.0)
    return;  // adds exactly nothing
  const tkVector<3> P(r.P.x, r.P.y, r.P.z);
  const tkVector<3> W = plateToWorld.mapPoint(P);
  const tkVector<3> Pc = camera.rotation * W + camera.trans;
  if (tfRealEq(Pc.z(), 0.0, 1e-15))
    return;
  const tkVector<2> q(Pc.x() / Pc.z(), Pc.y() / Pc.z());
  tkVector<2> m;
  tfAddIntrinsicGradientTerm(camera.intrinsic, tkVector<2>(r.p.x, r.p.y), q, r.w, intrinsicBlock,
                             &m);
  const double inverseDepth = 1.0 / Pc.z();
  const double depthWeight = r.w * (inverseDepth * inverseDepth);
  // The two planes through the viewing ray (x − m.x·z = 0, y − m.y·z = 0 in the camera frame):
  // the camera's pose terms as functions of the world point (tfAddPoseTerms), and, pulled back
  // to the world frame, the placement's as functions of the plate point.
  const cmath_vect3 origin = {0.0, 0.0, 0.0};
  const cmath_vect3 direction = {m.x(), m.y(), 1.0};
  cmath_vect3 normals[2];
  double offsets[2];
  tfThrowExceptionOnFailure(
      c3d_computeBothCoordAxesPlanePerpsAndDots(&origin, &direction, normals, offsets));
  tfThrowExceptionOnFailure(c3d_ptRayGenericPoly_addPlanePairWeighted(
      &cameraAcc, W.x(), W.y(), W.z(), normals, offsets, depthWeight));
  if (zAcc == nullptr && aAcc == nullptr)
    return;
  cmath_vect3 worldNormals[2];
  double worldOffsets[2];
  for (int k = 0; k < 2; ++k)
    tfThrowExceptionOnFailure(c3d_pullBackPlane(&worldToCamera, &normals[k], offsets[k],
                                                &worldNormals[k], &worldOffsets[k]));
  if (zAcc != nullptr)
    tfThrowExceptionOnFailure(c3d_ptRayZRotGenericPoly_addPlanePairWeighted(
        zAcc, P.x(), P.y(), P.z(), worldNormals, worldOffsets, depthWeight));
  if (aAcc != nullptr)
    tfThrowExceptionOnFailure(c3d_ptRayGenericPoly_addPlanePairWeighted(
        aAcc, P.x(), P.y(), P.z(), worldNormals, worldOffsets, depthWeight));
}

// Unpacks the cameras and placements of the selection into scratch and clears their
// accumulators. Returns 0 or the negative status of an accumulator.
long prepareSelection(const tk_MultiplateProblem& pr, const double* x, const Selection& sel,
                      tk_MultiplateScratch& scratch) {
  tk_MultiplateValues& values = scratch.values;
  const std::size_t nC = static_cast<std::size_t>(pr.layout.cameras());
  const std::size_t nZ = static_cast<std::size_t>(pr.layout.zRotationPlacements());
  const std::size_t nA = static_cast<std::size_t>(pr.layout.arbitraryPlacements());
  values.cameras.resize(nC);
  values.zPoses.resize(nZ);
  values.zTanHalf.resize(nZ);
  values.aPoses.resize(nA);
  scratch.aXforms.resize(nA);
  scratch.cameras.resize(nC);
  scratch.zPlacements.resize(nZ);
  scratch.aPlacements.resize(nA);
  for (long c = 0; c < pr.layout.cameras(); ++c) {
    if (!sel.camera(c))
      continue;
    unpackCamera(pr, x, c, values.cameras[static_cast<std::size_t>(c)]);
    const cstd_status s = c3d_ptRayGenericPoly_init(&scratch.cameras[static_cast<std::size_t>(c)]);
    if (s < 0)
      return s;
  }
  for (long j = 0; j < pr.layout.zRotationPlacements(); ++j) {
    if (!sel.zPlacement(j))
      continue;
    unpackZ(pr, x, j, values);
    const cstd_status s =
        c3d_ptRayZRotGenericPoly_init(&scratch.zPlacements[static_cast<std::size_t>(j)]);
    if (s < 0)
      return s;
  }
  for (long j = 0; j < pr.layout.arbitraryPlacements(); ++j) {
    if (!sel.aPlacement(j))
      continue;
    unpackA(pr, x, j, values);
    scratch.aXforms[static_cast<std::size_t>(j)] =
        values.aPoses[static_cast<std::size_t>(j)].xform();
    const cstd_status s =
        c3d_ptRayGenericPoly_init(&scratch.aPlacements[static_cast<std::size_t>(j)]);
    if (s < 0)
      return s;
  }
  return 0;
}

long analyticGradient(const tk_MultiplateProblem& pr, const double* x, double* f,
                      const Selection& sel, tk_MultiplateScratch& scratch) {
  const long prepared = prepareSelection(pr, x, sel, scratch);
  if (prepared < 0)
    return prepared;
  const tk_MultiplateValues& values = scratch.values;
  tk_MultiplateScratch& acc = scratch;
  const long attention = csys_attention_check();
  if (attention < 0)
    return attention;

  double unusedIntrinsic[CameraOffset::kMaxSize] = {};  // pose-only: intrinsic terms dropped
  const std::size_t nC = static_cast<std::size_t>(pr.layout.cameras());
  for (std::size_t c = 0; c < nC; ++c) {
    if (!sel.camera(static_cast<long>(c)))
      continue;
    const tk_CameraValues& camera = values.cameras[c];
    const cmath_xformLinear3 worldToCamera = procXform(camera);
    double* block =
        pr.layout.poseOnly() ? unusedIntrinsic : f + pr.layout.cameraStart(static_cast<long>(c));
    for (std::size_t j = 0; j < static_cast<std::size_t>(pr.layout.zRotationPlacements()); ++j) {
      if (!sel.zPlacement(static_cast<long>(j)))
        continue;
      const tk_MultiplateList& list = pr.zLists[j * nC + c];
      c3d_ptRayZRotGenericPoly* zAcc = j == 0 ? nullptr : &acc.zPlacements[j];
      for (std::size_t k = 0; k < list.count; ++k)
        addCorrespondence(list.records[k], camera, worldToCamera, values.zPoses[j], block,
                          acc.cameras[c], zAcc, nullptr);
    }
    for (std::size_t j = 0; j < static_cast<std::size_t>(pr.layout.arbitraryPlacements()); ++j) {
      if (!sel.aPlacement(static_cast<long>(j)))
        continue;
      const tk_MultiplateList& list = pr.aLists[j * nC + c];
      const tkXform<3>& pose = scratch.aXforms[j];
      for (std::size_t k = 0; k < list.count; ++k)
        addCorrespondence(list.records[k], camera, worldToCamera, pose, block, acc.cameras[c],
                          nullptr, &acc.aPlacements[j]);
    }
  }

  const long poseOffset = pr.layout.cameraPoseOffset();
  double partials[6];
  for (std::size_t c = 0; c < nC; ++c) {
    if (!sel.camera(static_cast<long>(c)))
      continue;
    const tk_CameraValues& camera = values.cameras[c];
    tfGetQuaternionPartialDerivatives(tk3QuaternionXform(camera.quat, camera.trans),
                                      pr.layout.cameraUnitValIndices()[c], acc.cameras[c],
                                      partials);
    for (int k = 0; k < 6; ++k)
      f[pr.layout.cameraStart(static_cast<long>(c)) + poseOffset + k] = partials[k];
  }
  for (std::size_t j = 1; j < static_cast<std::size_t>(pr.layout.zRotationPlacements()); ++j) {
    if (!sel.zPlacement(static_cast<long>(j)))
      continue;
    const tkVector<3>& t = values.zPoses[j].trans();
    const double tau = values.zTanHalf[j];
    double* out = f + pr.layout.zRotationStart(static_cast<long>(j));
    double dtz = 0.0;
    tfThrowExceptionOnFailure(
        c3d_ptRayZRotGenericPoly_DT(&acc.zPlacements[j], tau, t.x(), t.y(), t.z(), &out[0]));
    tfThrowExceptionOnFailure(
        c3d_ptRayZRotGenericPoly_DTX(&acc.zPlacements[j], tau, t.x(), t.y(), t.z(), &out[1]));
    tfThrowExceptionOnFailure(
        c3d_ptRayZRotGenericPoly_DTY(&acc.zPlacements[j], tau, t.x(), t.y(), t.z(), &out[2]));
    tfThrowExceptionOnFailure(
        c3d_ptRayZRotGenericPoly_DTZ(&acc.zPlacements[j], tau, t.x(), t.y(), t.z(), &dtz));
  }
  for (std::size_t j = 0; j < static_cast<std::size_t>(pr.layout.arbitraryPlacements()); ++j) {
    if (!sel.aPlacement(static_cast<long>(j)))
      continue;
    tfGetQuaternionPartialDerivatives(values.aPoses[j], pr.layout.arbitraryUnitValIndices()[j],
                                      acc.aPlacements[j], partials);
    for (int k = 0; k < 6; ++k)
      f[pr.layout.arbitraryStart(static_cast<long>(j)) + k] = partials[k];
  }
  return 0;
}

long numericalGradient(const tk_MultiplateProblem& pr, const double* x, double* f,
                       const Selection& sel) {
  const double delta = 1e-8;
  const long n = pr.size();
  const std::size_t nC = static_cast<std::size_t>(pr.layout.cameras());
  tk_MultiplateValues values;
  pr.unpack(x, values);
  std::vector<tk_CameraProjection> cameras;
  cameras.reserve(nC);
  for (std::size_t c = 0; c < nC; ++c)
    cameras.emplace_back(values.cameras[c]);
  std::vector<tkXform<3>> aPoses;
  for (const tk3QuaternionXform& pose : values.aPoses)
    aPoses.push_back(pose.xform());

  // Camera rows: the 2·17 costs of a camera in one pass over its selected lists.
  tk_SineTanCentralCameras central;
  for (std::size_t c = 0; c < nC; ++c) {
    if (!sel.camera(static_cast<long>(c)))
      continue;
    const long b = pr.layout.cameraStart(static_cast<long>(c));
    tfPrepareSineTanCentralCameras(x + b, pr.layout.cameraUnitValIndices()[c], delta, central);
    double sums[2 * CameraOffset::kMaxSize] = {};
    for (std::size_t j = 0; j < static_cast<std::size_t>(pr.layout.zRotationPlacements()); ++j)
      if (sel.zPlacement(static_cast<long>(j)))
        tfAddSineTanCentralCosts(central, pr.zLists[j * nC + c].records,
                                 pr.zLists[j * nC + c].count, &values.zPoses[j], sums);
    for (std::size_t j = 0; j < static_cast<std::size_t>(pr.layout.arbitraryPlacements()); ++j)
      if (sel.aPlacement(static_cast<long>(j)))
        tfAddSineTanCentralCosts(central, pr.aLists[j * nC + c].records,
                                 pr.aLists[j * nC + c].count, &aPoses[j], sums);
    for (long i = 0; i < pr.layout.cameraBlockSize(); ++i)
      f[b + i] = (sums[2 * i] - sums[2 * i + 1]) / delta;
  }

  // Placement rows.
  std::vector<double> moved(x, x + n);
  for (long m = pr.layout.cameraStart(pr.layout.cameras()); m < n; ++m) {
    const ParameterLayout::Block block = pr.layout.blockOf(m);
    const long cm = block.kind == ParameterLayout::Kind::kCamera ? block.index : -1;
    const long zm = block.kind == ParameterLayout::Kind::kZRotation ? block.index - 1 : -1;
    const long am = block.kind == ParameterLayout::Kind::kArbitrary ? block.index : -1;
    if ((sel.ci != -1 && cm != -1 && sel.ci != cm) || (sel.zi != -1 && zm != -1 && sel.zi != zm) ||
        (sel.zi != -1 && am != -1) || (sel.ai != -1 && zm != -1) ||
        (sel.ai != -1 && am != -1 && sel.ai != am))
      continue;
    double cost[2] = {0.0, 0.0};
    for (int side = 0; side < 2; ++side) {
      moved[static_cast<std::size_t>(m)] = side == 0 ? x[m] + delta : x[m] - delta;
      if (zm != -1) {
        const long j = zm + 1;
        const tkXform<3> pose =
            pr.layout.zRotationPose(moved.data(), j, pr.heights[static_cast<std::size_t>(j)]);
        for (std::size_t c = 0; c < nC; ++c)
          if (sel.camera(static_cast<long>(c)))
            cost[side] +=
                listCost(cameras[c], pose, pr.zLists[static_cast<std::size_t>(j) * nC + c]);
      } else if (am != -1) {
        const tkXform<3> pose = pr.layout.arbitraryPose(moved.data(), am).xform();
        for (std::size_t c = 0; c < nC; ++c)
          if (sel.camera(static_cast<long>(c)))
            cost[side] +=
                listCost(cameras[c], pose, pr.aLists[static_cast<std::size_t>(am) * nC + c]);
      }
    }
    moved[static_cast<std::size_t>(m)] = x[m];
    f[m] = (cost[0] - cost[1]) / delta;
  }
  return 0;
}

}  // namespace

long tfMultiplateGradient(const tk_MultiplateProblem& problem, const double* x, double* f,
                          long index, tk_MultiplateScratch& scratch) {
  const ParameterLayout::Block block = problem.layout.blockOf(index);
  Selection sel;
  sel.ci = block.kind == ParameterLayout::Kind::kCamera ? block.index : -1;
  sel.zi = block.kind == ParameterLayout::Kind::kZRotation ? block.index - 1 : -1;
  sel.ai = block.kind == ParameterLayout::Kind::kArbitrary ? block.index : -1;
  if (!problem.layout.poseOnly() && problem.layout.model() == tk2XformCalib2Defs::eSineTan)
    return numericalGradient(problem, x, f, sel);
  return analyticGradient(problem, x, f, sel, scratch);
}

long tfMultiplateGradient(const tk_MultiplateProblem& problem, const double* x, double* f,
                          long index) {
  tk_MultiplateScratch scratch;
  return tfMultiplateGradient(problem, x, f, index, scratch);
}

double tfMultiplateCost(const tk_MultiplateProblem& problem, const double* x) {
  tk_MultiplateValues values;
  problem.unpack(x, values);
  const std::size_t nC = static_cast<std::size_t>(problem.layout.cameras());
  double sum = 0.0;
  for (std::size_t c = 0; c < nC; ++c) {
    const tk_CameraProjection projection(values.cameras[c]);
    for (std::size_t j = 0; j < values.zPoses.size(); ++j)
      sum += listCost(projection, values.zPoses[j], problem.zLists[j * nC + c]);
    for (std::size_t j = 0; j < values.aPoses.size(); ++j)
      sum += listCost(projection, values.aPoses[j].xform(), problem.aLists[j * nC + c]);
  }
  return sum;
}
