// Every public entry point that takes point lists, driven with each bad input of bad_input.h.
// The expected outcome of each (entry point, bad input) is the cell of the table in
// docs/failure-modes.md, so that the table stays what callers really get. Whatever the cell,
// an entry point that throws throws one of ours and leaves its outputs as they were, and one
// that returns returns finite numbers only. Overloads that must behave alike share a row: each
// is run, and a difference shows in the cell.
#include "bad_input.h"

#include <ccal/camera_calibration_coarse.h>
#include <ccal/camera_calibration_refine.h>
#include <ccal/line_scan_calibration.h>
#include <ccal/line_scan_xform.h>
#include <ccal/multicamera_calibration.h>
#include <ccal/single_camera_calibration.h>
#include <ccal/telecentric_calibration.h>
#include <tk/pose3d.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using bad::List;
using bad::Outcome;
using bad::Scene;

// ---- argument shapes ---------------------------------------------------------------------

using Pairs = std::vector<std::pair<tkVector<2>, tkVector<3>>>;
using Weighted = std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>;

// The observations of list, each as f makes it.
template <class F>
auto each(const List& list, F f) {
  std::vector<decltype(f(bad::Obs()))> out;
  for (const bad::Obs& o : list)
    out.push_back(f(o));
  return out;
}
Pairs pairs(const List& l) {
  return each(l, [](const bad::Obs& o) { return std::make_pair(o.image, o.physical); });
}
Weighted weighted(const List& l) {
  return each(l, [](const bad::Obs& o) {
    return std::make_pair(std::make_pair(o.image, o.physical), o.weight);
  });
}
std::vector<tkCrspPairWeighted> crsp(const List& l) {
  return each(l,
              [](const bad::Obs& o) { return tkCrspPairWeighted(o.image, o.physical, o.weight); });
}
std::vector<tkPair<tkVector<2>>> planar(const List& l) {
  return each(l, [](const bad::Obs& o) {
    return tkPair<tkVector<2>>(o.image, tkVector<2>(o.physical.x(), o.physical.y()));
  });
}

// Image and physical lists of camera 0's points of every placement (physical in 2D or in world
// coordinates); a mismatch drops the last physical point.
template <class P>
void split(const Scene& s, std::vector<tkVector<2>>& image, std::vector<P>& physical) {
  for (const bad::Obs& o : s.world()) {
    image.push_back(o.image);
    if constexpr (std::is_same_v<P, tkVector<3>>)
      physical.push_back(o.physical);
    else
      physical.push_back(tkVector<2>(o.physical.x(), o.physical.y()));
  }
  if (s.mismatch)
    physical.pop_back();
}

// Per placement: f(camera 0's list).
template <class F>
auto perPlacement(const Scene& s, F f) {
  std::vector<decltype(f(List()))> out;
  for (const auto& placement : s.lists)
    out.push_back(f(placement.at(0)));
  return out;
}

// The placements' poses; one fewer when the scene asks for a mismatch.
std::vector<tkXform<3>> poses(const Scene& s) {
  std::vector<tkXform<3>> out = s.poses;
  if (s.mismatch)
    out.pop_back();
  return out;
}

// Rig placements: the first zRotationPlacements with their heights, the rest arbitrary; a
// mismatch drops the last camera's list of the first placement.
template <class Z, class A, class ListOf>
void rig(const Scene& s, ListOf listOf, Z& z, A& a) {
  for (std::size_t p = 0; p < s.lists.size(); ++p) {
    std::vector<decltype(listOf(List()))> lists;
    for (const List& list : s.lists[p])
      lists.push_back(listOf(list));
    if (s.mismatch && p == 0)
      lists.pop_back();
    if (static_cast<int>(p) < s.zRotationPlacements)
      z.push_back({lists, s.poses[p].trans().z()});
    else
      a.push_back(lists);
  }
}

tkCameraCalibrationParams initialCamera(const Scene& s, std::size_t index = 0) {
  tkCameraCalibrationParams camera = s.cameras.at(index);
  tkPhysicalAtZEquals1FromImageParams intrinsic = camera.physicalAtZEquals1FromImageParams();
  if (intrinsic.distModel() != s.model)
    intrinsic.distModel(s.model);
  camera.physicalAtZEquals1FromImageParams(intrinsic);
  return camera;
}

tk2XformCalib2 calibrated(const tkCameraCalibrationParams& camera) {
  tk2XformCalib2 xform;
  tfConvert(camera, xform);
  return xform;
}

// ---- entry points ------------------------------------------------------------------------

// One overload of an entry point and the inputs it takes: weights (else it does not see the
// weight spoils) and lists that can disagree in length (else it does not see the mismatch).
struct Overload {
  std::function<Outcome(const Scene&)> run;
  bool weights = true;
  bool lists = true;
};

// The overloads of one row: each that takes the spoilt input runs, and a difference between
// their outcomes shows in the cell.
struct Entry {
  std::string name;
  std::function<Scene()> scene;
  std::vector<Overload> overloads;

  Outcome run(const Scene& s) const {
    Outcome merged;
    bool first = true;
    for (const Overload& o : overloads) {
      if ((s.weightsSpoilt && !o.weights) || (s.mismatch && !o.lists))
        continue;
      const Outcome outcome = o.run(s);
      if (first)
        merged = outcome;
      else if (merged.thrown != outcome.thrown)
        merged.thrown += " / " + outcome.thrown;
      merged.untouched = merged.untouched && outcome.untouched;
      merged.finite = merged.finite && outcome.finite;
      first = false;
    }
    return merged;
  }
};

void PrintTo(const Entry& entry, std::ostream* os) {
  *os << entry.name;
}

// The scene make() builds, built once.
template <Scene (*make)()>
Scene cached() {
  static const Scene scene = make();
  return scene;
}

Scene radial() {
  return bad::perspectiveScene(tk2XformCalib2Defs::eRadial);
}
// The driver's distortion search makes radial runs slow; without distortion it goes straight to
// the refinement.
Scene undistorted() {
  return bad::perspectiveScene(tk2XformCalib2Defs::eNoDistortion);
}
Scene radialRig() {
  return bad::perspectiveScene(tk2XformCalib2Defs::eRadial, 2);
}

Outcome refine(const Scene& s, bool lists) {
  tkCameraCalibrationParams result = s.cameras.at(0);
  return bad::observeOutputs(
      [&] {
        if (!lists)
          return tfRefineCameraCalibrationParams(weighted(s.world()), initialCamera(s), result);
        std::vector<tkVector<2>> image;
        std::vector<tkVector<3>> physical;
        split(s, image, physical);
        tfRefineCameraCalibrationParams(image, physical, initialCamera(s), result);
      },
      result);
}

using Rig = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

// overload 0: pairs; 1: weighted with residual lists; 2: weighted.
Outcome rigCalibration(const Scene& s, int overload) {
  Rig result;
  result.physicalAtZEquals1FromImageParams({tkPhysicalAtZEquals1FromImageParams()});
  std::vector<double> rz{7}, mz{7}, ra{7}, ma{7};
  return bad::observeOutputs(
      [&] {
        if (overload == 0) {
          tkMulticameraZRotationPlacements z;
          tkMulticameraArbitraryPlacements a;
          rig(s, pairs, z, a);
          return tfCalibrateMultiplateMulticameraZRotationAndArbitrary(s.model, z, a, result);
        }
        tkMulticameraZRotationPlacementsWeighted z;
        tkMulticameraArbitraryPlacementsWeighted a;
        rig(s, crsp, z, a);
        if (overload == 1)
          tfCalibrateMultiplateMulticameraZRotationAndArbitrary(s.model, z, a, result, rz, mz, ra,
                                                                ma);
        else
          tfCalibrateMultiplateMulticameraZRotationAndArbitrary(s.model, z, a, result);
      },
      result.physicalAtZEquals1FromImageParams(), result.cameraPoseInverses(),
      result.calibrationPlatePoses(), result.arbitraryCalibrationPlatePoses(), rz, mz, ra, ma);
}

// A mismatch here: one intrinsic model fewer than cameras.
Outcome rigPose(const Scene& s, bool weightedOverload) {
  Rig result;
  result.cameraPoseInverses({tk3QuaternionXform()});
  return bad::observeOutputs(
      [&] {
        std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics;
        for (std::size_t c = 0; c < s.cameras.size() - (s.mismatch ? 1 : 0); ++c)
          intrinsics.push_back(initialCamera(s, c).physicalAtZEquals1FromImageParams());
        Scene same = s;
        same.mismatch = false;
        if (weightedOverload) {
          tkMulticameraZRotationPlacementsWeighted z;
          tkMulticameraArbitraryPlacementsWeighted a;
          rig(same, crsp, z, a);
          return tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(intrinsics, z, a, result);
        }
        tkMulticameraZRotationPlacements z;
        tkMulticameraArbitraryPlacements a;
        rig(same, pairs, z, a);
        tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(intrinsics, z, a, result);
      },
      result.cameraPoseInverses(), result.calibrationPlatePoses(),
      result.arbitraryCalibrationPlatePoses());
}

// overload 0: pairs; 1: weighted; 2: weighted with the intrinsic part.
Outcome telecentric(const Scene& s, int overload) {
  tk2XformCalib2 result;
  std::vector<double> rms{7}, largest{7};
  const tkCalibrateTelecentricCameraParams params;
  const tkCalib2ParamsIntrinsic intrinsic({20, 20}, 0, {320, 240}, tk2XformCalib2Defs::eTelecentric,
                                          {});
  return bad::observeOutputs(
      [&] {
        if (overload == 0)
          tfCalibrateTelecentricCamera(perPlacement(s, planar), poses(s), params, rms, largest,
                                       result);
        else if (overload == 1)
          tfCalibrateTelecentricCamera(perPlacement(s, crsp), poses(s), params, rms, largest,
                                       result);
        else
          tfCalibrateTelecentricCamera(perPlacement(s, crsp), poses(s), params, intrinsic, rms,
                                       largest, result);
      },
      result, rms, largest);
}

Outcome lineScanCalibration(const Scene& s, bool pairsOverload) {
  tk2XformCalib2 result;
  double first = 7, second = 7;
  return bad::observeOutputs(
      [&] {
        if (pairsOverload)
          return tfCalibrateLineScanCamera(planar(s.lists[0][0]), {}, first, second, result);
        std::vector<tkVector<2>> image, physical;
        split(s, image, physical);
        tfCalibrateLineScanCamera(image, physical, {}, first, second, result);
      },
      first, second, result);
}

Outcome lineScanInit(const Scene& s, bool pairsOverload) {
  tk2XformLineScan xform;
  double rms = 7, largest = 7;
  return bad::observe(
      [&] {
        if (pairsOverload)
          return xform.init(planar(s.lists[0][0]), 300.0, rms, largest);
        std::vector<tkVector<2>> image, physical;
        split(s, image, physical);
        xform.init(image, physical, rms, largest);
      },
      [&] {
        std::vector<double> v{rms, largest};
        for (const tkVector<2>& p : {tkVector<2>(10, 20), tkVector<2>(500, -40)})
          v.insert(v.end(), {xform.mapPoint(p).x(), xform.mapPoint(p).y()});
        return v;
      });
}

std::vector<Entry> entries() {
  using S = const Scene&;
  const auto perspective = cached<radial>;
  const auto pair = cached<radialRig>;
  const auto telecentricScene = cached<bad::telecentricScene>;
  const auto lineScan = cached<bad::lineScanScene>;
  return {
      {"tfCameraCalibrationParamsCoarse", perspective, {{[](S s) {
         tkCameraCalibrationParams result = s.cameras.at(0);
         return bad::observeOutputs(
             [&] { tfCameraCalibrationParamsCoarse(s.model, pairs(s.world()), result); }, result);
       }}}},
      {"tfRefineCameraCalibrationParams (weighted; lists)",
       perspective,
       {{[](S s) { return refine(s, false); }, true, false},
        {[](S s) { return refine(s, true); }, false, true}}},
      {"tfComputeCalibrationSingleCamera_internal", cached<undistorted>, {{[](S s) {
         tkCameraCalibrationParams result = s.cameras.at(0);
         return bad::observeOutputs(
             [&] {
               tfComputeCalibrationSingleCamera_internal(s.model, weighted(s.world()),
                                                         perPlacement(s, crsp), poses(s), result);
             },
             result);
       }}}},
      {"tfCalibrateMultiplateMulticameraZRotationAndArbitrary (pairs; weighted; with residuals)",
       pair,
       {{[](S s) { return rigCalibration(s, 0); }, false},
        {[](S s) { return rigCalibration(s, 2); }},
        {[](S s) { return rigCalibration(s, 1); }}}},
      {"tfCameraPoseMultiplateMulticameraZRotationAndArbitrary (pairs; weighted)",
       pair,
       {{[](S s) { return rigPose(s, false); }, false}, {[](S s) { return rigPose(s, true); }}}},
      {"tfCalibrateTelecentricCamera (pairs)", telecentricScene, {{[](S s) {
         return telecentric(s, 0);
       }}}},
      {"tfCalibrateTelecentricCamera (weighted; with intrinsic part)",
       telecentricScene,
       {{[](S s) { return telecentric(s, 1); }}, {[](S s) { return telecentric(s, 2); }}}},
      {"tfCalibrateLineScanCamera (lists; pairs)",
       lineScan,
       {{[](S s) { return lineScanCalibration(s, false); }},
        {[](S s) { return lineScanCalibration(s, true); }, true, false}}},
      {"tk2XformLineScan::init (lists; pairs, distance)",
       lineScan,
       {{[](S s) { return lineScanInit(s, false); }},
        {[](S s) { return lineScanInit(s, true); }, true, false}}},
      {"tf3DComputePose", perspective, {{[](S s) {
         tk3DComputePoseResult r;
         return bad::observe(
             [&] { tf3DComputePose(pairs(s.world()), calibrated(initialCamera(s)), {}, r); },
             [&] {
               std::vector<double> v{r.rms(), r.largestResidual()};
               bad::append(v, r.pose().xform());
               return v;
             });
       }}}},
      {"tk2XformCalib2::init (views)", perspective, {{[](S s) {
         tk2XformCalib2 result;
         std::vector<double> rms{7}, largest{7};
         return bad::observeOutputs(
             [&] { result.init(perPlacement(s, planar), rms, largest, s.model); }, result, rms,
             largest);
       }}}},
      {"tk2XformCalib2::extrinsicXform (pairs)", perspective, {{[](S s) {
         tkXform<3> pose;
         return bad::observeOutputs(
             [&] { pose = calibrated(initialCamera(s)).extrinsicXform(planar(s.lists[0][0])); },
             pose);
       }}}},
  };
}

// ---- the table -----------------------------------------------------------------------------

// Rows of the point-list table of docs/failure-modes.md: entry point -> cells.
const std::map<std::string, std::vector<std::string>>& documentedTable() {
  static const auto rows = [] {
    std::map<std::string, std::vector<std::string>> table;
    std::ifstream in(std::string(CCAL_DATA_DIR) + "/../docs/failure-modes.md");
    std::string line;
    bool inSection = false;  // the table of the section "## Point lists"
    while (std::getline(in, line)) {
      if (line.rfind("## ", 0) == 0)
        inSection = line == "## Point lists";
      if (!inSection || line.rfind("| `", 0) != 0)
        continue;
      std::vector<std::string> cells;
      std::stringstream stream(line.substr(1));
      for (std::string cell; std::getline(stream, cell, '|');) {
        const auto begin = cell.find_first_not_of(" `"), end = cell.find_last_not_of(" `");
        cells.push_back(begin == std::string::npos ? "" : cell.substr(begin, end - begin + 1));
      }
      const std::string name = cells.front();
      cells.erase(cells.begin());
      table[name] = cells;
    }
    return table;
  }();
  return rows;
}

TEST(BadInputTable, HasOneRowPerEntryPoint) {
  std::vector<std::string> documented, tested;
  for (const auto& row : documentedTable())
    documented.push_back(row.first);
  for (const Entry& entry : entries())
    tested.push_back(entry.name);
  std::sort(tested.begin(), tested.end());
  EXPECT_EQ(documented, tested);
}

class BadInput : public ::testing::TestWithParam<Entry> {};

TEST_P(BadInput, EndsAsDocumented) {
  const Entry& entry = GetParam();
  // CCAL_PRINT_FAILURE_TABLE=1 prints the observed row in the table's form instead of checking.
  const bool print = std::getenv("CCAL_PRINT_FAILURE_TABLE") != nullptr;
  const auto& spoilers = bad::spoilers();
  std::vector<std::string> cells(spoilers.size(), "ok");
  if (!print) {
    const auto row = documentedTable().find(entry.name);
    ASSERT_NE(row, documentedTable().end()) << entry.name << " is missing from the table";
    ASSERT_EQ(row->second.size(), spoilers.size()) << entry.name;
    cells = row->second;
  }
  const Scene valid = entry.scene();
  std::string printed = "| `" + entry.name + "` |";
  for (std::size_t i = 0; i < spoilers.size(); ++i) {
    if (cells[i] == "n/a" && !print)
      continue;
    Scene spoilt = valid;
    spoilers[i].apply(spoilt);
    Outcome outcome = entry.run(spoilt);
    if (print) {
      printed += " " + outcome.thrown + (outcome.untouched ? "" : " CHANGED") +
                 (outcome.finite ? "" : " NONFINITE") + " |";
      continue;
    }
    SCOPED_TRACE(entry.name + " / " + spoilers[i].name + ": " + outcome.message);
    EXPECT_EQ(outcome.thrown, cells[i]);
    EXPECT_TRUE(outcome.untouched) << "outputs changed before " << outcome.thrown;
    EXPECT_TRUE(outcome.finite) << "a returned number is not finite";
    if (outcome.thrown.rfind("ok", 0) != 0) {
      EXPECT_FALSE(outcome.message.empty());
    }
  }
  if (print)
    std::printf("%s\n", printed.c_str());
}

INSTANTIATE_TEST_SUITE_P(EntryPoints, BadInput, ::testing::ValuesIn(entries()),
                         [](const ::testing::TestParamInfo<Entry>& info) {
                           std::string name;
                           for (char c : info.param.name)
                             if (std::isalnum(static_cast<unsigned char>(c)))
                               name += c;
                           return name;
                         });

}  // namespace
