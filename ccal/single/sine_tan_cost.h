// The sine-tangent image cost in stages, for the numerical gradients of the solvers that refine
// sine-tangent cameras (single-camera refinement, multi-plate calibration).
//
// The projection P -> image is split where parameters enter: the pose gives the position at
// Z = 1 q; the lens stage gives e = q − c, r = |e|, θ = atan2(r, 1) and the two radius terms
// tan(θ/p1), sin(θ/p3); r_d = p0·tan(θ/p1) + p2·sin(θ/p3) gives the distorted point
// d = c + e·(1/r)·r_d (c itself when |r| < 1e-15); L⁻¹ gives the image point. Each stage uses the
// arithmetic of ccal_lensDistortion_distort and tk_CameraProjection, so a staged cost equals the
// plain one bit for bit.
//
// tfAddSineTanCentralCosts evaluates, in one pass over the points, the 2n costs of a camera block
// moved by ±h along each of its n = 17 values, each point reusing the stages of its projection
// that a value does not reach (a linear-map value only changes L⁻¹, p0 and p2 only weigh the two
// radius terms, p1 and p3 change one of them, the centre of expansion the lens stage, the pose
// everything). No allocation.
#ifndef CCAL_SINGLE_SINE_TAN_COST_H
#define CCAL_SINGLE_SINE_TAN_COST_H

#include "ccal/problem/parameter_layout.h"

#include <proc/ccal_crspPair2D3DWeighted.h>
#include <tk/matrix.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>

#include <cmath>
#include <cstddef>

// One sine-tangent camera, ready for projecting.
struct tk_SineTanCamera {
  tkMatrix<3> rotation;
  tkVector<3> trans;
  double cx = 0.0, cy = 0.0;
  double lens[4] = {1.0, 1.0, 1.0, 1.0};
  bool singular = false;  // L not invertible: every point projects to (0, 0)
  tk2XformLinear imageFromDistorted;
};

void tfPrepareSineTanCamera(const tk_CameraValues& values, tk_SineTanCamera& camera);

// The lens stage of one point: e = q − c, r = |e|, θ = atan2(r, 1) and the two radius terms.
struct tk_SineTanLensStage {
  double ex, ey, r, theta, tanTerm, sinTerm;
  bool atCentre;
};

inline void tfSineTanLensStage(const tk_SineTanCamera& camera, double qx, double qy,
                               tk_SineTanLensStage& s) {
  s.ex = qx - camera.cx;
  s.ey = qy - camera.cy;
  s.r = std::sqrt(s.ex * s.ex + s.ey * s.ey);
  s.atCentre = std::fabs(s.r) < 1e-15;
  s.theta = 0.0;
  s.tanTerm = 0.0;
  s.sinTerm = 0.0;
  if (!s.atCentre) {
    s.theta = std::atan2(s.r, 1.0);
    s.tanTerm = std::tan(s.theta / camera.lens[1]);
    s.sinTerm = std::sin(s.theta / camera.lens[3]);
  }
}

// The distorted point of a lens stage with the given radius terms.
inline tkVector<2> tfSineTanDistorted(const tk_SineTanCamera& camera, const tk_SineTanLensStage& s,
                                      double tanTerm, double sinTerm) {
  if (s.atCentre)
    return tkVector<2>(camera.cx, camera.cy);
  const double rd = camera.lens[0] * tanTerm + camera.lens[2] * sinTerm;
  return tkVector<2>(camera.cx + s.ex * (1.0 / s.r) * rd, camera.cy + s.ey * (1.0 / s.r) * rd);
}

// The position at Z = 1 of a physical point.
inline tkVector<2> tfSineTanPositionAtZ1(const tk_SineTanCamera& camera,
                                         const tkVector<3>& physicalPoint) {
  const tkVector<3> Pc = camera.rotation * physicalPoint + camera.trans;
  return tkVector<2>(Pc.x() / Pc.z(), Pc.y() / Pc.z());
}

// The cameras of one central-difference pass: [0] at x, [1 + 2i] at x + h·eᵢ and [2 + 2i] at
// x − h·eᵢ, for the ccal::detail::CameraOffset::kMaxSize values of a sine-tangent camera block.
struct tk_SineTanCentralCameras {
  tk_SineTanCamera at[1 + 2 * ccal::detail::CameraOffset::kMaxSize];
};

// Fills cameras from the camera block `block` (unpacked with unitValIndex) moved by ±h.
void tfPrepareSineTanCentralCameras(const double* block, int unitValIndex, double h,
                                    tk_SineTanCentralCameras& cameras);

// The image point of a physical point (the cost's stages in one; (0, 0) for a singular camera).
inline tkVector<2> tfSineTanImagePoint(const tk_SineTanCamera& camera,
                                       const tkVector<3>& physicalPoint) {
  const tkVector<2> q = tfSineTanPositionAtZ1(camera, physicalPoint);
  tk_SineTanLensStage s;
  tfSineTanLensStage(camera, q.x(), q.y(), s);
  const tkVector<2> d = tfSineTanDistorted(camera, s, s.tanTerm, s.sinTerm);
  return camera.singular ? tkVector<2>(0.0, 0.0) : camera.imageFromDistorted.mapPoint(d);
}

// Image points of one physical point P under the 2n moved cameras of a central-difference pass
// (camera[0] at x, camera[1 + 2i] at x + h·eᵢ, camera[2 + 2i] at x − h·eᵢ, as in
// tk_SineTanCentralCameras): projected[2i] and projected[2i + 1], each reusing the stages the
// value does not reach. Returns the image point under camera[0].
tkVector<2> tfSineTanCentralImagePoints(const tk_SineTanCamera* camera, const tkVector<3>& P,
                                        tkVector<2>* projected);

// Adds to sums[2i] and sums[2i + 1] the weighted costs Σ w·|p − image(P')| of the records under
// cameras.at[1 + 2i] and cameras.at[2 + 2i], with P' = plateToWorld(P) (P itself when
// plateToWorld is null). Records of weight 0 add nothing.
void tfAddSineTanCentralCosts(const tk_SineTanCentralCameras& cameras,
                              const ccal_crspPair2D3DWeighted* records, std::size_t count,
                              const tkXform<3>* plateToWorld, double* sums);

#endif
