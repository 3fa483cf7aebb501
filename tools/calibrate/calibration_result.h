// What one run of ccal-calibrate computed, in one shape for every kind of camera: the cameras
// (calibrated transforms and, per kind, the model in its own terms), the placements with their
// poses, every point's residual and the summary figures. The report, the result JSON, the
// archive and the residual plot are all written from it.
//
// Units: image points and residuals in pixels (line scan: u in pixels, v in scan lines); plate
// and world points in the plate units of the input file. A residual is measured − predicted:
// the image point of the file minus the projection of its plate point through the result.
#ifndef CCAL_TOOLS_CALIBRATE_CALIBRATION_RESULT_H
#define CCAL_TOOLS_CALIBRATE_CALIBRATION_RESULT_H

#include "result_quality.h"
#include "outlier_run.h"

#include <ccal/physical_at_z1_from_image_params.h>
#include <tk/vector.h>
#include <tk/xform.h>
#include <tk/xform_calib2.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

struct tkToolResidual {
  std::size_t camera = 0;
  std::size_t placement = 0;  // index into the file's placements
  std::size_t index = 0;      // row in the placement's list of this camera
  tkVector<2> image;          // measured image point
  tkVector<2> residual;       // measured − predicted
  double weight = 1.0;
  bool rejected = false;  // --reject-outliers gave it weight 0
};

// RMS (weighted: sqrt(Σw·d²/Σw), 0 without weight) and largest |d| of a set of residuals.
struct tkToolFigures {
  double rms = 0.0;
  double largest = 0.0;
  std::size_t points = 0;
};

struct tkToolCamera {
  std::string name;
  // The calibrated transform: image <-> plane Z = 0 of the world (area scan), of the home frame
  // (telecentric) or of the plate (line scan).
  tk2XformCalib2 xform;
  // Area scan: the intrinsic model in the library's own terms (image -> position at Z = 1).
  bool hasAreaModel = false;
  tkPhysicalAtZEquals1FromImageParams intrinsic;
  tkToolFigures figures;
  bool hasDeviations = false;  // area scan with quality: σ of every term
  tkCameraDeviations deviations;
};

struct tkToolPlacement {
  std::string name;
  std::string kind;         // "z-rotation", "arbitrary", "known pose" or "plate"
  tkXform<3> plateToWorld;  // identity for line scan (the plate is the client frame)
  std::vector<tkToolFigures> perCamera;
  bool hasDeviations = false;
  tkPlacementDeviations deviations;
};

struct tkToolResult {
  std::string inputPath;
  std::string description;
  std::string kind;    // "area-scan" | "telecentric" | "line-scan"
  std::string method;  // "rig-calibration" | "rig-pose" | "telecentric-flow-N" | "line-scan"
  std::string model;   // "radial" | "sine-tan" | "none" | "telecentric" | "line-scan"
  bool hasImageSize = false;
  std::array<double, 2> imageSize{};
  std::vector<tkToolCamera> cameras;
  std::vector<tkToolPlacement> placements;
  std::vector<tkToolResidual> residuals;
  tkToolFigures overall;  // every point, rejected ones included
  tkToolRejection rejection;
  double seconds = 0.0;  // wall time of the library call(s)
  bool imageRefinement = false;  // area scan: refined on the image residuals
  tkToolQuality quality;
};

// Accumulates figures from residuals: fills every camera's, every placement's (per camera) and
// the overall figures of result from result.residuals.
void tfComputeFigures(tkToolResult& result);

#endif
