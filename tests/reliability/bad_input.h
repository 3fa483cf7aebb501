// Bad inputs for every public entry point: a small valid scene per kind of data, the ways of
// spoiling it, and the record of what an entry point does with the spoiled scene.
//
// A scene is placements x cameras of observation lists (image point, plate point, weight) with
// the plate -> world pose of each placement and, for perspective cameras, the true cameras, so
// that changed plate points can be imaged again. Each entry point adapter turns a scene into its
// own argument types, presets its outputs, calls, and reports an Outcome: the class of the
// exception (or "ok"), whether the outputs kept their preset values, and whether every returned
// number is finite.
#ifndef CCAL_TESTS_RELIABILITY_BAD_INPUT_H
#define CCAL_TESTS_RELIABILITY_BAD_INPUT_H

#include <ccal/camera_calibration_params.h>
#include <tk/exception.h>
#include <tk/quaternion_xform.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>
#include <tk/zrotation_xform.h>

#include <functional>
#include <string>
#include <vector>

namespace bad {

using Model = tk2XformCalib2Defs::tkCalib2DistortionModel;

struct Obs {
  tkVector<2> image;     // pixels
  tkVector<3> physical;  // plate frame (z = 0 on a plate)
  double weight = 1.0;
};
using List = std::vector<Obs>;

struct Scene {
  Model model = tk2XformCalib2Defs::eRadial;
  std::vector<std::vector<List>> lists;  // [placement][camera]
  std::vector<tkXform<3>> poses;         // plate -> world, per placement
  int zRotationPlacements = 0;           // the first ones are rotations about Z (rig calibration)
  std::vector<tkCameraCalibrationParams> cameras;  // empty: images cannot be recomputed
  bool mismatch = false;       // adapters make lists that must agree in length disagree
  bool weightsSpoilt = false;  // a weight was spoilt (overloads without weights do not see it)

  // Every observation in world coordinates of camera c: (image, world point, weight).
  List world(int camera = 0) const;
  // Images the plate points again with the true cameras (when there are some).
  void reimage();
};

// One way of spoiling a scene: the columns of docs/failure-modes.md, in their order.
struct Spoiler {
  std::string name;  // the column's name ("valid", "empty", "mismatch", "NaN image", ...)
  std::function<void(Scene&)> apply;
};
const std::vector<Spoiler>& spoilers();

// Scenes: a 1600x1200 perspective camera (model) looking at three placements of a 7x7 plate
// (identity, rotated about Z and raised, tilted); a rig of two such cameras; the bundled
// telecentric and line-scan data sets (a few poses / every 4th point).
Scene perspectiveScene(Model model, int cameras = 1);
Scene telecentricScene();
Scene lineScanScene();

struct Outcome {
  // Short class name ("BadParams", "tkInvariantFailure", ...), "ok", or "ok, assertion" when the
  // call returned after reporting an internal assertion.
  std::string thrown = "ok";
  std::string message;
  bool untouched = true;  // outputs kept their preset values (checked when thrown)
  bool finite = true;     // every returned number is finite (checked when not thrown)
};

// Runs call, which may throw, counting internal assertions; values() lists every number of the
// outputs.
Outcome observe(const std::function<void()>& call,
                const std::function<std::vector<double>()>& values);

// Numbers of the output types, for the comparisons of observe().
void append(std::vector<double>& out, const tkCameraCalibrationParams& params);
void append(std::vector<double>& out, const tkPhysicalAtZEquals1FromImageParams& params);
void append(std::vector<double>& out, const tk2XformCalib2& xform);
void append(std::vector<double>& out, const tkXform<3>& xform);
inline void append(std::vector<double>& out, const tk3QuaternionXform& pose) {
  append(out, pose.xform());
}
inline void append(std::vector<double>& out, const tk3ZRotationXform& pose) {
  append(out, pose.xform());
}
inline void append(std::vector<double>& out, double value) {
  out.push_back(value);
}
inline void append(std::vector<double>& out, const std::vector<double>& values) {
  out.insert(out.end(), values.begin(), values.end());
}
template <class T>
void append(std::vector<double>& out, const std::vector<T>& values) {
  for (const T& value : values)
    append(out, value);
}

// The numbers of outputs of any of the types above, read through the references.
template <class... T>
std::function<std::vector<double>()> valuesOf(const T&... outputs) {
  return [&outputs...] {
    std::vector<double> v;
    (append(v, outputs), ...);
    return v;
  };
}

// observe() of such outputs.
template <class... T>
Outcome observeOutputs(const std::function<void()>& call, const T&... outputs) {
  return observe(call, valuesOf(outputs...));
}

}  // namespace bad

#endif
