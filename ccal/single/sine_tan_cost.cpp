#include "ccal/single/sine_tan_cost.h"

#include <cmath>

using ccal::detail::CameraOffset;
using ccal::detail::ParameterLayout;

namespace {

inline tkVector<2> imagePoint(const tk_SineTanCamera& camera, const tkVector<2>& distortedPoint) {
  return camera.singular ? tkVector<2>(0.0, 0.0)
                         : camera.imageFromDistorted.mapPoint(distortedPoint);
}

}  // namespace

void tfPrepareSineTanCamera(const tk_CameraValues& values, tk_SineTanCamera& camera) {
  const tk_IntrinsicValues& v = values.intrinsic;
  camera.rotation = values.rotation;
  camera.trans = values.trans;
  camera.cx = v.cx;
  camera.cy = v.cy;
  for (int i = 0; i < 4; ++i)
    camera.lens[i] = v.lens[i];
  const tk2XformLinear distortedFromImage(tkMatrix<2>(v.sx, v.skew, 0.0, v.sy),
                                          tkVector<2>(v.tx, v.ty));
  camera.singular = distortedFromImage.matrix().isSingular();
  if (!camera.singular)
    camera.imageFromDistorted = distortedFromImage.inverse();
}

void tfPrepareSineTanCentralCameras(const double* block, int unitValIndex, double h,
                                    tk_SineTanCentralCameras& cameras) {
  const int n = CameraOffset::kMaxSize;
  double perturbed[CameraOffset::kMaxSize];
  tk_CameraValues values;
  for (int i = 0; i < n; ++i)
    perturbed[i] = block[i];
  ParameterLayout::unpackCameraBlock(perturbed, unitValIndex, tk2XformCalib2Defs::eSineTan, values);
  tfPrepareSineTanCamera(values, cameras.at[0]);
  for (int i = 0; i < n; ++i) {
    for (int sign = 0; sign < 2; ++sign) {
      perturbed[i] = sign == 0 ? block[i] + h : block[i] - h;
      ParameterLayout::unpackCameraBlock(perturbed, unitValIndex, tk2XformCalib2Defs::eSineTan,
                                         values);
      tfPrepareSineTanCamera(values, cameras.at[1 + 2 * i + sign]);
    }
    perturbed[i] = block[i];
  }
}

void tfAddSineTanCentralCosts(const tk_SineTanCentralCameras& cameras,
                              const ccal_crspPair2D3DWeighted* records, std::size_t count,
                              const tkXform<3>* plateToWorld, double* sums) {
  tkVector<2> projected[2 * CameraOffset::kMaxSize];
  for (std::size_t k = 0; k < count; ++k) {
    const ccal_crspPair2D3DWeighted& r = records[k];
    if (r.w == 0.0)
      continue;  // adds exactly nothing
    const tkVector<2> p(r.p.x, r.p.y);
    const tkVector<3> plate(r.P.x, r.P.y, r.P.z);
    tfSineTanCentralImagePoints(
        cameras.at, plateToWorld != nullptr ? plateToWorld->mapPoint(plate) : plate, projected);
    for (int i = 0; i < 2 * CameraOffset::kMaxSize; ++i) {
      const tkVector<2> e = p - projected[i];
      sums[i] += r.w * e.dot(e);
    }
  }
}

tkVector<2> tfSineTanCentralImagePoints(const tk_SineTanCamera* camera, const tkVector<3>& P,
                                        tkVector<2>* projected) {
  const tk_SineTanCamera& base = camera[0];
  const tkVector<2> q = tfSineTanPositionAtZ1(base, P);
  tk_SineTanLensStage s;
  tfSineTanLensStage(base, q.x(), q.y(), s);
  const tkVector<2> d = tfSineTanDistorted(base, s, s.tanTerm, s.sinTerm);
  // Linear map: only L⁻¹ changes.
  for (int k = 2 * CameraOffset::kTranslationX; k <= 2 * CameraOffset::kSkew + 1; ++k)
    projected[k] = imagePoint(camera[1 + k], d);
  // Pose: the whole projection.
  for (int k = 2 * CameraOffset::kQuatVar1; k < 2 * CameraOffset::kCenterX; ++k)
    projected[k] = tfSineTanImagePoint(camera[1 + k], P);
  // Centre of expansion: the lens stage from q on.
  for (int k = 2 * CameraOffset::kCenterX; k <= 2 * CameraOffset::kCenterY + 1; ++k) {
    const tk_SineTanCamera& c = camera[1 + k];
    tk_SineTanLensStage moved;
    tfSineTanLensStage(c, q.x(), q.y(), moved);
    projected[k] = imagePoint(c, tfSineTanDistorted(c, moved, moved.tanTerm, moved.sinTerm));
  }
  // Lens values: p0 and p2 only weigh the two radius terms, p1 and p3 change one of them.
  for (int j = 0; j < 4; ++j)
    for (int sign = 0; sign < 2; ++sign) {
      const int k = 2 * (CameraOffset::kLensFirst + j) + sign;
      const tk_SineTanCamera& c = camera[1 + k];
      double tanTerm = s.tanTerm, sinTerm = s.sinTerm;
      if (j == 1)
        tanTerm = s.atCentre ? 0.0 : std::tan(s.theta / c.lens[1]);
      if (j == 3)
        sinTerm = s.atCentre ? 0.0 : std::sin(s.theta / c.lens[3]);
      projected[k] = imagePoint(c, tfSineTanDistorted(c, s, tanTerm, sinTerm));
    }
  return imagePoint(base, d);
}
