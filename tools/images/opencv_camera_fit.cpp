#include "opencv_camera_fit.h"

#include <ccal/camera_terms.h>

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Pairs of (position at Z = 1, image point) on a grid of about `across` points per image width,
// the image's border rows and columns included. Points that the model cannot map are left out.
struct Sample {
  tkVector<2> positionAtZ1, image;
};

std::vector<Sample> gridSamples(const tkPhysicalAtZEquals1FromImageParams& model, int width,
                                int height, int across) {
  const int nx = across, ny = std::max(2, across * height / width);
  std::vector<Sample> samples;
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) {
      const tkVector<2> image((width - 1.0) * i / (nx - 1), (height - 1.0) * j / (ny - 1));
      try {
        const tkVector<2> q = model.warpPoint(image);
        if (std::isfinite(q.x()) && std::isfinite(q.y()))
          samples.push_back({q, image});
      } catch (const std::exception&) {
        // Beyond a sine-tangent lens's field: no ray, nothing to match.
      }
    }
  }
  return samples;
}

constexpr int kLinear = 4;  // fx, fy, cx, cy lead the parameter vector

tkOpenCvCamera unpack(const Eigen::VectorXd& theta, int width, int height) {
  tkOpenCvCamera camera;
  camera.fx = theta[0];
  camera.fy = theta[1];
  camera.cx = theta[2];
  camera.cy = theta[3];
  camera.distortion.assign(theta.data() + kLinear, theta.data() + theta.size());
  camera.width = width;
  camera.height = height;
  return camera;
}

Eigen::VectorXd residuals(const Eigen::VectorXd& theta, const std::vector<Sample>& samples,
                          int width, int height) {
  const tkOpenCvCamera camera = unpack(theta, width, height);
  Eigen::VectorXd r(2 * samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    const tkVector<2> d = tfOpenCvProject(camera, samples[i].positionAtZ1) - samples[i].image;
    r[2 * i] = d.x();
    r[2 * i + 1] = d.y();
  }
  return r;
}

void measure(tkOpenCvCamera& camera, const std::vector<Sample>& samples) {
  double sum = 0.0, largest = 0.0;
  for (const Sample& s : samples) {
    const double e = (tfOpenCvProject(camera, s.positionAtZ1) - s.image).length();
    sum += e * e;
    largest = std::max(largest, e);
  }
  camera.rmsError = std::sqrt(sum / static_cast<double>(samples.size()));
  camera.maxError = largest;
}

}  // namespace

tkVector<2> tfOpenCvProject(const tkOpenCvCamera& camera, const tkVector<2>& positionAtZ1) {
  const std::vector<double>& k = camera.distortion;
  auto at = [&k](size_t i) { return i < k.size() ? k[i] : 0.0; };
  const double x = positionAtZ1.x(), y = positionAtZ1.y();
  const double r2 = x * x + y * y, r4 = r2 * r2, r6 = r4 * r2;
  const double s =
      (1.0 + at(0) * r2 + at(1) * r4 + at(4) * r6) / (1.0 + at(5) * r2 + at(6) * r4 + at(7) * r6);
  const double xd = x * s + 2.0 * at(2) * x * y + at(3) * (r2 + 2.0 * x * x);
  const double yd = y * s + at(2) * (r2 + 2.0 * y * y) + 2.0 * at(3) * x * y;
  return tkVector<2>(camera.fx * xd + camera.cx, camera.fy * yd + camera.cy);
}

namespace {

tkOpenCvCamera fit(const tkPhysicalAtZEquals1FromImageParams& model, int width, int height,
                   const std::vector<Sample>& samples, bool rational) {
  const tkCameraMatrixTerms k = tfCameraMatrixTerms(model);
  const int coefficients = rational ? 8 : 5;
  Eigen::VectorXd theta = Eigen::VectorXd::Zero(kLinear + coefficients);
  theta << k.fx, k.fy, k.cx, k.cy, Eigen::VectorXd::Zero(coefficients);
  if (model.distModel() == tk2XformCalib2Defs::eNoDistortion) {
    tkOpenCvCamera camera = unpack(theta, width, height);
    measure(camera, samples);
    return camera;
  }
  if (model.distModel() == tk2XformCalib2Defs::eRadial)
    theta[kLinear] = -model.k();  // first order of the inverse of q = d + k r² d

  // Levenberg-Marquardt on a forward-difference Jacobian: a dozen parameters, a few thousand
  // residuals, once per export.
  Eigen::VectorXd r = residuals(theta, samples, width, height);
  double cost = r.squaredNorm(), lambda = 1e-3;
  for (int iteration = 0; iteration < 200 && lambda < 1e12; ++iteration) {
    Eigen::MatrixXd jacobian(r.size(), theta.size());
    for (int p = 0; p < theta.size(); ++p) {
      const double step = 1e-7 * std::max(1.0, std::abs(theta[p]));
      Eigen::VectorXd moved = theta;
      moved[p] += step;
      jacobian.col(p) = (residuals(moved, samples, width, height) - r) / step;
    }
    const Eigen::MatrixXd normal = jacobian.transpose() * jacobian;
    const Eigen::VectorXd gradient = jacobian.transpose() * r;
    bool improved = false;
    while (!improved && lambda < 1e12) {
      Eigen::MatrixXd damped = normal;
      damped.diagonal() += lambda * normal.diagonal().cwiseMax(1e-12);
      const Eigen::VectorXd candidate = theta - damped.ldlt().solve(gradient);
      const Eigen::VectorXd rc = residuals(candidate, samples, width, height);
      if (rc.allFinite() && rc.squaredNorm() < cost) {
        const double gain = cost - rc.squaredNorm();
        theta = candidate;
        r = rc;
        cost = rc.squaredNorm();
        lambda = std::max(1e-9, lambda * 0.3);
        improved = true;
        if (gain < 1e-14 * std::max(1.0, cost))
          lambda = 1e12;  // converged
      } else {
        lambda *= 10.0;
      }
    }
  }
  tkOpenCvCamera camera = unpack(theta, width, height);
  // The figures come from a denser grid than the fit used.
  measure(camera, gridSamples(model, width, height, 160));
  return camera;
}

}  // namespace

tkOpenCvCamera tfFitOpenCvCamera(const tkPhysicalAtZEquals1FromImageParams& model, int width,
                                 int height, double tolerance) {
  if (width < 2 || height < 2)
    throw std::invalid_argument("the image size must be at least 2 x 2 pixels");
  const std::vector<Sample> samples = gridSamples(model, width, height, 64);
  if (samples.size() < 64)
    throw std::invalid_argument("the lens model maps too few points of the image to fit a camera");
  const bool sineTan = model.distModel() == tk2XformCalib2Defs::eSineTan;
  tkOpenCvCamera camera = fit(model, width, height, samples, sineTan);
  if (!sineTan && model.distModel() != tk2XformCalib2Defs::eNoDistortion &&
      camera.maxError > tolerance) {
    const tkOpenCvCamera rational = fit(model, width, height, samples, true);
    if (rational.maxError < camera.maxError)
      camera = rational;
  }
  return camera;
}
