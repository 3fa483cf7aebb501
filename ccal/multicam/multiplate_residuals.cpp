#include "ccal/multicam/multiplate_residuals.h"

#include "platform/core/camera_model/residuals.h"

#include <algorithm>
#include <cmath>

namespace ccal::detail {

namespace {

// The image cost's F is 2·∇E (4·Jᵀ·w·r), the scale of the specified difference quotient
// (E(x + δe) − E(x − δe))/δ; the Newton step does not depend on it.
constexpr double kImageGradientScale = 2.0;

std::size_t at(long i) {
  return static_cast<std::size_t>(i);
}

CameraIntrinsics intrinsicsOfBlock(const double* block,
                                   tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  CameraIntrinsics v;
  v.tx = block[tk_kTranslationX];
  v.ty = block[tk_kTranslationY];
  v.sx = block[tk_kScaleX];
  v.sy = block[tk_kScaleY];
  v.skew = block[tk_kSkew];
  v.lens.model = model;
  if (model != tk2XformCalib2Defs::eNoDistortion) {
    v.lens.cx = block[tk_kCenterX];
    v.lens.cy = block[tk_kCenterY];
    const int count = lensValueCount(model);
    for (int i = 0; i < count; ++i)
      v.lens.values[i] = block[tk_kLensFirst + i];
  }
  return v;
}

CameraIntrinsics intrinsicsOfValues(const tk_IntrinsicValues& values) {
  CameraIntrinsics v;
  v.tx = values.tx;
  v.ty = values.ty;
  v.sx = values.sx;
  v.sy = values.sy;
  v.skew = values.skew;
  v.lens.model = values.model;
  v.lens.cx = values.cx;
  v.lens.cy = values.cy;
  std::copy(values.lens, values.lens + 4, v.lens.values);
  return v;
}

// One residual's Jacobian as rows over a list's local columns: the camera block (intrinsic values
// at their block offsets and the pose at poseOffset), then the placement's block.
struct LocalRows {
  double row[2][23];
};

void spread(const ResidualJacobian& J, int intrinsicCount, int poseOffset, int cameraBlock,
            int placementSize, LocalRows& out) {
  for (int r = 0; r < 2; ++r) {
    for (int i = 0; i < intrinsicCount; ++i)
      out.row[r][intrinsicBlockOffset(i)] = J.byIntrinsics[r][i];
    for (int c = 0; c < 6; ++c)
      out.row[r][poseOffset + c] = J.byCamera[r][c];
    for (int c = 0; c < placementSize; ++c)
      out.row[r][cameraBlock + c] = J.byPlacement[r][c];
  }
}

// localF += 2w·Jᵀr and, when localK is not null, localK (row-major cols x cols) += 2w·JᵀJ for
// the rows [from, to) of one residual.
void addRows(const LocalRows& J, const double r[2], double w, int from, int to, int cols,
             double* localF, double* localK) {
  const double w2 = 2.0 * w;
  for (int a = from; a < to; ++a) {
    const double j0 = w2 * J.row[0][a];
    const double j1 = w2 * J.row[1][a];
    localF[a] += j0 * r[0] + j1 * r[1];
    if (localK == nullptr)
      continue;
    double* row = localK + a * cols;
    for (int b = 0; b < cols; ++b)
      row[b] += j0 * J.row[0][b] + j1 * J.row[1][b];
  }
}

}  // namespace

void MultiplateResiduals::reset(const tk_MultiplateProblem& problem) {
  problem_ = &problem;
  kind_ = problem.poseOnly                                      ? MultiplateResidualKind::kPoseOnly
          : problem.model == tk2XformCalib2Defs::eSineTan ? MultiplateResidualKind::kImage
                                                                : MultiplateResidualKind::kMixed;
  const int lens = lensValueCount(problem.model);
  intrinsicCount_ = lens <= 0 ? 5 : 7 + lens;
  const std::size_t nC = at(problem.nC);
  models_.assign(nC, CameraModel());
  cameraPoses_.assign(nC, Pose());
  zPoses_.assign(at(std::max(problem.nZ, 0L)), Pose());
  aPoses_.assign(at(std::max(problem.nA, 0L)), Pose());
  if (problem.poseOnly)
    for (std::size_t c = 0; c < nC && c < problem.fixedIntrinsics.size(); ++c)
      models_[c] = CameraModel(intrinsicsOfValues(problem.fixedIntrinsics[c]));
  lists_.clear();
  for (long c = 0; c < problem.nC; ++c) {
    for (long j = 0; j < problem.nZ; ++j) {
      const tk_MultiplateList& view = problem.zLists[at(j * problem.nC + c)];
      if (view.count == 0)
        continue;
      List list;
      list.camera = c;
      list.zRotation = true;
      list.placementIndex = j;
      list.placement = j == 0 ? nullptr : &zPoses_[at(j)];
      list.placementStart = j == 0 ? -1 : problem.zStart() + 3 * (j - 1);
      list.placementSize = j == 0 ? 0 : 3;
      list.records = view.records;
      list.count = view.count;
      lists_.push_back(list);
    }
    for (long j = 0; j < problem.nA; ++j) {
      const tk_MultiplateList& view = problem.aLists[at(j * problem.nC + c)];
      if (view.count == 0)
        continue;
      List list;
      list.camera = c;
      list.zRotation = false;
      list.placementIndex = j;
      list.placement = &aPoses_[at(j)];
      list.placementStart = problem.aStart() + 6 * j;
      list.placementSize = 6;
      list.records = view.records;
      list.count = view.count;
      lists_.push_back(list);
    }
  }
  declareBlocks();
}

void MultiplateResiduals::prepare(const double* x) {
  const tk_MultiplateProblem& pr = *problem_;
  for (long c = 0; c < pr.nC; ++c) {
    const double* block = x + c * pr.cameraBlock;
    const int held = pr.cameraUnitValIndices[at(c)];
    if (pr.poseOnly) {
      cameraPoses_[at(c)] = quaternionPose(held, block);
    } else {
      models_[at(c)] = CameraModel(intrinsicsOfBlock(block, pr.model));
      cameraPoses_[at(c)] = quaternionPose(held, block + tk_kQuatVar1);
    }
  }
  for (long j = 1; j < pr.nZ; ++j)
    zPoses_[at(j)] = zRotationPose(x + pr.zStart() + 3 * (j - 1), pr.heights[at(j)]);
  for (long j = 0; j < pr.nA; ++j)
    aPoses_[at(j)] = quaternionPose(pr.arbitraryUnitValIndices[at(j)], x + pr.aStart() + 6 * j);
}

bool MultiplateResiduals::selected(const List& list, long ci, long zi, long ai) const {
  if (ci != -1 && list.camera != ci)
    return false;
  if (zi != -1)
    return list.zRotation && list.placementIndex == zi + 1;
  if (ai != -1)
    return !list.zRotation && list.placementIndex == ai;
  return true;
}

void MultiplateResiduals::declareBlocks() {
  declared_.clear();
  const long cb = problem_->cameraBlock;
  const auto declare = [&](long r0, long rs, long c0, long cs) {
    const DeclaredBlock block{r0, rs, c0, cs};
    for (const DeclaredBlock& d : declared_)
      if (d.rowStart == r0 && d.columnStart == c0)
        return;
    declared_.push_back(block);
  };
  for (long c = 0; c < problem_->nC; ++c)
    declare(c * cb, cb, c * cb, cb);
  for (const List& list : lists_) {
    if (list.placementSize == 0)
      continue;
    const long cs = list.camera * cb;
    declare(cs, cb, list.placementStart, list.placementSize);
    declare(list.placementStart, list.placementSize, cs, cb);
    declare(list.placementStart, list.placementSize, list.placementStart, list.placementSize);
  }
}

void MultiplateResiduals::zeroDeclaredBlocks(double* k, long n) const {
  for (const DeclaredBlock& d : declared_)
    for (long c = d.columnStart; c < d.columnStart + d.columnSize; ++c)
      std::fill(k + d.rowStart + c * n, k + d.rowStart + d.rowSize + c * n, 0.0);
}

void MultiplateResiduals::scaleDeclaredBlocks(double* k, long n, const double* s) const {
  for (const DeclaredBlock& d : declared_)
    for (long c = d.columnStart; c < d.columnStart + d.columnSize; ++c) {
      double* column = k + c * n;
      for (long r = d.rowStart; r < d.rowStart + d.rowSize; ++r)
        column[r] *= s[r] * s[c];
    }
}

template <MultiplateResidualKind Kind>
void MultiplateResiduals::accumulateList(const List& list, double* localF, double* localK,
                                         double* cost) const {
  const CameraModel& model = models_[at(list.camera)];
  const Pose& camera = cameraPoses_[at(list.camera)];
  const int cb = static_cast<int>(problem_->cameraBlock);
  const int cols = cb + list.placementSize;
  const bool wantGradient = localF != nullptr;
  ResidualJacobian J;
  LocalRows rows{};
  LocalRows poseRows{};
  for (std::size_t k = 0; k < list.count; ++k) {
    const ccal_crspPair2D3DWeighted& rec = list.records[k];
    const double w = rec.w;
    if (w == 0.0)
      continue;
    const double image[2] = {rec.p.x, rec.p.y};
    const double P[3] = {rec.P.x, rec.P.y, rec.P.z};
    double r[2];
    if (Kind == MultiplateResidualKind::kImage) {
      if (imageResidual(model, camera, list.placement, image, P, r,
                        wantGradient ? &J : nullptr) != ResidualStatus::kOk)
        continue;
      if (cost != nullptr)
        *cost += w * (r[0] * r[0] + r[1] * r[1]);
      if (!wantGradient)
        continue;
      spread(J, intrinsicCount_, tk_kQuatVar1, cb, list.placementSize, rows);
      addRows(rows, r, kImageGradientScale * w, 0, cols, cols, localF, localK);
      continue;
    }
    if (cost != nullptr &&
        imageResidual(model, camera, list.placement, image, P, r, nullptr) ==
            ResidualStatus::kOk)
      *cost += w * (r[0] * r[0] + r[1] * r[1]);
    if (!wantGradient)
      continue;
    if (Kind == MultiplateResidualKind::kMixed) {
      if (intrinsicTermResidual(model, camera, list.placement, image, P, r, &J) ==
          ResidualStatus::kOk) {
        spread(J, intrinsicCount_, tk_kQuatVar1, cb, list.placementSize, rows);
        // Intrinsic rows: offsets 0..4 and 11.. (the pose sits at 5..10).
        addRows(rows, r, w, 0, tk_kQuatVar1, cols, localF, localK);
        addRows(rows, r, w, tk_kCenterX, cb, cols, localF, localK);
      }
      if (poseTermResidual(model, camera, list.placement, image, P, r, &J) ==
          ResidualStatus::kOk) {
        spread(J, intrinsicCount_, tk_kQuatVar1, cb, list.placementSize, poseRows);
        addRows(poseRows, r, w, tk_kQuatVar1, tk_kCenterX, cols, localF, localK);
        addRows(poseRows, r, w, cb, cols, cols, localF, localK);
      }
    } else {  // kPoseOnly: camera block of the six pose values
      if (poseTermResidual(model, camera, list.placement, image, P, r, &J) !=
          ResidualStatus::kOk)
        continue;
      spread(J, 0, 0, cb, list.placementSize, poseRows);
      addRows(poseRows, r, w, 0, cols, cols, localF, localK);
    }
  }
}

void MultiplateResiduals::evaluate(const double* x, long index, double* f, tkNMMatrix* k,
                                   double* cost) {
  const tk_MultiplateProblem& pr = *problem_;
  const long n = pr.size();
  prepare(x);
  long ci = -1, zi = -1, ai = -1;
  pr.blockOf(index, ci, zi, ai);
  if (f != nullptr)
    std::fill(f, f + n, 0.0);
  double* kData = nullptr;
  if (k != nullptr && f != nullptr) {
    if (k->rows() != n || k->cols() != n) {
      k->resize(n, n);
      std::fill(k->data(), k->data() + n * n, 0.0);
    }
    kData = k->data();
    zeroDeclaredBlocks(kData, n);
  }
  double sum = 0.0;
  double* costOut = cost != nullptr ? &sum : nullptr;
  const long cb = pr.cameraBlock;
  double localF[kMaxColumns];
  double localK[kMaxColumns * kMaxColumns];
  for (const List& list : lists_) {
    if (!selected(list, ci, zi, ai))
      continue;
    const long cols = cb + list.placementSize;
    if (f != nullptr) {
      std::fill(localF, localF + cols, 0.0);
      if (kData != nullptr)
        std::fill(localK, localK + cols * cols, 0.0);
    }
    double* lf = f != nullptr ? localF : nullptr;
    double* lk = kData != nullptr ? localK : nullptr;
    switch (kind_) {
      case MultiplateResidualKind::kMixed:
        accumulateList<MultiplateResidualKind::kMixed>(list, lf, lk, costOut);
        break;
      case MultiplateResidualKind::kImage:
        accumulateList<MultiplateResidualKind::kImage>(list, lf, lk, costOut);
        break;
      case MultiplateResidualKind::kPoseOnly:
        accumulateList<MultiplateResidualKind::kPoseOnly>(list, lf, lk, costOut);
        break;
    }
    if (f == nullptr)
      continue;
    const long cameraStart = list.camera * cb;
    const auto column = [&](long a) {
      return a < cb ? cameraStart + a : list.placementStart + (a - cb);
    };
    for (long a = 0; a < cols; ++a)
      f[column(a)] += localF[a];
    if (kData == nullptr)
      continue;
    for (long b = 0; b < cols; ++b) {
      double* out = kData + column(b) * n;
      for (long a = 0; a < cols; ++a)
        out[column(a)] += localK[a * cols + b];
    }
  }
  if (cost != nullptr)
    *cost = sum;
}

double MultiplateResiduals::imageCost(const double* x) {
  double cost = 0.0;
  evaluate(x, -1, nullptr, nullptr, &cost);
  return cost;
}

void MultiplateEvaluation::function(const tkNMMatrix& x, tkNMMatrix& f, long index) {
  const long n = x.rows();
  costValid_ = false;
  if (index >= 0) {
    residuals_.evaluate(x.data(), index, f.data(), nullptr, nullptr);
    return;
  }
  residuals_.evaluate(x.data(), -1, f.data(), nullptr, &cost_);
  costX_.assign(x.data(), x.data() + n);
  costValid_ = true;
}

void MultiplateEvaluation::jacobian(const tkNMMatrix& x, tkNMMatrix& k) {
  f_.resize(static_cast<std::size_t>(x.rows()));
  residuals_.evaluate(x.data(), -1, f_.data(), &k, nullptr);
}

void MultiplateEvaluation::scaleSystem(tkNMMatrix& k, tkNMMatrix& f, const tkNMMatrix& damping) {
  const long n = k.rows();
  scale_.resize(static_cast<std::size_t>(n));
  inverseScale_.resize(static_cast<std::size_t>(n));
  if (scaledDamping_.rows() != n)
    scaledDamping_ = tkNMMatrix(n, 1);
  for (long i = 0; i < n; ++i) {
    const double diagonal = std::fabs(k(i, i));
    int exponent = 0;
    if (diagonal > 0.0 && std::isfinite(diagonal))
      std::frexp(diagonal, &exponent);
    scale_[static_cast<std::size_t>(i)] = std::ldexp(1.0, -exponent / 2);
    inverseScale_[static_cast<std::size_t>(i)] = std::ldexp(1.0, exponent / 2);
  }
  residuals_.scaleDeclaredBlocks(k.data(), n, scale_.data());
  for (long i = 0; i < n; ++i) {
    const double s = scale_[static_cast<std::size_t>(i)];
    f(i, 0) *= s;
    scaledDamping_(i, 0) = damping(i, 0) * s * s;
  }
}

void MultiplateEvaluation::restoreSystem(tkNMMatrix& k, tkNMMatrix& f, tkNMMatrix& step) {
  const long n = k.rows();
  residuals_.scaleDeclaredBlocks(k.data(), n, inverseScale_.data());
  for (long i = 0; i < n; ++i) {
    f(i, 0) *= inverseScale_[static_cast<std::size_t>(i)];
    step(i, 0) *= scale_[static_cast<std::size_t>(i)];
  }
}

double MultiplateEvaluation::cost(const tkNMMatrix& x) {
  if (costValid_ && static_cast<long>(costX_.size()) == x.rows() &&
      std::equal(costX_.begin(), costX_.end(), x.data()))
    return cost_;
  return residuals_.imageCost(x.data());
}

}  // namespace ccal::detail
