// Calibrates one camera from several views of a flat calibration plate (planar calibration).
//
// The views are made up here from a known camera so that the program runs on its own; in an
// application they come from a corner or dot detector: pairs (image point in pixels, plate
// point (X, Y) in plate units, on the plate's plane Z = 0).
#include <ccal/ccal.h>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
  // The "true" camera: focal length 1000 px, principal point (640, 480), slight barrel lens.
  // Parameter list of the radial model: k, then the centre of expansion (cx, cy).
  const tkCalib2ParamsIntrinsic truth(tkVector<2>(1000, 1000), 0.0, tkVector<2>(640, 480),
                                      tk2XformCalib2Defs::eRadial, {-0.05, 0.0, 0.0});

  // Five views of a 10 x 8 plate with 10 mm pitch, each seen from a different pose.
  std::vector<std::vector<tkPair<tkVector<2>>>> views;
  for (int v = 0; v < 5; ++v) {
    tk2XformCalib2 camera;
    const tk3AngleVect tilt(0.3 * std::sin(v), 0.25 * std::cos(v), 0.1 * v);  // radians
    camera.init(truth, tkCalib2ParamsExtrinsic(tilt, tkVector<3>(-45, -35, 300 + 20 * v)));
    std::vector<tkPair<tkVector<2>>> view;
    for (int row = 0; row < 8; ++row)
      for (int col = 0; col < 10; ++col) {
        const tkVector<2> plate(10.0 * col, 10.0 * row);
        view.emplace_back(camera.invMapPoint(plate), plate);  // (image point, plate point)
      }
    views.push_back(view);
  }

  // Calibrate: camera matrix, lens and the pose of every view. Throws on bad input.
  tk2XformCalib2 calibrated;
  std::vector<double> rms, largest;
  calibrated.init(views, rms, largest, tk2XformCalib2Defs::eRadial);

  const tkCalib2ParamsIntrinsic k = calibrated.intrinsicParams();
  std::printf("fx %.3f  fy %.3f  cx %.3f  cy %.3f  k %.5f\n", k.scale().x(), k.scale().y(),
              k.translation().x(), k.translation().y(), k.distortionParams()[0]);
  std::printf("view 0: RMS %.2e px, largest %.2e px\n", rms[0], largest[0]);

  // The result maps image points to the plane of the first view's plate and back.
  const tkVector<2> plate = calibrated.mapPoint(views[0][11].first);
  std::printf("image (%.2f, %.2f) -> plate (%.4f, %.4f) mm\n", views[0][11].first.x(),
              views[0][11].first.y(), plate.x(), plate.y());
  return std::fabs(k.scale().x() - 1000.0) < 1e-3 ? 0 : 1;
}
