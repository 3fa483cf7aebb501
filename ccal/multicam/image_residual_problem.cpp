#include "ccal/multicam/image_residual_problem.h"

#include "ccal/multicam/multiplate_solvers.h"
#include "ccal/single/camera_values.h"

#include <tk/exception.h>
#include <tk/real_eq.h>
#include <tk/xform.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace ccal::detail {
namespace {

using Params = ImageResidualProblem::Params;

std::size_t at(long i) { return static_cast<std::size_t>(i); }

[[noreturn]] void fail(const std::wstring& message) { throw tkInvariantFailure(message); }

void checkShapes(const tk_ZRotationData& zData, const tk_ArbitraryData& aData, const Params& rig) {
  if (zData.empty())
    fail(L"image-residual problem: no Z-rotation placement (placement 0 is the world frame)");
  const std::size_t nC = rig.cameraPoseInverses().size();
  if (nC == 0 || rig.physicalAtZEquals1FromImageParams().size() != nC)
    fail(L"image-residual problem: the rig needs one intrinsic model and one pose per camera");
  for (const auto& placement : zData)
    if (placement.first.size() != nC)
      fail(L"image-residual problem: a Z-rotation placement does not hold one list per camera");
  for (const auto& placement : aData)
    if (placement.size() != nC)
      fail(L"image-residual problem: an arbitrary placement does not hold one list per camera");
  if (rig.calibrationPlatePoses().size() != zData.size() ||
      rig.arbitraryCalibrationPlatePoses().size() != aData.size())
    fail(L"image-residual problem: the rig does not hold one pose per placement");
  const auto model = rig.physicalAtZEquals1FromImageParams()[0].distModel();
  for (const auto& intrinsic : rig.physicalAtZEquals1FromImageParams())
    if (intrinsic.distModel() != model)
      fail(L"image-residual problem: the cameras have different lens models");
  if (model != tk2XformCalib2Defs::eNoDistortion && model != tk2XformCalib2Defs::eRadial &&
      model != tk2XformCalib2Defs::eSineTan)
    fail(L"image-residual problem: the lens model is not an area-scan model");
  const tk3ZRotationXform& first = rig.calibrationPlatePoses()[0];
  if (first.rotZ() != 0.0 || !tfRealEq(first.trans().length(), 0.0, 1e-15))
    fail(L"image-residual problem: the first Z-rotation pose is not the identity");
}

}  // namespace

ImageResidualProblem::ImageResidualProblem(const tk_ZRotationData& zData,
                                           const tk_ArbitraryData& aData, const Params& rig,
                                           bool intrinsicsFixed) {
  checkShapes(zData, aData, rig);
  using Kind = ParameterLayout::Kind;
  const long nC = static_cast<long>(rig.cameraPoseInverses().size());
  const long nZ = static_cast<long>(zData.size());
  const long nA = static_cast<long>(aData.size());
  const auto model = rig.physicalAtZEquals1FromImageParams()[0].distModel();

  // Records, with each Z-rotation plate frame turned by its starting angle.
  Params turned = rig;
  std::vector<tk3ZRotationXform> zPoses = rig.calibrationPlatePoses();
  startAngles_.assign(at(nZ), 0.0);
  for (long j = 1; j < nZ; ++j) {
    startAngles_[at(j)] = zPoses[at(j)].rotZ();
    zPoses[at(j)].rotZ(0.0);
  }
  turned.calibrationPlatePoses(zPoses);
  problem_.zLists.assign(at(nZ * nC), tk_MultiplateList{});
  problem_.aLists.assign(at(nA * nC), tk_MultiplateList{});
  records_.reserve(at((nZ + nA) * nC));
  struct Pending {
    long camera;
    bool zRotation;
    long placement;
  };
  std::vector<Pending> pending;
  const auto addList = [&](const tk_WeightedCrspList& list, double angle, long c, bool z, long j) {
    if (list.empty())
      return;
    const tkXform<3> turn = tk3ZRotationXform(angle, tkVector<3>(0.0, 0.0, 0.0)).xform();
    std::vector<ccal_crspPair2D3DWeighted> records;
    records.reserve(list.size());
    for (const tk_WeightedCrsp& k : list) {
      const tkVector<2>& p = k.first.first;
      const tkVector<3> P = angle == 0.0 ? k.first.second : turn.mapPoint(k.first.second);
      if (!(k.second >= 0.0) || !std::isfinite(k.second))
        fail(L"image-residual problem: a weight is negative or not finite");
      records.push_back(ccal_crspPair2D3DWeighted{{p.x(), p.y()}, {P.x(), P.y(), P.z()}, k.second});
      pointWeights_.push_back(k.second);
      if (k.second > 0.0)
        ++weightedPoints_;
    }
    records_.push_back(std::move(records));
    tk_MultiplateList& view = (z ? problem_.zLists : problem_.aLists)[at(j * nC + c)];
    view.records = records_.back().data();
    view.count = records_.back().size();
    pending.push_back({c, z, j});
  };
  for (long j = 0; j < nZ; ++j) {
    problem_.heights.push_back(zData[at(j)].second);
    for (long c = 0; c < nC; ++c)
      addList(zData[at(j)].first[at(c)], startAngles_[at(j)], c, true, j);
  }
  for (long j = 0; j < nA; ++j)
    for (long c = 0; c < nC; ++c)
      addList(aData[at(j)][at(c)], 0.0, c, false, j);
  if (pending.empty())
    fail(L"image-residual problem: no correspondences");

  problem_.layout = intrinsicsFixed ? ParameterLayout::poseOnly(model, nC, nZ, nA)
                                    : ParameterLayout::calibration(model, nC, nZ, nA);
  if (intrinsicsFixed)
    for (const auto& intrinsic : rig.physicalAtZEquals1FromImageParams())
      problem_.fixedIntrinsics.push_back(tfIntrinsicValues(intrinsic));
  if (!intrinsicsFixed && model == tk2XformCalib2Defs::eSineTan)
    heldOffset_ = CameraOffset::kLensFirst;
  start_.resize(at(problem_.size()));
  problem_.layout.pack(turned, start_.data());

  // Residual blocks and rows.
  long largest = 0;
  for (const Pending& p : pending) {
    const ParameterLayout::Block placement =
        p.zRotation ? (p.placement == 0 ? ParameterLayout::Block{}
                                        : ParameterLayout::Block{Kind::kZRotation, p.placement})
                    : ParameterLayout::Block{Kind::kArbitrary, p.placement};
    const tk_MultiplateList& view =
        (p.zRotation ? problem_.zLists : problem_.aLists)[at(p.placement * nC + p.camera)];
    blocks_.push_back(
        std::make_unique<MultiplateListResidual>(problem_, p.camera, placement, view, true));
    lists_.push_back({p.camera, p.zRotation, p.placement, rows_, static_cast<long>(view.count)});
    rows_ += 2 * static_cast<long>(view.count);
    largest = std::max(largest, 2 * static_cast<long>(view.count));
  }
  heldIntrinsics_ = rig.physicalAtZEquals1FromImageParams();
  largest_ = largest;
  residuals_.resize(at(largest));
}

ImageResidualProblem::~ImageResidualProblem() = default;

long ImageResidualProblem::placementBlock(long g) const {
  const std::vector<long>& blocks = blocks_[at(g)]->parameterBlocks();
  return blocks.size() > 1 ? blocks[1] : -1;
}

bool ImageResidualProblem::evaluateList(long g, const double* x, double* rows,
                                        double* cameraJacobian, double* placementJacobian) {
  const ParameterLayout& layout = problem_.layout;
  const MultiplateListResidual& block = *blocks_[at(g)];
  const List& list = lists_[at(g)];
  const long cb = layout.cameraBlockSize();
  const long placement = placementBlock(g);
  const long ps = placement >= 0 ? layout.blockSize(placement) : 0;
  const double* parameters[2] = {x + layout.cameraStart(list.camera),
                                 x + (placement >= 0 ? layout.blockStart(placement) : 0)};
  double* jacobians[2] = {cameraJacobian, placementJacobian};
  const bool derivatives = cameraJacobian != nullptr;
  try {
    if (!block.Evaluate(parameters, rows, derivatives ? jacobians : nullptr))
      return false;
  } catch (const tkMathError&) {  // a pose value outside its domain
    return false;
  }
  for (long i = 0; i < 2 * list.points; ++i) {
    const double s = std::sqrt(pointWeights_[at((list.firstRow + i) / 2)]);
    rows[i] *= s;
    if (cameraJacobian != nullptr)
      for (long a = 0; a < cb; ++a)
        cameraJacobian[i * cb + a] = a == heldOffset_ ? 0.0 : s * cameraJacobian[i * cb + a];
    if (derivatives)
      for (long a = 0; a < ps; ++a)
        placementJacobian[i * ps + a] *= s;
  }
  return true;
}

void ImageResidualProblem::evaluate(const double* x, double* f) {
  for (std::size_t g = 0; g < blocks_.size(); ++g) {
    const List& list = lists_[g];
    if (!evaluateList(static_cast<long>(g), x, residuals_.data(), nullptr, nullptr)) {
      std::fill(f, f + rows_, HUGE_VAL);
      return;
    }
    std::copy(residuals_.data(), residuals_.data() + 2 * list.points, f + list.firstRow);
  }
}

Params ImageResidualProblem::unpack(const double* x) const {
  tk_MultiplateValues values;
  problem_.unpack(x, values);
  Params out = tfRigFromValues(values);
  std::vector<tk3ZRotationXform> zPoses = out.calibrationPlatePoses();
  for (std::size_t j = 1; j < zPoses.size(); ++j)
    zPoses[j].rotZ(zPoses[j].rotZ() + startAngles_[j]);
  out.calibrationPlatePoses(zPoses);
  if (problem_.layout.poseOnly()) {
    // The held models as given.
    out.physicalAtZEquals1FromImageParams(heldIntrinsics_);
  }
  return out;
}

}  // namespace ccal::detail
