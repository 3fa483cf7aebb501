#include "ccal/multicam/image_residual_covariance.h"

#include <tk/exception.h>

#include <Eigen/QR>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ccal::detail {
namespace {

std::size_t at(long i) { return static_cast<std::size_t>(i); }

// One placement (or the world frame, size 0) of the reduction, in scaled coordinates: its
// determined directions P = V_d·S_d⁻¹ (size x r) of its leading triangle R_pp = U·S·Vᵀ, its
// coupling G = R_pp⁺·R_pc (size x C, camera coordinates) and its undetermined directions V_0.
struct Placement {
  long start = 0;  // first column in x
  long size = 0;
  long first = 0;  // first placement coordinate (placements stacked in list order)
  std::vector<long> cameras;  // with a list in this placement
  std::vector<long> lists;
  long rows = 0;
  Eigen::MatrixXd rpp, rpc;  // size x size, size x C
  Eigen::MatrixXd P, G, V0;
};

// Largest eigenvalue of a symmetric positive semi-definite operator by power iteration from the
// ones vector (stops at a relative change of 1e-10, or after 500 products).
template <class Apply>
double largestEigenvalue(long size, Apply apply) {
  Eigen::VectorXd v = Eigen::VectorXd::Ones(size).normalized();
  double lambda = 0.0;
  for (int k = 0; k < 500; ++k) {
    const Eigen::VectorXd w = apply(v);
    const double next = v.dot(w);
    const double norm = w.norm();
    if (!(norm > 0.0))
      return 0.0;
    v = w / norm;
    if (std::abs(next - lambda) <= 1e-10 * std::abs(next)) {
      lambda = next;
      break;
    }
    lambda = next;
  }
  return lambda;
}

}  // namespace

bool ParameterCovariance::undetermined(const Eigen::VectorXd& gradient) const {
  if (nullSpace.cols() == 0)
    return false;
  const double norm = gradient.norm();
  return norm > 0.0 && (nullSpace.transpose() * gradient).cwiseAbs().maxCoeff() > 1e-6 * norm;
}

ParameterCovariance parameterCovariance(ImageResidualProblem& problem, const double* x,
                                        double sigma) {
  if (!(sigma >= 0.0) || !std::isfinite(sigma))
    throw tkInvariantFailure(L"parameter covariance: σ must be positive and finite (0: estimate)");
  const ParameterLayout& layout = problem.layout();
  const long n = problem.parameters();
  const long nC = layout.cameras();
  const long cb = layout.cameraBlockSize();
  const long held = problem.heldOffset();
  const long largest = problem.largestList();
  const std::vector<ImageResidualProblem::List>& lists = problem.lists();
  const long listCount = static_cast<long>(lists.size());

  // Camera coordinates: the camera values that move, camera by camera.
  const long cw = held >= 0 ? cb - 1 : cb;
  const long C = nC * cw;
  std::vector<long> cameraColumn(at(C));
  for (long c = 0; c < nC; ++c)
    for (long a = 0, k = 0; a < cb; ++a)
      if (a != held)
        cameraColumn[at(c * cw + k++)] = layout.cameraStart(c) + a;

  // The placements in list order (a placement's lists are consecutive).
  std::vector<Placement> placements;
  for (long g = 0; g < listCount; ++g) {
    const long block = problem.placementBlock(g);
    const long start = block >= 0 ? layout.blockStart(block) : -1;
    if (placements.empty() || placements.back().start != start) {
      Placement p;
      p.start = start;
      p.size = block >= 0 ? layout.blockSize(block) : 0;
      p.first = placements.empty() ? 0 : placements.back().first + placements.back().size;
      placements.push_back(p);
    }
    placements.back().cameras.push_back(lists[at(g)].camera);
    placements.back().lists.push_back(g);
    placements.back().rows += 2 * lists[at(g)].points;
  }
  const long np = placements.back().first + placements.back().size;

  // Pass 1: the residuals and the column norms of √w·J (the scaling of the rank decision).
  std::vector<double> rows(at(largest)), cameraJ(at(largest * cb)),
      placementJ(at(largest * ParameterLayout::kArbitraryBlockSize));
  const auto evaluate = [&](long g) {
    if (!problem.evaluateList(g, x, rows.data(), cameraJ.data(), placementJ.data()))
      throw tkInvariantFailure(L"parameter covariance: the residuals cannot be evaluated");
  };
  ParameterCovariance out;
  out.points = problem.weightedPoints();
  Eigen::VectorXd scale = Eigen::VectorXd::Zero(n);
  for (const Placement& p : placements)
    for (long g : p.lists) {
      evaluate(g);
      const long m = 2 * lists[at(g)].points;
      const long cs = layout.cameraStart(lists[at(g)].camera);
      for (long i = 0; i < m; ++i) {
        out.weightedSquares += rows[at(i)] * rows[at(i)];
        for (long a = 0; a < cb; ++a)
          scale(cs + a) += cameraJ[at(i * cb + a)] * cameraJ[at(i * cb + a)];
        for (long a = 0; a < p.size; ++a)
          scale(p.start + a) += placementJ[at(i * p.size + a)] * placementJ[at(i * p.size + a)];
      }
    }
  // A zero column (no point of non-zero weight reaches the value) keeps the scale 1: the
  // reduction finds it undetermined.
  for (long i = 0; i < n; ++i)
    scale(i) = scale(i) > 0.0 ? std::sqrt(scale(i)) : 1.0;
  std::vector<long> cameraCoordinate(at(n), -1);
  for (long k = 0; k < C; ++k)
    cameraCoordinate[at(cameraColumn[at(k)])] = k;

  // Pass 2: per placement, the Householder reduction of its scaled rows [J_p J_c]: the leading
  // triangle R_pp, the coupling R_pc and the trailing rows, which join the camera rows.
  std::vector<Eigen::MatrixXd> cameraRows;
  for (Placement& p : placements) {
    const long width = p.size + C;
    Eigen::MatrixXd local = Eigen::MatrixXd::Zero(p.rows, width);
    long row = 0;
    for (long g : p.lists) {
      evaluate(g);
      const long m = 2 * lists[at(g)].points;
      const long cs = layout.cameraStart(lists[at(g)].camera);
      for (long i = 0; i < m; ++i, ++row) {
        for (long a = 0; a < p.size; ++a)
          local(row, a) = placementJ[at(i * p.size + a)] / scale(p.start + a);
        for (long a = 0; a < cb; ++a) {
          const long k = cameraCoordinate[at(cs + a)];
          if (k >= 0)
            local(row, p.size + k) = cameraJ[at(i * cb + a)] / scale(cs + a);
        }
      }
    }
    // Only the columns of the cameras that saw the placement take part.
    std::vector<long> used;
    for (long a = 0; a < p.size; ++a)
      used.push_back(a);
    std::sort(p.cameras.begin(), p.cameras.end());
    p.cameras.erase(std::unique(p.cameras.begin(), p.cameras.end()), p.cameras.end());
    for (long c : p.cameras)
      for (long k = 0; k < cw; ++k)
        used.push_back(p.size + c * cw + k);
    const long u = static_cast<long>(used.size());
    Eigen::MatrixXd compact(p.rows, u);
    for (long j = 0; j < u; ++j)
      compact.col(j) = local.col(used[at(j)]);
    local.resize(0, 0);
    Eigen::MatrixXd triangle = Eigen::MatrixXd::Zero(u, u);
    if (p.rows > 0) {
      Eigen::HouseholderQR<Eigen::Ref<Eigen::MatrixXd>> qr(compact);
      const long t = std::min(p.rows, u);
      triangle.topRows(t) = qr.matrixQR().topRows(t).triangularView<Eigen::Upper>();
    }
    p.rpp = triangle.topLeftCorner(p.size, p.size);
    p.rpc = Eigen::MatrixXd::Zero(p.size, C);
    Eigen::MatrixXd trailing = Eigen::MatrixXd::Zero(u - p.size, C);
    for (long j = p.size; j < u; ++j) {
      p.rpc.col(used[at(j)] - p.size) = triangle.col(j).head(p.size);
      trailing.col(used[at(j)] - p.size) = triangle.col(j).tail(u - p.size);
    }
    cameraRows.push_back(std::move(trailing));
  }
  const auto reduceCameraRows = [&]() {
    long total = 0;
    for (const Eigen::MatrixXd& r : cameraRows)
      total += r.rows();
    Eigen::MatrixXd stacked(std::max(total, C), C);
    stacked.setZero();
    long row = 0;
    for (const Eigen::MatrixXd& r : cameraRows) {
      stacked.middleRows(row, r.rows()) = r;
      row += r.rows();
    }
    Eigen::HouseholderQR<Eigen::Ref<Eigen::MatrixXd>> qr(stacked);
    return Eigen::MatrixXd(qr.matrixQR().topRows(C).triangularView<Eigen::Upper>());
  };
  Eigen::MatrixXd rc = reduceCameraRows();

  // The largest singular value of the whole scaled triangle R (RᵀR = the scaled JᵀWJ), by power
  // iteration on RᵀR with the block products: the scale of the rank decision.
  const auto normalProduct = [&](const Eigen::VectorXd& v) {
    Eigen::VectorXd w = Eigen::VectorXd::Zero(np + C);
    const Eigen::VectorXd vc = v.tail(C);
    const Eigen::VectorXd rcv = rc * vc;
    w.tail(C) = rc.transpose() * rcv;
    for (const Placement& p : placements) {
      if (p.size == 0)
        continue;
      const Eigen::VectorXd r = p.rpp * v.segment(p.first, p.size) + p.rpc * vc;
      w.segment(p.first, p.size) = p.rpp.transpose() * r;
      w.tail(C) += p.rpc.transpose() * r;
    }
    return w;
  };
  const double largestValue = std::sqrt(std::max(largestEigenvalue(np + C, normalProduct), 0.0));
  const double threshold = ParameterCovariance::kRankTolerance * largestValue;

  // Each placement's own determined and undetermined directions; the rows of an undetermined
  // direction (U₀ᵀ[R_pp R_pc], its placement part at or below the threshold) are camera rows.
  long rank = 0;
  bool moved = false;
  for (Placement& p : placements) {
    if (p.size == 0)
      continue;
    Eigen::JacobiSVD<Eigen::MatrixXd> svd(p.rpp, Eigen::ComputeFullU | Eigen::ComputeFullV);
    const Eigen::VectorXd& s = svd.singularValues();
    long r = 0;
    while (r < p.size && s(r) > threshold)
      ++r;
    rank += r;
    p.P = svd.matrixV().leftCols(r) * s.head(r).cwiseInverse().asDiagonal();
    p.G = p.P * (svd.matrixU().leftCols(r).transpose() * p.rpc);
    p.V0 = svd.matrixV().rightCols(p.size - r);
    if (r < p.size) {
      cameraRows.push_back(svd.matrixU().rightCols(p.size - r).transpose() * p.rpc);
      moved = true;
    }
  }
  if (moved)
    rc = reduceCameraRows();

  // The reduced camera system: its SVD gives the cameras' rank, covariance and null space.
  Eigen::JacobiSVD<Eigen::MatrixXd> svd(rc, Eigen::ComputeFullV);
  const Eigen::VectorXd& s = svd.singularValues();
  long rankC = 0;
  while (rankC < C && s(rankC) > threshold)
    ++rankC;
  rank += rankC;
  out.rank = rank;
  out.free = np + C;
  const double dof = 2.0 * static_cast<double>(out.points) - static_cast<double>(rank);
  out.sigmaEstimated = sigma == 0.0;
  out.sigma = sigma > 0.0 ? sigma : dof > 0.0 ? std::sqrt(out.weightedSquares / dof) : HUGE_VAL;
  const Eigen::MatrixXd Vc = svd.matrixV().leftCols(rankC);
  const Eigen::MatrixXd ccc = Vc * s.head(rankC).cwiseInverse().cwiseAbs2().asDiagonal() *
                              Vc.transpose();  // C x C, scaled, σ = 1

  // The scaled covariance (σ = 1) in placement-then-camera coordinates:
  //   Cov_cc = ccc, Cov_pc = −G_p·ccc, Cov_pq = G_p·ccc·G_qᵀ (+ P_p·P_pᵀ for q = p).
  Eigen::MatrixXd G(np, C);
  for (const Placement& p : placements)
    if (p.size > 0)
      G.middleRows(p.first, p.size) = p.G;
  const Eigen::MatrixXd H = G * ccc;
  Eigen::MatrixXd scaled(np + C, np + C);
  scaled.topLeftCorner(np, np).noalias() = H * G.transpose();
  for (const Placement& p : placements)
    if (p.size > 0)
      scaled.block(p.first, p.first, p.size, p.size) += p.P * p.P.transpose();
  scaled.topRightCorner(np, C) = -H;
  scaled.bottomLeftCorner(C, np) = -H.transpose();
  scaled.bottomRightCorner(C, C) = ccc;

  // The condition number over the determined directions: the largest singular value over the
  // smallest, 1/√ of the scaled covariance's largest eigenvalue (power iteration with the block
  // products: Cov·v = (P·Pᵀ·v_p − H·u, ccc·u) with u = v_c − Gᵀ·v_p).
  const double inverseSmallest = largestEigenvalue(np + C, [&](const Eigen::VectorXd& v) {
    const Eigen::VectorXd u = v.tail(C) - G.transpose() * v.head(np);
    Eigen::VectorXd w(np + C);
    w.head(np) = -(H * u);
    for (const Placement& p : placements)
      if (p.size > 0)
        w.segment(p.first, p.size) += p.P * (p.P.transpose() * v.segment(p.first, p.size));
    w.tail(C) = ccc * u;
    return w;
  });
  out.conditionNumber =
      rank > 0 && inverseSmallest > 0.0 ? largestValue * std::sqrt(inverseSmallest) : HUGE_VAL;

  // Back to x: the column of coordinate a.
  std::vector<long> column(at(np + C));
  for (const Placement& p : placements)
    for (long a = 0; a < p.size; ++a)
      column[at(p.first + a)] = p.start + a;
  for (long k = 0; k < C; ++k)
    column[at(np + k)] = cameraColumn[at(k)];
  out.covariance = Eigen::MatrixXd::Zero(n, n);
  const double variance = out.sigma * out.sigma;
  for (long b = 0; b < np + C; ++b) {
    const long j = column[at(b)];
    for (long a = 0; a < np + C; ++a) {
      const long i = column[at(a)];
      out.covariance(i, j) = variance * scaled(a, b) / (scale(i) * scale(j));
    }
  }

  // Undetermined directions in x (a unit step of a scaled coordinate is 1/scale of x): each
  // placement's own, then the cameras', with the placements following (−G_p·v).
  long nulls = C - rankC;
  for (const Placement& p : placements)
    nulls += p.V0.cols();
  out.nullSpace = Eigen::MatrixXd::Zero(n, nulls);
  long d = 0;
  for (const Placement& p : placements)
    for (long k = 0; k < p.V0.cols(); ++k, ++d) {
      for (long a = 0; a < p.size; ++a)
        out.nullSpace(p.start + a, d) = p.V0(a, k) / scale(p.start + a);
      out.nullSpace.col(d).normalize();
    }
  for (long k = rankC; k < C; ++k, ++d) {
    const Eigen::VectorXd v = svd.matrixV().col(k);
    const Eigen::VectorXd placed = -(G * v);
    for (long a = 0; a < np; ++a)
      out.nullSpace(column[at(a)], d) = placed(a) / scale(column[at(a)]);
    for (long a = 0; a < C; ++a)
      out.nullSpace(cameraColumn[at(a)], d) = v(a) / scale(cameraColumn[at(a)]);
    out.nullSpace.col(d).normalize();
  }
  return out;
}

}  // namespace ccal::detail
