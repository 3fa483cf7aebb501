// Writers of camera files that other programs read, from a fitted OpenCV camera
// (opencv_camera_fit.h). Each returns the file's text.
//
//   OpenCV   cv::FileStorage YAML: image_width, image_height, camera_matrix,
//            distortion_coefficients (1 x 5 or 1 x 8), avg_reprojection_error, per_view_errors
//            (RMS per view, pixels), and the fit's fit_rms_px and fit_max_px.
//   ROS      camera_info YAML (camera_calibration_parsers): distortion_model plumb_bob (5
//            coefficients) or rational_polynomial (8), identity rectification, P = [K | 0].
//   COLMAP   cameras.txt: one line per camera, model PINHOLE (no distortion) or FULL_OPENCV,
//            camera ids from 1. COLMAP puts the centre of the top-left pixel at (0.5, 0.5), so
//            its principal point is OpenCV's plus 0.5 pixels.
#ifndef CCAL_TOOLS_IMAGES_CAMERA_EXPORT_H
#define CCAL_TOOLS_IMAGES_CAMERA_EXPORT_H

#include "opencv_camera_fit.h"

#include <string>
#include <vector>

struct tkExportedCamera {
  std::string name;
  tkOpenCvCamera camera;
  bool hasDistortion = true;       // false: the calibration had no lens distortion
  double rmsError = 0.0;           // the calibration's RMS residual, pixels
  std::vector<double> perViewRms;  // per view that the camera saw, pixels
};

std::string tfOpenCvYaml(const tkExportedCamera& camera);
std::string tfRosCameraInfoYaml(const tkExportedCamera& camera);
std::string tfColmapCamerasTxt(const std::vector<tkExportedCamera>& cameras);

#endif
