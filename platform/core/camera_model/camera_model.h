// Internal: the area-scan camera model, the one projection of the library, with analytic first
// derivatives.
//
// Frames and directions:
//   camera-frame point Pc -> position at Z = 1  q = (Pc.x/Pc.z, Pc.y/Pc.z)
//   q -> distorted normalised point d            (lens.h)
//   d -> image point p = L⁻¹(d), where the linear map L (image -> distorted plane) is
//        d.x = sx·p.x + skew·p.y + tx,   d.y = sy·p.y + ty.
// The back direction is p -> d = L(p) -> q (undistortion).
//
// Two ways to hold the linear stage, one projection:
// - from L (the constructor): the forward direction applies L⁻¹ = tkXform's inverse of L;
// - from its inverse, the forward map p = A·d + t with A = [[a00, a01], [0, a11]]
//   (fromImageFromDistorted()): the forward direction applies (A, t) exactly as given and L is
//   their inverse, for the back direction. The planar calibration optimises (A, t) this way.
// Either way the derivatives of the forward direction with respect to the linear stage come in
// either parameterisation (LinearValues), chosen by the caller at compile time.
//
// Intrinsic values, in the order of every byIntrinsics row:
//   0 tx, 1 ty, 2 sx, 3 sy, 4 skew (L), 5 cx, 6 cy (centre of expansion), 7.. the lens values
//   (1 radial, 4 sine-tangent; the columns past the model's count stay 0).
//   Under LinearValues::kImageFromDistorted columns 0..4 are instead t.x, t.y, a00, a11, a01 of
//   the forward map (A, t); the other columns do not depend on the choice.
// The solvers' camera block (ccal/problem/parameter_layout.h) holds them at offsets 0..4 and 11..
// (the pose sits at 5..10): intrinsicBlockOffset() maps one to the other.
//
// Values: the lens stage comes from the procedural kernels and L⁻¹ is the inverse transform of
// tkXform (tkMatrix::inverse), so every value equals what tkPhysicalAtZEquals1FromImageParams
// and the calibrated transform compute, bit for bit. A model built from (A, t) evaluates
// p.x = (a00·d.x + a01·d.y) + t.x, p.y = a11·d.y + t.y (the products and sums of tkXform).
//
// Degenerate spots:
// - singular L: the forward direction gives the image point (0, 0) with zero derivatives and
//   reports it (the back direction does not need L⁻¹ and is unaffected);
// - singular A (fromImageFromDistorted()): the same in the forward direction; no L exists, the
//   model holds the identity there and the back direction must not be used (check singular());
// - Pc.z not positive: project() still evaluates the formula when Pc.z ≠ 0 (a point behind the
//   camera maps through the centre) and reports kNotInFront; at Pc.z = 0 the outputs are left
//   untouched and kAtDepthZero is reported;
// - the lens stage's spots are those of lens.h.
#ifndef CCAL_CORE_CAMERA_MODEL_CAMERA_MODEL_H
#define CCAL_CORE_CAMERA_MODEL_CAMERA_MODEL_H

#include "platform/core/camera_model/lens.h"
#include "platform/core/force_inline.h"

#include <tk/matrix.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <cstdint>

namespace ccal::detail {

constexpr int kIntrinsicValues = 11;
enum IntrinsicIndex : int {
  kTx = 0,
  kTy = 1,
  kSx = 2,
  kSy = 3,
  kSkew = 4,
  kCx = 5,
  kCy = 6,
  kLensValue0 = 7
};

// Offset of intrinsic value i in the solvers' camera block.
constexpr int intrinsicBlockOffset(int i) {
  return i < kCx ? i : i + 6;
}

// The intrinsic values of one camera.
struct CameraIntrinsics {
  double tx = 0.0, ty = 0.0, sx = 1.0, sy = 1.0, skew = 0.0;
  Lens lens;
};

// Derivatives of a two-valued output (row 0: x, row 1: y) with respect to the intrinsic values
// and to the input point (Pc: three columns; a plane point: the first two, the third 0).
struct ModelJacobian {
  double byIntrinsics[2][kIntrinsicValues];
  double byPoint[2][3];
};

// d = L(p).
inline void distortedFromImage(const CameraIntrinsics& v, const double p[2], double d[2]) {
  d[0] = v.sx * p[0] + v.skew * p[1] + v.tx;
  d[1] = v.sy * p[1] + v.ty;
}

// positionAtZ1FromImage under eNoDistortion and eRadial with derivatives, in closed form: q = d +
// k·r²·e with d = L(p), e = d − c, r² = |e|² (k = 0 without distortion), the values as the lens
// kernel computes them. d q/d d = (1 + k·r²)·I + 2k·e·eᵀ = U, d q/d c = I − U, d q/d k = r²·e.
CCAL_FORCE_INLINE void radialPositionAtZ1(const CameraIntrinsics& v, const double image[2],
                                          double q[2], ModelJacobian& J) {
  double d[2];
  distortedFromImage(v, image, d);
  const bool radial = v.lens.model == CCAL_DISTORTION_RADIAL;
  const double k = radial ? v.lens.values[0] : 0.0;
  const double ex = d[0] - v.lens.cx;
  const double ey = d[1] - v.lens.cy;
  const double r2 = ex * ex + ey * ey;
  if (radial) {
    const double scale = k * r2;
    q[0] = d[0] + scale * ex;
    q[1] = d[1] + scale * ey;
  } else {
    q[0] = d[0];
    q[1] = d[1];
  }
  const double h = 1.0 + k * r2, cross = 2.0 * k;
  const double u[2][2] = {{h + cross * ex * ex, cross * ex * ey},
                          {cross * ey * ex, h + cross * ey * ey}};
  for (int r = 0; r < 2; ++r) {
    const double u0 = u[r][0], u1 = u[r][1];
    J.byIntrinsics[r][kTx] = u0;
    J.byIntrinsics[r][kTy] = u1;
    J.byIntrinsics[r][kSx] = u0 * image[0];
    J.byIntrinsics[r][kSy] = u1 * image[1];
    J.byIntrinsics[r][kSkew] = u0 * image[1];
    J.byIntrinsics[r][kCx] = (r == 0 ? 1.0 : 0.0) - u0;
    J.byIntrinsics[r][kCy] = (r == 1 ? 1.0 : 0.0) - u1;
    J.byIntrinsics[r][kLensValue0] = radial ? r2 * (r == 0 ? ex : ey) : 0.0;
    for (int c = 1; c < 4; ++c)
      J.byIntrinsics[r][kLensValue0 + c] = 0.0;
    J.byPoint[r][0] = u0 * v.sx;
    J.byPoint[r][1] = u0 * v.skew + u1 * v.sy;
    J.byPoint[r][2] = 0.0;
  }
}

// positionAtZ1FromImage through the lens stage's kernel: every lens, with or without derivatives.
std::int32_t positionAtZ1FromImageByLens(const CameraIntrinsics& intrinsics, const double image[2],
                                         double q[2], ModelJacobian* jacobian);

// Image point -> position at Z = 1 (the back direction needs no L⁻¹). Returns 0 or the negative
// status of the lens stage (q and the jacobian untouched). byPoint is d q / d p. With derivatives
// under eNoDistortion and eRadial in closed form, inline.
CCAL_FORCE_INLINE std::int32_t positionAtZ1FromImage(const CameraIntrinsics& intrinsics,
                                                     const double image[2], double q[2],
                                                     ModelJacobian* jacobian) {
  if (jacobian != nullptr && (intrinsics.lens.model == CCAL_DISTORTION_NONE ||
                              intrinsics.lens.model == CCAL_DISTORTION_RADIAL)) {
    radialPositionAtZ1(intrinsics, image, q, *jacobian);
    return 0;
  }
  return positionAtZ1FromImageByLens(intrinsics, image, q, jacobian);
}

enum class ProjectionStatus { kOk, kNotInFront, kAtDepthZero, kSingularLinearMap };

// Two doubles in lanes (the GCC/Clang vector extension): the operations act on both at once,
// each rounded as the scalar operation.
typedef double LanePair __attribute__((vector_size(2 * sizeof(double))));

// Which values of the linear stage the columns kTx..kSkew of a forward derivative refer to: those
// of L (the solvers' camera block) or those of the forward map (A, t). The choice also fixes the
// rounding of the perspective division in project(): q = Pc.xy / Pc.z under kDistortedFromImage
// (bit for bit the calibrated transform's), q = Pc.xy · (1 / Pc.z) under kImageFromDistorted (the
// planar calibration's and the pose refinement's arithmetic, on which their stopping at the
// rounding floor of the merit depends).
enum class LinearValues { kDistortedFromImage, kImageFromDistorted };

// One camera's intrinsics prepared for projecting many points (L⁻¹ held). Copyable, no
// allocation, no virtual call.
class CameraModel {
 public:
  CameraModel() : CameraModel(CameraIntrinsics()) {}
  explicit CameraModel(const CameraIntrinsics& intrinsics)
      : intrinsics_(intrinsics), inverseSx_(1.0 / intrinsics.sx), inverseSy_(1.0 / intrinsics.sy) {
    const tk2XformLinear distortedFromImage(
        tkMatrix<2>(intrinsics.sx, intrinsics.skew, 0.0, intrinsics.sy),
        tkVector<2>(intrinsics.tx, intrinsics.ty));
    singular_ = distortedFromImage.matrix().isSingular();
    if (!singular_)
      imageFromDistorted_ = distortedFromImage.inverse();
  }

  // The model whose forward linear stage is imageFromDistorted (p = A·d + t), held exactly;
  // L = its inverse. Throws tkInvariantFailure when A's lower-left entry is not 0 (L would not
  // have the form above).
  static CameraModel fromImageFromDistorted(const tk2XformLinear& imageFromDistorted,
                                            const Lens& lens);

  const CameraIntrinsics& intrinsics() const { return intrinsics_; }
  // 1/sx and 1/sy (infinite for a zero scale).
  double inverseSx() const { return inverseSx_; }
  double inverseSy() const { return inverseSy_; }
  // True when the linear stage is singular (tkMatrix::isSingular of L, or of A when built from it).
  bool singular() const { return singular_; }
  // L⁻¹, or the map given to fromImageFromDistorted() (the identity when singular()).
  const tk2XformLinear& imageFromDistorted() const { return imageFromDistorted_; }

  // d = L(p).
  void distortedFromImage(const double p[2], double d[2]) const {
    ccal::detail::distortedFromImage(intrinsics_, p, d);
  }

  // Position at Z = 1 -> image point. false (image (0, 0), zero derivatives) when singular().
  template <LinearValues kLinear = LinearValues::kDistortedFromImage>
  bool imageFromPositionAtZ1(const double q[2], double image[2], ModelJacobian* jacobian) const;

  // Camera-frame point -> image point (see the top of this file for the statuses).
  template <LinearValues kLinear = LinearValues::kDistortedFromImage>
  ProjectionStatus project(const double pc[3], double image[2], ModelJacobian* jacobian) const;

  // project() (kDistortedFromImage, without derivatives) of two camera-frame points at once,
  // their coordinates in lanes, bit for bit. False, with the outputs untouched, where a point
  // needs the one-point form: a lens other than none and radial, a singular linear stage, a
  // depth of 0, a radial distortion beyond the weak range of radial_distortion.h.
  bool projectLanes(const LanePair& x, const LanePair& y, const LanePair& z, LanePair& imageX,
                    LanePair& imageY) const;

  // Image point -> position at Z = 1 (the free function of that name).
  CCAL_FORCE_INLINE std::int32_t positionAtZ1FromImage(const double image[2], double q[2],
                                                       ModelJacobian* jacobian) const {
    return ccal::detail::positionAtZ1FromImage(intrinsics_, image, q, jacobian);
  }

 private:
  CameraModel(const tk2XformLinear& imageFromDistorted, const Lens& lens);

  CameraIntrinsics intrinsics_;
  double inverseSx_ = 1.0, inverseSy_ = 1.0;
  bool singular_ = false;
  tk2XformLinear imageFromDistorted_;
};

// ---- implementation ------------------------------------------------------------------------

template <LinearValues kLinear>
inline bool CameraModel::imageFromPositionAtZ1(const double q[2], double image[2],
                                               ModelJacobian* jacobian) const {
  LensJacobian lens;
  double d[2];
  distort(intrinsics_.lens, q, d, jacobian != nullptr ? &lens : nullptr);
  if (jacobian != nullptr)
    *jacobian = ModelJacobian{};
  if (singular_) {
    image[0] = image[1] = 0.0;
    return false;
  }
  const tkVector<2> p = imageFromDistorted_.mapPoint(tkVector<2>(d[0], d[1]));
  image[0] = p.x();
  image[1] = p.y();
  if (jacobian == nullptr)
    return true;
  // p = L⁻¹(d) = A·d + t: d p/d d = A; for an L value θ, with d fixed, L's matrix·dp +
  // (∂L/∂θ)(p) = 0; for a value of (A, t) the derivative is that of A·d + t.
  const tkMatrix<2>& Ai = imageFromDistorted_.matrix();
  const double a00 = Ai.element(0, 0), a01 = Ai.element(0, 1);
  const double a10 = Ai.element(1, 0), a11 = Ai.element(1, 1);
  ModelJacobian& J = *jacobian;
  if constexpr (kLinear == LinearValues::kDistortedFromImage) {
    const double byL[2][5] = {{1.0, 0.0, p.x(), 0.0, p.y()}, {0.0, 1.0, 0.0, p.y(), 0.0}};
    for (int i = 0; i < 5; ++i) {
      J.byIntrinsics[0][i] = -(a00 * byL[0][i] + a01 * byL[1][i]);
      J.byIntrinsics[1][i] = -(a10 * byL[0][i] + a11 * byL[1][i]);
    }
  } else {
    J.byIntrinsics[0][kTx] = 1.0;
    J.byIntrinsics[1][kTy] = 1.0;
    J.byIntrinsics[0][kSx] = d[0];
    J.byIntrinsics[1][kSy] = d[1];
    J.byIntrinsics[0][kSkew] = d[1];
  }
  for (int c = 0; c < 2; ++c) {
    J.byIntrinsics[0][kCx + c] = a00 * lens.byCentre[0][c] + a01 * lens.byCentre[1][c];
    J.byIntrinsics[1][kCx + c] = a10 * lens.byCentre[0][c] + a11 * lens.byCentre[1][c];
    J.byPoint[0][c] = a00 * lens.byPoint[0][c] + a01 * lens.byPoint[1][c];
    J.byPoint[1][c] = a10 * lens.byPoint[0][c] + a11 * lens.byPoint[1][c];
  }
  for (int c = 0; c < 4; ++c) {
    J.byIntrinsics[0][kLensValue0 + c] = a00 * lens.byValues[0][c] + a01 * lens.byValues[1][c];
    J.byIntrinsics[1][kLensValue0 + c] = a10 * lens.byValues[0][c] + a11 * lens.byValues[1][c];
  }
  return true;
}

template <LinearValues kLinear>
inline ProjectionStatus CameraModel::project(const double pc[3], double image[2],
                                             ModelJacobian* jacobian) const {
  if (pc[2] == 0.0)
    return ProjectionStatus::kAtDepthZero;
  double q[2];
  if constexpr (kLinear == LinearValues::kDistortedFromImage) {
    q[0] = pc[0] / pc[2];
    q[1] = pc[1] / pc[2];
  } else {
    const double inverseZ = 1.0 / pc[2];
    q[0] = pc[0] * inverseZ;
    q[1] = pc[1] * inverseZ;
  }
  if (!imageFromPositionAtZ1<kLinear>(q, image, jacobian))
    return ProjectionStatus::kSingularLinearMap;
  if (jacobian != nullptr) {
    // d q/d Pc = [[1/z, 0, −q.x/z], [0, 1/z, −q.y/z]].
    const double inverseZ = 1.0 / pc[2];
    for (int r = 0; r < 2; ++r) {
      const double bx = jacobian->byPoint[r][0], by = jacobian->byPoint[r][1];
      jacobian->byPoint[r][0] = bx * inverseZ;
      jacobian->byPoint[r][1] = by * inverseZ;
      jacobian->byPoint[r][2] = -(bx * q[0] + by * q[1]) * inverseZ;
    }
  }
  return pc[2] > 0.0 ? ProjectionStatus::kOk : ProjectionStatus::kNotInFront;
}

}  // namespace ccal::detail

#endif
