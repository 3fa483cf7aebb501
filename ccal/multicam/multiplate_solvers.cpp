#include "ccal/multicam/multiplate_solvers.h"

#include "ccal/multicam/multiplate_least_squares.h"

#include <proc/csys_attention.h>
#include <tk/failure.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

// The pose terms of F measure errors at Z = 1, so with noise F's root and the image cost's
// minimum differ slightly: once the cost has settled, Newton steps on F overshoot its minimum and
// are rejected, and damped ones creep between the two for many trials while the cost changes in
// its ninth digit. The minimisation ends once a step lowers the cost by no more than this share
// of it (exact data converge quadratically and pass far below it in one step).
constexpr double kMeritTolerance = 1e-5;
// Under eSineTan the lens values p0..p3 span a valley so flat that its curvature lies below the
// residuals' second derivatives: Newton steps along it are rejected and damped steps creep, each
// lowering the cost by a few 1e-4 of itself (exact data) or far less (noisy data), for hundreds of
// iterations and without a visible change of the fit. The damped minimisation ends at the first
// such step; the polishing (minimizeAndPolish) then follows the valley.
constexpr double kSineTanMeritTolerance = 1e-3;
// The one-camera solver under eSineTan: its result is only ever a start, refined again with every
// value by the rig solver (the per-camera estimates and the re-seeded candidates of the rig
// calibration), so a step that lowers the cost by less than 1 % ends it. From far starts (a
// candidate seeded with another camera's lens) the damped steps otherwise creep along the
// lens-value valley by 1 to 2 % of the cost per step, every other trial rejected, for up to a few
// hundred iterations: most of the rig calibration's time, for a candidate that the RMS
// comparison then rejects.
constexpr double kSineTanStartMeritTolerance = 1e-2;

double meritToleranceOf(const ccal::detail::ParameterLayout& layout, bool start = false) {
  const bool sineTan = !layout.poseOnly() && layout.model() == tk2XformCalib2Defs::eSineTan;
  if (!sineTan)
    return kMeritTolerance;
  return start ? kSineTanStartMeritTolerance : kSineTanMeritTolerance;
}

// Runs the damped Newton minimisation of solver and, under eSineTan, polishes its result by
// Gauss–Newton steps solved from the residual Jacobian (multiplate_least_squares.h). Returns
// (1/2)|F|² at the final x.
template <class Solver>
double minimizeAndPolish(Solver& solver, const tk_MultiplateProblem& problem,
                         tkNMMatrix& scratch) {
  const double result = solver.tkDampedNewtonSolve::minimize();
  const ccal::detail::ParameterLayout& layout = problem.layout;
  if (layout.poseOnly() || layout.model() != tk2XformCalib2Defs::eSineTan ||
      !std::isfinite(result) || solver.getX().rows() != problem.size())
    return result;
  scratch = solver.getX();
  if (solver.termination() == tkFSolver::eFunctionStopped)
    return result;  // an abort request or a failed evaluation
  ccal::detail::MultiplateLeastSquares leastSquares(problem);
  ccal::detail::ValleyPolish polish(problem.size());
  if (polish.polish(leastSquares, scratch.data()) == 0)
    return result;
  solver.setX(scratch);
  tkNMMatrix f(problem.size(), 1);
  if (solver.Func(scratch, f) < 0)
    return result;
  double sum = 0.0;
  for (long i = 0; i < f.rows(); ++i)
    sum += f.data()[i] * f.data()[i];
  return 0.5 * sum;
}

constexpr long kExceptionStatus = static_cast<long>(INT32_MIN);  // 0x80000000

void fillRecords(const tk_WeightedCrspList& list, cstd_vector_ccal_crspPair2D3DWeighted& out) {
  tfThrowExceptionOnFailure(cstd_vector_ccal_crspPair2D3DWeighted_resize(&out, list.size()));
  ccal_crspPair2D3DWeighted* records = nullptr;
  tfThrowExceptionOnFailure(cstd_vector_ccal_crspPair2D3DWeighted_getBegin(&out, &records));
  for (std::size_t k = 0; k < list.size(); ++k) {
    const tkVector<2>& p = list[k].first.first;
    const tkVector<3>& P = list[k].first.second;
    records[k] = ccal_crspPair2D3DWeighted{{p.x(), p.y()}, {P.x(), P.y(), P.z()}, list[k].second};
  }
}

// [placement][camera] lists -> three-level records.
template <class Placements, class ListsOf>
void fillRecords3(const Placements& placements, ListsOf listsOf,
                  cstd_vector_vector_vector_ccal_crspPair2D3DWeighted& out) {
  tfThrowExceptionOnFailure(
      cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_resize(&out, placements.size()));
  cstd_vector_vector_ccal_crspPair2D3DWeighted* levels = nullptr;
  tfThrowExceptionOnFailure(
      cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_getBegin(&out, &levels));
  for (std::size_t j = 0; j < placements.size(); ++j) {
    const std::vector<tk_WeightedCrspList>& lists = listsOf(placements[j]);
    tfThrowExceptionOnFailure(
        cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(&levels[j], lists.size()));
    cstd_vector_ccal_crspPair2D3DWeighted* inner = nullptr;
    tfThrowExceptionOnFailure(
        cstd_vector_vector_ccal_crspPair2D3DWeighted_getBegin(&levels[j], &inner));
    for (std::size_t c = 0; c < lists.size(); ++c)
      fillRecords(lists[c], inner[c]);
  }
}

// [placement] lists -> two-level records.
template <class Placements, class ListOf>
void fillRecords2(const Placements& placements, ListOf listOf,
                  cstd_vector_vector_ccal_crspPair2D3DWeighted& out) {
  tfThrowExceptionOnFailure(
      cstd_vector_vector_ccal_crspPair2D3DWeighted_resize(&out, placements.size()));
  cstd_vector_ccal_crspPair2D3DWeighted* inner = nullptr;
  tfThrowExceptionOnFailure(cstd_vector_vector_ccal_crspPair2D3DWeighted_getBegin(&out, &inner));
  for (std::size_t j = 0; j < placements.size(); ++j)
    fillRecords(listOf(placements[j]), inner[j]);
}

template <class Placements>
void fillHeights(const Placements& placements, cstd_vectord& out) {
  tfThrowExceptionOnFailure(cstd_vectord_resize(&out, placements.size()));
  double* heights = nullptr;
  tfThrowExceptionOnFailure(cstd_vectord_getBegin(&out, &heights));
  for (std::size_t j = 0; j < placements.size(); ++j)
    heights[j] = placements[j].second;
}

tk_MultiplateList view(const cstd_vector_ccal_crspPair2D3DWeighted& v) {
  tk_MultiplateList list;
  tfThrowExceptionOnFailure(
      cstd_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&v, &list.records, &list.count));
  return list;
}

// Views [j·nC + c] of three-level records; placements with fewer than nC lists get empty views.
std::vector<tk_MultiplateList> views3(const cstd_vector_vector_vector_ccal_crspPair2D3DWeighted& v,
                                      std::size_t nC, long& placements) {
  const cstd_vector_vector_ccal_crspPair2D3DWeighted* levels = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(
      cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&v, &levels, &count));
  placements = static_cast<long>(count);
  std::vector<tk_MultiplateList> out(count * nC);
  for (std::size_t j = 0; j < count; ++j) {
    const cstd_vector_ccal_crspPair2D3DWeighted* inner = nullptr;
    std::size_t cameras = 0;
    tfThrowExceptionOnFailure(cstd_vector_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(
        &levels[j], &inner, &cameras));
    for (std::size_t c = 0; c < nC && c < cameras; ++c)
      out[j * nC + c] = view(inner[c]);
  }
  return out;
}

std::vector<tk_MultiplateList> views2(const cstd_vector_vector_ccal_crspPair2D3DWeighted& v,
                                      long& placements) {
  const cstd_vector_ccal_crspPair2D3DWeighted* inner = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(
      cstd_vector_vector_ccal_crspPair2D3DWeighted_getBeginSizeConst(&v, &inner, &count));
  placements = static_cast<long>(count);
  std::vector<tk_MultiplateList> out(count);
  for (std::size_t j = 0; j < count; ++j)
    out[j] = view(inner[j]);
  return out;
}

std::vector<double> heightsOf(const cstd_vectord& v) {
  const double* begin = nullptr;
  std::size_t count = 0;
  tfThrowExceptionOnFailure(cstd_vectord_getBeginSizeConst(&v, &begin, &count));
  return std::vector<double>(begin, begin + count);
}

// The placements' blocks couple with the cameras that have a non-empty list in them.
tkJacobianStructure structureOf(const tk_MultiplateProblem& pr, long n) {
  using Layout = ccal::detail::ParameterLayout;
  const std::size_t nC = static_cast<std::size_t>(pr.layout.cameras());
  return pr.layout.gradientStructure(n, [&](long c, const Layout::Block& placement) {
    const std::vector<tk_MultiplateList>& lists =
        placement.kind == Layout::Kind::kZRotation ? pr.zLists : pr.aLists;
    const std::size_t k =
        static_cast<std::size_t>(placement.index) * nC + static_cast<std::size_t>(c);
    return k < lists.size() && lists[k].count > 0;
  });
}

long guarded(const tk_MultiplateProblem& problem, const tkFSolver& solver, const tkNMMatrix& x,
             tkNMMatrix& f, long index, ccal::detail::MultiplateEvaluation& evaluation) {
  try {
    if (!solver.recomputeY())
      index = tkFSolver::kAllEntries;
    if (problem.size() != solver.getSize())
      return kExceptionStatus;  // data and layout disagree
    const long csys = csys_attention_check();
    if (csys < 0)
      return csys;
    evaluation.function(x, f, index);
    return 0;
  } catch (...) {
    return kExceptionStatus;
  }
}

long guardedJacobian(const tk_MultiplateProblem& problem, const tkFSolver& solver,
                     const tkNMMatrix& x, tkNMMatrix& jacobian,
                     ccal::detail::MultiplateEvaluation& evaluation) {
  try {
    if (problem.size() != solver.getSize())
      return kExceptionStatus;
    evaluation.jacobian(x, jacobian);
    return 0;
  } catch (...) {
    return kExceptionStatus;
  }
}

tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams rigFromValues(
    const tk_MultiplateValues& values) {
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams out;
  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics;
  std::vector<tk3QuaternionXform> poses;
  for (const tk_CameraValues& camera : values.cameras) {
    const tkCameraCalibrationParams params = tfCameraParamsFromValues(camera);
    intrinsics.push_back(params.physicalAtZEquals1FromImageParams());
    poses.push_back(params.cameraPoseInverse());
  }
  std::vector<tk3ZRotationXform> zPoses;
  for (std::size_t j = 0; j < values.zPoses.size(); ++j)
    zPoses.push_back(
        j == 0 ? tk3ZRotationXform()
               : tk3ZRotationXform(2.0 * std::atan(values.zTanHalf[j]), values.zPoses[j].trans()));
  out.physicalAtZEquals1FromImageParams(intrinsics);
  out.cameraPoseInverses(poses);
  out.calibrationPlatePoses(zPoses);
  out.arbitraryCalibrationPlatePoses(values.aPoses);
  return out;
}

}  // namespace

tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams tfRigFromValues(
    const tk_MultiplateValues& values) {
  return rigFromValues(values);
}

// ---- rig -------------------------------------------------------------------------------------

tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::
    tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver(long n)
    : tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver(n, false) {}

tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::
    tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver(long n, bool poseOnly)
    : tkDampedNewtonSolve(n, n, 1e-12, 1e-30, 200, 15, 0.01, 1e-8, 1e20, true, true),
      poseOnly_(poseOnly),
      zRecords_(),
      heights_(),
      aRecords_() {
  meritTolerance(kMeritTolerance);
  tfThrowExceptionOnFailure(
      cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_construct(&zRecords_, 0));
  tfThrowExceptionOnFailure(cstd_vectord_construct(&heights_, 0));
  tfThrowExceptionOnFailure(
      cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_construct(&aRecords_, 0));
}

tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::
    ~tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver() {
  cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_destruct(&aRecords_);
  cstd_vectord_destruct(&heights_);
  cstd_vector_vector_vector_ccal_crspPair2D3DWeighted_destruct(&zRecords_);
}

void tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::cameraUnitValIndices(
    const std::vector<int>& indices) {
  cameraIndices_ = indices;
  refreshProblem();
}
void tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::arbitraryUnitValIndices(
    const std::vector<int>& indices) {
  arbitraryIndices_ = indices;
  refreshProblem();
}
void tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::startingParams(
    const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams& p) {
  start_ = p;
  refreshProblem();
}
void tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::zRotationData(
    const tk_ZRotationData& data) {
  zData_ = data;
  fillRecords3(
      zData_, [](const auto& p) -> const auto& { return p.first; }, zRecords_);
  fillHeights(zData_, heights_);
  refreshProblem();
}
void tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::arbitraryData(
    const tk_ArbitraryData& data) {
  aData_ = data;
  fillRecords3(
      aData_, [](const auto& p) -> const auto& { return p; }, aRecords_);
  refreshProblem();
}

void tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::refreshProblem() {
  using Layout = ccal::detail::ParameterLayout;
  tk_MultiplateProblem& pr = problem_;
  const auto& intrinsics = start_.physicalAtZEquals1FromImageParams();
  const auto model =
      intrinsics.empty() ? tk2XformCalib2Defs::eNoDistortion : intrinsics[0].distModel();
  const long cameras = static_cast<long>(start_.cameraPoseInverses().size());
  const std::size_t nC = static_cast<std::size_t>(cameras);
  pr.fixedIntrinsics.clear();
  if (poseOnly_) {
    for (std::size_t c = 0; c < nC && c < intrinsics.size(); ++c)
      pr.fixedIntrinsics.push_back(tfIntrinsicValues(intrinsics[c]));
    pr.fixedIntrinsics.resize(nC);
  }
  long nZ = 0, nA = 0;
  pr.zLists = views3(zRecords_, nC, nZ);
  pr.aLists = views3(aRecords_, nC, nA);
  pr.heights = heightsOf(heights_);
  pr.layout = poseOnly_ ? Layout::poseOnly(model, cameras, nZ, nA)
                        : Layout::calibration(model, cameras, nZ, nA);
  pr.layout.cameraUnitValIndices(cameraIndices_);
  pr.layout.arbitraryUnitValIndices(arbitraryIndices_);
  evaluation_.reset(pr);
  meritTolerance(meritToleranceOf(pr.layout));
  meritFirst(true);  // the cost alone (image rows, no derivatives) judges a trial
  jacobianStructure(structureOf(pr, getSize()));
}

long tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::FuncI(const tkNMMatrix& x,
                                                                            tkNMMatrix& f,
                                                                            long index) const {
  return guarded(problem_, *this, x, f, index, evaluation_);
}
long tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::Func(const tkNMMatrix& x,
                                                                           tkNMMatrix& f) const {
  return FuncI(x, f, ~0L);
}

long tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::compJacob(
    const tkNMMatrix& x, const tkNMMatrix& f, tkNMMatrix& jacobian) {
  (void)f;
  return guardedJacobian(problem_, *this, x, jacobian, evaluation_);
}

double tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::minimize() {
  tkNMMatrix x;
  return minimizeAndPolish(*this, problem_, x);
}

tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams
tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::unpack(const tkNMMatrix& x) const {
  tk_MultiplateValues values;
  problem_.unpack(x.data(), values);
  tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams out = rigFromValues(values);
  if (poseOnly_)
    out.physicalAtZEquals1FromImageParams(start_.physicalAtZEquals1FromImageParams());
  return out;
}
double tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver::cost(
    const tkNMMatrix& x) const {
  return evaluation_.cost(x);
}

// ---- one camera ------------------------------------------------------------------------------

tk3DCalibrationMultiplateZRotationAndArbitrarySolver::
    tk3DCalibrationMultiplateZRotationAndArbitrarySolver(long n)
    : tkDampedNewtonSolve(n, n, 1e-12, 1e-30, 300, 15, 0.01, 1e-8, 1e20, true, true),
      zRecords_(),
      heights_(),
      aRecords_() {
  meritTolerance(kMeritTolerance);
  tfThrowExceptionOnFailure(cstd_vector_vector_ccal_crspPair2D3DWeighted_construct(&zRecords_, 0));
  tfThrowExceptionOnFailure(cstd_vectord_construct(&heights_, 0));
  tfThrowExceptionOnFailure(cstd_vector_vector_ccal_crspPair2D3DWeighted_construct(&aRecords_, 0));
}

tk3DCalibrationMultiplateZRotationAndArbitrarySolver::
    ~tk3DCalibrationMultiplateZRotationAndArbitrarySolver() {
  cstd_vector_vector_ccal_crspPair2D3DWeighted_destruct(&aRecords_);
  cstd_vectord_destruct(&heights_);
  cstd_vector_vector_ccal_crspPair2D3DWeighted_destruct(&zRecords_);
}

void tk3DCalibrationMultiplateZRotationAndArbitrarySolver::cameraUnitValIndex(int index) {
  cameraIndex_ = index;
  refreshProblem();
}
void tk3DCalibrationMultiplateZRotationAndArbitrarySolver::arbitraryUnitValIndices(
    const std::vector<int>& indices) {
  arbitraryIndices_ = indices;
  refreshProblem();
}
void tk3DCalibrationMultiplateZRotationAndArbitrarySolver::startingParams(
    const tk_MultiplateCameraEstimate& estimate) {
  start_ = estimate;
  refreshProblem();
}
void tk3DCalibrationMultiplateZRotationAndArbitrarySolver::zRotationData(
    const tk_ZRotationData1& data) {
  zData_ = data;
  fillRecords2(
      zData_, [](const auto& p) -> const auto& { return p.first; }, zRecords_);
  fillHeights(zData_, heights_);
  refreshProblem();
}
void tk3DCalibrationMultiplateZRotationAndArbitrarySolver::arbitraryData(
    const tk_ArbitraryData1& data) {
  aData_ = data;
  fillRecords2(
      aData_, [](const auto& p) -> const auto& { return p; }, aRecords_);
  refreshProblem();
}

void tk3DCalibrationMultiplateZRotationAndArbitrarySolver::refreshProblem() {
  tk_MultiplateProblem& pr = problem_;
  long nZ = 0, nA = 0;
  pr.zLists = views2(zRecords_, nZ);
  pr.aLists = views2(aRecords_, nA);
  pr.heights = heightsOf(heights_);
  pr.layout = ccal::detail::ParameterLayout::calibration(
      start_.camera.physicalAtZEquals1FromImageParams().distModel(), 1, nZ, nA);
  pr.layout.cameraUnitValIndices({cameraIndex_});
  pr.layout.arbitraryUnitValIndices(arbitraryIndices_);
  evaluation_.reset(pr);
  meritTolerance(meritToleranceOf(pr.layout, true));
  meritFirst(true);  // the cost alone (image rows, no derivatives) judges a trial
  jacobianStructure(structureOf(pr, getSize()));
}

long tk3DCalibrationMultiplateZRotationAndArbitrarySolver::FuncI(const tkNMMatrix& x, tkNMMatrix& f,
                                                                 long index) const {
  return guarded(problem_, *this, x, f, index, evaluation_);
}
long tk3DCalibrationMultiplateZRotationAndArbitrarySolver::Func(const tkNMMatrix& x,
                                                                tkNMMatrix& f) const {
  return FuncI(x, f, ~0L);
}

long tk3DCalibrationMultiplateZRotationAndArbitrarySolver::compJacob(const tkNMMatrix& x,
                                                                     const tkNMMatrix& f,
                                                                     tkNMMatrix& jacobian) {
  (void)f;
  return guardedJacobian(problem_, *this, x, jacobian, evaluation_);
}

double tk3DCalibrationMultiplateZRotationAndArbitrarySolver::minimize() {
  tkNMMatrix x;
  return minimizeAndPolish(*this, problem_, x);
}

tk_MultiplateCameraEstimate tk3DCalibrationMultiplateZRotationAndArbitrarySolver::unpack(
    const tkNMMatrix& x) const {
  tk_MultiplateValues values;
  problem_.unpack(x.data(), values);
  const tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams rig =
      rigFromValues(values);
  tk_MultiplateCameraEstimate out;
  out.camera = tfCameraParamsFromValues(values.cameras[0]);
  out.calibrationPlatePoses = rig.calibrationPlatePoses();
  out.arbitraryCalibrationPlatePoses = rig.arbitraryCalibrationPlatePoses();
  return out;
}
double tk3DCalibrationMultiplateZRotationAndArbitrarySolver::cost(const tkNMMatrix& x) const {
  return evaluation_.cost(x);
}
