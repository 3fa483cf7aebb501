#include "compare_sets.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>

namespace {

constexpr double kPi = 3.141592653589793;

// Rotation by `angle` radians about the unit axis `axis` (Rodrigues).
tkMatrix<3> axisAngle(const tkVector<3>& axis, double angle) {
  const double c = std::cos(angle), s = std::sin(angle), v = 1.0 - c;
  const double x = axis.x(), y = axis.y(), z = axis.z();
  tkMatrix<3> m;
  m.element(0, 0, c + x * x * v);
  m.element(0, 1, x * y * v - z * s);
  m.element(0, 2, x * z * v + y * s);
  m.element(1, 0, y * x * v + z * s);
  m.element(1, 1, c + y * y * v);
  m.element(1, 2, y * z * v - x * s);
  m.element(2, 0, z * x * v - y * s);
  m.element(2, 1, z * y * v + x * s);
  m.element(2, 2, c + z * z * v);
  return m;
}

// Uniform and Gaussian deviates from one 64-bit engine, written out so that a set does not
// depend on the standard library's distributions.
class Deviates {
 public:
  explicit Deviates(unsigned seed) : engine_(seed) {}
  double uniform(double lo, double hi) {
    const double u = static_cast<double>(engine_() >> 11) * (1.0 / 9007199254740992.0);
    return lo + (hi - lo) * u;
  }
  double gaussian() {
    const double u1 = uniform(1e-300, 1.0), u2 = uniform(0.0, 1.0);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
  }

 private:
  std::mt19937_64 engine_;
};

bool inside(const tkVector<2>& p, double width, double height, double margin) {
  return p.x() >= margin && p.y() >= margin && p.x() <= width - 1.0 - margin &&
         p.y() <= height - 1.0 - margin;
}

}  // namespace

tk2XformCalib2Defs::tkCalib2DistortionModel tfCompareModelNamed(const std::string& name) {
  if (name == "radial" || name == "eRadial")
    return tk2XformCalib2Defs::eRadial;
  if (name == "sine-tan" || name == "eSineTan")
    return tk2XformCalib2Defs::eSineTan;
  if (name == "none" || name == "eNoDistortion")
    return tk2XformCalib2Defs::eNoDistortion;
  throw std::runtime_error("unknown distortion model \"" + name + "\"");
}

std::string tfCompareModelName(tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  switch (model) {
    case tk2XformCalib2Defs::eSineTan:
      return "sine-tan";
    case tk2XformCalib2Defs::eNoDistortion:
      return "none";
    default:
      return "radial";
  }
}

tkPhysicalAtZEquals1FromImageParams tfIntrinsicOf(const tkAreaScanCameraTruth& camera) {
  tkPhysicalAtZEquals1FromImageParams intrinsic;
  intrinsic.distModel(tfCompareModelNamed(camera.distModel));
  intrinsic.cameraScale(tkPair<double>(camera.scale.x(), camera.scale.y()));
  intrinsic.cameraSkew(camera.skew);
  intrinsic.cameraTranslation(camera.translation);
  intrinsic.centerOfExpansion(camera.centerOfExpansion);
  intrinsic.lensDistParams(camera.lensDistParams);
  return intrinsic;
}

long tfPointCount(const tkPointFile& file, int camera) {
  long count = 0;
  for (const tkPointPlacement& placement : file.placements)
    count += static_cast<long>(placement.points.at(static_cast<std::size_t>(camera)).size());
  return count;
}

tkCompareSet tfLoadCompareSet(const std::string& dataDir, const std::string& fileName) {
  tkCompareSet set;
  set.name = fileName.substr(0, fileName.rfind(".json"));
  set.file = tfLoadPointFile(dataDir + "/" + fileName);
  if (set.file.kind != "area-scan")
    throw std::runtime_error(fileName + ": not an area-scan set");
  if (!set.file.hasImageSize)
    throw std::runtime_error(fileName + ": no image size");
  if (!set.file.groundTruthJson.empty()) {
    set.truth = tfParseAreaScanTruth(set.file);
    set.hasTruth = true;
  }
  return set;
}

tkCompareSet tfGenerateViewSet(const tkAreaScanCameraTruth& camera, double width, double height,
                               int views, double sigmaPx, unsigned seed) {
  if (views < 1)
    throw std::runtime_error("a generated set needs at least one view");
  const tkPhysicalAtZEquals1FromImageParams intrinsic = tfIntrinsicOf(camera);
  const tkVector<3> plateCentre(95.0, 70.0, 0.0);
  const tkMatrix<3> flip(1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, -1.0);
  Deviates random(seed);

  // Camera from plate for each view; view 0 square-on above the plate centre.
  std::vector<tkXform<3>> cameraFromPlate;
  cameraFromPlate.push_back(tkXform<3>(flip, tkVector<3>(0.0, 0.0, 540.0) - flip * plateCentre));
  const auto project = [&](const tkXform<3>& pose, const tkVector<3>& P) {
    const tkVector<3> pc = pose.mapPoint(P);
    return intrinsic.invWarpPoint(tkVector<2>(pc.x() / pc.z(), pc.y() / pc.z()));
  };
  const auto allInside = [&](const tkXform<3>& pose) {
    for (int j = 0; j < 15; ++j)
      for (int i = 0; i < 20; ++i) {
        const tkVector<3> pc = pose.mapPoint(tkVector<3>(10.0 * i, 10.0 * j, 0.0));
        if (pc.z() <= 0.0 ||
            !inside(project(pose, tkVector<3>(10.0 * i, 10.0 * j, 0.0)), width, height, 5.0))
          return false;
      }
    return true;
  };
  for (int v = 1; v < views; ++v) {
    for (int attempt = 0;; ++attempt) {
      if (attempt == 10000)
        throw std::runtime_error("no plate pose inside the image was found");
      const double phi = random.uniform(0.0, 2.0 * kPi);
      const double tilt = random.uniform(10.0, 40.0) * kPi / 180.0;
      const double spin = random.uniform(-kPi, kPi);
      const double depth = random.uniform(450.0, 650.0);
      const double ox = random.uniform(-0.12, 0.12) * depth;
      const double oy = random.uniform(-0.12, 0.12) * depth;
      const tkMatrix<3> rotation = axisAngle(tkVector<3>(std::cos(phi), std::sin(phi), 0.0), tilt) *
                                   flip * axisAngle(tkVector<3>(0.0, 0.0, 1.0), spin);
      const tkXform<3> pose(rotation, tkVector<3>(ox, oy, depth) - rotation * plateCentre);
      if (allInside(pose)) {
        cameraFromPlate.push_back(pose);
        break;
      }
    }
  }

  tkCompareSet set;
  set.name = "gen-" + std::to_string(views);
  set.hasTruth = true;
  set.truth.noiseSigmaPx = sigmaPx;
  tkAreaScanCameraTruth truthCamera = camera;
  truthCamera.worldToCamera = cameraFromPlate[0];
  set.truth.cameras.push_back(truthCamera);
  tkPointFile& file = set.file;
  file.description = "generated: " + std::to_string(views) + " views of a 20 x 15 plate";
  file.kind = "area-scan";
  file.distortionModel = tfCompareModelName(intrinsic.distModel());
  file.cameras = {"cam0"};
  file.hasImageSize = true;
  file.imageSize = {width, height};
  const tkXform<3> worldFromCamera = cameraFromPlate[0].inverse();
  for (int v = 0; v < views; ++v) {
    set.truth.plateToWorld.push_back(worldFromCamera * cameraFromPlate[v]);
    tkPointPlacement placement;
    placement.name = "view" + std::to_string(v + 1);
    placement.kind = v == 0 ? "z-rotation" : "arbitrary";
    placement.points.resize(1);
    for (int j = 0; j < 15; ++j)
      for (int i = 0; i < 20; ++i) {
        tkPointRow row;
        row.physical = tkVector<3>(10.0 * i, 10.0 * j, 0.0);
        const tkVector<2> p = project(cameraFromPlate[v], row.physical);
        const double du = random.gaussian() * sigmaPx;
        const double dv = random.gaussian() * sigmaPx;
        row.image = tkVector<2>(p.x() + du, p.y() + dv);
        placement.points[0].push_back(row);
      }
    file.placements.push_back(placement);
  }
  return set;
}
