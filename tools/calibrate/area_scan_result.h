// The area-scan cameras of a result file (ccal-result/2) as the export and undistort commands
// need them: names, intrinsic models, poses, the image size and the per-view figures.
#ifndef CCAL_TOOLS_CALIBRATE_AREA_SCAN_RESULT_H
#define CCAL_TOOLS_CALIBRATE_AREA_SCAN_RESULT_H

#include <ccal/physical_at_z1_from_image_params.h>

#include <array>
#include <string>
#include <vector>

struct tkAreaScanCamera {
  std::string name;
  tkPhysicalAtZEquals1FromImageParams model;
  std::array<double, 12> cameraFromWorld{};  // 3 x 4 row-major [R | t]
  double rms = 0.0;                          // the calibration's RMS residual, pixels
  std::vector<double> perViewRms;            // per view the camera saw, pixels
};

struct tkAreaScanResult {
  std::vector<tkAreaScanCamera> cameras;
  bool hasImageSize = false;
  int width = 0, height = 0;
};

// Throws tkToolInputError naming the file and the fault: unreadable, not a ccal-result/2 file, a
// kind other than area scan ("only area-scan cameras ..."), a missing or malformed field.
tkAreaScanResult tfReadAreaScanResult(const std::string& path);

// The index of the camera named `camera` (or numbered, from 0). Throws tkToolInputError naming
// the file when there is none.
size_t tfFindCamera(const tkAreaScanResult& result, const std::string& camera,
                    const std::string& path);

#endif
