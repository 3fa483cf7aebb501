// Every analytic derivative of the camera model against central differences, table-driven (in
// the manner of Ceres' GradientChecker and mrcal's gradient tests): each row is a lens model, a
// function (projection by L or by the forward map (A, t), back direction, the three residuals),
// a placement form and a spot of the field (at or near the centre of expansion, mid field, near
// the edge of the lens's reach). Every parameter of every block the function depends on is moved
// by ±h.
#include <gtest/gtest.h>
#include <tk/exception.h>
#include <tk/quaternion.h>
#include <tk/xform.h>

#include "platform/core/camera_model/residuals.h"
#include "platform/proc/radial_distortion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace ccal::detail;

// kMixedIntrinsic, kMixedPose: the intrinsic and pose terms as mixedTermResiduals returns them.
// kProjectForward: the model built from the forward map (A, t), whose values the linear columns
// then hold (t.x, t.y, a00, a11, a01), and its derivatives by them.
enum class Kind {
  kProject,
  kProjectForward,
  kBack,
  kImage,
  kIntrinsicTerm,
  kPoseTerm,
  kMixedIntrinsic,
  kMixedPose
};
bool isProjection(Kind k) {
  return k == Kind::kProject || k == Kind::kProjectForward;
}
enum class Placement { kNone, kQuaternion, kZRotation };
enum class Spot { kCentre, kMid, kEdge };

struct Case {
  std::int32_t model;
  Kind kind;
  Placement placement;
  Spot spot;
};

// The flat column the differences move: intrinsics, camera pose, placement pose, then the input
// point (P for the residuals, Pc for the projection, the image point for the back direction).
constexpr int kCam = kIntrinsicValues;
constexpr int kPlace = kCam + 6;
constexpr int kPoint = kPlace + 6;
constexpr int kColumns = kPoint + 3;

// The held quaternion indices vary with the spot, so that the table covers all four.
int cameraHeld(const Case& c) {
  return (static_cast<int>(c.spot) + 1) % 4;
}
int placementHeld(const Case& c) {
  return static_cast<int>(c.spot);
}
constexpr double kHeight = 0.25;

CameraIntrinsics intrinsicsOf(std::int32_t model, const std::vector<double>& x) {
  CameraIntrinsics v;
  v.tx = x[kTx];
  v.ty = x[kTy];
  v.sx = x[kSx];
  v.sy = x[kSy];
  v.skew = x[kSkew];
  v.lens.model = model;
  v.lens.cx = x[kCx];
  v.lens.cy = x[kCy];
  for (int i = 0; i < 4; ++i)
    v.lens.values[i] = x[kLensValue0 + i];
  return v;
}

CameraModel modelOf(const Case& c, const std::vector<double>& x) {
  const CameraIntrinsics v = intrinsicsOf(c.model, x);
  if (c.kind != Kind::kProjectForward)
    return CameraModel(v);
  return CameraModel::fromImageFromDistorted(
      tk2XformLinear(tkMatrix<2>(v.sx, v.skew, 0.0, v.sy), tkVector<2>(v.tx, v.ty)), v.lens);
}

Pose placementOf(const Case& c, const std::vector<double>& x) {
  return c.placement == Placement::kZRotation ? zRotationPose(&x[kPlace], kHeight)
                                              : quaternionPose(placementHeld(c), &x[kPlace]);
}

// Output of the case at x. The factors the residuals hold constant (the sine-tangent ρ, the
// pose term's depth z0) are taken at x0, so the differences see the same function as the
// analytic Jacobian.
void evaluate(const Case& c, const std::vector<double>& x, const std::vector<double>& x0,
              const double image[2], double out[2], double jacobian[2][kColumns]) {
  const CameraModel model = modelOf(c, x);
  for (int r = 0; r < 2; ++r)
    std::fill(jacobian[r], jacobian[r] + kColumns, 0.0);
  if (isProjection(c.kind) || c.kind == Kind::kBack) {
    ModelJacobian J;
    if (c.kind == Kind::kProject) {
      ASSERT_EQ(model.project(&x[kPoint], out, &J), ProjectionStatus::kOk);
    } else if (c.kind == Kind::kProjectForward) {
      ASSERT_EQ(model.project<LinearValues::kImageFromDistorted>(&x[kPoint], out, &J),
                ProjectionStatus::kOk);
    } else {
      ASSERT_EQ(model.positionAtZ1FromImage(&x[kPoint], out, &J), 0);
    }
    for (int r = 0; r < 2; ++r) {
      std::copy(J.byIntrinsics[r], J.byIntrinsics[r] + kIntrinsicValues, jacobian[r]);
      std::copy(J.byPoint[r], J.byPoint[r] + 3, jacobian[r] + kPoint);
    }
    return;
  }
  const Pose camera = quaternionPose(cameraHeld(c), &x[kCam]);
  const Pose placement = placementOf(c, x);
  const Pose* placementPtr = c.placement == Placement::kNone ? nullptr : &placement;
  ResidualJacobian J{};  // byPlacement stays 0 without a placement
  ResidualStatus status = ResidualStatus::kOk;
  if (c.kind == Kind::kImage)
    status = imageResidual(model, camera, placementPtr, image, &x[kPoint], out, &J);
  else if (c.kind == Kind::kIntrinsicTerm)
    status = intrinsicTermResidual(model, camera, placementPtr, image, &x[kPoint], out, &J);
  else if (c.kind == Kind::kMixedIntrinsic || c.kind == Kind::kMixedPose) {
    double other[2];
    ResidualJacobian otherJ;
    status = c.kind == Kind::kMixedIntrinsic
                 ? mixedTermResiduals(model, camera, placementPtr, image, &x[kPoint], out, &J,
                                      other, &otherJ)
                 : mixedTermResiduals(model, camera, placementPtr, image, &x[kPoint], other,
                                      &otherJ, out, &J);
  } else
    status = poseTermResidual(model, camera, placementPtr, image, &x[kPoint], out, &J);
  ASSERT_EQ(status, ResidualStatus::kOk);
  for (int r = 0; r < 2; ++r) {
    std::copy(J.byIntrinsics[r], J.byIntrinsics[r] + kIntrinsicValues, jacobian[r]);
    std::copy(J.byCamera[r], J.byCamera[r] + 6, jacobian[r] + kCam);
    std::copy(J.byPlacement[r], J.byPlacement[r] + 6, jacobian[r] + kPlace);
  }
  if (&x == &x0)
    return;
  double pc[3], pc0[3];
  const Pose camera0 = quaternionPose(cameraHeld(c), &x0[kCam]);
  const Pose placement0 = placementOf(c, x0);
  cameraPointOf(camera, placementPtr, &x[kPoint], pc, nullptr);
  cameraPointOf(camera0, placementPtr == nullptr ? nullptr : &placement0, &x0[kPoint], pc0,
                nullptr);
  double factor = 1.0;
  if (c.kind == Kind::kPoseTerm || c.kind == Kind::kMixedPose) {
    factor = pc[2] / pc0[2];
  } else if ((c.kind == Kind::kIntrinsicTerm || c.kind == Kind::kMixedIntrinsic) &&
             c.model == CCAL_DISTORTION_SINE_TAN) {
    const auto rho = [](const std::vector<double>& v, const double* p) {
      const double ex = p[0] / p[2] - v[kCx], ey = p[1] / p[2] - v[kCy];
      const double r = std::sqrt(ex * ex + ey * ey);
      const double theta = std::atan2(r, 1.0);
      const double* l = &v[kLensValue0];
      return r / (l[0] * std::tan(theta / l[1]) + l[2] * std::sin(theta / l[3]));
    };
    factor = rho(x0, pc0) / rho(x, pc);
  }
  out[0] *= factor;
  out[1] *= factor;
}

// The starting column of a case: a camera looking at a point whose position at Z = 1 sits at
// the case's spot relative to the centre of expansion, and the image point observed there (the
// projection plus a fraction of a pixel, so that the residuals are not 0).
struct Start {
  std::vector<double> x = std::vector<double>(kColumns, 0.0);
  double image[2] = {0.0, 0.0};
};

Start startOf(const Case& c) {
  Start s;
  std::vector<double>& x = s.x;
  const bool forward = c.kind == Kind::kProjectForward;
  x[kTx] = forward ? 330.0 : -0.41;
  x[kTy] = forward ? 230.0 : -0.29;
  x[kSx] = forward ? 800.0 : 1.0 / 800.0;
  x[kSy] = forward ? 790.0 : 1.0 / 790.0;
  x[kSkew] = forward ? -1.6 : 2e-6;
  if (c.model != CCAL_DISTORTION_NONE) {
    x[kCx] = 0.013;
    x[kCy] = -0.021;
  }
  if (c.model == CCAL_DISTORTION_RADIAL)
    x[kLensValue0] = -0.05;
  if (c.model == CCAL_DISTORTION_SINE_TAN) {
    const double lens[4] = {0.9, 1.2, 0.08, 1.1};
    std::copy(lens, lens + 4, &x[kLensValue0]);
  }
  const double camera[6] = {0.05, -0.12, 0.2, 0.1, -0.2, 2.0};
  std::copy(camera, camera + 6, &x[kCam]);
  if (c.placement == Placement::kQuaternion) {
    const double place[6] = {0.08, 0.03, -0.1, 0.3, -0.1, 0.2};
    std::copy(place, place + 6, &x[kPlace]);
  } else if (c.placement == Placement::kZRotation) {
    const double place[3] = {0.3, 0.2, -0.15};
    std::copy(place, place + 3, &x[kPlace]);
  }

  // Offset of the position at Z = 1 from the centre. The residuals cannot hit the centre
  // exactly through a pose, so there "centre" is a point 1e-4 away.
  double offset[2] = {0.0, 0.0};
  const bool exact = isProjection(c.kind) || c.kind == Kind::kBack;
  if (c.spot == Spot::kCentre && !exact) {
    offset[0] = 1e-4;
    offset[1] = -2e-4;
  } else if (c.spot == Spot::kMid) {
    offset[0] = 0.35;
    offset[1] = -0.2;
  } else if (c.spot == Spot::kEdge) {
    // Radial (k = −0.05): the forward cubic has no root past r = 1.72; sine-tangent: θ = 1.26,
    // θ/p1 = 1.05 of the π/2 the tangent term allows.
    const double radius = c.model == CCAL_DISTORTION_SINE_TAN ? 3.1
                          : c.model == CCAL_DISTORTION_RADIAL ? 1.5
                                                              : 1.2;
    offset[0] = 0.8 * radius;
    offset[1] = 0.6 * radius;
  }
  const double depth = 4.0;  // a power of 2: q = Pc.xy / Pc.z is exact
  const double pc[3] = {(x[kCx] + offset[0]) * depth, (x[kCy] + offset[1]) * depth, depth};
  const CameraModel model = modelOf(c, x);
  double projected[2];
  EXPECT_EQ(model.project(pc, projected, nullptr), ProjectionStatus::kOk);
  if (isProjection(c.kind)) {
    std::copy(pc, pc + 3, &x[kPoint]);
    return s;
  }
  if (c.kind == Kind::kBack) {
    x[kPoint] = projected[0];
    x[kPoint + 1] = projected[1];
    if (c.spot == Spot::kCentre) {
      // Move the linear map's translation so that L(p) is the centre exactly.
      double d[2];
      model.distortedFromImage(projected, d);
      x[kTx] += x[kCx] - d[0];
      x[kTy] += x[kCy] - d[1];
    }
    return s;
  }
  s.image[0] = projected[0] + 0.7;
  s.image[1] = projected[1] - 0.4;
  // P = camera⁻¹ (placement⁻¹ when there is one) of Pc.
  const Pose cameraPose = quaternionPose(cameraHeld(c), &x[kCam]);
  tkXform<3> toPoint = tkXform<3>(cameraPose.rotation, cameraPose.translation).inverse();
  if (c.placement != Placement::kNone) {
    const Pose place = placementOf(c, x);
    toPoint = tkXform<3>(place.rotation, place.translation).inverse() * toPoint;
  }
  const tkVector<3> P = toPoint.mapPoint(tkVector<3>(pc[0], pc[1], pc[2]));
  for (int i = 0; i < 3; ++i)
    x[kPoint + i] = P[i];
  return s;
}

bool movable(const Case& c, int column) {
  const int lensCount = lensValueCount(c.model);
  if (column < kIntrinsicValues)
    return column < kCx || (lensCount > 0 && column < kLensValue0 + lensCount);
  const bool residual = !isProjection(c.kind) && c.kind != Kind::kBack;
  if (column < kPlace)
    return residual;
  if (column < kPoint)
    return residual && (c.placement == Placement::kQuaternion ||
                        (c.placement == Placement::kZRotation && column < kPlace + 3));
  // The residuals' Jacobians stop at the poses (d Pc/d P is the pose's rotation).
  return isProjection(c.kind) || (c.kind == Kind::kBack && column < kPoint + 2);
}

std::string nameOf(const ::testing::TestParamInfo<Case>& info) {
  const Case& c = info.param;
  const char* model = c.model == CCAL_DISTORTION_NONE     ? "None"
                      : c.model == CCAL_DISTORTION_RADIAL ? "Radial"
                                                          : "SineTan";
  const char* kinds[] = {"Project",       "ProjectForward", "Back",           "Image",
                         "IntrinsicTerm", "PoseTerm",       "MixedIntrinsic", "MixedPose"};
  const char* placements[] = {"", "OnQuaternionPlacement", "OnZRotationPlacement"};
  const char* spots[] = {"Centre", "Mid", "Edge"};
  return std::string(model) + kinds[static_cast<int>(c.kind)] +
         placements[static_cast<int>(c.placement)] + spots[static_cast<int>(c.spot)];
}

std::vector<Case> allCases() {
  std::vector<Case> cases;
  for (std::int32_t model :
       {CCAL_DISTORTION_NONE, CCAL_DISTORTION_RADIAL, CCAL_DISTORTION_SINE_TAN})
    for (Kind kind :
         {Kind::kProject, Kind::kProjectForward, Kind::kBack, Kind::kImage, Kind::kIntrinsicTerm,
          Kind::kPoseTerm, Kind::kMixedIntrinsic, Kind::kMixedPose})
      for (Placement placement : {Placement::kNone, Placement::kQuaternion, Placement::kZRotation})
        for (Spot spot : {Spot::kCentre, Spot::kMid, Spot::kEdge}) {
          const bool residual = !isProjection(kind) && kind != Kind::kBack;
          if (residual || placement == Placement::kNone)
            cases.push_back({model, kind, placement, spot});
        }
  return cases;
}

class CameraModelDerivatives : public ::testing::TestWithParam<Case> {};

TEST_P(CameraModelDerivatives, MatchCentralDifferences) {
  const Case& c = GetParam();
  const Start s = startOf(c);
  double value[2];
  double analytic[2][kColumns];
  evaluate(c, s.x, s.x, s.image, value, analytic);
  // Rounding of the differences scales with the largest quantity formed on the way: the output
  // or the image point.
  const double outputScale = std::max({1.0, std::fabs(value[0]), std::fabs(value[1]),
                                       std::fabs(s.image[0]), std::fabs(s.image[1])});
  for (int j = 0; j < kColumns; ++j) {
    if (!movable(c, j))
      continue;
    // Compare the change over one natural unit of the value (its size, at least 1e-3), so that
    // columns of very different units are judged alike.
    const double unit = std::max(std::fabs(s.x[j]), 1e-3);
    const double h = 1e-6 * unit;
    std::vector<double> plus = s.x, minus = s.x;
    plus[j] += h;
    minus[j] -= h;
    double fPlus[2], fMinus[2], ignored[2][kColumns];
    evaluate(c, plus, s.x, s.image, fPlus, ignored);
    evaluate(c, minus, s.x, s.image, fMinus, ignored);
    for (int r = 0; r < 2; ++r) {
      const double numeric = (fPlus[r] - fMinus[r]) / (2.0 * h);
      EXPECT_NEAR(analytic[r][j] * unit, numeric * unit,
                  1e-6 * std::fabs(numeric * unit) + 1e-8 * outputScale)
          << "row " << r << ", column " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CameraModelDerivatives, ::testing::ValuesIn(allCases()), nameOf);

}  // namespace

namespace {

// The spots where the formulas break down give their documented answers, never NaN.
TEST(CameraModelDegenerateSpots, AreReportedOrTakeTheirLimits) {
  CameraIntrinsics v;
  v.lens.model = CCAL_DISTORTION_SINE_TAN;
  v.lens.cx = 0.01;
  v.lens.cy = -0.02;
  const double lens[4] = {0.9, 1.2, 0.08, 1.1};
  std::copy(lens, lens + 4, v.lens.values);
  const CameraModel model(v);

  // At the centre: the image of the centre, the slope's limit 1/(p0/p1 + p2/p3) as derivative.
  const double pc[3] = {0.01 * 4.0, -0.02 * 4.0, 4.0};
  double image[2];
  ModelJacobian J;
  ASSERT_EQ(model.project(pc, image, &J), ProjectionStatus::kOk);
  EXPECT_EQ(image[0], 0.01);
  EXPECT_EQ(image[1], -0.02);
  const double slope = 0.9 / 1.2 + 0.08 / 1.1;
  EXPECT_DOUBLE_EQ(J.byPoint[0][0], slope / 4.0);
  EXPECT_EQ(J.byPoint[0][1], 0.0);
  EXPECT_DOUBLE_EQ(J.byIntrinsics[0][kCx], 1.0 - slope);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(J.byIntrinsics[0][kLensValue0 + i], 0.0);
  double q[2];
  ASSERT_EQ(model.positionAtZ1FromImage(image, q, &J), 0);
  EXPECT_DOUBLE_EQ(J.byPoint[0][0], 1.0 / slope);

  // Depth 0 and behind the camera.
  const double atZero[3] = {1.0, 1.0, 0.0};
  EXPECT_EQ(model.project(atZero, image, &J), ProjectionStatus::kAtDepthZero);
  const double behind[3] = {0.1, 0.1, -1.0};
  EXPECT_EQ(model.project(behind, image, &J), ProjectionStatus::kNotInFront);
  EXPECT_TRUE(std::isfinite(image[0]) && std::isfinite(J.byPoint[0][2]));

  // A radius no ray angle reaches: a status, the outputs untouched.
  const double far[2] = {50.0, 0.0};
  q[0] = q[1] = 7.0;
  EXPECT_LT(model.positionAtZ1FromImage(far, q, &J), 0);
  EXPECT_EQ(q[0], 7.0);

  // A singular linear map: (0, 0) with zero derivatives, reported.
  CameraIntrinsics flat = v;
  flat.sy = 0.0;
  const CameraModel singular(flat);
  EXPECT_EQ(singular.project(pc, image, &J), ProjectionStatus::kSingularLinearMap);
  EXPECT_EQ(image[0], 0.0);
  EXPECT_EQ(J.byIntrinsics[0][kTx], 0.0);

  // The residuals skip a point at depth 0 and a pose term without a ray.
  const double values[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  const Pose identity = quaternionPose(0, values);
  const double onPlane[3] = {1.0, 2.0, 0.0};
  double r[2];
  ResidualJacobian RJ;
  EXPECT_EQ(imageResidual(model, identity, nullptr, far, onPlane, r, &RJ),
            ResidualStatus::kAtDepthZero);
  EXPECT_EQ(r[0], 0.0);
  const double inFront[3] = {0.1, 0.2, 3.0};
  EXPECT_EQ(poseTermResidual(model, identity, nullptr, far, inFront, r, &RJ),
            ResidualStatus::kNoRay);
  EXPECT_EQ(RJ.byCamera[0][0], 0.0);
}

}  // namespace

namespace {

// A model built from the forward map holds it as given and inverts it for the back direction;
// a map that is singular or not of the triangular form is refused.
TEST(CameraModelFromForwardMap, InvertsItForTheBackDirectionAndRefusesBadMaps) {
  Lens lens;
  lens.model = CCAL_DISTORTION_SINE_TAN;
  lens.cx = 0.01;
  lens.cy = -0.02;
  const double values[4] = {0.9, 1.2, 0.08, 1.1};
  std::copy(values, values + 4, lens.values);
  const tk2XformLinear forward(tkMatrix<2>(800.0, -1.6, 0.0, 790.0), tkVector<2>(330.0, 230.0));
  const CameraModel model = CameraModel::fromImageFromDistorted(forward, lens);
  ASSERT_FALSE(model.singular());
  EXPECT_EQ(model.imageFromDistorted(), forward);

  const double pc[3] = {0.7, -0.45, 1.5};
  double image[2], q[2];
  ASSERT_EQ(model.project(pc, image, nullptr), ProjectionStatus::kOk);
  ASSERT_EQ(model.positionAtZ1FromImage(image, q, nullptr), 0);
  EXPECT_NEAR(q[0], pc[0] / pc[2], 1e-13);
  EXPECT_NEAR(q[1], pc[1] / pc[2], 1e-13);

  const CameraModel flat = CameraModel::fromImageFromDistorted(
      tk2XformLinear(tkMatrix<2>(800.0, -1.6, 0.0, 0.0), tkVector<2>()), lens);
  EXPECT_TRUE(flat.singular());
  EXPECT_EQ(flat.project(pc, image, nullptr), ProjectionStatus::kSingularLinearMap);
  EXPECT_THROW(CameraModel::fromImageFromDistorted(
                   tk2XformLinear(tkMatrix<2>(800.0, 0.0, 0.5, 790.0), tkVector<2>()), lens),
               tkInvariantFailure);
}

}  // namespace

namespace {

// The two-point projection gives project()'s bits wherever it takes the points, and declines
// exactly where it says it does.
TEST(CameraModelLanes, ProjectTwoPointsAsProjectDoesOrDecline) {
  const auto bitsEqual = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
  CameraIntrinsics v;
  v.tx = 0.3;
  v.ty = -0.2;
  v.sx = 1.7e-3;
  v.sy = 1.6e-3;
  v.skew = 2e-6;
  v.lens.cx = 0.012;
  v.lens.cy = -0.021;
  struct Case {
    std::int32_t model;
    double k;
  };
  // No distortion, a k that is 0 within 1e-15, a weak k, and a strong one (only the points
  // near the centre within the weak range).
  const Case cases[] = {{CCAL_DISTORTION_NONE, 0.0},
                        {CCAL_DISTORTION_RADIAL, 4e-16},
                        {CCAL_DISTORTION_RADIAL, -0.08},
                        {CCAL_DISTORTION_RADIAL, 3.0}};
  std::vector<std::array<double, 3>> points = {{0.012 * 2.0, -0.021 * 2.0, 2.0},  // the centre
                                               {0.3, -0.2, -1.5}};                // behind
  for (int i = 0; i < 40; ++i)
    points.push_back({0.04 * (i % 7) - 0.12, 0.03 * (i % 5) - 0.06, 1.0 + 0.1 * i});
  for (const Case& c : cases) {
    v.lens.model = c.model;
    v.lens.values[0] = c.k;
    const CameraModel model(v);
    int taken = 0, declined = 0;
    for (std::size_t a = 0; a + 1 < points.size(); ++a) {
      const double* p0 = points[a].data();
      const double* p1 = points[a + 1].data();
      LanePair x = {0.0, 0.0}, y = {0.0, 0.0};
      const bool lanes = model.projectLanes(LanePair{p0[0], p1[0]}, LanePair{p0[1], p1[1]},
                                            LanePair{p0[2], p1[2]}, x, y);
      double expected[2][2];
      model.project(p0, expected[0], nullptr);
      model.project(p1, expected[1], nullptr);
      bool weak = true;
      for (const double* p : {p0, p1}) {
        const double ex = p[0] / p[2] - v.lens.cx, ey = p[1] / p[2] - v.lens.cy;
        weak = weak && std::fabs(c.k * (ex * ex + ey * ey)) <= kRadialWeakLimit;
      }
      ASSERT_EQ(lanes, c.model == CCAL_DISTORTION_NONE || std::fabs(c.k) <= 1e-15 || weak)
          << "model " << c.model << " k " << c.k << " pair " << a;
      if (!lanes) {
        EXPECT_EQ(x[0], 0.0);  // untouched
        ++declined;
        continue;
      }
      ++taken;
      for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(bitsEqual(x[i], expected[i][0]) && bitsEqual(y[i], expected[i][1]))
            << "model " << c.model << " k " << c.k << " pair " << a << " lane " << i;
    }
    EXPECT_GT(taken, 0);
    if (c.k == 3.0) {
      EXPECT_GT(declined, 0);
    }
  }
  // Declined: the sine-tangent lens, a singular linear stage, a depth of 0.
  LanePair x, y;
  const LanePair one = {1.0, 1.0}, depth = {2.0, 0.0};
  v.lens.model = CCAL_DISTORTION_NONE;
  EXPECT_FALSE(CameraModel(v).projectLanes(one, one, depth, x, y));
  CameraIntrinsics flat = v;
  flat.sy = 0.0;
  EXPECT_FALSE(CameraModel(flat).projectLanes(one, one, one, x, y));
  v.lens.model = CCAL_DISTORTION_SINE_TAN;
  const double lens[4] = {0.9, 1.2, 0.08, 1.1};
  std::copy(lens, lens + 4, v.lens.values);
  EXPECT_FALSE(CameraModel(v).projectLanes(one, one, one, x, y));
}

}  // namespace
