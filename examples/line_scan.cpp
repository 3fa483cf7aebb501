// Calibrates a line-scan camera from one scan of a flat plate: pairs (u along the sensor line in
// pixels, v the scan line) <-> plate point (X, Y). The result is a calibrated transform that
// maps image points to the plate and back.
#include <ccal/ccal.h>

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
  // Made-up scan: a camera 200 units above the plate, tilted by 0.2 rad about the scan
  // direction, moving 0.05 units per scan line along Y; focal length 4000 px.
  const double height = 200.0, tilt = 0.2, speed = 0.05, focal = 4000.0, u0 = 2048.0;
  std::vector<tkPair<tkVector<2>>> pairs;  // (image point, plate point)
  for (int row = 0; row < 10; ++row)
    for (int col = 0; col < 20; ++col) {
      const double x = 5.0 * col - 50.0, y = 6.0 * row;
      const double xc = std::cos(tilt) * x + std::sin(tilt) * height;  // in the view plane
      const double zc = -std::sin(tilt) * x + std::cos(tilt) * height;
      pairs.emplace_back(tkVector<2>(u0 + focal * xc / zc, y / speed), tkVector<2>(x, y));
    }

  tkCalibrateLineScanCameraParams params;
  params.useDistanceFromCameraToTarget(true);  // optional: fixes the camera's scale
  params.distanceFromCameraToTarget(height);
  double rms = 0.0, largest = 0.0;  // pixels
  tk2XformCalib2 camera;
  tfCalibrateLineScanCamera(pairs, params, rms, largest, camera);

  const tkVector<2> plate = camera.mapPoint(pairs[57].first);  // image -> plate
  std::printf("RMS %.2e px, largest %.2e px; image (%.2f, %.2f) -> plate (%.4f, %.4f)\n", rms,
              largest, pairs[57].first.x(), pairs[57].first.y(), plate.x(), plate.y());
  return rms < 1e-6 ? 0 : 1;
}
