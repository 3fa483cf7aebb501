#include "camera_export.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Shortest text that reads back to the same double, always with a decimal point or an exponent
// so that YAML readers take it for a real number.
std::string real(double value) {
  char text[40];
  for (int digits = 15; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value)
      break;
  }
  std::string out = text;
  if (out.find_first_of(".eEn") == std::string::npos)
    out += ".";
  return out;
}

std::string list(const std::vector<double>& values) {
  std::string out;
  for (size_t i = 0; i < values.size(); ++i)
    out += (i == 0 ? "" : ", ") + real(values[i]);
  return out;
}

std::vector<double> cameraMatrix(const tkOpenCvCamera& c) {
  return {c.fx, 0.0, c.cx, 0.0, c.fy, c.cy, 0.0, 0.0, 1.0};
}

std::string openCvMatrix(const char* key, size_t rows, size_t cols,
                         const std::vector<double>& data) {
  return std::string(key) + ": !!opencv-matrix\n   rows: " + std::to_string(rows) +
         "\n   cols: " + std::to_string(cols) + "\n   dt: d\n   data: [ " + list(data) + " ]\n";
}

std::string rosMatrix(const char* key, size_t rows, size_t cols, const std::vector<double>& data) {
  return std::string(key) + ":\n  rows: " + std::to_string(rows) +
         "\n  cols: " + std::to_string(cols) + "\n  data: [" + list(data) + "]\n";
}

}  // namespace

std::string tfOpenCvYaml(const tkExportedCamera& exported) {
  const tkOpenCvCamera& c = exported.camera;
  std::string text = "%YAML:1.0\n---\ncamera_name: \"" + exported.name +
                     "\"\nimage_width: " + std::to_string(c.width) +
                     "\nimage_height: " + std::to_string(c.height) + "\n";
  text += openCvMatrix("camera_matrix", 3, 3, cameraMatrix(c));
  text += openCvMatrix("distortion_coefficients", 1, c.distortion.size(), c.distortion);
  text += "avg_reprojection_error: " + real(exported.rmsError) + "\n";
  if (!exported.perViewRms.empty())
    text += openCvMatrix("per_view_errors", exported.perViewRms.size(), 1, exported.perViewRms);
  text += "fit_rms_px: " + real(c.rmsError) + "\nfit_max_px: " + real(c.maxError) + "\n";
  return text;
}

std::string tfRosCameraInfoYaml(const tkExportedCamera& exported) {
  const tkOpenCvCamera& c = exported.camera;
  std::string text = "image_width: " + std::to_string(c.width) +
                     "\nimage_height: " + std::to_string(c.height) +
                     "\ncamera_name: " + exported.name + "\n";
  text += rosMatrix("camera_matrix", 3, 3, cameraMatrix(c));
  text += std::string("distortion_model: ") +
          (c.distortion.size() > 5 ? "rational_polynomial" : "plumb_bob") + "\n";
  text += rosMatrix("distortion_coefficients", 1, c.distortion.size(), c.distortion);
  text += rosMatrix("rectification_matrix", 3, 3, {1, 0, 0, 0, 1, 0, 0, 0, 1});
  text += rosMatrix("projection_matrix", 3, 4,
                    {c.fx, 0.0, c.cx, 0.0, 0.0, c.fy, c.cy, 0.0, 0.0, 0.0, 1.0, 0.0});
  return text;
}

std::string tfColmapCamerasTxt(const std::vector<tkExportedCamera>& cameras) {
  std::string text =
      "# Camera list with one line of data per camera:\n"
      "#   CAMERA_ID, MODEL, WIDTH, HEIGHT, PARAMS[]\n"
      "# Number of cameras: " +
      std::to_string(cameras.size()) + "\n";
  for (size_t i = 0; i < cameras.size(); ++i) {
    const tkOpenCvCamera& c = cameras[i].camera;
    std::vector<double> params{c.fx, c.fy, c.cx + 0.5, c.cy + 0.5};
    if (cameras[i].hasDistortion) {
      for (size_t k = 0; k < 8; ++k)
        params.push_back(k < c.distortion.size() ? c.distortion[k] : 0.0);
    }
    text += std::to_string(i + 1) + (cameras[i].hasDistortion ? " FULL_OPENCV " : " PINHOLE ") +
            std::to_string(c.width) + " " + std::to_string(c.height);
    for (double p : params)
      text += " " + real(p);
    text += "\n";
  }
  return text;
}
