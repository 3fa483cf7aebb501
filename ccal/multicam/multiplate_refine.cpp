#include "ccal/multicam/multiplate_refine.h"

#include "ccal/multicam/multiplate_solvers.h"
#include "ccal/problem/parameter_layout.h"
#include "ccal/single/image_normalisation.h"

#include <tk/exception.h>
#include <tk/progress.h>
#include <tk/random_uniform.h>
#include <tk/real_eq.h>
#include <tk/statistics.h>
#include <tk/xform.h>

#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

namespace {

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

enum class Kind { kRig, kPose, kSingle };

constexpr std::size_t kSubsetSize = 100;

[[noreturn]] void fail(const std::wstring& message) {
  throw tkInvariantFailure(message);
}

// Rotation about Z by θ, no translation.
tkXform<3> rotationZ(double theta) {
  return tk3ZRotationXform(theta, tkVector<3>(0.0, 0.0, 0.0)).xform();
}

// Shapes the solvers rely on; checked before any index is used.
void checkShapes(Kind kind, const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
                 const Params& start) {
  if (zData.empty())
    fail(L"zRotationData.empty(): the first Z-rotation placement defines the world frame");
  const std::size_t nC = start.cameraPoseInverses().size();
  if (nC == 0 || (kind == Kind::kSingle && nC != 1))
    fail(L"cameraPoseInverses().size() != nC");
  if (start.physicalAtZEquals1FromImageParams().size() != nC)
    fail(L"physicalAtZEquals1FromImageParams().size() != cameraPoseInverses().size()");
  for (const auto& placement : zData)
    if (placement.first.size() != nC)
      fail(L"zRotationData[j].first.size() != nC");
  for (const auto& placement : aData)
    if (placement.size() != nC)
      fail(L"arbitraryData[j].size() != nC");
  if (start.calibrationPlatePoses().size() != zData.size())
    fail(L"calibrationPlatePoses().size() != zRotationData.size()");
  if (start.arbitraryCalibrationPlatePoses().size() != aData.size())
    fail(L"arbitraryCalibrationPlatePoses().size() != arbitraryData.size()");
}

void checkFirstPoseIsIdentity(const Params& start) {
  const tkXform<3> first = start.calibrationPlatePoses()[0].xform();
  const tkMatrix<3> identity = tkMatrix<3>::identity();
  for (int r = 0; r < 3; ++r) {
    if (!tfRealEq(first.trans()[r], 0.0, 1e-15))
      fail(L"calibrationPlatePoses()[0] != identity");
    for (int k = 0; k < 3; ++k)
      if (!tfRealEq(first.matrix().element(r, k), identity.element(r, k), 1e-15))
        fail(L"calibrationPlatePoses()[0] != identity");
  }
}

tk_MultiplateCameraEstimate estimateOf(const Params& p) {
  tk_MultiplateCameraEstimate e;
  e.camera.physicalAtZEquals1FromImageParams(p.physicalAtZEquals1FromImageParams()[0]);
  e.camera.cameraPoseInverse(p.cameraPoseInverses()[0]);
  e.calibrationPlatePoses = p.calibrationPlatePoses();
  e.arbitraryCalibrationPlatePoses = p.arbitraryCalibrationPlatePoses();
  return e;
}

Params paramsOf(const tk_MultiplateCameraEstimate& e) {
  Params p;
  p.physicalAtZEquals1FromImageParams({e.camera.physicalAtZEquals1FromImageParams()});
  p.cameraPoseInverses({e.camera.cameraPoseInverse()});
  p.calibrationPlatePoses(e.calibrationPlatePoses);
  p.arbitraryCalibrationPlatePoses(e.arbitraryCalibrationPlatePoses);
  return p;
}

tk_ZRotationData1 cameraZero(const tk_ZRotationData& zData) {
  tk_ZRotationData1 out;
  for (const auto& placement : zData)
    out.push_back({placement.first[0], placement.second});
  return out;
}

tk_ArbitraryData1 cameraZero(const tk_ArbitraryData& aData) {
  tk_ArbitraryData1 out;
  for (const auto& placement : aData)
    out.push_back(placement[0]);
  return out;
}

template <class Solver>
void feedRig(Solver& solver, const ccal::detail::ParameterLayout& layout, const tkNMMatrix& x0,
             const tk_ZRotationData& zData, const tk_ArbitraryData& aData, const Params& start,
             const std::vector<bool>& flags) {
  solver.cameraUnitValIndices(layout.cameraUnitValIndices());
  solver.arbitraryUnitValIndices(layout.arbitraryUnitValIndices());
  solver.setX(x0);
  solver.startingParams(start);
  solver.zRotationData(zData);
  solver.arbitraryData(aData);
  solver.recomputeYVals(flags);
}

// One minimisation from start on the given (normalised) data.
Params solve(Kind kind, const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
             const Params& start) {
  checkFirstPoseIsIdentity(start);
  using Layout = ccal::detail::ParameterLayout;
  const auto model = start.physicalAtZEquals1FromImageParams()[0].distModel();
  const long nC = static_cast<long>(start.cameraPoseInverses().size());
  const long nZ = static_cast<long>(zData.size());
  const long nA = static_cast<long>(aData.size());
  Layout layout = kind == Kind::kPose ? Layout::poseOnly(model, nC, nZ, nA)
                                      : Layout::calibration(model, nC, nZ, nA);
  const long n = layout.size();

  tkProgressTrackerBlock progress(1.0);
  if (progress.doEstimateOnly()) {
    if (kind == Kind::kRig) {
      tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver solver(n);
      progress.reportWork(static_cast<double>(n * solver.nIter()));
    } else if (kind == Kind::kPose) {
      tk3DPoseMultiplateMulticameraZRotationAndArbitrarySolver solver(n);
      progress.reportWork(static_cast<double>(n * solver.nIter()));
    } else {
      tk3DCalibrationMultiplateZRotationAndArbitrarySolver solver(n);
      progress.reportWork(static_cast<double>(n * solver.nIter()));
    }
    return start;
  }

  tkNMMatrix x0(n, 1);
  layout.pack(start, x0.data());
  const std::vector<bool> flags = layout.blockStartFlags();

  if (kind == Kind::kRig) {
    tk3DCalibrationMultiplateMulticameraZRotationAndArbitrarySolver solver(n);
    feedRig(solver, layout, x0, zData, aData, start, flags);
    solver.minimize();
    return solver.unpack(solver.getX());
  }
  if (kind == Kind::kPose) {
    tk3DPoseMultiplateMulticameraZRotationAndArbitrarySolver solver(n);
    feedRig(solver, layout, x0, zData, aData, start, flags);
    solver.minimize();
    return solver.unpack(solver.getX());
  }
  tk3DCalibrationMultiplateZRotationAndArbitrarySolver solver(n);
  solver.cameraUnitValIndex(layout.cameraUnitValIndices()[0]);
  solver.arbitraryUnitValIndices(layout.arbitraryUnitValIndices());
  solver.setX(x0);
  solver.startingParams(estimateOf(start));
  solver.zRotationData(cameraZero(zData));
  solver.arbitraryData(cameraZero(aData));
  solver.recomputeYVals(flags);
  solver.minimize();
  return paramsOf(solver.unpack(solver.getX()));
}

void takeSubset(tk_WeightedCrspList& list, tkRandomUniform& random) {
  if (list.size() <= kSubsetSize)
    return;
  const double last = static_cast<double>(list.size() - 1);
  for (std::size_t m = 0; m < kSubsetSize; ++m) {
    const auto r = static_cast<std::size_t>(random.next(static_cast<double>(m), last));
    std::swap(list[m], list[r]);
  }
  list.resize(kSubsetSize);
}

// Staging on subsets, then the full data.
Params staged(Kind kind, const tk_ZRotationData& zData, const tk_ArbitraryData& aData,
              const Params& start) {
  bool longList = false;
  for (const auto& placement : zData)
    for (const auto& list : placement.first)
      longList = longList || list.size() > kSubsetSize;
  for (const auto& placement : aData)
    for (const auto& list : placement)
      longList = longList || list.size() > kSubsetSize;
  if (!longList)
    return solve(kind, zData, aData, start);

  tk_ZRotationData zSubset = zData;
  tk_ArbitraryData aSubset = aData;
  tkRandomUniform random(1);
  for (auto& placement : zSubset)
    for (auto& list : placement.first)
      takeSubset(list, random);
  for (auto& placement : aSubset)
    for (auto& list : placement)
      takeSubset(list, random);
  const Params first = solve(kind, zSubset, aSubset, start);
  return solve(kind, zData, aData, first);
}

}  // namespace

Params tfScaleTranslations(const Params& p, double factor) {
  Params out = p;
  std::vector<tk3QuaternionXform> cameras = p.cameraPoseInverses();
  for (auto& pose : cameras)
    pose.trans(pose.trans() * factor);
  std::vector<tk3ZRotationXform> zPoses = p.calibrationPlatePoses();
  for (auto& pose : zPoses)
    pose.trans(pose.trans() * factor);
  std::vector<tk3QuaternionXform> aPoses = p.arbitraryCalibrationPlatePoses();
  for (auto& pose : aPoses)
    pose.trans(pose.trans() * factor);
  out.cameraPoseInverses(cameras);
  out.calibrationPlatePoses(zPoses);
  out.arbitraryCalibrationPlatePoses(aPoses);
  return out;
}

double tfPlateScale(const tk_ZRotationData& zData, const tk_ArbitraryData& aData) {
  tkStatistics stats;
  long lists = 0;
  const auto add = [&](const tk_WeightedCrspList& list) {
    ++lists;
    for (const auto& k : list) {
      stats.add(k.first.second.x());
      stats.add(k.first.second.y());
    }
  };
  for (const auto& placement : zData)
    for (const auto& list : placement.first)
      add(list);
  for (const auto& placement : aData)
    for (const auto& list : placement)
      add(list);
  const double n = static_cast<double>(stats.count());
  if (stats.count() > 2 && stats.stdDev() > 0.0)
    return std::sqrt(n / static_cast<double>(lists)) / stats.stdDev() * 15.0 / std::sqrt(12.0);
  return 1.0;
}

void tfScalePlates(double s, tk_ZRotationData& zData, tk_ArbitraryData& aData) {
  for (auto& placement : zData) {
    placement.second *= s;
    for (auto& list : placement.first)
      for (auto& k : list)
        k.first.second = k.first.second * s;
  }
  for (auto& placement : aData)
    for (auto& list : placement)
      for (auto& k : list)
        k.first.second =
            tkVector<3>(k.first.second.x() * s, k.first.second.y() * s, k.first.second.z());
}

namespace {

// Z-rotation removal and normalisation around the staged solve.
Params refine(Kind kind, const tk_ZRotationData& zIn, const tk_ArbitraryData& aIn,
              const Params& startIn) {
  checkShapes(kind, zIn, aIn, startIn);
  const std::size_t nC = startIn.cameraPoseInverses().size();
  tk_ZRotationData zData = zIn;
  tk_ArbitraryData aData = aIn;

  // 1. Each Z-rotation placement starts at angle 0 in a plate frame turned by its angle.
  std::vector<tkXform<3>> rotations;
  std::vector<tk3ZRotationXform> zPoses = startIn.calibrationPlatePoses();
  for (std::size_t j = 0; j < zData.size(); ++j) {
    const tkXform<3> R = rotationZ(zPoses[j].rotZ());
    rotations.push_back(R);
    zPoses[j] = tk3ZRotationXform(zPoses[j].xform() * R.inverse());
    for (auto& list : zData[j].first)
      for (auto& k : list)
        k.first.second = R.mapPoint(k.first.second);
  }
  Params start = startIn;
  start.calibrationPlatePoses(zPoses);

  // 2. Physical frame with camera 0 at distance 1; per-camera image normalisation.
  const double distance = start.cameraPoseInverses()[0].trans().length();
  const double s = distance == 0.0 ? 1.0 : 1.0 / distance;
  start = tfScaleTranslations(start, s);
  std::vector<tk2XformLinear> norms;
  std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics =
      start.physicalAtZEquals1FromImageParams();
  for (std::size_t c = 0; c < nC; ++c) {
    tk_ImageNormaliser normaliser;
    for (const auto& placement : zData)
      for (const auto& k : placement.first[c])
        normaliser.add(k.first.first);
    for (const auto& placement : aData)
      for (const auto& k : placement[c])
        normaliser.add(k.first.first);
    norms.push_back(normaliser.normalisation());
    intrinsics[c] = intrinsics[c].mapRight(norms[c].inverse());
  }
  start.physicalAtZEquals1FromImageParams(intrinsics);
  for (auto& placement : zData) {
    placement.second *= s;
    for (std::size_t c = 0; c < nC; ++c)
      for (auto& k : placement.first[c])
        k.first = {norms[c].mapPoint(k.first.first), k.first.second * s};
  }
  for (auto& placement : aData)
    for (std::size_t c = 0; c < nC; ++c)
      for (auto& k : placement[c])
        k.first = {norms[c].mapPoint(k.first.first), k.first.second * s};

  // 3.-4.
  Params solved = staged(kind, zData, aData, start);

  // Back to pixels, the caller's unit and the caller's plate frames.
  solved = tfScaleTranslations(solved, 1.0 / s);
  intrinsics = solved.physicalAtZEquals1FromImageParams();
  for (std::size_t c = 0; c < nC; ++c)
    intrinsics[c] = intrinsics[c].mapRight(norms[c]);
  solved.physicalAtZEquals1FromImageParams(intrinsics);
  zPoses = solved.calibrationPlatePoses();
  for (std::size_t j = 0; j < zPoses.size(); ++j)
    zPoses[j] = tk3ZRotationXform(zPoses[j].xform() * rotations[j]);
  solved.calibrationPlatePoses(zPoses);
  return solved;
}

tk_WeightedCrspList weighted(const tk_CrspList& list) {
  tk_WeightedCrspList out;
  out.reserve(list.size());
  for (const auto& k : list)
    out.push_back({k, 1.0});
  return out;
}

tk_WeightedCrspList weighted(const std::vector<tkCrspPairWeighted>& list) {
  tk_WeightedCrspList out;
  out.reserve(list.size());
  for (const auto& k : list)
    out.push_back({{k.image(), k.physical3D()}, k.weight()});
  return out;
}

template <class Z>
tk_ZRotationData weightedZ(const Z& data) {
  tk_ZRotationData out;
  for (const auto& placement : data) {
    std::vector<tk_WeightedCrspList> lists;
    for (const auto& list : placement.first)
      lists.push_back(weighted(list));
    out.push_back({lists, placement.second});
  }
  return out;
}

template <class A>
tk_ArbitraryData weightedA(const A& data) {
  tk_ArbitraryData out;
  for (const auto& placement : data) {
    std::vector<tk_WeightedCrspList> lists;
    for (const auto& list : placement)
      lists.push_back(weighted(list));
    out.push_back(lists);
  }
  return out;
}

}  // namespace

tk_ZRotationData tfWeightedData(const tk_ZRotationPlacements& data) {
  return weightedZ(data);
}
tk_ArbitraryData tfWeightedData(const tk_ArbitraryPlacements& data) {
  return weightedA(data);
}
tk_ZRotationData tfWeightedData(const tk_ZRotationPlacementsW& data) {
  return weightedZ(data);
}
tk_ArbitraryData tfWeightedData(const tk_ArbitraryPlacementsW& data) {
  return weightedA(data);
}

void tfRefineCameraCalibrationMultiplateMulticamera(const tk_ZRotationData& zData,
                                                    const tk_ArbitraryData& aData,
                                                    const Params& start, Params& result) {
  const Params refined = refine(Kind::kRig, zData, aData, start);
  result = refined;
}

void tfRefineCameraCalibrationMultiplateMulticamera(const tk_ZRotationPlacements& zData,
                                                    const tk_ArbitraryPlacements& aData,
                                                    const Params& start, Params& result) {
  tfRefineCameraCalibrationMultiplateMulticamera(tfWeightedData(zData), tfWeightedData(aData),
                                                 start, result);
}

void tfRefineCameraCalibrationMultiplateMulticamera(const tk_ZRotationPlacementsW& zData,
                                                    const tk_ArbitraryPlacementsW& aData,
                                                    const Params& start, Params& result) {
  tfRefineCameraCalibrationMultiplateMulticamera(tfWeightedData(zData), tfWeightedData(aData),
                                                 start, result);
}

void tfRefineCameraPoseMultiplateMulticamera(const tk_ZRotationData& zData,
                                             const tk_ArbitraryData& aData, const Params& start,
                                             Params& result) {
  const Params refined = refine(Kind::kPose, zData, aData, start);
  result = refined;
}

void tfRefineCameraCalibrationMultiplateSingleCamera(const tk_ZRotationData1& zData,
                                                     const tk_ArbitraryData1& aData,
                                                     const tk_MultiplateCameraEstimate& start,
                                                     tk_MultiplateCameraEstimate& result) {
  tk_ZRotationData z;
  for (const auto& placement : zData)
    z.push_back({{placement.first}, placement.second});
  tk_ArbitraryData a;
  for (const auto& list : aData)
    a.push_back({list});
  const Params refined = refine(Kind::kSingle, z, a, paramsOf(start));
  result = estimateOf(refined);
}

void tfRefineCameraCalibrationMultiplateSingleCamera(
    const std::vector<std::pair<tk_CrspList, double>>& zData, const std::vector<tk_CrspList>& aData,
    const tk_MultiplateCameraEstimate& start, tk_MultiplateCameraEstimate& result) {
  tk_ZRotationData1 z;
  for (const auto& placement : zData)
    z.push_back({weighted(placement.first), placement.second});
  tk_ArbitraryData1 a;
  for (const auto& list : aData)
    a.push_back(weighted(list));
  tfRefineCameraCalibrationMultiplateSingleCamera(z, a, start, result);
}
