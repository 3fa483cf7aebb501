// Every public entry point that takes point lists, driven with each bad input of bad_input.h.
// The expected outcome of each (entry point, bad input) is the cell of the table in
// docs/failure-modes.md, so that the table stays what callers really get. Whatever the cell,
// an entry point that throws throws one of ours and leaves its outputs as they were, and one
// that returns returns finite numbers only.
#include "bad_input.h"

#include <ccal/camera_calibration_coarse.h>
#include <ccal/camera_calibration_refine.h>
#include <ccal/line_scan_calibration.h>
#include <ccal/line_scan_xform.h>
#include <ccal/multicamera_calibration.h>
#include <ccal/single_camera_calibration.h>
#include <ccal/telecentric_calibration.h>
#include <tk/assertion.h>
#include <tk/line_fit.h>
#include <tk/pose3d.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using bad::Bad;
using bad::List;
using bad::Outcome;
using bad::Scene;
using Values = std::vector<double>;

// ---- argument shapes ---------------------------------------------------------------------

using Pairs = std::vector<std::pair<tkVector<2>, tkVector<3>>>;
using Weighted = std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>;

Pairs pairs(const List& list) {
  Pairs out;
  for (const bad::Obs& o : list)
    out.push_back({o.image, o.physical});
  return out;
}

Weighted weighted(const List& list) {
  Weighted out;
  for (const bad::Obs& o : list)
    out.push_back({{o.image, o.physical}, o.weight});
  return out;
}

std::vector<tkCrspPairWeighted> crsp(const List& list) {
  std::vector<tkCrspPairWeighted> out;
  for (const bad::Obs& o : list)
    out.emplace_back(o.image, o.physical, o.weight);
  return out;
}

std::vector<tkPair<tkVector<2>>> planar(const List& list) {
  std::vector<tkPair<tkVector<2>>> out;
  for (const bad::Obs& o : list)
    out.emplace_back(o.image, tkVector<2>(o.physical.x(), o.physical.y()));
  return out;
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
template <class ListOf, class ZOut, class AOut>
void rig(const Scene& s, ListOf listOf, ZOut& z, AOut& a) {
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

template <class... T>
std::function<Values()> valuesOf(const T&... outputs) {
  return [&outputs...] {
    Values v;
    (bad::append(v, outputs), ...);
    return v;
  };
}

void append(Values& v, const std::vector<double>& list) {
  v.insert(v.end(), list.begin(), list.end());
}

// ---- entry points ------------------------------------------------------------------------

using Run = std::function<Outcome(const Scene&)>;

struct Entry {
  std::string name;
  std::function<Scene()> scene;
  Run run;
};

void PrintTo(const Entry& entry, std::ostream* os) {
  *os << entry.name;
}

Scene radial() {
  static const Scene scene = bad::perspectiveScene(tk2XformCalib2Defs::eRadial);
  return scene;
}
// The driver's distortion search makes radial runs slow; without distortion it goes straight to
// the refinement.
Scene undistorted() {
  static const Scene scene = bad::perspectiveScene(tk2XformCalib2Defs::eNoDistortion);
  return scene;
}
Scene radialRig() {
  static const Scene scene = bad::perspectiveScene(tk2XformCalib2Defs::eRadial, 2);
  return scene;
}
Scene telecentric() {
  static const Scene scene = bad::telecentricScene();
  return scene;
}
Scene lineScan() {
  static const Scene scene = bad::lineScanScene();
  return scene;
}

tk2XformCalib2 calibrated(const tkCameraCalibrationParams& camera) {
  tk2XformCalib2 xform;
  tfConvert(camera, xform);
  return xform;
}

using Params = tkCameraCalibrationMultiplateMulticameraZRotationAndArbitraryParams;

Outcome rigCalibration(const Scene& s, int overload) {
  Params result;
  result.physicalAtZEquals1FromImageParams({tkPhysicalAtZEquals1FromImageParams()});
  std::vector<double> rz{7}, mz{7}, ra{7}, ma{7};
  const auto values = [&] {
    Values v;
    for (const auto& i : result.physicalAtZEquals1FromImageParams())
      bad::append(v, i);
    for (const auto& p : result.cameraPoseInverses())
      bad::append(v, p.xform());
    for (const auto& p : result.calibrationPlatePoses())
      bad::append(v, p.xform());
    for (const auto& p : result.arbitraryCalibrationPlatePoses())
      bad::append(v, p.xform());
    for (const auto* list : {&rz, &mz, &ra, &ma})
      append(v, *list);
    return v;
  };
  return bad::observe(
      [&] {
        if (overload == 0) {
          tkMulticameraZRotationPlacements z;
          tkMulticameraArbitraryPlacements a;
          rig(s, pairs, z, a);
          tfCalibrateMultiplateMulticameraZRotationAndArbitrary(s.model, z, a, result);
          return;
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
      values);
}

std::vector<Entry> entries() {
  std::vector<Entry> e;
  e.push_back({"tfCameraCalibrationParamsCoarse", radial, [](const Scene& s) {
                 tkCameraCalibrationParams result = s.cameras.at(0);
                 return bad::observe(
                     [&] { tfCameraCalibrationParamsCoarse(s.model, pairs(s.world()), result); },
                     valuesOf(result));
               }});
  e.push_back({"tfRefineCameraCalibrationParams (weighted)", radial, [](const Scene& s) {
                 tkCameraCalibrationParams result = s.cameras.at(0);
                 return bad::observe(
                     [&] {
                       tfRefineCameraCalibrationParams(weighted(s.world()), initialCamera(s),
                                                       result);
                     },
                     valuesOf(result));
               }});
  e.push_back({"tfRefineCameraCalibrationParams (lists)", radial, [](const Scene& s) {
                 tkCameraCalibrationParams result = s.cameras.at(0);
                 return bad::observe(
                     [&] {
                       std::vector<tkVector<2>> image;
                       std::vector<tkVector<3>> physical;
                       for (const bad::Obs& o : s.world()) {
                         image.push_back(o.image);
                         physical.push_back(o.physical);
                       }
                       if (s.mismatch)
                         physical.pop_back();
                       tfRefineCameraCalibrationParams(image, physical, initialCamera(s), result);
                     },
                     valuesOf(result));
               }});
  e.push_back({"tfComputeCalibrationSingleCamera_internal", undistorted, [](const Scene& s) {
                 tkCameraCalibrationParams result = s.cameras.at(0);
                 return bad::observe(
                     [&] {
                       tfComputeCalibrationSingleCamera_internal(
                           s.model, weighted(s.world()), perPlacement(s, crsp), poses(s), result);
                     },
                     valuesOf(result));
               }});
  for (int overload = 0; overload < 3; ++overload) {
    static const char* names[] = {" (pairs)", " (weighted, residuals)", " (weighted)"};
    e.push_back(
        {std::string("tfCalibrateMultiplateMulticameraZRotationAndArbitrary") + names[overload],
         radialRig, [overload](const Scene& s) { return rigCalibration(s, overload); }});
  }
  for (int weightedOverload = 0; weightedOverload < 2; ++weightedOverload) {
    e.push_back(
        {std::string("tfCameraPoseMultiplateMulticameraZRotationAndArbitrary") +
             (weightedOverload ? " (weighted)" : " (pairs)"),
         radialRig, [weightedOverload](const Scene& s) {
           Params result;
           result.cameraPoseInverses({tk3QuaternionXform()});
           return bad::observe(
               [&] {
                 std::vector<tkPhysicalAtZEquals1FromImageParams> intrinsics;
                 for (std::size_t c = 0; c < s.cameras.size(); ++c)
                   intrinsics.push_back(initialCamera(s, c).physicalAtZEquals1FromImageParams());
                 Scene same = s;
                 if (s.mismatch) {
                   intrinsics.pop_back();
                   same.mismatch = false;
                 }
                 if (weightedOverload) {
                   tkMulticameraZRotationPlacementsWeighted z;
                   tkMulticameraArbitraryPlacementsWeighted a;
                   rig(same, crsp, z, a);
                   tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(intrinsics, z, a, result);
                 } else {
                   tkMulticameraZRotationPlacements z;
                   tkMulticameraArbitraryPlacements a;
                   rig(same, pairs, z, a);
                   tfCameraPoseMultiplateMulticameraZRotationAndArbitrary(intrinsics, z, a, result);
                 }
               },
               [&] {
                 Values v;
                 for (const auto& p : result.cameraPoseInverses())
                   bad::append(v, p.xform());
                 for (const auto& p : result.calibrationPlatePoses())
                   bad::append(v, p.xform());
                 for (const auto& p : result.arbitraryCalibrationPlatePoses())
                   bad::append(v, p.xform());
                 return v;
               });
         }});
  }
  for (int overload = 0; overload < 3; ++overload) {
    static const char* names[] = {" (pairs)", " (weighted)", " (weighted, intrinsic)"};
    e.push_back({std::string("tfCalibrateTelecentricCamera") + names[overload], telecentric,
                 [overload](const Scene& s) {
                   tk2XformCalib2 result;
                   std::vector<double> rms{7}, largest{7};
                   tkCalibrateTelecentricCameraParams params;
                   return bad::observe(
                       [&] {
                         if (overload == 0)
                           tfCalibrateTelecentricCamera(perPlacement(s, planar), poses(s), params,
                                                        rms, largest, result);
                         else if (overload == 1)
                           tfCalibrateTelecentricCamera(perPlacement(s, crsp), poses(s), params,
                                                        rms, largest, result);
                         else
                           tfCalibrateTelecentricCamera(
                               perPlacement(s, crsp), poses(s), params,
                               tkCalib2ParamsIntrinsic({20, 20}, 0, {320, 240},
                                                       tk2XformCalib2Defs::eTelecentric, {}),
                               rms, largest, result);
                       },
                       [&] {
                         Values v;
                         bad::append(v, result);
                         append(v, rms);
                         append(v, largest);
                         return v;
                       });
                 }});
  }
  for (int overload = 0; overload < 2; ++overload) {
    e.push_back({std::string("tfCalibrateLineScanCamera") + (overload ? " (pairs)" : " (lists)"),
                 lineScan, [overload](const Scene& s) {
                   tk2XformCalib2 result;
                   double first = 7, second = 7;
                   return bad::observe(
                       [&] {
                         const tkCalibrateLineScanCameraParams params;
                         const auto p = planar(s.lists[0][0]);
                         if (overload) {
                           tfCalibrateLineScanCamera(p, params, first, second, result);
                           return;
                         }
                         std::vector<tkVector<2>> image, physical;
                         for (const auto& pair : p) {
                           image.push_back(pair.first);
                           physical.push_back(pair.second);
                         }
                         if (s.mismatch)
                           physical.pop_back();
                         tfCalibrateLineScanCamera(image, physical, params, first, second, result);
                       },
                       [&] {
                         Values v{first, second};
                         bad::append(v, result);
                         return v;
                       });
                 }});
  }
  for (int overload = 0; overload < 2; ++overload) {
    e.push_back(
        {std::string("tk2XformLineScan::init") + (overload ? " (pairs, distance)" : " (lists)"),
         lineScan, [overload](const Scene& s) {
           tk2XformLineScan xform;
           double rms = 7, largest = 7;
           return bad::observe(
               [&] {
                 const auto p = planar(s.lists[0][0]);
                 if (overload) {
                   xform.init(p, 300.0, rms, largest);
                   return;
                 }
                 std::vector<tkVector<2>> image, physical;
                 for (const auto& pair : p) {
                   image.push_back(pair.first);
                   physical.push_back(pair.second);
                 }
                 if (s.mismatch)
                   physical.pop_back();
                 xform.init(image, physical, rms, largest);
               },
               [&] {
                 Values v{rms, largest};
                 for (const tkVector<2>& p : {tkVector<2>(10, 20), tkVector<2>(500, -40)})
                   v.insert(v.end(), {xform.mapPoint(p).x(), xform.mapPoint(p).y()});
                 return v;
               });
         }});
  }
  for (int overload = 0; overload < 2; ++overload) {
    e.push_back({std::string("tfLineFit") + (overload ? " (weights)" : ""), radial,
                 [overload](const Scene& s) {
                   tkLineFitResult result;
                   return bad::observe(
                       [&] {
                         std::vector<tkVector<2>> points;
                         std::vector<double> weights;
                         for (const bad::Obs& o : s.lists[0][0]) {
                           points.push_back(o.image);
                           weights.push_back(o.weight);
                         }
                         if (s.mismatch)
                           weights.pop_back();
                         result = overload ? tfLineFit(points, weights) : tfLineFit(points);
                       },
                       [&] {
                         return Values{result.point.x(), result.point.y(), result.direction.x(),
                                       result.direction.y(), result.rms};
                       });
                 }});
  }
  e.push_back({"tf3DComputePose", radial, [](const Scene& s) {
                 tk3DComputePoseResult result;
                 return bad::observe(
                     [&] {
                       tf3DComputePose(pairs(s.world()), calibrated(initialCamera(s)),
                                       tk3DComputePoseParams(), result);
                     },
                     [&] {
                       Values v{result.rms(), result.largestResidual()};
                       bad::append(v, result.pose().xform());
                       return v;
                     });
               }});
  e.push_back({"tk2XformCalib2::init (views)", radial, [](const Scene& s) {
                 tk2XformCalib2 result;
                 std::vector<double> rms{7}, largest{7};
                 return bad::observe(
                     [&] { result.init(perPlacement(s, planar), rms, largest, s.model); },
                     [&] {
                       Values v;
                       bad::append(v, result);
                       append(v, rms);
                       append(v, largest);
                       return v;
                     });
               }});
  e.push_back({"tk2XformCalib2::extrinsicXform (pairs)", radial, [](const Scene& s) {
                 tkXform<3> pose;
                 return bad::observe(
                     [&] {
                       tk2XformCalib2 camera = calibrated(initialCamera(s));
                       pose = camera.extrinsicXform(planar(s.lists[0][0]));
                     },
                     valuesOf(pose));
               }});
  return e;
}

// ---- the table -----------------------------------------------------------------------------

// Rows of the point-list table of docs/failure-modes.md: entry point -> cells.
std::map<std::string, std::vector<std::string>> documentedTable() {
  std::ifstream in(std::string(CCAL_DATA_DIR) + "/../docs/failure-modes.md");
  std::map<std::string, std::vector<std::string>> rows;
  std::string line;
  bool inSection = false;  // the table of the section "## Point lists"
  while (std::getline(in, line)) {
    if (line.rfind("## ", 0) == 0)
      inSection = line == "## Point lists";
    if (!inSection || line.rfind("| `", 0) != 0)
      continue;
    std::vector<std::string> cells;
    std::stringstream stream(line.substr(1));
    std::string cell;
    while (std::getline(stream, cell, '|')) {
      const auto begin = cell.find_first_not_of(" `");
      const auto end = cell.find_last_not_of(" `");
      cells.push_back(begin == std::string::npos ? "" : cell.substr(begin, end - begin + 1));
    }
    const std::string name = cells.front();
    cells.erase(cells.begin());
    rows[name] = cells;
  }
  return rows;
}

std::atomic<int> gAssertions{0};

class BadInput : public ::testing::TestWithParam<Entry> {
 protected:
  void SetUp() override {
    previous_ = tfSetAssertionHandler([](const char*, int) { ++gAssertions; });
  }
  void TearDown() override { tfSetAssertionHandler(previous_); }
  tkAssertionHandler previous_ = nullptr;
};

TEST_P(BadInput, EndsAsDocumented) {
  const Entry& entry = GetParam();
  // CCAL_PRINT_FAILURE_TABLE=1 prints the observed row in the table's form instead of checking.
  const bool print = std::getenv("CCAL_PRINT_FAILURE_TABLE") != nullptr;
  const auto& names = bad::badNames();
  static const auto table = documentedTable();
  std::vector<std::string> cells(names.size(), "ok");
  if (!print) {
    const auto row = table.find(entry.name);
    ASSERT_NE(row, table.end()) << entry.name << " is missing from docs/failure-modes.md";
    ASSERT_EQ(row->second.size(), names.size()) << entry.name;
    cells = row->second;
  }
  const Scene valid = entry.scene();
  std::string printed = "| `" + entry.name + "` |";
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& expected = cells[i];
    if (expected == "n/a" && !print)
      continue;
    gAssertions = 0;
    Outcome outcome = entry.run(bad::spoil(valid, names[i].first));
    if (outcome.thrown == "ok" && gAssertions > 0)
      outcome.thrown = "ok, assertion";
    SCOPED_TRACE(entry.name + " / " + names[i].second + ": " + outcome.message);
    if (print) {
      printed += " " + outcome.thrown + (outcome.untouched ? "" : " CHANGED") +
                 (outcome.finite ? "" : " NONFINITE") + " |";
      std::printf("%s: %s\n", names[i].second.c_str(), outcome.message.c_str());
      continue;
    }
    EXPECT_EQ(outcome.thrown, expected);
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
