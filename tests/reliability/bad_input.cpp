#include "bad_input.h"

#include "platform/core/type_registry.h"
#include "support/line_scan_sets.h"
#include "support/single_camera_scene.h"
#include "support/telecentric_sets.h"

#include <tk/angle_vect.h>
#include <tk/assertion.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <typeinfo>

namespace bad {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class F>
void forEach(Scene& scene, F f) {
  for (auto& placement : scene.lists)
    for (List& list : placement)
      for (Obs& o : list)
        f(o);
}

void scale(Scene& scene, double s) {
  forEach(scene, [s](Obs& o) { o.physical = o.physical * s; });
  for (tkXform<3>& pose : scene.poses)
    pose = tkXform<3>(pose.matrix(), pose.trans() * s);
  for (tkCameraCalibrationParams& camera : scene.cameras) {
    const tkXform<3> pose = camera.cameraPoseInverse().xform();
    camera.cameraPoseInverse(tk3QuaternionXform(tkXform<3>(pose.matrix(), pose.trans() * s)));
  }
}

Obs& some(Scene& scene, std::size_t placement, std::size_t index) {
  return scene.lists.at(placement).at(0).at(index);
}

}  // namespace

List Scene::world(int camera) const {
  List out;
  for (std::size_t p = 0; p < lists.size(); ++p)
    for (const Obs& o : lists[p].at(camera))
      out.push_back(
          {o.image, p < poses.size() ? poses[p].mapPoint(o.physical) : o.physical, o.weight});
  return out;
}

void Scene::reimage() {
  if (cameras.empty())
    return;
  for (std::size_t p = 0; p < lists.size(); ++p)
    for (std::size_t c = 0; c < lists[p].size(); ++c)
      for (Obs& o : lists[p][c])
        o.image = cameras[c].invWarpPoint(poses[p].mapPoint(o.physical));
}

// Weight index of camera 0's first list set to w (every weight for index -1).
void spoilWeights(Scene& scene, int index, double w) {
  if (index < 0)
    forEach(scene, [w](Obs& o) { o.weight = w; });
  else
    some(scene, 0, static_cast<std::size_t>(index)).weight = w;
  scene.weightsSpoilt = true;
}

const std::vector<Spoiler>& spoilers() {
  // Pixels s times larger: the same scene seen by cameras with s times the focal length and
  // principal point.
  const auto pixels = [](double s) {
    return [s](Scene& scene) {
      forEach(scene, [s](Obs& o) { o.image = o.image * s; });
      for (tkCameraCalibrationParams& camera : scene.cameras) {
        tkPhysicalAtZEquals1FromImageParams intrinsic = camera.physicalAtZEquals1FromImageParams();
        intrinsic.cameraScale(
            tkPair<double>(intrinsic.cameraScale().first / s, intrinsic.cameraScale().second / s));
        intrinsic.cameraSkew(intrinsic.cameraSkew() / s);
        camera.physicalAtZEquals1FromImageParams(intrinsic);
      }
    };
  };
  static const std::vector<Spoiler> list = {
      {"valid", [](Scene&) {}},
      {"empty",
       [](Scene& scene) {
         for (auto& placement : scene.lists)
           for (List& l : placement)
             l.clear();
       }},
      {"mismatch", [](Scene& scene) { scene.mismatch = true; }},
      {"NaN image",
       [](Scene& scene) {
         some(scene, 0, 5).image = tkVector<2>(kNaN, some(scene, 0, 5).image.y());
       }},
      {"+inf physical",
       [](Scene& scene) { some(scene, 0, 6).physical = tkVector<3>(1.0, kInf, 0.0); }},
      {"-inf image", [](Scene& scene) { some(scene, 0, 2).image = tkVector<2>(3.0, -kInf); }},
      {"NaN weight", [](Scene& scene) { spoilWeights(scene, 3, kNaN); }},
      {"weight < 0", [](Scene& scene) { spoilWeights(scene, 3, -1.0); }},
      {"weights 0", [](Scene& scene) { spoilWeights(scene, -1, 0.0); }},
      {"identical",
       [](Scene& scene) {
         const Obs first = some(scene, 0, 0);
         forEach(scene, [&first](Obs& o) { o = first; });
       }},
      {"collinear",
       [](Scene& scene) {
         forEach(scene,
                 [](Obs& o) { o.physical = tkVector<3>(o.physical.x(), 0.0, o.physical.z()); });
         scene.reimage();
       }},
      {"coplanar",
       [](Scene& scene) {
         for (tkXform<3>& pose : scene.poses)
           pose = scene.poses.front();
         scene.reimage();
       }},
      {"single view",
       [](Scene& scene) {
         scene.lists.resize(1);
         scene.poses.resize(1);
         scene.zRotationPlacements = 1;
       }},
      {"1e12", [](Scene& scene) { scale(scene, 1e12); }},
      {"1e-12", [](Scene& scene) { scale(scene, 1e-12); }},
      {"pixels 1e12", pixels(1e12)},
      {"pixels 1e-12", pixels(1e-12)},
      {"model 2", [](Scene& scene) { scene.model = static_cast<Model>(2); }},
  };
  return list;
}

Scene perspectiveScene(Model model, int cameras) {
  Scene scene;
  scene.model = model;
  for (int c = 0; c < cameras; ++c) {
    tkCameraCalibrationParams camera = scene::Camera(model);
    const tkXform<3> pose = camera.cameraPoseInverse().xform();
    camera.cameraPoseInverse(tk3QuaternionXform(
        tkXform<3>(pose.matrix(), pose.trans() + tkVector<3>(60.0 * c, 0.0, 20.0 * c))));
    scene.cameras.push_back(camera);
  }
  scene.poses = {
      tkXform<3>(), tkXform<3>(tk3AngleVect(0.0, 0.0, 0.3).matrix(), tkVector<3>(5.0, -8.0, 60.0)),
      tkXform<3>(tk3AngleVect(0.25, -0.2, 0.1).matrix(), tkVector<3>(-10.0, 4.0, 120.0))};
  scene.zRotationPlacements = 2;
  for (std::size_t p = 0; p < scene.poses.size(); ++p) {
    scene.lists.emplace_back(cameras);
    for (int c = 0; c < cameras; ++c)
      for (int i = -3; i <= 3; ++i)
        for (int j = -3; j <= 3; ++j)
          scene.lists[p][c].push_back({tkVector<2>(), tkVector<3>(35.0 * i, 30.0 * j, 0.0),
                                       1.0 + 0.25 * ((i + j + 6) % 3)});
  }
  scene.reimage();
  return scene;
}

Scene telecentricScene() {
  const tkTelecentricSet set = loadTelecentricSet("telecentric-exact.json");
  Scene scene;
  scene.model = tk2XformCalib2Defs::eTelecentric;
  for (std::size_t p = 0; p < set.poses.size() && p < 4; ++p) {
    scene.poses.push_back(set.poses[p]);
    List list;
    for (std::size_t i = 0; i < set.correspondences[p].size(); i += 3) {
      const tkCrspPairWeighted& k = set.correspondences[p][i];
      list.push_back({k.image(), k.physical3D(), k.weight()});
    }
    scene.lists.push_back({list});
  }
  return scene;
}

Scene lineScanScene() {
  const tkLineScanSet set = loadLineScanSet("linescan-exact.json");
  Scene scene;
  List list;
  for (std::size_t i = 0; i < set.image.size(); i += 4)
    list.push_back({set.image[i], tkVector<3>(set.physical[i].x(), set.physical[i].y(), 0.0), 1.0});
  scene.lists = {{list}};
  scene.poses = {tkXform<3>()};
  return scene;
}

Outcome observe(const std::function<void()>& call,
                const std::function<std::vector<double>()>& values) {
  static std::atomic<int> assertions{0};
  const std::vector<double> before = values();
  Outcome outcome;
  assertions = 0;
  const tkAssertionHandler previous = tfSetAssertionHandler([](const char*, int) { ++assertions; });
  try {
    call();
  } catch (const tkException& e) {
    std::string name = tk_qualifiedClassName(typeid(e));
    const std::size_t family = name.find("Defs::");
    outcome.thrown = family != std::string::npos ? name.substr(family + 6) : name;
    outcome.message = e.what();
  } catch (const std::exception& e) {
    outcome.thrown = std::string("foreign ") + typeid(e).name();
    outcome.message = e.what();
  }
  tfSetAssertionHandler(previous);
  const std::vector<double> after = values();
  if (outcome.thrown == "ok") {
    for (double v : after)
      outcome.finite = outcome.finite && std::isfinite(v);
    if (assertions > 0)
      outcome.thrown = "ok, assertion";
    return outcome;
  }
  // Bitwise, so that preset NaNs compare equal.
  outcome.untouched = before.size() == after.size();
  for (std::size_t i = 0; outcome.untouched && i < before.size(); ++i)
    outcome.untouched = std::memcmp(&before[i], &after[i], sizeof(double)) == 0;
  return outcome;
}

void append(std::vector<double>& out, const tkPhysicalAtZEquals1FromImageParams& p) {
  out.insert(out.end(),
             {p.centerOfExpansion().x(), p.centerOfExpansion().y(), p.cameraScale().first,
              p.cameraScale().second, p.cameraSkew(), p.cameraTranslation().x(),
              p.cameraTranslation().y(), static_cast<double>(p.distModel())});
  out.insert(out.end(), p.lensDistParams().begin(), p.lensDistParams().end());
}

void append(std::vector<double>& out, const tkXform<3>& xform) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      out.push_back(xform.matrix().element(r, c));
    out.push_back(xform.trans()[r]);
  }
}

void append(std::vector<double>& out, const tkCameraCalibrationParams& params) {
  append(out, params.physicalAtZEquals1FromImageParams());
  append(out, params.cameraPoseInverse().xform());
}

void append(std::vector<double>& out, const tk2XformCalib2& xform) {
  const tkCalib2ParamsIntrinsic intrinsic = xform.intrinsicParams();
  out.insert(out.end(), {intrinsic.scale().x(), intrinsic.scale().y(), intrinsic.skew(),
                         intrinsic.translation().x(), intrinsic.translation().y(),
                         static_cast<double>(intrinsic.distortionModel())});
  out.insert(out.end(), intrinsic.params().begin(), intrinsic.params().end());
  append(out, xform.extrinsicXform());
  out.push_back(xform.data().lineScan != nullptr ? 1.0 : 0.0);
}

}  // namespace bad
