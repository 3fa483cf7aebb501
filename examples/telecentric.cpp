// Calibrates a telecentric (orthographic) camera from a plate seen in several known poses, e.g.
// on a precision stage. image = K * (Q.x, Q.y) + translation, Q = E * (pose * plate point);
// E (home -> camera) and K are estimated.
#include <ccal/ccal.h>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
  // The "true" camera: 50 pixels per plate unit, looking down at the home frame.
  const tkCalib2ParamsIntrinsic truth(tkVector<2>(50, 50.2), 0.1, tkVector<2>(0, 0),
                                      tk2XformCalib2Defs::eTelecentric, {});
  const tkXform<3> cameraFromHome =
      tkCalib2ParamsExtrinsic(tk3AngleVect(3.0, 0.1, 0.2), tkVector<3>(600, 500, 0)).xform();

  std::vector<tkXform<3>> poses;  // plate -> home, known
  std::vector<std::vector<tkPair<tkVector<2>>>> views;
  for (int i = 0; i < 4; ++i) {
    poses.push_back(tkCalib2ParamsExtrinsic(tk3AngleVect(0.05 * i, -0.04 * i, 0.3 * i),
                                            tkVector<3>(2.0 * i, -1.0 * i, 3.0 * i))
                        .xform());
    tk2XformCalib2 camera;
    camera.init(truth, tkCalib2ParamsExtrinsic());
    camera.extrinsicXform(cameraFromHome * poses.back());
    std::vector<tkPair<tkVector<2>>> view;  // (image point, plate point)
    for (int row = 0; row < 10; ++row)
      for (int col = 0; col < 12; ++col) {
        const tkVector<2> plate(2.0 * col, 2.0 * row);
        view.emplace_back(camera.invMapPoint(plate), plate);
      }
    views.push_back(view);
  }

  tkCalibrateTelecentricCameraParams params;  // no camera height: E's Z stays 0
  std::vector<double> rms, largest;           // per pose, pixels
  tk2XformCalib2 calibrated;
  tfCalibrateTelecentricCamera(views, poses, params, rms, largest, calibrated);

  const tkCalib2ParamsIntrinsic k = calibrated.intrinsicParams();
  std::printf("scale %.4f %.4f px/unit, skew %.4f; pose 0 RMS %.2e px\n", k.scale().x(),
              k.scale().y(), k.skew(), rms[0]);
  return std::fabs(k.scale().x() - 50.0) < 1e-6 ? 0 : 1;
}
