// A synthetic area-scan camera and weighted 2D-3D correspondences it sees, for the single-camera
// calibration tests and benchmarks. Header-only on the core types (the benchmarks include it too).
#ifndef CCAL_TESTS_SUPPORT_SINGLE_CAMERA_SCENE_H
#define CCAL_TESTS_SUPPORT_SINGLE_CAMERA_SCENE_H

#include <ccal/camera_calibration_params.h>
#include <tk/angle_vect.h>
#include <tk/pair.h>
#include <tk/quaternion_xform.h>
#include <tk/random_uniform.h>
#include <tk/vector.h>
#include <tk/xform.h>

#include <cmath>
#include <utility>
#include <vector>

namespace scene {

using Correspondences = std::vector<std::pair<std::pair<tkVector<2>, tkVector<3>>, double>>;

// A 1600x1200 camera with focal lengths of about 1500 px, a small skew, a principal point off
// the image centre and the lens of the model (radial k = −0.08; sine-tangent (0.9, 1.05, 0.1,
// 0.95); both with a centre of expansion near the axis); monotonic over its field. It looks down
// from about 640 world units at the box [−250, 250]² × [0, 250] of the world frame.
inline tkCameraCalibrationParams Camera(tk2XformCalib2Defs::tkCalib2DistortionModel model) {
  const tkXform<2> cameraMatrix(tkMatrix<2>(1500.0, 0.8, 0.0, 1490.0), tkVector<2>(812.0, 589.0));
  std::vector<double> lens;
  if (model == tk2XformCalib2Defs::eRadial)
    lens = {-0.08};
  else if (model == tk2XformCalib2Defs::eSineTan)
    lens = {0.9, 1.05, 0.1, 0.95};
  const tkPhysicalAtZEquals1FromImageParams intrinsic(cameraMatrix.inverse(),
                                                      tkVector<2>(0.002, -0.001), model, lens);
  const tk3AngleVect angles(3.141592653589793 - 0.15, 0.08, 0.4);
  tkCameraCalibrationParams camera;
  camera.physicalAtZEquals1FromImageParams(intrinsic);
  camera.cameraPoseInverse(
      tk3QuaternionXform(tkXform<3>(angles.matrix(), tkVector<3>(-12.0, 25.0, 640.0))));
  return camera;
}

// A standard normal draw (Box-Muller on two uniform draws).
inline double Gaussian(tkRandomUniform& random) {
  const double u1 = 1.0 - random.nextUnit();  // (0, 1]
  const double u2 = random.nextUnit();
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

// count correspondences of camera: world points drawn uniformly in the box, kept when they image
// inside the 1600x1200 sensor; image points invWarpPoint(P) plus Gaussian noise of sigmaPx per
// axis; weight 1.
inline Correspondences Observe(const tkCameraCalibrationParams& camera, int count, double sigmaPx,
                               unsigned long seed) {
  tkRandomUniform random(seed);
  Correspondences correspondences;
  while (static_cast<int>(correspondences.size()) < count) {
    const tkVector<3> P(random.next(-250.0, 250.0), random.next(-250.0, 250.0),
                        random.next(0.0, 250.0));
    const tkVector<2> p = camera.invWarpPoint(P);
    if (!(p.x() >= 0.0 && p.x() <= 1600.0 && p.y() >= 0.0 && p.y() <= 1200.0))
      continue;
    const tkVector<2> noisy(p.x() + sigmaPx * Gaussian(random), p.y() + sigmaPx * Gaussian(random));
    correspondences.push_back({{noisy, P}, 1.0});
  }
  return correspondences;
}

}  // namespace scene

#endif
