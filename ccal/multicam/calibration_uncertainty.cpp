#include "ccal/multicam/image_residual_covariance.h"
#include "ccal/multicam/image_residual_problem.h"
#include "ccal/multicam/multiplate_refine.h"
#include "platform/core/camera_model/camera_model.h"
#include "platform/core/camera_model/pose.h"

#include <ccal/calibration_uncertainty.h>
#include <ccal/camera_terms.h>
#include <tk/exception.h>

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

struct tkCalibrationUncertainty::Impl {
  std::unique_ptr<ccal::detail::ImageResidualProblem> problem;
  std::vector<double> x;
  ccal::detail::ParameterCovariance covariance;
  std::vector<double> covarianceRows;
  tkUncertaintyOptions options;
  std::vector<tkCameraDeviations> cameras;
  std::vector<tkPlacementDeviations> zPlacements, aPlacements;
  std::vector<tkCalibrationWarning> warnings;
  // Per camera: the placement blocks (−1: the world frame) of the lists it has.
  std::vector<std::vector<long>> seen;
};

namespace {

using ccal::detail::ImageResidualProblem;
using ccal::detail::ParameterLayout;
using Impl = tkCalibrationUncertainty::Impl;

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

std::size_t at(long i) { return static_cast<std::size_t>(i); }

[[noreturn]] void fail(const std::wstring& message) { throw tkInvariantFailure(message); }

// Central-difference step of parameter value v.
double stepOf(double v) { return 1e-6 * std::max(std::fabs(v), 1e-3); }

// The rotation vector (degrees) of R·R0ᵀ for R near R0 (first order, enough for derivatives).
std::array<double, 3> rotationVector(const tkMatrix<3>& R, const tkMatrix<3>& R0) {
  const tkMatrix<3> d = R * R0.transpose();
  return {0.5 * (d.element(2, 1) - d.element(1, 2)) * kDegrees,
          0.5 * (d.element(0, 2) - d.element(2, 0)) * kDegrees,
          0.5 * (d.element(1, 0) - d.element(0, 1)) * kDegrees};
}

// σ of the quantities terms(x) (a fixed number of values) that depend on parameters
// [start, start + size) of x, through the covariance; +infinity where undetermined.
std::vector<double> deviations(const Impl& u, long start, long size,
                               const std::function<std::vector<double>(const double*)>& terms) {
  const long n = static_cast<long>(u.x.size());
  std::vector<double> probe = u.x;
  const std::size_t count = terms(probe.data()).size();
  Eigen::MatrixXd G = Eigen::MatrixXd::Zero(static_cast<long>(count), n);
  for (long i = start; i < start + size; ++i) {
    const double h = stepOf(u.x[at(i)]);
    probe[at(i)] = u.x[at(i)] + h;
    const std::vector<double> plus = terms(probe.data());
    probe[at(i)] = u.x[at(i)] - h;
    const std::vector<double> minus = terms(probe.data());
    probe[at(i)] = u.x[at(i)];
    for (std::size_t t = 0; t < count; ++t)
      G(static_cast<long>(t), i) = (plus[t] - minus[t]) / (2.0 * h);
  }
  std::vector<double> out(count);
  for (std::size_t t = 0; t < count; ++t) {
    const Eigen::VectorXd g = G.row(static_cast<long>(t)).transpose();
    // g is 0 outside [start, start + size): the block of Cov there alone (time independent of n).
    const Eigen::VectorXd gs = g.segment(start, size);
    const double variance =
        gs.dot(u.covariance.covariance.block(start, start, size, size) * gs);
    out[t] = u.covariance.undetermined(g) || !std::isfinite(u.covariance.sigma)
                 ? HUGE_VAL
                 : std::sqrt(std::max(variance, 0.0));
  }
  return out;
}

ccal::detail::CameraIntrinsics intrinsicsOf(const Impl& u, const double* x, long c) {
  const ParameterLayout& layout = u.problem->layout();
  if (layout.poseOnly())
    return tfModelIntrinsics(u.problem->problem().fixedIntrinsics[at(c)]);
  return ParameterLayout::cameraIntrinsicsOfBlock(x + layout.cameraStart(c), layout.model());
}

tkXform<3> cameraPoseOf(const Impl& u, const double* x, long c) {
  const ParameterLayout& layout = u.problem->layout();
  return ccal::detail::quaternionXform(layout.cameraUnitValIndices()[at(c)],
                                       x + layout.cameraStart(c) + layout.cameraPoseOffset());
}

// Plate -> world of placement block b (−1: the world frame), in the problem's plate frames.
tkXform<3> placementPoseOf(const Impl& u, const double* x, long b) {
  if (b < 0)
    return tkXform<3>();
  const ParameterLayout& layout = u.problem->layout();
  const ParameterLayout::Block block = layout.block(b);
  const double* values = x + layout.blockStart(b);
  if (block.kind == ParameterLayout::Kind::kZRotation)
    return ParameterLayout::zRotationBlockPose(values, u.problem->problem().heights[at(block.index)]);
  return ParameterLayout::arbitraryBlockPose(values,
                                             layout.arbitraryUnitValIndices()[at(block.index)])
      .xform();
}

// The lens' slope d r_d / d θ at the centre: p0/p1 + p2/p3 under the sine-tangent model, 1 for
// the others (their distorted plane has the scale of the position at Z = 1 there).
double slopeAtCentre(const ccal::detail::CameraIntrinsics& v) {
  if (v.lens.model != CCAL_DISTORTION_SINE_TAN)
    return 1.0;
  const double* p = v.lens.values;
  return p[0] / p[1] + p[2] / p[3];
}

tkCameraMatrixTerms matrixTerms(const ccal::detail::CameraIntrinsics& v) {
  tkPhysicalAtZEquals1FromImageParams model;
  model.cameraScale(tkPair<double>(v.sx, v.sy));
  model.cameraSkew(v.skew);
  model.cameraTranslation(tkVector<2>(v.tx, v.ty));
  return tfCameraMatrixTerms(model);
}

void cameraDeviations(Impl& u) {
  const ParameterLayout& layout = u.problem->layout();
  const long nC = layout.cameras();
  const int lensValues = ccal::detail::lensValueCount(
      layout.poseOnly() ? u.problem->problem().fixedIntrinsics[0].model : layout.model());
  for (long c = 0; c < nC; ++c) {
    const tkXform<3> pose0 = cameraPoseOf(u, u.x.data(), c);
    const auto terms = [&](const double* x) {
      const ccal::detail::CameraIntrinsics v = intrinsicsOf(u, x, c);
      const tkCameraMatrixTerms k = matrixTerms(v);
      const double s0 = slopeAtCentre(v);
      std::vector<double> t{k.fx, k.fy, k.cx, k.cy, k.skew, k.fx * s0, k.fy * s0};
      for (int i = 0; i < lensValues; ++i)
        t.push_back(v.lens.values[i]);
      t.push_back(v.lens.cx);
      t.push_back(v.lens.cy);
      const tkXform<3> pose = cameraPoseOf(u, x, c);
      const std::array<double, 3> w = rotationVector(pose.matrix(), pose0.matrix());
      t.insert(t.end(), w.begin(), w.end());
      for (int i = 0; i < 3; ++i)
        t.push_back(pose.trans()[i]);
      return t;
    };
    const std::vector<double> s =
        deviations(u, layout.cameraStart(c), layout.cameraBlockSize(), terms);
    tkCameraDeviations d;
    d.fx = s[0];
    d.fy = s[1];
    d.cx = s[2];
    d.cy = s[3];
    d.skew = s[4];
    d.focalX = s[5];
    d.focalY = s[6];
    d.lens.assign(s.begin() + 7, s.begin() + 7 + lensValues);
    std::size_t i = 7 + static_cast<std::size_t>(lensValues);
    d.centreX = s[i++];
    d.centreY = s[i++];
    for (std::size_t k = 0; k < 3; ++k)
      d.rotationDeg[k] = s[i + k];
    for (std::size_t k = 0; k < 3; ++k)
      d.translation[k] = s[i + 3 + k];
    u.cameras.push_back(d);
  }
}

void placementDeviations(Impl& u) {
  const ParameterLayout& layout = u.problem->layout();
  u.zPlacements.assign(at(layout.zRotationPlacements()), tkPlacementDeviations{});
  u.aPlacements.assign(at(layout.arbitraryPlacements()), tkPlacementDeviations{true, {}, {}});
  for (auto& p : u.aPlacements)
    p.zRotation = false;
  for (long b = 0; b < layout.blockCount(); ++b) {
    const ParameterLayout::Block block = layout.block(b);
    if (block.kind == ParameterLayout::Kind::kCamera)
      continue;
    const tkXform<3> pose0 = placementPoseOf(u, u.x.data(), b);
    const auto terms = [&](const double* x) {
      const tkXform<3> pose = placementPoseOf(u, x, b);
      const std::array<double, 3> w = rotationVector(pose.matrix(), pose0.matrix());
      return std::vector<double>{w[0], w[1], w[2], pose.trans()[0], pose.trans()[1],
                                 pose.trans()[2]};
    };
    const std::vector<double> s = deviations(u, layout.blockStart(b), layout.blockSize(b), terms);
    tkPlacementDeviations& d = block.kind == ParameterLayout::Kind::kZRotation
                                   ? u.zPlacements[at(block.index)]
                                   : u.aPlacements[at(block.index)];
    for (std::size_t k = 0; k < 3; ++k) {
      d.rotationDeg[k] = s[k];
      d.translation[k] = s[3 + k];
    }
    if (d.zRotation)
      d.rotationDeg[0] = d.rotationDeg[1] = d.translation[2] = 0.0;
  }
}

std::array<double, 2> imageSizeOf(const Impl& u, long camera) {
  const auto& sizes = u.options.imageSizes;
  if (sizes.empty())
    return {0.0, 0.0};
  return sizes.size() == 1 ? sizes[0] : sizes[at(camera)];
}

bool hasImageSize(const Impl& u, long camera) {
  const std::array<double, 2> size = imageSizeOf(u, camera);
  return size[0] > 0.0 && size[1] > 0.0;
}

// The image point of the ray through `image` as the perturbed parameters x see it (the
// definition at the top of calibration_uncertainty.h); rays: the ray's point in each placement's
// plate frame (w = 0: a direction).
bool projectionAt(const Impl& u, const double* x, long camera,
                  const std::vector<std::array<double, 4>>& rays, double q[2]) {
  const tkXform<3> cameraPose = cameraPoseOf(u, x, camera);
  const std::vector<long>& seen = u.seen[at(camera)];
  double pc[3] = {0.0, 0.0, 0.0};
  for (std::size_t k = 0; k < seen.size(); ++k) {
    const tkXform<3> toCamera = cameraPose * placementPoseOf(u, x, seen[k]);
    const tkVector<3> p(rays[k][0], rays[k][1], rays[k][2]);
    const tkVector<3> mapped = rays[k][3] == 0.0 ? toCamera.mapVector(p) : toCamera.mapPoint(p);
    for (int i = 0; i < 3; ++i)
      pc[i] += mapped[i] / static_cast<double>(seen.size());
  }
  const ccal::detail::CameraModel model(intrinsicsOf(u, x, camera));
  return model.project(pc, q, nullptr) == ccal::detail::ProjectionStatus::kOk;
}

tkProjectionUncertainty projection(const Impl& u, long camera, const tkVector<2>& image,
                                   double distance) {
  const ParameterLayout& layout = u.problem->layout();
  if (camera < 0 || camera >= layout.cameras())
    fail(L"projection uncertainty: no such camera");
  if (!(distance >= 0.0) || !std::isfinite(distance))
    fail(L"projection uncertainty: the distance must be 0 (infinity) or positive and finite");
  if (!std::isfinite(image.x()) || !std::isfinite(image.y()))
    fail(L"projection uncertainty: the image point is not finite");
  if (hasImageSize(u, camera)) {
    const std::array<double, 2> size = imageSizeOf(u, camera);
    if (image.x() < 0.0 || image.y() < 0.0 || image.x() > size[0] - 1.0 ||
        image.y() > size[1] - 1.0)
      fail(L"projection uncertainty: the point lies outside the camera's image");
  }
  const double* x0 = u.x.data();
  const ccal::detail::CameraModel model(intrinsicsOf(u, x0, camera));
  const double p[2] = {image.x(), image.y()};
  double m[2];
  if (model.positionAtZ1FromImage(p, m, nullptr) < 0)
    fail(L"projection uncertainty: the image point has no ray");
  const bool atInfinity = distance == 0.0;
  const tkVector<3> ray = atInfinity ? tkVector<3>(m[0], m[1], 1.0)
                                     : tkVector<3>(m[0] * distance, m[1] * distance, distance);
  const tkXform<3> cameraPose = cameraPoseOf(u, x0, camera);
  std::vector<std::array<double, 4>> rays;
  for (long b : u.seen[at(camera)]) {
    const tkXform<3> fromCamera = (cameraPose * placementPoseOf(u, x0, b)).inverse();
    const tkVector<3> r = atInfinity ? fromCamera.mapVector(ray) : fromCamera.mapPoint(ray);
    rays.push_back({r.x(), r.y(), r.z(), atInfinity ? 0.0 : 1.0});
  }
  // The parameters the projection depends on: the camera's block and the placements' blocks.
  std::vector<long> indices;
  for (long i = 0; i < layout.cameraBlockSize(); ++i)
    indices.push_back(layout.cameraStart(camera) + i);
  for (long b : u.seen[at(camera)])
    if (b >= 0)
      for (long i = 0; i < layout.blockSize(b); ++i)
        indices.push_back(layout.blockStart(b) + i);
  const long n = static_cast<long>(u.x.size());
  Eigen::MatrixXd G = Eigen::MatrixXd::Zero(2, n);
  std::vector<double> probe = u.x;
  for (long i : indices) {
    const double h = stepOf(u.x[at(i)]);
    double plus[2], minus[2];
    probe[at(i)] = u.x[at(i)] + h;
    const bool a = projectionAt(u, probe.data(), camera, rays, plus);
    probe[at(i)] = u.x[at(i)] - h;
    const bool b = projectionAt(u, probe.data(), camera, rays, minus);
    probe[at(i)] = u.x[at(i)];
    if (!a || !b)
      fail(L"projection uncertainty: the ray does not reach the camera's front");
    G(0, i) = (plus[0] - minus[0]) / (2.0 * h);
    G(1, i) = (plus[1] - minus[1]) / (2.0 * h);
  }
  tkProjectionUncertainty out;
  if (u.covariance.undetermined(G.row(0).transpose()) ||
      u.covariance.undetermined(G.row(1).transpose()) || !std::isfinite(u.covariance.sigma)) {
    out.major = out.minor = out.rms = HUGE_VAL;
    out.covariance[0][0] = out.covariance[1][1] = HUGE_VAL;
    return out;
  }
  const Eigen::Matrix2d C = G * u.covariance.covariance * G.transpose();
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c)
      out.covariance[r][c] = C(r, c);
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix2d> eigen(C);
  out.major = std::sqrt(std::max(eigen.eigenvalues()(1), 0.0));
  out.minor = std::sqrt(std::max(eigen.eigenvalues()(0), 0.0));
  out.angle = std::atan2(eigen.eigenvectors()(1, 1), eigen.eigenvectors()(0, 1));
  out.rms = std::sqrt(std::max(C.trace(), 0.0));
  return out;
}

std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0) {
  char text[256];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

// Area of the convex hull of points (monotone chain).
double hullArea(std::vector<std::array<double, 2>> points) {
  if (points.size() < 3)
    return 0.0;
  std::sort(points.begin(), points.end());
  const auto cross = [](const std::array<double, 2>& o, const std::array<double, 2>& a,
                        const std::array<double, 2>& b) {
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
  };
  std::vector<std::array<double, 2>> hull(2 * points.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0.0)
      --k;
    hull[k++] = points[i];
  }
  for (std::size_t i = points.size() - 1, t = k + 1; i > 0; --i) {
    while (k >= t && cross(hull[k - 2], hull[k - 1], points[i - 1]) <= 0.0)
      --k;
    hull[k++] = points[i - 1];
  }
  double area = 0.0;
  for (std::size_t i = 0; i + 1 < k; ++i)
    area += hull[i][0] * hull[i + 1][1] - hull[i + 1][0] * hull[i][1];
  return 0.5 * std::fabs(area);
}

void addWarnings(Impl& u) {
  using Kind = tkCalibrationWarningKind;
  const ccal::detail::ParameterCovariance& cov = u.covariance;
  if (cov.rankDeficient())
    u.warnings.push_back({Kind::eRankDeficient, -1, -1, static_cast<double>(cov.free - cov.rank),
                          0.0,
                          format("the data do not determine %.0f direction(s) of the parameters",
                                 static_cast<double>(cov.free - cov.rank))});
  if (!std::isfinite(cov.sigma))
    u.warnings.push_back({Kind::eNoiseNotEstimable, -1, -1, static_cast<double>(cov.points),
                          static_cast<double>(cov.rank),
                          "too few points to estimate the noise (2N <= parameters)"});
  const ParameterLayout& layout = u.problem->layout();
  const long nC = layout.cameras();
  const double* x0 = u.x.data();
  // Per camera: focal lengths, coverage, corners, views.
  std::vector<std::vector<std::array<double, 2>>> points(at(nC));
  std::vector<double> f(at(u.problem->rows()));
  u.problem->evaluate(x0, f.data());
  for (long c = 0; c < nC; ++c) {
    if (!layout.poseOnly()) {
      const ccal::detail::CameraIntrinsics v = intrinsicsOf(u, x0, c);
      const tkCameraMatrixTerms k = matrixTerms(v);
      const double s0 = std::fabs(slopeAtCentre(v));
      const double relative = std::max(u.cameras[at(c)].focalX / std::fabs(k.fx * s0),
                                       u.cameras[at(c)].focalY / std::fabs(k.fy * s0));
      if (!(relative <= u.options.focalRelativeLimit))
        u.warnings.push_back({Kind::eFocalLengthUncertain, c, -1, relative,
                              u.options.focalRelativeLimit,
                              format("the focal length is uncertain: σ(f)/f = %.3g %% (limit "
                                     "%.3g %%); the data do not determine the model",
                                     100.0 * relative, 100.0 * u.options.focalRelativeLimit)});
    }
  }
  long point = 0;
  std::vector<std::vector<std::pair<long, double>>> viewRms(at(nC));
  const long nZ = layout.zRotationPlacements();
  for (const ImageResidualProblem::List& list : u.problem->lists()) {
    double sum = 0.0, weight = 0.0;
    const auto& records =
        (list.zRotation ? u.problem->problem().zLists
                        : u.problem->problem().aLists)[at(list.placement * nC + list.camera)];
    for (long k = 0; k < list.points; ++k, ++point) {
      const double w = u.problem->weight(point);
      const std::size_t row = at(list.firstRow + 2 * k);
      sum += f[row] * f[row] + f[row + 1] * f[row + 1];
      weight += w;
      if (w > 0.0)
        points[at(list.camera)].push_back({records.records[k].p.x, records.records[k].p.y});
    }
    if (weight > 0.0)
      viewRms[at(list.camera)].push_back(
          {list.zRotation ? list.placement : nZ + list.placement, std::sqrt(sum / weight)});
  }
  for (long c = 0; c < nC; ++c) {
    auto& views = viewRms[at(c)];
    if (views.size() >= 3) {
      std::vector<double> values;
      for (const auto& v : views)
        values.push_back(v.second);
      std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2),
                       values.end());
      const double median = values[values.size() / 2];
      for (const auto& v : views)
        if (v.second > u.options.viewRatioLimit * median)
          u.warnings.push_back(
              {Kind::eViewRms, c, v.first, v.second / median, u.options.viewRatioLimit,
               format("one view's RMS (%.3g px) is %.3g times the median view's (%.3g px)",
                      v.second, v.second / median, median)});
    }
    if (!hasImageSize(u, c))
      continue;
    const std::array<double, 2> size = imageSizeOf(u, c);
    const double share = hullArea(points[at(c)]) / (size[0] * size[1]);
    if (share < u.options.coverageLimit)
      u.warnings.push_back({Kind::eLowCoverage, c, -1, share, u.options.coverageLimit,
                            format("the points cover %.3g %% of the image (limit %.3g %%)",
                                   100.0 * share, 100.0 * u.options.coverageLimit)});
    try {
      const double centre =
          projection(u, c, tkVector<2>(0.5 * (size[0] - 1.0), 0.5 * (size[1] - 1.0)), 0.0).rms;
      double corner = 0.0;
      for (double cx : {0.0, size[0] - 1.0})
        for (double cy : {0.0, size[1] - 1.0})
          corner = std::max(corner, projection(u, c, tkVector<2>(cx, cy), 0.0).rms);
      if (!(corner <= u.options.cornerRatioLimit * centre))
        u.warnings.push_back({Kind::eCornerUncertainty, c, -1, corner / centre,
                              u.options.cornerRatioLimit,
                              format("the projection uncertainty at an image corner (%.3g px) is "
                                     "%.3g times the centre's (%.3g px)",
                                     corner, corner / centre, centre)});
    } catch (const tkInvariantFailure&) {
      // A corner without a ray (a lens model that does not reach it): no corner figure.
    }
  }
}

}  // namespace

tkCalibrationUncertainty::tkCalibrationUncertainty() = default;
tkCalibrationUncertainty::tkCalibrationUncertainty(std::shared_ptr<const Impl> impl)
    : impl_(std::move(impl)) {}

namespace {
const Impl& checked(const std::shared_ptr<const Impl>& impl) {
  if (impl == nullptr)
    fail(L"tkCalibrationUncertainty: empty (not computed)");
  return *impl;
}
}  // namespace

double tkCalibrationUncertainty::sigma() const { return checked(impl_).covariance.sigma; }
bool tkCalibrationUncertainty::sigmaEstimated() const {
  return checked(impl_).covariance.sigmaEstimated;
}
long tkCalibrationUncertainty::points() const { return checked(impl_).covariance.points; }
long tkCalibrationUncertainty::parameters() const { return checked(impl_).covariance.free; }
long tkCalibrationUncertainty::rank() const { return checked(impl_).covariance.rank; }
bool tkCalibrationUncertainty::rankDeficient() const {
  return checked(impl_).covariance.rankDeficient();
}
const std::vector<tkCameraDeviations>& tkCalibrationUncertainty::cameras() const {
  return checked(impl_).cameras;
}
const std::vector<tkPlacementDeviations>& tkCalibrationUncertainty::zRotationPlacements() const {
  return checked(impl_).zPlacements;
}
const std::vector<tkPlacementDeviations>& tkCalibrationUncertainty::arbitraryPlacements() const {
  return checked(impl_).aPlacements;
}
const std::vector<tkCalibrationWarning>& tkCalibrationUncertainty::warnings() const {
  return checked(impl_).warnings;
}
const std::vector<double>& tkCalibrationUncertainty::covariance() const {
  return checked(impl_).covarianceRows;
}
long tkCalibrationUncertainty::columnSize() const {
  return static_cast<long>(checked(impl_).x.size());
}

tkCalibrationUncertainty tfCalibrationUncertainty(
    const tkMulticameraZRotationPlacementsWeighted& zRotationPlacements,
    const tkMulticameraArbitraryPlacementsWeighted& arbitraryPlacements, bool intrinsicsFixed,
    const Params& rig, const tkUncertaintyOptions& options) {
  if (!(options.sigma >= 0.0) || !std::isfinite(options.sigma))
    fail(L"tfCalibrationUncertainty: σ must be positive and finite (0: estimated)");
  auto impl = std::make_shared<Impl>();
  impl->options = options;
  impl->problem = std::make_unique<ImageResidualProblem>(
      tfWeightedData(zRotationPlacements), tfWeightedData(arbitraryPlacements), rig,
      intrinsicsFixed);
  const long nC = impl->problem->layout().cameras();
  if (options.imageSizes.size() > 1 && static_cast<long>(options.imageSizes.size()) != nC)
    fail(L"tfCalibrationUncertainty: imageSizes needs one entry, or one per camera");
  for (const auto& size : options.imageSizes)
    if (!(size[0] >= 0.0) || !(size[1] >= 0.0) || !std::isfinite(size[0]) ||
        !std::isfinite(size[1]))
      fail(L"tfCalibrationUncertainty: an image size is negative or not finite");
  if (impl->problem->weightedPoints() == 0)
    fail(L"tfCalibrationUncertainty: no point has a non-zero weight");
  impl->x = impl->problem->start();
  impl->covariance = ccal::detail::parameterCovariance(*impl->problem, impl->x.data(), options.sigma);
  const long n = static_cast<long>(impl->x.size());
  impl->covarianceRows.resize(at(n * n));
  for (long r = 0; r < n; ++r)
    for (long c = 0; c < n; ++c)
      impl->covarianceRows[at(r * n + c)] = impl->covariance.covariance(r, c);
  impl->seen.assign(at(nC), {});
  long point = 0;
  for (const ImageResidualProblem::List& list : impl->problem->lists()) {
    const ParameterLayout& layout = impl->problem->layout();
    bool weighted = false;  // a list whose points all have weight 0 observes nothing
    for (long k = 0; k < list.points; ++k, ++point)
      weighted |= impl->problem->weight(point) > 0.0;
    if (!weighted)
      continue;
    long b = -1;
    if (!list.zRotation)
      b = layout.blockIndex({ParameterLayout::Kind::kArbitrary, list.placement});
    else if (list.placement > 0)
      b = layout.blockIndex({ParameterLayout::Kind::kZRotation, list.placement});
    impl->seen[at(list.camera)].push_back(b);
  }
  cameraDeviations(*impl);
  placementDeviations(*impl);
  addWarnings(*impl);
  return tkCalibrationUncertainty(std::move(impl));
}

tkPoseDeviations tfRelativePoseDeviations(const tkCalibrationUncertainty& u, long from, long to) {
  const Impl& impl = u.impl();
  const ParameterLayout& layout = impl.problem->layout();
  if (from < 0 || to < 0 || from >= layout.cameras() || to >= layout.cameras())
    fail(L"relative pose deviations: no such camera");
  const auto relative = [&](const double* x) {
    return cameraPoseOf(impl, x, to) * cameraPoseOf(impl, x, from).inverse();
  };
  const tkXform<3> pose0 = relative(impl.x.data());
  const auto terms = [&](const double* x) {
    const tkXform<3> pose = relative(x);
    const std::array<double, 3> w = rotationVector(pose.matrix(), pose0.matrix());
    return std::vector<double>{w[0], w[1], w[2], pose.trans()[0], pose.trans()[1],
                               pose.trans()[2]};
  };
  // The camera blocks are consecutive: the range from the first to the last of the two.
  const long first = layout.cameraStart(std::min(from, to));
  const long last = layout.cameraStart(std::max(from, to)) + layout.cameraBlockSize();
  const std::vector<double> s = deviations(impl, first, last - first, terms);
  tkPoseDeviations out;
  for (std::size_t k = 0; k < 3; ++k) {
    out.rotationDeg[k] = s[k];
    out.translation[k] = s[3 + k];
  }
  return out;
}

tkProjectionUncertainty tfProjectionUncertainty(const tkCalibrationUncertainty& u, long camera,
                                                const tkVector<2>& image, double distance) {
  return projection(u.impl(), camera, image, distance);
}

std::vector<double> tfProjectionUncertaintyGrid(const tkCalibrationUncertainty& u, long camera,
                                                long columns, long rows, double distance) {
  const Impl& impl = u.impl();
  if (camera < 0 || camera >= impl.problem->layout().cameras())
    fail(L"projection uncertainty grid: no such camera");
  if (!hasImageSize(impl, camera))
    fail(L"projection uncertainty grid: the camera's image size is not known");
  if (columns < 2 || rows < 2)
    fail(L"projection uncertainty grid: columns and rows must be at least 2");
  const std::array<double, 2> size = imageSizeOf(impl, camera);
  std::vector<double> out;
  out.reserve(at(columns * rows));
  for (long r = 0; r < rows; ++r)
    for (long c = 0; c < columns; ++c) {
      const tkVector<2> p((size[0] - 1.0) * static_cast<double>(c) / static_cast<double>(columns - 1),
                          (size[1] - 1.0) * static_cast<double>(r) / static_cast<double>(rows - 1));
      try {
        out.push_back(projection(impl, camera, p, distance).rms);
      } catch (const tkInvariantFailure&) {
        out.push_back(HUGE_VAL);  // no ray through this point
      }
    }
  return out;
}
